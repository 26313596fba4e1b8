#include "compare/influenceProfile.h"

#include <atomic>
#include <cmath>
#include <cstring>

#include "compare/influenceInternal.h"
#include "compare/influenceSlotSet.h"
#include "compare/influenceWorkers.h"
#include "model/faceModel.h"
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

// The neighbour walk of every face of the part, flattened: for slot i, entries first[i] to
// first[i + 1] - 1 give, in walk order (corner by corner, each point's face list in order,
// the face itself left out), the slot of the neighbour and the weight's denominator.
struct PartAdjacency {
  int64_t* first;
  int32_t* slot;
  double* denominator;
  int64_t longestWalk;
};

// Slot of face g in the part, or -1 when g is not listed there (never for a grouped model).
inline int32_t slotOf(const FaceModel& model, const int32_t* list, int32_t count, int32_t g) {
  if (g < 0 || g >= model.faceCount) return -1;
  int32_t slot = model.faces[g].partSlot;
  return (slot >= 0 && slot < count && list[slot] == g) ? slot : -1;
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

bool buildAdjacency(const FaceModel& model, const int32_t* list, int32_t count,
                    ScopedBlocks& blocks, PartAdjacency* out) noexcept {
  out->first = blocks.raw<int64_t>(static_cast<size_t>(count) + 1);
  if (!out->first) return false;
  int64_t total = 0;
  for (int32_t i = 0; i < count; ++i) {
    out->first[i] = total;
    walkNeighbours(model, list[i], [&](int32_t g) {
      if (slotOf(model, list, count, g) >= 0) ++total;
    });
  }
  out->first[count] = total;
  out->longestWalk = 0;
  for (int32_t i = 0; i < count; ++i) {
    int64_t walk = out->first[i + 1] - out->first[i];
    if (walk > out->longestWalk) out->longestWalk = walk;
  }
  out->slot = blocks.raw<int32_t>(static_cast<size_t>(total));
  out->denominator = blocks.raw<double>(static_cast<size_t>(total) + 3);  // divideAll reads on
  if (!out->slot || !out->denominator) return false;
  for (int k = 0; k < 3; ++k)
    out->denominator[total + k] = 1.0;
  int64_t e = 0;
  for (int32_t i = 0; i < count; ++i) {
    const ModelFace& face = model.faces[list[i]];
    walkNeighbours(model, list[i], [&](int32_t g) {
      int32_t slot = slotOf(model, list, count, g);
      if (slot < 0) return;
      out->slot[e] = slot;
      out->denominator[e] = weightDenominator(face, model.faces[g]);
      ++e;
    });
  }
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

  __attribute__((always_inline)) void start(int32_t count, int32_t seed) noexcept {
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
    double v = values[f];
    int64_t begin = adjacency.first[f];
    int64_t size = adjacency.first[f + 1] - begin;
    double* weights = scratch.weights;
    uint8_t* marks = scratch.marks;
    divideAll(v, adjacency.denominator + begin, weights, size);
    const int32_t* slots = adjacency.slot + begin;
    for (int64_t e = 0; e < size; ++e) {
      int32_t g = slots[e];
      values[g] = values[g] + weights[e];
      if (marks[g] == kMarkUnreached) {
        marks[g] = kMarkFront;
        waiting.insert(g);
      }
    }
    marks[f] = kMarkSpread;
    from = f + 1;
    return true;
  }

  // Divides every value by their sum, added in slot order; returns the sum.
  double normalise(int32_t count) noexcept {
    double sum = 0.0;
    for (int32_t j = 0; j < count; ++j)
      sum += values[j];
    for (int32_t j = 0; j < count; ++j)
      values[j] = values[j] / sum;
    return sum;
  }
};

// Spreads one seed. Built for AVX2 too where the processor has it: the same divisions, four
// at a time.
__attribute__((target_clones("avx2", "default"))) void spreadSeed(const PartAdjacency& adjacency,
                                                                  int32_t count, SeedWalk& walk,
                                                                  int32_t seed) noexcept {
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

constexpr int kColumnBlock = 32;  // profiles gathered per sweep over the influence rows

void releasePartArrays(FaceModel* model, const int32_t* list, int32_t count) noexcept {
  for (int32_t i = 0; i < count; ++i) {
    ModelFace& face = model->faces[list[i]];
    gfree(face.influence);
    gfree(face.profile);
    face.influence = nullptr;
    face.profile = nullptr;
  }
}

// The computation once the part's arrays are allocated; false when memory failed.
bool computeAllocated(FaceModel* model, const int32_t* list, int32_t count) noexcept {
  ScopedBlocks blocks;
  PartAdjacency adjacency{};
  if (!buildAdjacency(*model, list, count, blocks, &adjacency)) return false;

  // Spreading: every seed on its own, handed out through a shared counter.
  double effort = static_cast<double>(count) * static_cast<double>(adjacency.first[count] + count);
  int workers = workerCount(count, effort);
  size_t setWords = static_cast<size_t>(SlotSet::wordsFor(count));
  size_t weightsPerWalk = static_cast<size_t>(adjacency.longestWalk) + 3;
  size_t walkCount = static_cast<size_t>(workers);
  auto* marks = blocks.raw<uint8_t>(walkCount * count);
  auto* words = blocks.raw<uint64_t>(walkCount * setWords);
  auto* weights = blocks.raw<double>(walkCount * weightsPerWalk);
  auto* lastMarks = blocks.raw<uint8_t>(static_cast<size_t>(count));
  if (!marks || !words || !weights || !lastMarks) return false;
  std::atomic<int32_t> nextSeed{0};
  auto spreadWork = [&](int worker) noexcept {
    SeedWalk walk = {};
    walk.scratch = {marks + static_cast<size_t>(worker) * count,
                    words + static_cast<size_t>(worker) * setWords,
                    weights + static_cast<size_t>(worker) * weightsPerWalk};
    for (;;) {
      int32_t seed = nextSeed.fetch_add(1, std::memory_order_relaxed);
      if (seed >= count) break;
      ModelFace& face = model->faces[list[seed]];
      walk.values = face.influence;
      spreadSeed(adjacency, count, walk, seed);
      face.influenceSum = walk.normalise(count);
      if (seed == count - 1) std::memcpy(lastMarks, walk.scratch.marks, static_cast<size_t>(count));
    }
  };
  runWorkers(workers, spreadWork);

  // Profiles: column a of the influence rows, sorted and sampled, for blocks of columns.
  for (int32_t i = 0; i < count; ++i) {
    ModelFace& face = model->faces[list[i]];
    face.profile = static_cast<double*>(gmalloc(sizeof(double) * kProfileSamples));
    if (!face.profile) return false;
  }
  // Each column is gathered as sort keys and sorted as integers; a column holding a NaN or
  // -0.0 (which the keys do not give back) is sorted as doubles instead.
  int32_t columnBlocks = (count + kColumnBlock - 1) / kColumnBlock;
  workers = workerCount(columnBlocks, effort);
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
      int32_t a0 = block * kColumnBlock;
      int32_t width = count - a0 < kColumnBlock ? count - a0 : kColumnBlock;
      bool byValue[kColumnBlock] = {};
      for (int32_t j = 0; j < count; ++j) {
        const double* row = model->faces[list[j]].influence + a0;
        for (int32_t k = 0; k < width; ++k) {
          byValue[k] |= needsValueSort(row[k]);
          gathered[static_cast<size_t>(k) * count + j] = numberKey(row[k]);
        }
      }
      for (int32_t k = 0; k < width; ++k) {
        double* profile = model->faces[list[a0 + k]].profile;
        if (byValue[k]) {
          for (int32_t j = 0; j < count; ++j)
            column[j] = model->faces[list[j]].influence[a0 + k];
          const double* sorted = sortProfileValues(column, temp, count, counts);
          sampleProfile([sorted](int64_t i) { return sorted[i]; }, count, profile);
        } else {
          const uint64_t* sorted =
              sortKeys(gathered + static_cast<size_t>(k) * count, keyTemp, count, counts);
          sampleProfile([sorted](int64_t i) { return keyValue(sorted[i]); }, count, profile);
        }
      }
    }
  };
  runWorkers(workers, profileWork);

  for (int32_t i = 0; i < count; ++i)
    model->faces[list[i]].mark = lastMarks[i];
  return true;
}

}  // namespace

void clearFaceMarks(FaceModel* model) noexcept {
  if (!model) return;
  for (int32_t i = 0; i < model->faceCount; ++i)
    model->faces[i].mark = kMarkUnreached;
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
  clearFaceMarks(model);
  releasePartArrays(model, list, count);
  for (int32_t i = 0; i < count; ++i) {
    ModelFace& face = model->faces[list[i]];
    face.influence = static_cast<double*>(gcalloc(sizeof(double) * static_cast<size_t>(count)));
    if (!face.influence) {
      releasePartArrays(model, list, count);
      return 0;
    }
  }
  if (!computeAllocated(model, list, count)) {
    releasePartArrays(model, list, count);
    return 0;
  }
  part.flags |= kPartProfilesComputed;
  return 1;
}
