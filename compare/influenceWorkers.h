#pragma once
// Running one job on several threads, and the stable ascending sort of profile values.
#include <cstdint>
#include <thread>

constexpr int kMaxWorkers = 64;

// Threads wanted for `work` units of effort: 1 for small jobs, else the configured count (or
// one per core), never more than `units` or kMaxWorkers.
int workerCount(int64_t units, double effort) noexcept;

// Runs work(worker) for worker 0..count-1, worker 0 on the calling thread. A thread that
// cannot be started is left out; the job must hand out its pieces through a shared counter so
// that the workers that run finish it.
template <typename Work>
void runWorkers(int count, Work& work) noexcept {
  std::thread threads[kMaxWorkers];
  if (count > kMaxWorkers) count = kMaxWorkers;
  for (int i = 1; i < count; ++i) {
    try {
      threads[i] = std::thread([&work, i] { work(i); });
    } catch (...) {
      break;  // fewer threads; the others take over its share
    }
  }
  work(0);
  for (int i = 1; i < count; ++i) {
    if (threads[i].joinable()) threads[i].join();
  }
}

// Working storage of the sorts below: counters for the digit histograms.
constexpr int kSortCounters = 6 * 2048;

// Sorts `values` ascending and stably, with every NaN after every number and 0.0 equal to
// -0.0: the same result as a stable sort with that ordering. `temp` holds `count` doubles and
// `counters` kSortCounters entries. Returns the array that holds the result (`values` or
// `temp`).
double* sortProfileValues(double* values, double* temp, int64_t count, uint32_t* counters) noexcept;

// The sort key of a number (not NaN, not -0.0): keys compare as unsigned integers in the
// order of the numbers, and keyValue gives the number back bit for bit.
inline uint64_t numberKey(double value) noexcept {
  uint64_t bits = __builtin_bit_cast(uint64_t, value);
  return (bits >> 63) ? ~bits : bits | (uint64_t{1} << 63);
}
inline double keyValue(uint64_t key) noexcept {
  uint64_t bits = (key >> 63) ? key & ~(uint64_t{1} << 63) : ~key;
  return __builtin_bit_cast(double, bits);
}
// True for the values numberKey does not take: NaN and -0.0.
inline bool needsValueSort(double value) noexcept {
  return value != value || (value == 0.0 && __builtin_signbit(value));
}

// Sorts `count` keys ascending; `temp` holds `count` keys. Returns the array holding the result.
uint64_t* sortKeys(uint64_t* keys, uint64_t* temp, int64_t count, uint32_t* counters) noexcept;
