#pragma once
// How a part's kept influence values lie in memory while its profiles are made: by columns
// (the faces receiving), a run of them per pass, in strips of kColumnBlock columns.
#include <cstddef>
#include <cstdint>

// The columns whose influence values are kept in a pass: all of the part's, or (when the
// memory is short) a run of them, the profiles being made in several passes over the columns.
struct ColumnRange {
  int32_t from;  // a multiple of kColumnBlock
  int32_t to;    // past the last
};

// The kept values lie in strips of kColumnBlock columns: the strip of columns a0 to
// a0 + width - 1 starts at element (a0 - range.from) * count and holds the seeds' values of
// those columns, seed after seed. A strip is read whole when its columns' profiles are made.
constexpr int kColumnBlock = 32;
inline int32_t stripWidth(const ColumnRange& range, int32_t a0) noexcept {
  return range.to - a0 < kColumnBlock ? range.to - a0 : kColumnBlock;
}
inline size_t stripStart(const ColumnRange& range, int32_t count, int32_t a0) noexcept {
  return static_cast<size_t>(a0 - range.from) * static_cast<size_t>(count);
}

// Writes seed `seed`'s values of the columns in `range` to its place in each strip of `rows`
// (count seeds per strip): column a gets value(a).
template <typename Value>
void writeSeedToStrips(const ColumnRange& range, int32_t count, double* rows, int32_t seed,
                       Value value) noexcept {
  for (int32_t a0 = range.from; a0 < range.to; a0 += kColumnBlock) {
    int32_t width = stripWidth(range, a0);
    double* row = rows + stripStart(range, count, a0) + static_cast<size_t>(seed) * width;
    for (int32_t k = 0; k < width; ++k)
      row[k] = value(a0 + k);
  }
}
