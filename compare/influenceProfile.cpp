#include "compare/influenceProfile.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "compare/columnStrips.h"
#include "compare/influenceInternal.h"
#include "compare/influenceSlotSet.h"
#include "compare/influenceWorkers.h"
#include "compare/valueSpill.h"
#include "model/faceModel.h"
#include "textfiles/platform.h"
#include "textfiles/scopedBlocks.h"

namespace {

// Denominator of the weight between faces f and g. A weight whose denominator is 0 (equal
// normals and equal scaled centres) counts as 0.
inline double weightDenominator(const ModelFace& f, const ModelFace& g) noexcept {
  return std::sqrt(squaredDistance(f.normal, g.normal) +
                   squaredDistance(f.scaledCentre, g.scaledCentre));
}

// The weight of a spreading step from a face holding `value`.
inline double weight(double value, double denominator) noexcept {
  return denominator == 0.0 ? 0.0 : value / denominator;
}

// The neighbour walk of every face of the part, flattened and grouped by how often a neighbour
// occurs in it: for slot i, entries first[i] to first[i + 1] - 1 give the slot of a neighbour
// and the weight's denominator; those before first[i] + twice[i] occur once in the walk, those
// from there to first[i] + rest[i] twice (the faces sharing an edge), and each of the rest once
// for every time it occurs. The weight of one neighbour is the same wherever it occurs in the
// walk and additions to different faces do not meet, so adding a twice-met neighbour's weight
// twice in a row gives what the walk order gives.
struct PartAdjacency {
  int64_t* first;
  int32_t* twice;
  int32_t* rest;
  int32_t* slot;
  double* denominator;
  int64_t longestWalk;
};

// The order the spreading takes a part's faces in: walk position i is face list[i], or
// list[order[i]] when the part is spread in its scrambled order (rank inverts order).
struct WalkOrder {
  const int32_t* list;   // the part's faces, ascending (slot order)
  const int32_t* order;  // null: slot order
  const int32_t* rank;
  int32_t count;

