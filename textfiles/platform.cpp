#include "textfiles/platform.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

uint64_t controlGroupHeadroom() noexcept {
  uint64_t v2 = headroom(numberInFile("/sys/fs/cgroup/memory.max", "", 1),
                         numberInFile("/sys/fs/cgroup/memory.current", "", 1));
  uint64_t v1 = headroom(numberInFile("/sys/fs/cgroup/memory/memory.limit_in_bytes", "", 1),
                         numberInFile("/sys/fs/cgroup/memory/memory.usage_in_bytes", "", 1));
  return least(v2, v1);
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

bool standardErrorIsTerminal() noexcept {
  return isatty(STDERR_FILENO) != 0;
}

int standardErrorColumns() noexcept {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
  return size.ws_col;
}
