#include "textfiles/platform.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

namespace {

constexpr uint64_t kUnknown = UINT64_MAX;

// The first number in the file at `path` after `key` (the whole file when `key` is empty), times
// `unit`; kUnknown when the file or the number is missing ("max" included).
uint64_t numberInFile(const char* path, const char* key, uint64_t unit) noexcept {
  FILE* file = std::fopen(path, "r");
  if (!file) return kUnknown;
  char text[8192];
  size_t n = std::fread(text, 1, sizeof text - 1, file);
  std::fclose(file);
  text[n] = '\0';
  const char* at = *key ? std::strstr(text, key) : text;
  if (!at) return kUnknown;
  at += std::strlen(key);
  while (*at == ' ' || *at == '\t' || *at == ':')
    ++at;
  if (*at < '0' || *at > '9') return kUnknown;
  uint64_t value = std::strtoull(at, nullptr, 10);
  return value > kUnknown / unit ? kUnknown : value * unit;
}

uint64_t least(uint64_t a, uint64_t b) noexcept {
  return a < b ? a : b;
}

// Limit minus use, or kUnknown when either is unknown; 0 when the use is over the limit.
uint64_t headroom(uint64_t limit, uint64_t used) noexcept {
  if (limit == kUnknown || used == kUnknown) return kUnknown;
  return limit > used ? limit - used : 0;
}

// Headroom of the control group at `path` below `root` and of each group above it up to `root`
// itself: a limit anywhere on the way applies.
uint64_t groupHeadroom(const char* root, const char* path, const char* limitFile,
                       const char* usageFile) noexcept {
  char group[1024];
  if (std::snprintf(group, sizeof group, "%s%s", root, path) >= static_cast<int>(sizeof group))
    return kUnknown;
  size_t rootLength = std::strlen(root);
  uint64_t lowest = kUnknown;
  for (;;) {
    char limit[1100], usage[1100];
    std::snprintf(limit, sizeof limit, "%s/%s", group, limitFile);
    std::snprintf(usage, sizeof usage, "%s/%s", group, usageFile);
    lowest = least(lowest, headroom(numberInFile(limit, "", 1), numberInFile(usage, "", 1)));
    char* slash = std::strrchr(group, '/');
    if (!slash || static_cast<size_t>(slash - group) < rootLength) break;
    *slash = '\0';
  }
  return lowest;
}

// The least headroom of this process's memory control groups (v2 and v1), as /proc/self/cgroup
// names them.
uint64_t controlGroupHeadroom() noexcept {
  FILE* file = std::fopen("/proc/self/cgroup", "r");
  if (!file) return kUnknown;
  uint64_t result = kUnknown;
  char line[1024];
  while (std::fgets(line, sizeof line, file)) {
    line[std::strcspn(line, "\n")] = '\0';
    char* controllers = std::strchr(line, ':');
    char* path = controllers ? std::strchr(controllers + 1, ':') : nullptr;
    if (!path) continue;
    *path++ = '\0';
    ++controllers;
    if (std::strcmp(path, "/") == 0) path[0] = '\0';
    if (*controllers == '\0') {
      result = least(result, groupHeadroom("/sys/fs/cgroup", path, "memory.max", "memory.current"));
    } else if (std::strstr(controllers, "memory")) {
      result = least(result, groupHeadroom("/sys/fs/cgroup/memory", path, "memory.limit_in_bytes",
                                           "memory.usage_in_bytes"));
    }
  }
  std::fclose(file);
  return result;
}

uint64_t addressSpaceHeadroom() noexcept {
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kUnknown;
  long page = sysconf(_SC_PAGESIZE);
  uint64_t used =
      numberInFile("/proc/self/statm", "", page > 0 ? static_cast<uint64_t>(page) : 4096);
  return headroom(static_cast<uint64_t>(limit.rlim_cur), used);
}

}  // namespace

uint64_t availableMemoryBytes() noexcept {
  uint64_t machine = numberInFile("/proc/meminfo", "MemAvailable", 1024);
  return least(least(machine, controlGroupHeadroom()), addressSpaceHeadroom());
}