  int32_t faceAt(int32_t i) const noexcept { return list[order ? order[i] : i]; }
};

// Walk position of face g, or -1 when g is not listed in the part (never for a grouped model).
inline int32_t positionOf(const FaceModel& model, const WalkOrder& walk, int32_t g) {
  if (g < 0 || g >= model.faceCount) return -1;
  int32_t slot = model.faces[g].partSlot;
  if (slot < 0 || slot >= walk.count || walk.list[slot] != g) return -1;
  return walk.rank ? walk.rank[slot] : slot;
}

template <typename Visit>
void walkNeighbours(const FaceModel& model, int32_t f, Visit&& visit) noexcept {
  const ModelFace& face = model.faces[f];
  int corners = cornersOf(face);
  for (int c = 0; c < corners; ++c) {
    int32_t p = face.corners[c];
    if (p < 0 || p >= model.pointCount) continue;
    const ModelPoint& point = model.points[p];
    for (int32_t k = 0; k < point.faceCount; ++k) {
      int32_t g = point.faces[k];
      if (g != f) visit(g);
    }
  }
}

bool buildAdjacency(const FaceModel& model, const WalkOrder& walk, ScopedBlocks& blocks,
                    PartAdjacency* out) noexcept {
  int32_t count = walk.count;
  out->first = blocks.raw<int64_t>(static_cast<size_t>(count) + 1);
  out->twice = blocks.raw<int32_t>(static_cast<size_t>(count));
  out->rest = blocks.raw<int32_t>(static_cast<size_t>(count));
  if (!out->first || !out->twice || !out->rest) return false;
  int64_t total = 0;
  out->longestWalk = 0;
  for (int32_t i = 0; i < count; ++i) {
    out->first[i] = total;
    int64_t length = 0;
    walkNeighbours(model, walk.faceAt(i), [&](int32_t g) {
      if (positionOf(model, walk, g) >= 0) ++length;
    });
    total += length;
    if (length > out->longestWalk) out->longestWalk = length;
  }
  out->first[count] = total;
  out->slot = blocks.raw<int32_t>(static_cast<size_t>(total));
  out->denominator = blocks.raw<double>(static_cast<size_t>(total) + 3);  // divideAll reads on
  auto* met = blocks.raw<int32_t>(static_cast<size_t>(out->longestWalk));
  if (!out->slot || !out->denominator || (out->longestWalk > 0 && !met)) return false;
  // The entries are written compacted (a twice-met neighbour once), each face's first entry
  // at or before the place the counting pass gave it.
  int64_t e = 0;
  for (int32_t i = 0; i < count; ++i) {
    int32_t f = walk.faceAt(i);
    int64_t length = 0;
    walkNeighbours(model, f, [&](int32_t g) {
      int32_t slot = positionOf(model, walk, g);
      if (slot >= 0) met[length++] = slot;
    });
    std::sort(met, met + length);
    // Three sweeps over the runs of equal slots: once, twice, then more often.
    out->first[i] = e;
    for (int group = 1; group <= 3; ++group) {
      if (group == 2) out->twice[i] = static_cast<int32_t>(e - out->first[i]);
      if (group == 3) out->rest[i] = static_cast<int32_t>(e - out->first[i]);
      for (int64_t k = 0; k < length;) {
        int64_t run = 1;
        while (k + run < length && met[k + run] == met[k])
          ++run;
        bool wanted = group < 3 ? run == group : run > 2;
        if (wanted) {
          double denominator = weightDenominator(model.faces[f], model.faces[walk.faceAt(met[k])]);
          for (int64_t r = 0; r < (group == 3 ? run : 1); ++r) {
            out->slot[e] = met[k];
            out->denominator[e] = denominator;
            ++e;
          }
        }
        k += run;
      }
    }
  }
  out->first[count] = e;
  for (int k = 0; k < 3; ++k)
    out->denominator[e + k] = 1.0;
  return true;
}

using Double4 = double __attribute__((vector_size(32)));
using Bits4 = int64_t __attribute__((vector_size(32)));

// weights[e] = weight(value, denominators[e]) for e < count, four at a time (each lane divides
// exactly as one division would). Reads and writes up to three entries past `count`, which
// the arrays provide.
__attribute__((always_inline)) inline void divideAll(double value, const double* denominators,
                                                     double* weights, int64_t count) noexcept {
  const Double4 values = {value, value, value, value};
  const Double4 ones = {1.0, 1.0, 1.0, 1.0};
  const Double4 zeros = {0.0, 0.0, 0.0, 0.0};
  for (int64_t e = 0; e < count; e += 4) {
    Double4 d;
    std::memcpy(&d, denominators + e, sizeof d);
    Bits4 zero = d == zeros;
    Double4 quotient = values / (zero ? ones : d);
    Bits4 kept = reinterpret_cast<Bits4>(quotient) & ~zero;
    std::memcpy(weights + e, &kept, sizeof kept);
  }
}

// The scrambled spreading's guard against overflow: before a face holding more than
// kRescaleAbove spreads, every value of the seed is multiplied by kRescaleBy.
constexpr double kRescaleAbove = 0x1p512;
constexpr double kRescaleBy = 0x1p-512;

// Scratch of one seed's spreading: a face mark per slot (kMarkUnreached, kMarkFront waiting,
// kMarkSpread), the
// ordered set of the waiting slots and room for one face's weights.
struct SpreadScratch {
  uint8_t* marks;
  uint64_t* setWords;
  double* weights;  // the longest neighbour walk plus 3
};

// The spreading of one seed over the part into `values` (zero-filled, slot-indexed), one face
// at a time. Equivalent to repeating the spreading pass until no face spreads: within a pass
// the waiting faces are taken in slot order, and a face reached ahead of the current one is
// taken in the same pass while one reached behind it waits for the next pass.
struct SeedWalk {
  double* values;
  SpreadScratch scratch;
  SlotSet waiting;
  int64_t from;
  int32_t count;
  bool rescale;  // keep the values finite (the scrambled spreading)

  __attribute__((always_inline)) void start(int32_t count, int32_t seed) noexcept {
    this->count = count;
    std::memset(scratch.marks, kMarkUnreached, static_cast<size_t>(count));
    waiting.attach(scratch.setWords, count);
    values[seed] = 1.0;
    scratch.marks[seed] = kMarkFront;
    waiting.insert(seed);
    from = 0;
  }

