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

// Working storage of sortProfileValues: counters for the digit histograms.
constexpr int kSortCounters = 6 * 2048;

// Sorts `values` ascending and stably, with every NaN after every number and 0.0 equal to
// -0.0: the same result as a stable sort with that ordering. `temp` holds `count` doubles and
// `counters` kSortCounters entries. Returns the array that holds the result (`values` or
// `temp`).
double* sortProfileValues(double* values, double* temp, int64_t count,
                          uint32_t* counters) noexcept;
