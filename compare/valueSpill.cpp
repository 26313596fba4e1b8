#include "compare/valueSpill.h"

#include "compare/influenceWorkers.h"
#include "textfiles/platform.h"
#include "textfiles/scopedBlocks.h"

namespace {

// Room left on the scratch file's file system beyond the file itself.
constexpr uint64_t kRoomToSpare = uint64_t{256} << 20;

uint64_t rowBytes(const ValueSpill& spill) noexcept {
  return static_cast<uint64_t>(spill.count - spill.from) * sizeof(double);
}

}  // namespace

bool openValueSpill(ValueSpill* spill, int32_t count, int32_t from) noexcept {
  spill->open = false;
  spill->failed = false;
  if (from <= 0 || from >= count) return false;
  int file = openScratchFile();
  if (file < 0) return false;
  spill->file = file;
  spill->count = count;
  spill->from = from;
  if (scratchRoom(file) < rowBytes(*spill) * static_cast<uint64_t>(count) + kRoomToSpare) {
    closeScratchFile(file);
    return false;
  }
  spill->open = true;
  return true;
}

void spillSeed(ValueSpill* spill, int32_t seed, const double* values, double sum,
               double* buffer) noexcept {
  int32_t width = spill->count - spill->from;
  for (int32_t j = 0; j < width; ++j)
    buffer[j] = values[spill->from + j] / sum;
  uint64_t bytes = rowBytes(*spill);
  if (!writeScratch(spill->file, buffer, bytes, bytes * static_cast<uint64_t>(seed)))
    spill->failed.store(true, std::memory_order_relaxed);
}

bool loadSpilledColumns(const ValueSpill& spill, const ColumnRange& range, double* rows,
                        ScopedBlocks& blocks) noexcept {
  int32_t count = spill.count;
  int32_t columns = range.to - range.from;
  double effort = static_cast<double>(count) * columns;
  int workers = workerCount(count, effort);
  auto* buffers = blocks.raw<double>(static_cast<size_t>(workers) * columns);
  if (!buffers) return false;
  uint64_t bytes = rowBytes(spill);
  uint64_t skip = static_cast<uint64_t>(range.from - spill.from) * sizeof(double);
  std::atomic<int32_t> nextSeed{0};
  std::atomic<bool> failed{false};
  auto loadWork = [&](int worker) noexcept {
    double* row = buffers + static_cast<size_t>(worker) * columns;
    for (;;) {
      int32_t seed = nextSeed.fetch_add(1, std::memory_order_relaxed);
      if (seed >= count || failed.load(std::memory_order_relaxed)) break;
      if (!readScratch(spill.file, row, sizeof(double) * static_cast<size_t>(columns),
                       bytes * static_cast<uint64_t>(seed) + skip)) {
        failed.store(true, std::memory_order_relaxed);
        break;
      }
      writeSeedToStrips(range, count, rows, seed, [&](int32_t a) { return row[a - range.from]; });
    }
  };
  runWorkers(workers, loadWork);
  return !failed.load();
}

void closeValueSpill(ValueSpill* spill) noexcept {
  if (spill && spill->open) closeScratchFile(spill->file);
  if (spill) spill->open = false;
}