  // Spreads the next waiting face; false when none is left.
  __attribute__((always_inline)) bool step(const PartAdjacency& adjacency) noexcept {
    int64_t f = waiting.findFrom(from);
    if (f < 0) {
      if (waiting.empty()) return false;
      f = waiting.findFrom(0);  // the next pass
    }
    waiting.erase(f);
    if (rescale && values[f] > kRescaleAbove) scaleDown();
    double v = values[f];
    int64_t begin = adjacency.first[f];
    int64_t size = adjacency.first[f + 1] - begin;
    double* weights = scratch.weights;
    divideAll(v, adjacency.denominator + begin, weights, size);
    const int32_t* slots = adjacency.slot + begin;
    int64_t twice = adjacency.twice[f];
    int64_t rest = adjacency.rest[f];
    for (int64_t e = 0; e < twice; ++e)
      reach(slots[e], weights[e], 1);
    for (int64_t e = twice; e < rest; ++e)
      reach(slots[e], weights[e], 2);
    for (int64_t e = rest; e < size; ++e)
      reach(slots[e], weights[e], 1);
    scratch.marks[f] = kMarkSpread;
    from = f + 1;
    return true;
  }

  // Adds `weight` to the value of slot g `times` times (1 or 2) and puts g in the waiting
  // set when it is reached for the first time.
  __attribute__((always_inline)) void reach(int32_t g, double weight, int times) noexcept {
    double value = values[g] + weight;
    if (times == 2) value = value + weight;
    values[g] = value;
    if (scratch.marks[g] == kMarkUnreached) {
      scratch.marks[g] = kMarkFront;
      waiting.insert(g);
    }
  }

  // Multiplies every value by kRescaleBy (a power of two: exact but for values that become
  // subnormal).
  void scaleDown() noexcept {
    for (int32_t j = 0; j < count; ++j)
      values[j] = values[j] * kRescaleBy;
  }

