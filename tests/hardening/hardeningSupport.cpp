#include "hardening/hardeningSupport.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>

std::string batchToolPath() {
  std::string path = MORVANE_MATCH_PATH;
  return !path.empty() && access(path.c_str(), X_OK) == 0 ? path : std::string();
}

namespace {

std::vector<std::string> splitAtNewlines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void startChild(const std::string& program, char* const* argv, int outFd, int errFd,
                             int inFd, const ChildLimits& limits) {
  dup2(inFd, 0);
  dup2(outFd, 1);
  dup2(errFd, 2);
  if (limits.fileSizeLimit >= 0) {
    rlimit r{static_cast<rlim_t>(limits.fileSizeLimit), static_cast<rlim_t>(limits.fileSizeLimit)};
    setrlimit(RLIMIT_FSIZE, &r);
  }
  if (limits.addressSpaceLimit >= 0) {
    rlimit r{static_cast<rlim_t>(limits.addressSpaceLimit),
             static_cast<rlim_t>(limits.addressSpaceLimit)};
    setrlimit(RLIMIT_AS, &r);
  }
  signal(SIGXFSZ, limits.ignoreFileSizeSignal ? SIG_IGN : SIG_DFL);
  if (!limits.workingFolder.empty() && chdir(limits.workingFolder.c_str()) != 0) _exit(126);
  execv(program.c_str(), argv);
  _exit(127);
}

}  // namespace

ToolRun runProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& scratch, const ChildLimits& limits, int deadlineSeconds) {
  ToolRun run;
  std::string outPath = scratch + "/.tool-stdout", errPath = scratch + "/.tool-stderr";
  int outFd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  int pipeFds[2] = {-1, -1};
  int inFd = -1;
  if (limits.stdinFromOpenPipe) {
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return run;
    inFd = pipeFds[0];
  } else {
    inFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  }
  std::vector<std::string> all = {program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all)
    argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t child = fork();
  if (child == 0) startChild(program, argv.data(), outFd, errFd, inFd, limits);
  close(outFd);
  close(errFd);
  close(inFd);
  int raw = 0;
  rusage usage{};
  auto started = std::chrono::steady_clock::now();
  auto deadline = started + std::chrono::seconds(deadlineSeconds);
  for (;;) {
    pid_t done = child > 0 ? wait4(child, &raw, WNOHANG, &usage) : -1;
    if (done == child || done < 0) break;
    if (std::chrono::steady_clock::now() > deadline) {
      run.hung = true;
      kill(child, SIGKILL);
      wait4(child, &raw, 0, &usage);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  run.peakKilobytes = usage.ru_maxrss;
  if (pipeFds[1] >= 0) close(pipeFds[1]);
  if (child > 0 && WIFEXITED(raw)) run.status = WEXITSTATUS(raw);
  if (child > 0 && WIFSIGNALED(raw)) run.signal = WTERMSIG(raw);
  run.out = readFileBytes(outPath);
  run.err = readFileBytes(errPath);
  run.lines = splitAtNewlines(run.out);
  unlink(outPath.c_str());
  unlink(errPath.c_str());
  return run;
}

std::string defaultSettingsText() {
  return "0 ;sw\r\n0.25 ;0\r\n0.5 ;1\r\n0 ;2\r\n0.01 ;3\r\n0.2  ;4\r\n0.90 ;5\r\n0.5 ;6\r\n"
         "0.25 ;7\r\n";
}

bool havePrivateMounts() {
  static int state = -1;
  if (state < 0) {
    state = geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  }
  return state == 1;
}

TmpfsMount::TmpfsMount(const std::string& folder, const std::string& options)
    : folder_(folder), options_(options) {
  mounted_ = havePrivateMounts() &&
             mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

TmpfsMount::~TmpfsMount() {
  if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
}

bool TmpfsMount::makeReadOnly() {
  return mounted_ && mount("tmpfs", folder_.c_str(), "tmpfs",
                           MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, options_.c_str()) == 0;
}

std::vector<DxfFace> boxFaces(const std::string& prefix, Vec3 o, Vec3 d) {
  auto p = [&](int i, int j, int k) { return Vec3{o.x + i * d.x, o.y + j * d.y, o.z + k * d.z}; };
  return {
      {prefix + "bottom", {p(0, 0, 0), p(0, 1, 0), p(1, 1, 0), p(1, 0, 0)}},
      {prefix + "top", {p(0, 0, 1), p(1, 0, 1), p(1, 1, 1), p(0, 1, 1)}},
      {prefix + "south", {p(0, 0, 0), p(1, 0, 0), p(1, 0, 1), p(0, 0, 1)}},
      {prefix + "east", {p(1, 0, 0), p(1, 1, 0), p(1, 1, 1), p(1, 0, 1)}},
      {prefix + "north", {p(1, 1, 0), p(0, 1, 0), p(0, 1, 1), p(1, 1, 1)}},
      {prefix + "west", {p(0, 1, 0), p(0, 0, 0), p(0, 0, 1), p(0, 1, 1)}},
  };
}

std::vector<DxfFace> turnedFaces(std::vector<DxfFace> faces, Vec3 by, const std::string& layer) {
  for (size_t i = 0; i < faces.size(); ++i) {
    for (Vec3& c : faces[i].corners)
      c = {by.x - c.y, by.y + c.x, by.z + c.z};
    if (i % 2)
      std::rotate(faces[i].corners.begin(), faces[i].corners.begin() + 1, faces[i].corners.end());
    faces[i].layer = layer;
  }
  return faces;
}

std::vector<DxfFace> surfaceFaces(const std::vector<SurfaceFace>& faces,
                                  const std::string& prefix) {
  std::vector<DxfFace> out;
  for (const SurfaceFace& f : faces) {
    bool triangle = f[3].x == f[2].x && f[3].y == f[2].y && f[3].z == f[2].z;
    DxfFace face{prefix + std::to_string(static_cast<int>(f[0].y)), {f[0], f[1], f[2]}};
    if (!triangle) face.corners.push_back(f[3]);
    out.push_back(face);
  }
  return out;
}

std::vector<DxfFace> operator+(std::vector<DxfFace> a, const std::vector<DxfFace>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<std::string> layersOf(const std::vector<DxfFace>& faces) {
  std::vector<std::string> layers;
  for (const DxfFace& f : faces)
    layers.push_back(f.layer);
  return layers;
}

MemoryFolder::MemoryFolder() {
  std::string pattern = "/dev/shm/morvane-test-XXXXXX";
  if (access("/dev/shm", W_OK) == 0 && mkdtemp(pattern.data())) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);  // the one ScratchFolder made
    path = pattern;
  }
}

std::vector<std::string> folderEntries(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}
