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

}  // namespace

void setProfileThreadCount(int count) noexcept {
  configuredWorkers = count > 0 ? count : 0;
}

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

namespace {

// LSD radix sort of `count` items by key(item), digit by digit: 8-bit digits for short arrays
// (fewer counters to clear and sum), 11-bit ones for long arrays (fewer passes).
template <typename Item, typename Key>
Item* radixSort(Item* items, Item* temp, int64_t count, uint32_t* counters, Key key) noexcept {
  if (count < 2) return items;
  const int digitBits = count < 4096 ? 8 : 11;
  const int digitCount = (64 + digitBits - 1) / digitBits;
  const int buckets = 1 << digitBits;
  const uint64_t mask = static_cast<uint64_t>(buckets) - 1;
  std::memset(counters, 0, sizeof(uint32_t) * digitCount * buckets);
  for (int64_t i = 0; i < count; ++i) {
    uint64_t k = key(items[i]);
    for (int d = 0; d < digitCount; ++d)
      ++counters[d * buckets + ((k >> (d * digitBits)) & mask)];
  }
  Item* from = items;
  Item* to = temp;
  for (int d = 0; d < digitCount; ++d) {
    uint32_t* histogram = counters + d * buckets;
    int shift = d * digitBits;
    if (histogram[(key(from[0]) >> shift) & mask] == count) continue;  // one digit: no change
    uint32_t position = 0;
    for (int b = 0; b < buckets; ++b) {
      uint32_t size = histogram[b];
      histogram[b] = position;
      position += size;
    }
    for (int64_t i = 0; i < count; ++i)
      to[histogram[(key(from[i]) >> shift) & mask]++] = from[i];
    Item* swap = from;
    from = to;
    to = swap;
  }
  return from;
}

}  // namespace

double* sortProfileValues(double* values, double* temp, int64_t count,
                          uint32_t* counters) noexcept {
  return radixSort(values, temp, count, counters, sortKey);
}

uint64_t* sortKeys(uint64_t* keys, uint64_t* temp, int64_t count, uint32_t* counters) noexcept {
  return radixSort(keys, temp, count, counters, [](uint64_t k) { return k; });
}
