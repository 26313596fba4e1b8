#pragma once
// Helpers of the hardening tests: running the batch tool as a separate process with any bytes
// in its arguments and with limits set in the child, private mounts for full and read-only
// folders, and the small models the runs use.
#include <string>
#include <vector>

#include "support/testSupport.h"

// Path of the built batch tool, "" when it was not built.
std::string batchToolPath();

// What is set up in the child before the tool starts.
struct ChildLimits {
  long fileSizeLimit = -1;            // RLIMIT_FSIZE in bytes; -1 keeps it
  bool ignoreFileSizeSignal = false;  // SIGXFSZ ignored, so writes past the limit fail EFBIG
  long addressSpaceLimit = -1;        // RLIMIT_AS in bytes; -1 keeps it
  bool stdinFromOpenPipe = false;     // standard input a pipe whose writer stays open
  std::string workingFolder;          // the child's current folder; "" keeps the parent's
};

struct ToolRun {
  int status = -1;    // exit status; -1 when it did not exit normally
  int signal = 0;     // the signal that ended it, 0 for none
  bool hung = false;  // still running at the deadline (then killed)
  std::string out, err;
  std::vector<std::string> lines;  // standard output split at '\n'
  double seconds = 0;              // wall time, for the manual checks' reports only
  long peakKilobytes = 0;          // the child's peak resident memory
};

// Runs the program with exactly these arguments (fork and exec, no shell), its output in
// files under `scratch`; kills it after `deadlineSeconds`.
ToolRun runProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& scratch, const ChildLimits& limits = {},
                   int deadlineSeconds = 120);

// The default settings file's bytes (switch word 0: no rotation box).
std::string defaultSettingsText();

// Whether this process may mount file systems in a mount namespace of its own (made on the
// first call, so mounts never reach the rest of the system).
bool havePrivateMounts();

// A tmpfs mounted at an existing folder for the object's life (needs havePrivateMounts()).
class TmpfsMount {
 public:
  TmpfsMount(const std::string& folder, const std::string& options);
  ~TmpfsMount();
  bool mounted() const { return mounted_; }
  // Remounts read-only; false when that failed.
  bool makeReadOnly();

 private:
  std::string folder_;
  std::string options_;
  bool mounted_ = false;
};

// Six outward quads of a box at `o` with sides `d`, layers prefix + side name.
std::vector<DxfFace> boxFaces(const std::string& prefix, Vec3 o, Vec3 d);
// Faces turned a quarter round the z axis about the origin and moved by `by`, on one layer,
// every second face started at its next corner.
std::vector<DxfFace> turnedFaces(std::vector<DxfFace> faces, Vec3 by, const std::string& layer);
// Surface faces (testSupport's randomSurface) on layers prefix + row number.
std::vector<DxfFace> surfaceFaces(const std::vector<SurfaceFace>& faces, const std::string& prefix);
std::vector<DxfFace> operator+(std::vector<DxfFace> a, const std::vector<DxfFace>& b);
std::vector<std::string> layersOf(const std::vector<DxfFace>& faces);

// A fresh empty folder in memory (/dev/shm) when there is one, else under the temporary
// folder; removed with the object. For tests that replace files thousands of times, which on a
// disk file system wait for the data of every file renamed over another.
struct MemoryFolder : ScratchFolder {
  MemoryFolder();
};

// Names of the entries of a folder, sorted.
std::vector<std::string> folderEntries(const std::string& folder);