namespace {

// "/a/b.dxf" gives "/a", "/b.dxf" gives "/", "b.dxf" gives ".".
void folderOf(const char* path, char* folder, size_t size) noexcept {
  const char* slash = std::strrchr(path, '/');
  if (!slash) {
    std::snprintf(folder, size, ".");
    return;
  }
  int length = slash == path ? 1 : static_cast<int>(slash - path);
  std::snprintf(folder, size, "%.*s", length, path);
}

void sayWithSystemText(char* reason, size_t size, const char* what, int errorNumber) noexcept {
  std::snprintf(reason, size, "%s (%s)", what, std::strerror(errorNumber));
}

}  // namespace

uint64_t residentBytes() noexcept {
  uint64_t bytes = numberInFile("/proc/self/status", "VmRSS", 1024);
  return bytes == kUnknown ? 0 : bytes;
}

uint64_t peakResidentBytes() noexcept {
  uint64_t bytes = numberInFile("/proc/self/status", "VmHWM", 1024);
  return bytes == kUnknown ? 0 : bytes;
}

void returnFreedMemory() noexcept {
  malloc_trim(0);
}

void returnFreedMemoryPromptly() noexcept {
  mallopt(M_TRIM_THRESHOLD, 1 << 20);
}

int fileReadProblem(const char* path, char* reason, size_t size) noexcept {
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    std::snprintf(reason, size, "%s", std::strerror(errno));
    return 1;
  }
  struct stat info {};
  int problem = 0;
  if (fstat(fd, &info) != 0) {
    std::snprintf(reason, size, "%s", std::strerror(errno));
    problem = 1;
  } else if (S_ISDIR(info.st_mode)) {
    std::snprintf(reason, size, "it is a folder");
    problem = 1;
  } else if (!S_ISREG(info.st_mode)) {
    std::snprintf(reason, size, "it is not a regular file");
    problem = 1;
  }
  close(fd);
  return problem;
}

void fileWriteProblem(const char* path, int errorNumber, char* reason, size_t size) noexcept {
  char folder[4096];
  folderOf(path, folder, sizeof folder);
  struct stat info {};
  if (stat(folder, &info) != 0) {
    sayWithSystemText(reason, size, "its folder does not exist", errno);
  } else if (!S_ISDIR(info.st_mode)) {
    sayWithSystemText(reason, size, "its folder is not a folder", ENOTDIR);
  } else if (stat(path, &info) == 0 && S_ISDIR(info.st_mode)) {
    sayWithSystemText(reason, size, "it is a folder", EISDIR);
  } else if (stat(path, &info) == 0 && !S_ISREG(info.st_mode)) {
    std::snprintf(reason, size, "it is not a regular file");
  } else if (access(folder, W_OK | X_OK) != 0) {
    sayWithSystemText(reason, size, "its folder is not writable", errno);
  } else if (errorNumber != 0) {
    std::snprintf(reason, size, "%s", std::strerror(errorNumber));
  } else {
    std::snprintf(reason, size, "it could not be written");
  }
}

FileStamp fileStamp(const char* path) noexcept {
  FileStamp stamp{};
  struct stat info {};
  if (!path || stat(path, &info) != 0) return stamp;
  stamp.device = static_cast<uint64_t>(info.st_dev);
  stamp.inode = static_cast<uint64_t>(info.st_ino);
  stamp.size = static_cast<int64_t>(info.st_size);
  stamp.modifiedNanoseconds =
      static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  return stamp;
}

int openScratchFile() noexcept {
  const char* folder = std::getenv("TMPDIR");
  if (!folder || !*folder) folder = "/tmp";
  int file = open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (file >= 0) return file;
  char path[4096];
  if (std::snprintf(path, sizeof path, "%s/morvane-XXXXXX", folder) >=
      static_cast<int>(sizeof path))
    return -1;
  file = mkostemp(path, O_CLOEXEC);
  if (file >= 0) unlink(path);
  return file;
}

