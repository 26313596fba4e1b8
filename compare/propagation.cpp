#include "compare/propagation.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>

#include "compare/angleSignature.h"
#include "compare/influenceProfile.h"
#include "compare/influenceSlotSet.h"
#include "compare/influenceWorkers.h"
#include "compare/propagationInternal.h"
#include "model/faceModel.h"
#include "textfiles/scopedBlocks.h"

namespace {

constexpr double kNoScore = 1e308;

// The point of corner `corner` of a face, or null when the index is out of range.
inline const ModelPoint* cornerPoint(const FaceModel& model, const ModelFace& face,
                                     int corner) noexcept {
  int32_t p = face.corners[corner];
  return (p >= 0 && p < model.pointCount) ? &model.points[p] : nullptr;
}

inline bool listsFace(const ModelPoint* point, int32_t face) noexcept {
  if (!point) return false;
  for (int32_t k = 0; k < point->faceCount; ++k) {
    if (point->faces[k] == face) return true;
  }
  return false;
}

// The reference face a target face is matched to, or -1 (also for an index out of range).
inline int32_t matchOf(const FaceModel& reference, const ModelFace& face) noexcept {
  int32_t r = face.matchedFace;
  return (r >= 0 && r < reference.faceCount) ? r : -1;
}

// Sum over the samples of abs(a[j] - b[j]), in sample order.
inline double profileDifference(const double* a, const double* b) noexcept {
  double sum = 0.0;
  for (int j = 0; j < kProfileSamples; ++j)
    sum += std::fabs(a[j] - b[j]);
  return sum;
}

// Whether a profile holds a NaN: every difference with it is then NaN, and never the smallest.
inline bool holdsNaN(const double* profile) noexcept {
  bool nan = false;
  for (int j = 0; j < kProfileSamples; ++j)
    nan |= profile[j] != profile[j];
  return nan;
}

inline bool partInRange(const FaceModel* model, int partIndex) noexcept {
  return model && partIndex >= 0 && partIndex < model->partCount;
}

// Reference faces compared with a target face side by side, and target faces handed to a
// worker at a time.
constexpr int kReferenceBlock = 32;
constexpr int kTargetChunk = 64;

using Double8 = double __attribute__((vector_size(64)));
using Bits8 = int64_t __attribute__((vector_size(64)));

// sums[k] = sum over the samples j from `from` on, in sample order, of
// abs(profile[j] - layout[j][k]), for the kReferenceBlock profiles laid out sample by sample in
// `layout`. Each sum is kept in its own lane, so every one is added in the same order as one at
// a time. Built for AVX-512 and AVX2 too where the processor has them: the same sums, eight or
// four lanes at a time.
__attribute__((target_clones("avx512f", "avx2", "default"))) void blockDifferences(
    const double* profile, const double* layout, int from, double* sums) noexcept {
  constexpr int kGroups = kReferenceBlock / 8;
  const int64_t m = INT64_MAX;
  const Bits8 magnitude = {m, m, m, m, m, m, m, m};
  Double8 acc[kGroups] = {};
  for (int j = from; j < kProfileSamples; ++j) {
    const double p = profile[j];
    const Double8 value = {p, p, p, p, p, p, p, p};
    const double* row = layout + j * kReferenceBlock;
    for (int q = 0; q < kGroups; ++q) {
      Double8 other;
      std::memcpy(&other, row + 8 * q, sizeof other);
      Bits8 difference = reinterpret_cast<Bits8>(value - other) & magnitude;  // fabs
      acc[q] += reinterpret_cast<Double8>(difference);
    }
  }
  std::memcpy(sums, acc, sizeof acc);
}

// The samples from which a pair's differences bound its score from below.
constexpr int kBoundFrom = kProfileSamples - 64;

// Whether any present profile of the block may score below `best` against `profile`: false
// only when, for each, the differences of the samples from kBoundFrom on, shrunk by 1e-12 and
// by 1e-300 (rounding moves a sum of 256 terms by less than 3e-14 of itself, and by less than
// 1e-319 near the subnormals), plus its signature term already exceed `best`. The terms are not
// negative, so the full sum is at least that, and rounding keeps the order of the sums.
bool mayScoreBelow(const double* profile, const double* layout, const double* signatures,
                   const bool* present, int32_t width, double best) noexcept {
  alignas(64) double tails[kReferenceBlock];
  blockDifferences(profile, layout, kBoundFrom, tails);
  for (int32_t k = 0; k < width; ++k) {
    double bound = tails[k] * (1.0 - 1e-12) - 1e-300;
    if (present[k] && !(bound + 0.01 * signatures[k] > best)) return true;
  }
  return false;
}

// Lowers `best` to `score` when that is lower.
void lowerTo(std::atomic<double>& best, double score) noexcept {
  double seen = best.load(std::memory_order_relaxed);
  while (score < seen && !best.compare_exchange_weak(seen, score, std::memory_order_relaxed)) {
  }
}

// Fills one record per face of the target part (list order). Unmatched faces are compared with
// the reference part's faces a block at a time, the block's profiles laid out sample by sample;
// the unmatched faces are shared out among the workers in chunks.
bool fillRecords(const FaceModel& reference, const FaceModel& target, const ModelPart& tp,
                 const ModelPart& rp, SeedCandidate* records, ScopedBlocks& blocks) noexcept {
  int32_t n = tp.faceCount;
  int64_t unmatched = 0;
  for (int32_t i = 0; i < n; ++i) {
    const ModelFace& t = target.faces[tp.faces[i]];
    SeedCandidate& record = records[i];
    record.targetFace = tp.faces[i];
    record.referenceFace = -1;
    record.score = kNoScore;
    int32_t r = matchOf(reference, t);
    if (r < 0) {
      ++unmatched;
      continue;
    }
    record.referenceFace = r;
    const ModelFace& rf = reference.faces[r];
    if (t.profile && rf.profile) {
      record.score =
          0.5 * (profileDifference(t.profile, rf.profile) +
                 0.01 * signatureDistance(faceSignature(target, t), faceSignature(reference, rf)));
    }
  }
  int32_t rn = rp.faces ? rp.faceCount : 0;
  if (rn <= 0 || unmatched == 0) return true;
  // Only the lowest score is wanted (see chooseSeed), so a pair whose score cannot come below
  // one already found is not scored in full: its last samples' differences alone, less a
  // margin far above their rounding, already come to more. The winning record is the same;
  // others may keep a higher score than their best.
  double lowest = std::numeric_limits<double>::infinity();
  for (int32_t i = 0; i < n; ++i) {
    if (records[i].referenceFace >= 0 && records[i].score < lowest) lowest = records[i].score;
  }
  std::atomic<double> bestScore{lowest};
  int32_t chunks = (n + kTargetChunk - 1) / kTargetChunk;
  int workers = workerCount(chunks, static_cast<double>(unmatched) * rn * kProfileSamples);
  // The reference part's profiles and signatures are laid out once, a block at a time, sample
  // by sample (profiles holding NaN or missing are left out: no NaN score is ever below a
  // record's score).
  static_assert(kSignatureBlock == kReferenceBlock, "one block of both");
  constexpr size_t kLayout = static_cast<size_t>(kProfileSamples) * kReferenceBlock;
  constexpr size_t kSignatureLayout = static_cast<size_t>(kSignatureBins) * kSignatureBlock;
  size_t referenceBlocks = static_cast<size_t>((rn + kReferenceBlock - 1) / kReferenceBlock);
  auto* layouts = blocks.raw<double>(kLayout * referenceBlocks);
  auto* signatureLayouts = blocks.raw<double>(kSignatureLayout * referenceBlocks);
  auto* presence = blocks.raw<bool>(kReferenceBlock * referenceBlocks);
  if (!layouts || !signatureLayouts || !presence) return false;
  for (size_t block = 0; block < referenceBlocks; ++block) {
    int32_t r0 = static_cast<int32_t>(block) * kReferenceBlock;
    double* layout = layouts + kLayout * block;
    double* signatureLayout = signatureLayouts + kSignatureLayout * block;
    for (int32_t k = 0; k < kReferenceBlock; ++k) {
      const ModelFace* face = r0 + k < rn ? &reference.faces[rp.faces[r0 + k]] : nullptr;
      const double* profile = face ? face->profile : nullptr;
      presence[block * kReferenceBlock + k] = profile != nullptr && !holdsNaN(profile);
      for (int j = 0; j < kProfileSamples; ++j)
        layout[j * kReferenceBlock + k] = profile ? profile[j] : 0.0;
      const double* signature = face ? faceSignature(reference, *face) : nullptr;
      for (int b = 0; b < kSignatureBins; ++b)
        signatureLayout[b * kSignatureBlock + k] = signature ? signature[b] : 0.0;
    }
  }
  std::atomic<int32_t> nextChunk{0};
  auto work = [&](int) noexcept {
    for (;;) {
      int32_t chunk = nextChunk.fetch_add(1, std::memory_order_relaxed);
      if (chunk >= chunks) break;
      int32_t i0 = chunk * kTargetChunk;
      int32_t i1 = n - i0 < kTargetChunk ? n : i0 + kTargetChunk;
      // Faces whose scores are all NaN (a NaN in either profile) are left out as well.
      bool scored[kTargetChunk] = {};
      bool anyScored = false;
      for (int32_t i = i0; i < i1; ++i) {
        const ModelFace& t = target.faces[tp.faces[i]];
        scored[i - i0] = matchOf(reference, t) < 0 && t.profile && !holdsNaN(t.profile);
        anyScored |= scored[i - i0];
      }
      for (int32_t r0 = 0; anyScored && r0 < rn; r0 += kReferenceBlock) {
        int32_t width = rn - r0 < kReferenceBlock ? rn - r0 : kReferenceBlock;
        size_t block = static_cast<size_t>(r0 / kReferenceBlock);
        const double* layout = layouts + kLayout * block;
        const double* signatureLayout = signatureLayouts + kSignatureLayout * block;
        const bool* present = presence + kReferenceBlock * block;
        bool anyPresent = false;
        for (int32_t k = 0; k < width; ++k)
          anyPresent |= present[k];
        if (!anyPresent) continue;
        for (int32_t i = i0; i < i1; ++i) {
          const ModelFace& t = target.faces[tp.faces[i]];
          if (!scored[i - i0]) continue;
          alignas(64) double sums[kReferenceBlock];
          alignas(64) double signatures[kSignatureBlock];
          signatureDistances(faceSignature(target, t), signatureLayout, signatures);
          if (!mayScoreBelow(t.profile, layout, signatures, present, width,
                             bestScore.load(std::memory_order_relaxed)))
            continue;
          blockDifferences(t.profile, layout, 0, sums);
          SeedCandidate& record = records[i];
          for (int32_t k = 0; k < width; ++k) {
            if (!present[k]) continue;
            int32_t rf = rp.faces[r0 + k];
            double s = sums[k] + 0.01 * signatures[k];
            if (s < record.score) {
              record.score = s;
              record.referenceFace = rf;
              lowerTo(bestScore, s);
            }
          }
        }
      }
    }
  };
  runWorkers(workers, work);
  return true;
}

// State of one propagation over a target part: the considered-flags with the list of faces
// flagged since the pass began, and the front as two ordered sets of slots (target marks 1
// and 2), so that each pass visits only its front faces, in list order.
struct Propagation {
  FaceModel* reference;
  FaceModel* target;
  const int32_t* list;  // the target part's faces
  int32_t count;
  uint8_t* considered;  // per slot
  int32_t* touched;     // slots flagged in the current pass
  int32_t touchedCount;
  SlotSet front[2];  // [0]: slots marked kMarkFront, [1]: slots marked kMarkSpread
};

bool preparePropagation(Propagation* p, FaceModel* reference, FaceModel* target,
                        const ModelPart& tp, ScopedBlocks& blocks) noexcept {
  p->reference = reference;
  p->target = target;
  p->list = tp.faces;
  p->count = tp.faces ? tp.faceCount : 0;
  p->touchedCount = 0;
  size_t words = static_cast<size_t>(SlotSet::wordsFor(p->count));
  p->considered = blocks.zeroed<uint8_t>(static_cast<size_t>(p->count));
  p->touched = blocks.raw<int32_t>(static_cast<size_t>(p->count));
  uint64_t* setWords = blocks.raw<uint64_t>(2 * words);
  if (!p->considered || !p->touched || !setWords) return false;
  p->front[0].attach(setWords, p->count);
  p->front[1].attach(setWords + words, p->count);
  return true;
}

// Whether a face with `mark` waits in one of the two front sets.
inline bool isFront(int32_t mark) noexcept {
  return mark == kMarkFront || mark == kMarkSpread;
}

// Fills the front sets from the target part's marks.
void loadFront(Propagation* p) noexcept {
  p->front[0].clear();
  p->front[1].clear();
  for (int32_t i = 0; i < p->count; ++i) {
    int32_t mark = p->target->faces[p->list[i]].mark;
    if (isFront(mark)) p->front[mark - kMarkFront].insert(i);
  }
}

// Slot of target face b in the part, or -1 when it is not listed there (never for a grouped
// model).
inline int32_t slotOf(const Propagation& p, int32_t b) noexcept {
  if (b < 0 || b >= p.target->faceCount) return -1;
  int32_t slot = p.target->faces[b].partSlot;
  return (slot >= 0 && slot < p.count && p.list[slot] == b) ? slot : -1;
}

inline void flagConsidered(Propagation* p, int32_t slot) noexcept {
  if (p->considered[slot]) return;
  p->considered[slot] = 1;
  p->touched[p->touchedCount++] = slot;
}

void setTargetMark(Propagation* p, int32_t slot, int32_t mark) noexcept {
  ModelFace& face = p->target->faces[p->list[slot]];
  if (isFront(face.mark)) p->front[face.mark - kMarkFront].erase(slot);
  face.mark = mark;
  if (isFront(mark)) p->front[mark - kMarkFront].insert(slot);
}

// Front face A (at `slot`) offers its neighbours in pass `pass` (1 or 2).
void offerNeighbours(Propagation* p, int32_t slot, int pass, const ModelFace& seed,
                     const ModelFace& seedReference, bool requireMatchLevel) noexcept {
  const FaceModel& reference = *p->reference;
  FaceModel& target = *p->target;
  int32_t a = p->list[slot];
  const ModelFace& faceA = target.faces[a];
  flagConsidered(p, slot);
  int32_t ar = matchOf(reference, faceA);
  if (ar < 0) return;
  const ModelFace& faceAR = reference.faces[ar];
  int cornersA = cornersOf(faceA);
  int cornersAR = cornersOf(faceAR);
  for (int m = 0; m < cornersA; ++m) {
    const ModelPoint* point = cornerPoint(target, faceA, m);
    if (!point) continue;
    const ModelPoint* next = cornerPoint(target, faceA, (m + 1) % cornersA);
    for (int32_t k = 0; k < point->faceCount; ++k) {
      int32_t b = point->faces[k];
      int32_t bSlot = slotOf(*p, b);
      if (bSlot < 0 || p->considered[bSlot]) continue;
      ModelFace& faceB = target.faces[b];
      if (faceB.mark != kMarkUnreached) {
        flagConsidered(p, bSlot);
        continue;
      }
      if (requireMatchLevel && faceB.matchLevel == 0) continue;
      if (listsFace(next, b) != (pass == 1)) continue;
      double dT = distance(faceA.normal, seed.normal) - distance(faceB.normal, seed.normal);
      double sT = signatureDistance(faceSignature(target, faceA), faceSignature(target, faceB));
      flagConsidered(p, bSlot);
      double best = kNoScore;
      int32_t winner = -1;
      for (int l = 0; l < cornersAR; ++l) {
        const ModelPoint* pointR = cornerPoint(reference, faceAR, l);
        if (!pointR) continue;
        const ModelPoint* nextR = cornerPoint(reference, faceAR, (l + 1) % cornersAR);
        for (int32_t q = 0; q < pointR->faceCount; ++q) {
          int32_t c = pointR->faces[q];
          if (c < 0 || c >= reference.faceCount) continue;
          const ModelFace& faceC = reference.faces[c];
          if (faceC.mark != kMarkUnreached) continue;
          if (listsFace(nextR, c) != (pass == 1)) continue;
          double dR = distance(faceAR.normal, seedReference.normal) -
                      distance(faceC.normal, seedReference.normal);
          double sR =
              signatureDistance(faceSignature(reference, faceAR), faceSignature(reference, faceC));
          double score = std::fabs(sR - sT) + std::fabs(dR - dT);
          if (score < best) {
            best = score;
            winner = c;
          }
        }
      }
      if (winner >= 0) {
        setFaceMark(*p->reference, winner, kMarkFront);
        setTargetMark(p, bSlot, kMarkFront);
        if (faceB.matchedFace == -1) faceB.matchedFace = winner;
      }
    }
  }
}

bool runStep(Propagation* p, int32_t seedFace, bool requireMatchLevel) noexcept {
  const ModelFace& seed = p->target->faces[seedFace];
  int32_t sr = matchOf(*p->reference, seed);
  if (sr < 0) return false;
  const ModelFace& seedReference = p->reference->faces[sr];
  bool handled = false;
  for (int pass = 1; pass <= 2; ++pass) {
    for (int32_t i = 0; i < p->touchedCount; ++i)
      p->considered[p->touched[i]] = 0;
    p->touchedCount = 0;
    SlotSet& front = p->front[pass - 1];
    int64_t from = 0;
    for (;;) {
      int64_t slot = front.findFrom(from);
      if (slot < 0) break;
      offerNeighbours(p, static_cast<int32_t>(slot), pass, seed, seedReference, requireMatchLevel);
      setTargetMark(p, static_cast<int32_t>(slot), pass == 1 ? kMarkSpread : kMarkDone);
      handled = true;
      from = slot + 1;
    }
  }
  return handled;
}

// Target faces whose matchedFace is set get `mark`, and so do their reference faces.
void markMatchedPairs(FaceModel* reference, FaceModel* target, const ModelPart& tp,
                      int32_t mark) noexcept {
  for (int32_t i = 0; i < tp.faceCount; ++i) {
    ModelFace& t = target->faces[tp.faces[i]];
    int32_t r = matchOf(*reference, t);
    if (r < 0) continue;
    t.mark = mark;
    setFaceMark(*reference, r, mark);
  }
}

}  // namespace

