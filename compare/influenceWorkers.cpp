#include "compare/influenceWorkers.h"

#include <cstring>

#include "compare/influenceProfile.h"

namespace {

int configuredWorkers = 0;  // 0: one per core

// Sort key of a value: unsigned order equals the wanted order. Every NaN maps to the largest
// key, both zeros to the key of 0.0.
inline uint64_t sortKey(double value) noexcept {
  if (value != value) return ~uint64_t{0};
  if (value == 0.0) value = 0.0;
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return (bits >> 63) ? ~bits : bits | (uint64_t{1} << 63);
}

constexpr int kDigitBits = 11;
constexpr int kDigitCount = 6;  // 6 x 11 bits cover the 64-bit key
constexpr uint64_t kDigitMask = (uint64_t{1} << kDigitBits) - 1;

}  // namespace

void setProfileThreadCount(int count) noexcept { configuredWorkers = count > 0 ? count : 0; }

int workerCount(int64_t units, double effort) noexcept {
  if (units < 2 || effort < 2e5) return 1;
  int count = configuredWorkers;
  if (count <= 0) {
    unsigned cores = std::thread::hardware_concurrency();
    count = cores > 0 ? static_cast<int>(cores) : 1;
  }
  if (count > kMaxWorkers) count = kMaxWorkers;
  if (count > units) count = static_cast<int>(units);
  return count;
}

double* sortProfileValues(double* values, double* temp, int64_t count,
                          uint32_t* counters) noexcept {
  if (count < 2) return values;
  std::memset(counters, 0, sizeof(uint32_t) * kSortCounters);
  for (int64_t i = 0; i < count; ++i) {
    uint64_t key = sortKey(values[i]);
    for (int d = 0; d < kDigitCount; ++d) {
      ++counters[d * 2048 + ((key >> (d * kDigitBits)) & kDigitMask)];
    }
  }
  double* from = values;
  double* to = temp;
  for (int d = 0; d < kDigitCount; ++d) {
    uint32_t* histogram = counters + d * 2048;
    uint64_t first = (sortKey(from[0]) >> (d * kDigitBits)) & kDigitMask;
    if (histogram[first] == count) continue;  // every value has this digit: order unchanged
    uint32_t position = 0;
    for (int b = 0; b < 2048; ++b) {
      uint32_t size = histogram[b];
      histogram[b] = position;
      position += size;
    }
    for (int64_t i = 0; i < count; ++i) {
      uint64_t digit = (sortKey(from[i]) >> (d * kDigitBits)) & kDigitMask;
      to[histogram[digit]++] = from[i];
    }
    double* swap = from;
    from = to;
    to = swap;
  }
  return from;
}