  // Writes the values of the columns in `range`, each divided by the sum of all values (added
  // in slot order), to the seed's place in the strips of `rows`; returns the sum.
  double normaliseInto(int32_t count, const ColumnRange& range, double* rows,
                       int32_t seed) const noexcept {
    double sum = 0.0;
    for (int32_t j = 0; j < count; ++j)
      sum += values[j];
    writeSeedToStrips(range, count, rows, seed, [&](int32_t a) { return values[a] / sum; });
    return sum;
  }
};

// Spreads one seed, starting from zero values. Built for AVX2 too where the processor has it:
// the same divisions, four at a time.
__attribute__((target_clones("avx2", "default"))) void spreadSeed(const PartAdjacency& adjacency,
                                                                  int32_t count, SeedWalk& walk,
                                                                  int32_t seed) noexcept {
  std::memset(walk.values, 0, sizeof(double) * static_cast<size_t>(count));
  walk.start(count, seed);
  while (walk.step(adjacency)) {
  }
}

// Samples the sorted values (count of them, value(i) the i-th) into 256 profile entries.
template <typename Value>
void sampleProfile(Value value, int64_t count, double* profile) noexcept {
  double step = static_cast<double>(count - 1) * 0.00390625;
  for (int j = 0; j < kProfileSamples; ++j) {
    double c = j * step;
    int64_t lo = static_cast<int64_t>(std::floor(c));
    int64_t hi = static_cast<int64_t>(std::ceil(c));
    if (hi > count - 1) hi = count - 1;
    if (lo == hi) {
      profile[j] = value(lo);
    } else {
      double low = value(lo);
      profile[j] = low + (c - static_cast<double>(lo)) * (value(hi) - low);
    }
  }
}

void releasePartArrays(FaceModel* model, const int32_t* list, int32_t count) noexcept {
  for (int32_t i = 0; i < count; ++i) {
    ModelFace& face = model->faces[list[i]];
    gfree(face.profile);
    face.profile = nullptr;
  }
}

// Spreads every seed of the part, in walk order, keeping the values of the columns in `range`
// in the strips of `rows` (seed i is the one at walk position i, a column a walk position) and
// those of the later columns in `spill` when there is one, and sets each seed face's
// influenceSum. `lastMarks` receives the marks of the last seed. Without `rescale`, the
// spreading stops early once a seed's sum is +inf. Returns kSpread, kOverflow or kNoMemory.
enum SpreadOutcome { kSpread, kOverflow, kNoMemory };
SpreadOutcome spreadAll(FaceModel* model, const WalkOrder& walk, const PartAdjacency& adjacency,
                        const ColumnRange& range, double* rows, ValueSpill* spill,
                        uint8_t* lastMarks, bool rescale, ScopedBlocks& blocks) noexcept {
  int32_t count = walk.count;
  double effort = static_cast<double>(count) * static_cast<double>(adjacency.first[count] + count);
  int workers = workerCount(count, effort);
  size_t setWords = static_cast<size_t>(SlotSet::wordsFor(count));
  size_t weightsPerWalk = static_cast<size_t>(adjacency.longestWalk) + 3;
  size_t walkCount = static_cast<size_t>(workers);
  auto* marks = blocks.raw<uint8_t>(walkCount * count);
  auto* words = blocks.raw<uint64_t>(walkCount * setWords);
  auto* weights = blocks.raw<double>(walkCount * weightsPerWalk);
  // Each seed spreads in a row of its worker's, which stays in the core's cache, and is
  // written to the part's strips once normalised.
  auto* values = blocks.raw<double>(walkCount * count);
  size_t spillWidth = spill ? static_cast<size_t>(count - spill->from) : 0;
  auto* spillRows = spill ? blocks.raw<double>(walkCount * spillWidth) : nullptr;
  if (!marks || !words || !weights || !values || (spill && !spillRows)) return kNoMemory;
  std::atomic<int32_t> nextSeed{0};
  std::atomic<bool> overflowed{false};
  auto spreadWork = [&](int worker) noexcept {
    SeedWalk seedWalk = {};
    seedWalk.rescale = rescale;
    seedWalk.values = values + static_cast<size_t>(worker) * count;
    seedWalk.scratch = {marks + static_cast<size_t>(worker) * count,
                        words + static_cast<size_t>(worker) * setWords,
                        weights + static_cast<size_t>(worker) * weightsPerWalk};
    while (!overflowed.load(std::memory_order_relaxed)) {
      int32_t seed = nextSeed.fetch_add(1, std::memory_order_relaxed);
      if (seed >= count) break;
      spreadSeed(adjacency, count, seedWalk, seed);
      double sum = seedWalk.normaliseInto(count, range, rows, seed);
      if (spill) spillSeed(spill, seed, seedWalk.values, sum, spillRows + worker * spillWidth);
      model->faces[walk.faceAt(seed)].influenceSum = sum;
      if (!rescale && std::isinf(sum)) overflowed.store(true, std::memory_order_relaxed);
      if (seed == count - 1) {
        std::memcpy(lastMarks, seedWalk.scratch.marks, static_cast<size_t>(count));
      }
    }
  };
  runWorkers(workers, spreadWork);
  return overflowed.load() ? kOverflow : kSpread;
}

// Gives the faces at the walk positions in `range` their profiles: column a of `rows`, sorted
// and sampled, goes to the face at walk position a. False when memory failed.
bool sampleColumns(FaceModel* model, const WalkOrder& walk, const ColumnRange& range,
                   const double* rows, double effort, ScopedBlocks& blocks) noexcept {
  int32_t count = walk.count;
  for (int32_t a = range.from; a < range.to; ++a) {
    ModelFace& face = model->faces[walk.faceAt(a)];
    face.profile = static_cast<double*>(gmalloc(sizeof(double) * kProfileSamples));
    if (!face.profile) return false;
  }
  // Each column is gathered as sort keys and sorted as integers; a column holding a NaN or
  // -0.0 (which the keys do not give back) is sorted as doubles instead. The zeros (half of
  // the values of a part spread rescaled, whose far faces fall below the smallest double) are
  // only counted: they come first.
  int32_t columnBlocks = (range.to - range.from + kColumnBlock - 1) / kColumnBlock;
  int workers = workerCount(columnBlocks, effort);
  size_t perWorker = static_cast<size_t>(count) * (kColumnBlock + 3);
  auto* columns = blocks.raw<uint64_t>(static_cast<size_t>(workers) * perWorker);
  auto* counters = blocks.raw<uint32_t>(static_cast<size_t>(workers) * kSortCounters);
  if (!columns || !counters) return false;
  std::atomic<int32_t> nextBlock{0};
  auto profileWork = [&](int worker) noexcept {
    uint64_t* gathered = columns + static_cast<size_t>(worker) * perWorker;
    uint64_t* keyTemp = gathered + static_cast<size_t>(count) * kColumnBlock;
    auto* column = reinterpret_cast<double*>(keyTemp + count);
    double* temp = column + count;
    uint32_t* counts = counters + static_cast<size_t>(worker) * kSortCounters;
    for (;;) {
      int32_t block = nextBlock.fetch_add(1, std::memory_order_relaxed);
      if (block >= columnBlocks) break;
      int32_t a0 = range.from + block * kColumnBlock;
      int32_t width = stripWidth(range, a0);
      const double* strip = rows + stripStart(range, count, a0);
      bool byValue[kColumnBlock] = {};
      int32_t kept[kColumnBlock] = {};  // keys gathered other than zeros
      constexpr uint64_t kZeroKey = uint64_t{1} << 63;
      for (int32_t j = 0; j < count; ++j) {
        const double* row = strip + static_cast<size_t>(j) * width;
        for (int32_t k = 0; k < width; ++k) {
          byValue[k] |= needsValueSort(row[k]);
          uint64_t key = numberKey(row[k]);
          gathered[static_cast<size_t>(k) * count + kept[k]] = key;
          kept[k] += key != kZeroKey;
        }
      }
      for (int32_t k = 0; k < width; ++k) {
        double* profile = model->faces[walk.faceAt(a0 + k)].profile;
        if (byValue[k]) {
          for (int32_t j = 0; j < count; ++j)
            column[j] = strip[static_cast<size_t>(j) * width + k];
          const double* sorted = sortProfileValues(column, temp, count, counts);
          sampleProfile([sorted](int64_t i) { return sorted[i]; }, count, profile);
        } else {
          const uint64_t* sorted =
              sortKeys(gathered + static_cast<size_t>(k) * count, keyTemp, kept[k], counts);
          int64_t zeros = count - kept[k];
          sampleProfile(
              [sorted, zeros](int64_t i) { return i < zeros ? 0.0 : keyValue(sorted[i - zeros]); },
              count, profile);
        }
      }
    }
  };
  runWorkers(workers, profileWork);
  return true;
}

// The scrambled order of `count` slots: ascending by scrambleKey(slot) (distinct keys).
void scrambledOrder(int32_t count, int32_t* order, int32_t* rank, uint64_t* keys) noexcept {
  for (int32_t i = 0; i < count; ++i)
    keys[i] =
        (scrambleKey(static_cast<uint64_t>(i)) & ~uint64_t{0xFFFFFFFF}) | static_cast<uint32_t>(i);
  std::sort(keys, keys + count);
  for (int32_t i = 0; i < count; ++i) {
    order[i] = static_cast<int32_t>(static_cast<uint32_t>(keys[i]));
    rank[order[i]] = i;
  }
}

// Spreads the part in `walk` order into `rows`; false when memory failed or (without
// `rescale`) a seed overflowed, `*overflow` telling which.
bool spreadInOrder(FaceModel* model, const WalkOrder& walk, const ColumnRange& range, double* rows,
                   ValueSpill* spill, uint8_t* lastMarks, bool rescale, bool* overflow) noexcept {
  *overflow = false;
  ScopedBlocks blocks;
  PartAdjacency adjacency{};
  if (!buildAdjacency(*model, walk, blocks, &adjacency)) return false;
  SpreadOutcome outcome =
      spreadAll(model, walk, adjacency, range, rows, spill, lastMarks, rescale, blocks);
  *overflow = outcome == kOverflow;
  return outcome == kSpread;
}

// The computation with the part's values allocated: count x `passColumns` (a multiple of
// kColumnBlock, or count), in strips. The values of the later columns go to `spill` when there
// is one (`*spilled` tells whether it served to the end); else, or once the file fails, the
// seeds are spread once again for every further run of passColumns columns. False when memory
// failed.
bool computeWithRows(FaceModel* model, ModelPart& part, double* rows, int32_t passColumns,
                     ValueSpill* spill, bool* spilled) noexcept {
  const int32_t* list = part.faces;
  int32_t count = part.faceCount;
  ScopedBlocks blocks;
  auto* lastMarks = blocks.raw<uint8_t>(static_cast<size_t>(count));
  if (!lastMarks) return false;
  WalkOrder walk{list, nullptr, nullptr, count};
  ColumnRange range{0, passColumns < count ? passColumns : count};
  bool overflow = false;
  if (!spreadInOrder(model, walk, range, rows, spill, lastMarks, false, &overflow)) {
    if (!overflow) return false;
    auto* order = blocks.raw<int32_t>(static_cast<size_t>(count));
    auto* rank = blocks.raw<int32_t>(static_cast<size_t>(count));
    auto* keys = blocks.raw<uint64_t>(static_cast<size_t>(count));
    if (!order || !rank || !keys) return false;
    scrambledOrder(count, order, rank, keys);
    walk.order = order;
    walk.rank = rank;
    if (!spreadInOrder(model, walk, range, rows, spill, lastMarks, true, &overflow)) return false;
    part.flags |= kPartProfilesScrambled;
  }
  if (spill && spill->failed.load()) spill = nullptr;
  double effort = static_cast<double>(count) * static_cast<double>(count) * 16.0;
  for (;;) {
    if (!sampleColumns(model, walk, range, rows, effort, blocks)) return false;
    if (range.to >= count) break;
    range.from = range.to;
    range.to = count - range.from < passColumns ? count : range.from + passColumns;
    // Later passes spread as the first did: in the scrambled order, and rescaled, after an
    // overflow.
    if (spill && loadSpilledColumns(*spill, range, rows, blocks)) continue;
    spill = nullptr;  // a read failed: spread again from here on
    const bool rescale = walk.order != nullptr;
    if (!spreadInOrder(model, walk, range, rows, nullptr, lastMarks, rescale, &overflow))
      return false;
  }
  *spilled = spill != nullptr;
  for (int32_t i = 0; i < count; ++i)
    model->faces[walk.faceAt(i)].mark = lastMarks[i];
  part.flags |= kPartMarked;
  return true;
}

}  // namespace