void clearPartMarks(FaceModel* model, int partIndex) noexcept {
  if (!partInRange(model, partIndex)) return;
  const ModelPart& part = model->parts[partIndex];
  if (!part.faces) return;
  for (int32_t i = 0; i < part.faceCount; ++i)
    model->faces[part.faces[i]].mark = kMarkUnreached;
}

int chooseSeed(const SeedCandidate* records, int count) noexcept {
  int best = -1;
  for (int i = 0; i < count; ++i) {
    if (records[i].referenceFace < 0) continue;
    double score = records[i].score;
    if (best < 0 ||
        (!std::isnan(score) && (std::isnan(records[best].score) || score < records[best].score))) {
      best = i;
    }
  }
  return best;
}

bool propagationStep(FaceModel* reference, FaceModel* target, int targetPartIndex, int seedFace,
                     bool requireMatchLevel) noexcept {
  if (!reference || reference == target || !partInRange(target, targetPartIndex)) return false;
  if (seedFace < 0 || seedFace >= target->faceCount) return false;
  ScopedBlocks blocks;
  Propagation p{};
  if (!preparePropagation(&p, reference, target, target->parts[targetPartIndex], blocks)) {
    return false;
  }
  target->parts[targetPartIndex].flags |= kPartMarked;
  loadFront(&p);
  return runStep(&p, seedFace, requireMatchLevel);
}

