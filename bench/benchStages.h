#pragma once
// The measured work of the benchmarks. Each entry runs in a fresh child process of
// morvane-bench and reports through "@ key value" lines (benchprobe::emit): per stage the
// wall time "<stage>_s" and the peak resident size during that stage "<stage>_peak_kb", with
// "begin <stage>" before it starts, so a parent that ends the child knows where it stopped.
#include <string>
#include <vector>

// Child entry: `args` are the words after "--child". Returns the process exit status.
//   io FILE OUT                 a run without reference on FILE (runMatching: read, group,
//                               measure), then the output DXF written under OUT
//   pairing REF TGT TRUTH       read both, signatures of both, coincidence pairing
//   plain REF TGT TRUTH         read both, coincidence pairing, then the plain scans; compares
//   run REF TGT TRUTH           the matching run's stages one by one, timed
//   detail REF TGT TRUTH        as run, with face matching split into tests, profiles and
//                               propagation (matchFacesTimed)
//   runmatching REF TGT TRUTH   runMatching itself
int runBenchChild(const std::vector<std::string>& args);