void clearFaceMarks(FaceModel* model) noexcept {
  if (!model || !model->parts) return;
  for (int32_t p = 0; p < model->partCount; ++p) {
    ModelPart& part = model->parts[p];
    if (!(part.flags & kPartMarked)) continue;
    for (int32_t i = 0; part.faces && i < part.faceCount; ++i)
      model->faces[part.faces[i]].mark = kMarkUnreached;
    part.flags &= ~kPartMarked;
  }
}

bool spreadInfluence(FaceModel* model, double* values, int count,
                     const int32_t* faceList) noexcept {
  bool spread = false;
  for (int i = 0; i < count; ++i) {
    int32_t f = faceList[i];
    ModelFace& face = model->faces[f];
    if (face.mark != kMarkFront) continue;
    double v = values[f];
    walkNeighbours(*model, f, [&](int32_t g) {
      ModelFace& other = model->faces[g];
      values[g] = values[g] + weight(v, weightDenominator(face, other));
      if (other.mark == kMarkUnreached) other.mark = kMarkFront;
    });
    face.mark = kMarkSpread;
    spread = true;
  }
  return spread;
}

void releasePartProfiles(FaceModel* model, int partIndex) noexcept {
  if (!model || partIndex < 0 || partIndex >= model->partCount) return;
  const ModelPart& part = model->parts[partIndex];
  if (part.faces) releasePartArrays(model, part.faces, part.faceCount);
}

