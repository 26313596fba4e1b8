#pragma once
// The influence values of the columns a part's first pass cannot keep, put in a scratch file
// while the seeds spread, so that the later passes read them back instead of spreading every
// seed again.
#include <atomic>
#include <cstdint>

#include "compare/columnStrips.h"

class ScopedBlocks;

// The file holds, seed after seed, the normalised values of columns `from` to `count` - 1.
struct ValueSpill {
  bool open;
  int file;
  int32_t count;  // seeds, and columns in all
  int32_t from;   // the first column spilled
  std::atomic<bool> failed;
};

// Opens the scratch file for a part of `count` faces whose columns from `from` on are
// spilled. False (and nothing held) when no file can be made or its file system lacks room.
bool openValueSpill(ValueSpill* spill, int32_t count, int32_t from) noexcept;

// Writes seed `seed`'s values: values[j] / sum for the spilled columns j, through `buffer`
// (count - from doubles). A write that fails sets `failed`.
void spillSeed(ValueSpill* spill, int32_t seed, const double* values, double sum,
               double* buffer) noexcept;

// Reads the spilled values of the columns in `range` into the strips of `rows`, as the
// spreading would have written them. False when a read or memory failed.
bool loadSpilledColumns(const ValueSpill& spill, const ColumnRange& range, double* rows,
                        ScopedBlocks& blocks) noexcept;

void closeValueSpill(ValueSpill* spill) noexcept;

// Closes the spill on leaving the scope.
struct ValueSpillGuard {
  ValueSpill* spill;
  ~ValueSpillGuard() { closeValueSpill(spill); }
};