uint64_t scratchRoom(int file) noexcept {
  struct statvfs room {};
  if (fstatvfs(file, &room) != 0) return 0;
  return static_cast<uint64_t>(room.f_bavail) * room.f_frsize;
}

namespace {

// Moves exactly `bytes` at `offset` through `transfer` (pread or pwrite with the same
// arguments), going on after short moves and interruptions; false on any failure.
template <typename Transfer>
bool transferAll(size_t bytes, uint64_t offset, Transfer transfer) noexcept {
  size_t done = 0;
  while (done < bytes) {
    ssize_t moved = transfer(done, bytes - done, static_cast<off_t>(offset + done));
    if (moved < 0 && errno == EINTR) continue;
    if (moved <= 0) return false;
    done += static_cast<size_t>(moved);
  }
  return true;
}

}  // namespace

bool writeScratch(int file, const void* data, size_t bytes, uint64_t offset) noexcept {
  const char* from = static_cast<const char*>(data);
  return transferAll(bytes, offset, [&](size_t at, size_t size, off_t where) {
    return pwrite(file, from + at, size, where);
  });
}

bool readScratch(int file, void* data, size_t bytes, uint64_t offset) noexcept {
  char* to = static_cast<char*>(data);
  return transferAll(bytes, offset, [&](size_t at, size_t size, off_t where) {
    return pread(file, to + at, size, where);
  });
}

void closeScratchFile(int file) noexcept {
  if (file >= 0) close(file);
}

bool standardErrorIsTerminal() noexcept {
  return isatty(STDERR_FILENO) != 0;
}

int standardErrorColumns() noexcept {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
  return size.ws_col;
}

struct PrefaultJob {
  std::thread thread;
  uintptr_t first, last;  // whole pages of the block
  size_t ahead;
  std::mutex lock;
  std::condition_variable moved;
  uintptr_t allowed;  // made present up to here at most (guarded by `lock`)
  bool stop;
};

namespace {

constexpr uintptr_t kPrefaultStep = uintptr_t{2} << 20;

// Makes the pages present a step at a time, waiting whenever it is `ahead` in front.
void prefaultPages(PrefaultJob* job) {
  for (uintptr_t at = job->first; at < job->last; at += kPrefaultStep) {
    {
      std::unique_lock<std::mutex> hold(job->lock);
      job->moved.wait(hold, [&] { return job->stop || at < job->allowed; });
      if (job->stop) return;
    }
    const uintptr_t length = job->last - at < kPrefaultStep ? job->last - at : kPrefaultStep;
#ifdef MADV_POPULATE_WRITE
    if (madvise(reinterpret_cast<void*>(at), length, MADV_POPULATE_WRITE) != 0) return;
#else
    return;
#endif
  }
}

}  // namespace

PrefaultJob* startPrefault(void* block, size_t bytes, size_t ahead) noexcept {
  constexpr size_t kSmallest = size_t{16} << 20;
  if (!block || bytes < kSmallest) return nullptr;
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<uintptr_t>(block);
  auto* job = new (std::nothrow) PrefaultJob{};
  if (!job) return nullptr;
  job->first = (start + page - 1) / page * page;
  job->last = (start + bytes) / page * page;
  job->ahead = ahead;
  job->allowed = start + ahead;
  try {
    job->thread = std::thread(prefaultPages, job);
  } catch (...) {  // no thread: the pages come as they are written
    delete job;
    return nullptr;
  }
  return job;
}

void prefaultFilled(PrefaultJob* job, size_t filled) noexcept {
  if (!job) return;
  const uintptr_t allowed = job->first + filled + job->ahead;
  std::lock_guard<std::mutex> hold(job->lock);
  if (allowed < job->allowed + kPrefaultStep) return;
  job->allowed = allowed;
  job->moved.notify_one();
}

void endPrefault(PrefaultJob* job) noexcept {
  if (!job) return;
  {
    std::lock_guard<std::mutex> hold(job->lock);
    job->stop = true;
    job->moved.notify_one();
  }
  job->thread.join();
  delete job;
}