int propagateMatches(FaceModel* reference, FaceModel* target, int targetPartIndex) noexcept {
  if (!reference || reference == target || !partInRange(target, targetPartIndex)) return 1;
  const ModelPart& tp = target->parts[targetPartIndex];
  if (!partInRange(reference, tp.matchedPart) || !tp.faces || tp.faceCount <= 0) return 1;
  const ModelPart& rp = reference->parts[tp.matchedPart];
  ScopedBlocks blocks;
  auto* records = blocks.raw<SeedCandidate>(static_cast<size_t>(tp.faceCount));
  if (!records || !fillRecords(*reference, *target, tp, rp, records, blocks)) return 0;
  int seedIndex = chooseSeed(records, tp.faceCount);
  if (seedIndex < 0) return 1;
  Propagation p{};
  if (!preparePropagation(&p, reference, target, tp, blocks)) return 0;
  target->parts[targetPartIndex].flags |= kPartMarked;

  clearPartMarks(target, targetPartIndex);
  clearPartMarks(reference, tp.matchedPart);
  markMatchedPairs(reference, target, tp, kMarkDone);
  const SeedCandidate& seed = records[seedIndex];
  target->faces[seed.targetFace].matchedFace = seed.referenceFace;
  target->faces[seed.targetFace].mark = kMarkFront;
  setFaceMark(*reference, seed.referenceFace, kMarkFront);
  loadFront(&p);
  while (runStep(&p, seed.targetFace, true)) {
  }

  clearPartMarks(target, targetPartIndex);
  clearPartMarks(reference, tp.matchedPart);
  markMatchedPairs(reference, target, tp, kMarkFront);
  loadFront(&p);
  while (runStep(&p, seed.targetFace, false)) {
  }
  return 1;
}