double profileMemoryNeed(int32_t faceCount) noexcept {
  return profilePassMemoryNeed(faceCount, faceCount);
}

double profilePassMemoryNeed(int32_t faceCount, int32_t passColumns) noexcept {
  double n = faceCount > 0 ? faceCount : 0;
  double kept = passColumns < faceCount ? (passColumns > 0 ? passColumns : 0) : n;
  // Kept values, then per face: adjacency, profile, gathered columns and scratch of every
  // worker.
  return 8.0 * n * kept + 4096.0 * n;
}

namespace {

double memoryBudget = 0;  // setProfileMemoryBudget's; 0: none

// The most a part's kept influence values take of the memory when the rest can go to a scratch
// file: a 20,000-face part (3 GiB of values) is then profiled in two passes over the columns,
// the second read back from the file, within 2 GiB in all.
constexpr double kKeptValuesAtMost = 1.75 * 1024 * 1024 * 1024;

// Columns kept per pass for a part of `count` faces when `available` bytes can be had:
// count when all fit, else the widest run of whole strips that fits in at most
// kMostProfilePasses passes; 0 when none does.
int32_t columnsPerPass(int32_t count, double available) noexcept {
  if (profileMemoryNeed(count) <= available) return count;
  for (int passes = 2; passes <= kMostProfilePasses; ++passes) {
    int32_t columns = (count + passes - 1) / passes;
    columns = (columns + kColumnBlock - 1) / kColumnBlock * kColumnBlock;
    if (columns < count && profilePassMemoryNeed(count, columns) <= available) return columns;
  }
  return 0;
}

}  // namespace

