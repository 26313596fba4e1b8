#include "textfiles/platform.h"

#include <sys/resource.h>
#include <unistd.h>

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
