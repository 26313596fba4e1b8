#pragma once
// Measuring the benchmark's own process and running measured work in fresh child processes,
// so that one size's peak memory never carries over into the next.
#include <map>
#include <string>
#include <vector>

namespace benchprobe {

// Seconds on a steady clock.
double nowSeconds();
// Peak resident set size of this process in KiB (VmHWM), -1 when unknown.
long peakRssKb();
// Current resident set size in KiB (VmRSS), -1 when unknown.
long currentRssKb();
// Restarts the peak at the current resident size (writes "5" to /proc/self/clear_refs), so the
// next peakRssKb() gives the peak of what ran in between. False when the kernel refused.
bool resetPeakRss();

struct ChildResult {
  bool started = false;
  int exitCode = -1;  // when the child exited
  int signal = 0;     // when a signal ended it (SIGALRM: the time cap)
  bool timedOut = false;
  double wallSeconds = 0.0;
  double cpuSeconds = 0.0;                    // user + system, all threads
  long maxRssKb = 0;                          // the kernel's peak for the child (wait4)
  std::string output;                         // standard output and standard error, interleaved
  std::map<std::string, std::string> values;  // "@ key value" lines of the output
  std::vector<std::string> notes;             // every other line of the output
};

// Runs `argv` (argv[0] a path) with its output captured. The child is ended by SIGALRM after
// `capSeconds` (0: no cap) and may map at most `capMemoryBytes` of address space (0: no cap),
// so that an oversized allocation fails inside the child instead of exhausting the machine.
ChildResult runChild(const std::vector<std::string>& argv, double capSeconds,
                     unsigned long long capMemoryBytes);

// Emits one "@ key value" line on standard output and flushes it, so a parent that ends the
// child still sees every line written before.
void emit(const std::string& key, const std::string& value);
void emit(const std::string& key, double value);
void emit(const std::string& key, long long value);

}  // namespace benchprobe