void setProfileMemoryBudget(double bytes) noexcept {
  memoryBudget = bytes > 0 ? bytes : 0;
}

int computePartProfiles(FaceModel* model, int partIndex) noexcept {
  if (!model || partIndex < 0 || partIndex >= model->partCount) return 1;
  ModelPart& part = model->parts[partIndex];
  if (part.flags & kPartProfilesComputed) return 1;
  int32_t count = part.faces ? part.faceCount : 0;
  const int32_t* list = part.faces;
  if (count <= 0) {
    part.flags |= kPartProfilesComputed;
    return 1;
  }
  // Below this the memory is asked for without looking: the question costs more than the part.
  constexpr double kAskAbove = 64.0 * 1024 * 1024;
  double need = profileMemoryNeed(count);
  int32_t passColumns = count;
  part.flags &= ~(kPartProfilesSpilled | kPartShortOfMemory);
  if (memoryBudget > 0 || need > kAskAbove) {
    double available =
        memoryBudget > 0 ? memoryBudget : static_cast<double>(availableMemoryBytes());
    passColumns = columnsPerPass(count, available);
    if (passColumns == 0) {
      part.flags |= kPartTooLarge;
      return kProfilesTooLarge;
    }
    if (passColumns < count) part.flags |= kPartShortOfMemory;
  }
  // Values beyond kKeptValuesAtMost go to a scratch file even when the memory could be had, as
  // long as the file can be.
  ValueSpill spill{};
  ValueSpillGuard spillGuard{&spill};
  int32_t capped = passColumns;
  if (passColumns == count && memoryBudget == 0 && need > kKeptValuesAtMost)
    capped = columnsPerPass(count, kKeptValuesAtMost);
  if (capped > 0 && capped < count && openValueSpill(&spill, count, capped)) passColumns = capped;
  clearFaceMarks(model);
  releasePartArrays(model, list, count);
  // One block for the values a pass keeps; every seed writes all of its own.
  size_t cells = static_cast<size_t>(count) * static_cast<size_t>(passColumns);
  auto* rows = static_cast<double*>(gmalloc(sizeof(double) * cells));
  if (!rows) return 0;
  bool spilled = false;
  bool done =
      computeWithRows(model, part, rows, passColumns, spill.open ? &spill : nullptr, &spilled);
  gfree(rows);
  if (!done) {
    part.flags &= ~kPartProfilesScrambled;
    releasePartArrays(model, list, count);
    return 0;
  }
  part.flags |= kPartProfilesComputed | (spilled ? kPartProfilesSpilled : 0);
  part.profilePasses = (count + passColumns - 1) / passColumns;
  return 1;
}
