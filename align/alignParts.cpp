#include "align/alignParts.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "align/faceAssignment.h"
#include "align/partAlignment.h"
#include "align/partShapes.h"
#include "align/pointTree.h"
#include "model/faceModel.h"
#include "textfiles/allocator.h"
#include "textfiles/scopedBlocks.h"

namespace {

constexpr int32_t kMaxCandidates = 16;       // reference parts of one shape tried per part
constexpr int32_t kMaxInspected = 512;       // reference parts of one point count looked at
constexpr int32_t kAlternativesPerPair = 8;  // alignments kept per pair of parts
constexpr int32_t kMaxAlternatives = 8;      // alignments kept per target part
constexpr int32_t kGuessAlternatives = 8;    // alignments compared to find guessed faces
constexpr int64_t kSearchWork = 60000000;    // nearest-neighbour queries for all searches
constexpr int64_t kSupportWork = 4000000;    // parts tested against other parts' motions

constexpr int32_t kMaxMotions = 64;  // shared motions remembered for the last pass
constexpr int32_t kMaxTurns = 64;    // distinct turns (rotation and scale) counted for consensus
constexpr double kSameTurn = 1e-2;   // largest entry difference of two rotations taken as one

enum PartState : uint8_t { kNotTried, kPending, kAligned, kFailed };

struct SharedMotion {
  int32_t seed;  // the target part it was estimated on
  Similarity motion;
};

struct AlignRun {
  FaceModel* reference;
  FaceModel* target;
  ShapeSet referenceShapes;
  ShapeSet targetShapes;
  AlignScratch scratch;
  PointTree* partCentres;  // centroids of the alignable reference parts
  int32_t* centreParts;    // tree entry -> reference part
  int32_t* byPointCount;   // alignable reference parts by point count, then placement
  double* referencePlace;  // per reference part: its placement (see placements)
  double* targetPlace;     // per target part: its placement
  Vec3* referenceOffset;   // per reference part: its placement as a vector (see placements)
  Vec3* targetOffset;      // per target part: the same
  int32_t byPointCountSize;
  PointTree* faceCentres;  // every reference face's centre, built when first needed
  bool faceCentresTried;
  uint8_t* state;        // PartState per target part
  uint8_t* claimed;      // per reference part: an aligned target part landed on it
  int32_t* chosen;       // per face slot of one part: reference face, -1 none
  uint8_t* guessed;      // per face slot: its layer differs between alignments
  int32_t* explained;    // target parts a motion explains
  int32_t* explainedBy;  // and the reference part each lands on
  int64_t supportLeft;
  PartAlignment* found;  // per target part, kMaxAlternatives alignments
  int8_t* foundCount;    // how many of them are set
  SharedMotion motions[kMaxMotions];
  int32_t motionCount;
  // Turns of the parts settled without doubt (coincident parts count as unturned), with how
  // many parts took each: a symmetric part on its own takes the turn most other parts took.
  Similarity turns[kMaxTurns];
  int32_t turnVotes[kMaxTurns];
  int32_t turnCount;
  AlignSummary summary;
};

void releaseRun(AlignRun& run) {
  releaseShapeSet(&run.referenceShapes);
  releaseShapeSet(&run.targetShapes);
  releasePointTree(run.partCentres);
  releasePointTree(run.faceCentres);
  for (void* block :
       {static_cast<void*>(run.scratch.pointMap), static_cast<void*>(run.scratch.stamps),
        static_cast<void*>(run.centreParts), static_cast<void*>(run.byPointCount),
        static_cast<void*>(run.state), static_cast<void*>(run.claimed),
        static_cast<void*>(run.referencePlace), static_cast<void*>(run.targetPlace),
        static_cast<void*>(run.referenceOffset), static_cast<void*>(run.targetOffset),
        static_cast<void*>(run.chosen), static_cast<void*>(run.guessed),
        static_cast<void*>(run.explained), static_cast<void*>(run.explainedBy),
        static_cast<void*>(run.found), static_cast<void*>(run.foundCount)}) {
    gfree(block);
  }
}

template <typename T>
T* zeroedArray(int64_t n) {
  return static_cast<T*>(gcalloc(sizeof(T) * static_cast<size_t>(n > 0 ? n : 1)));
}

// A target part worth aligning: alignable, with a face that coincidence did not pair.
bool worthAligning(const AlignRun& run, int32_t t) {
  if (!run.targetShapes.parts[t].alignable) return false;
  const ModelPart& part = run.target->parts[t];
  for (int32_t i = 0; i < part.faceCount; ++i) {
    if (run.target->faces[part.faces[i]].partnerFace < 0) return true;
  }
  return false;
}

// Each alignable part's placement: the distance of its centroid from the centre of the model's
// alignable points, over their spread about it (root mean square). Turning, mirroring, scaling
// or moving the whole model keeps it, so among copies of one shape the part in the same place
// comes first; 0 for parts that are not alignable and for a model whose parts all sit at one
// centre. `offsets` gets the same as a vector (centroid minus centre, over the spread): copies
// in places alike (a symmetric array of them) are told apart by it while the model as a whole
// was not turned.
void placements(const ShapeSet& shapes, double* out, Vec3* offsets) {
  double sum[3] = {0.0, 0.0, 0.0}, points = 0.0;
  for (int32_t p = 0; p < shapes.partCount; ++p) {
    const PartShape& part = shapes.parts[p];
    if (!part.alignable) continue;
    sum[0] += part.centroid.x * part.pointCount;
    sum[1] += part.centroid.y * part.pointCount;
    sum[2] += part.centroid.z * part.pointCount;
    points += part.pointCount;
  }
  const Vec3 centre =
      points > 0.0 ? Vec3{sum[0] / points, sum[1] / points, sum[2] / points} : Vec3{0.0, 0.0, 0.0};
  double spread = 0.0;
  for (int32_t p = 0; p < shapes.partCount; ++p) {
    const PartShape& part = shapes.parts[p];
    if (part.alignable) spread += squaredDistance(part.centroid, centre) * part.pointCount;
  }
  spread = points > 0.0 ? std::sqrt(spread / points) : 0.0;
  for (int32_t p = 0; p < shapes.partCount; ++p) {
    const PartShape& part = shapes.parts[p];
    bool placed = part.alignable && spread > 0.0;
    Vec3 offset = placed ? (part.centroid - centre) : Vec3{0.0, 0.0, 0.0};
    offsets[p] = placed ? Vec3{offset.x / spread, offset.y / spread, offset.z / spread} : offset;
    double place = vectorLength(offsets[p]);
    if (!std::isfinite(place)) offsets[p] = Vec3{0.0, 0.0, 0.0};
    out[p] = std::isfinite(place) ? place : 0.0;
  }
}

// Shapes, scratch arrays, the reference part centroid index and the parts by point count.
int setUpRun(AlignRun& run) {
  if (!buildShapeSet(run.reference, &run.referenceShapes) ||
      !buildShapeSet(run.target, &run.targetShapes)) {
    return 0;
  }
  const int32_t referenceParts = run.reference->partCount, targetParts = run.target->partCount;
  int32_t largestPart = 1;
  for (int32_t t = 0; t < targetParts; ++t)
    largestPart = std::max(largestPart, run.target->parts[t].faceCount);
  run.scratch.pointMap = zeroedArray<int32_t>(run.target->pointCount);
  run.scratch.stamps = zeroedArray<int32_t>(run.reference->pointCount);
  run.centreParts = zeroedArray<int32_t>(referenceParts);
  run.byPointCount = zeroedArray<int32_t>(referenceParts);
  run.referencePlace = zeroedArray<double>(referenceParts);
  run.targetPlace = zeroedArray<double>(targetParts);
  run.referenceOffset = zeroedArray<Vec3>(referenceParts);
  run.targetOffset = zeroedArray<Vec3>(targetParts);
  run.state = zeroedArray<uint8_t>(targetParts);
  run.claimed = zeroedArray<uint8_t>(referenceParts);
  run.chosen = zeroedArray<int32_t>(largestPart);
  run.guessed = zeroedArray<uint8_t>(largestPart);
  run.explained = zeroedArray<int32_t>(targetParts);
  run.explainedBy = zeroedArray<int32_t>(targetParts);
  run.found = zeroedArray<PartAlignment>(int64_t{targetParts} * kMaxAlternatives);
  run.foundCount = zeroedArray<int8_t>(targetParts);
  if (!run.found || !run.foundCount || !run.referencePlace || !run.targetPlace ||
      !run.referenceOffset || !run.targetOffset) {
    return 0;
  }
  placements(run.referenceShapes, run.referencePlace, run.referenceOffset);
  placements(run.targetShapes, run.targetPlace, run.targetOffset);
  Vec3* centres = zeroedArray<Vec3>(referenceParts);
  if (!run.scratch.pointMap || !run.scratch.stamps || !run.centreParts || !run.byPointCount ||
      !run.state || !run.claimed || !run.chosen || !run.guessed || !run.explained ||
      !run.explainedBy || !centres) {
    gfree(centres);
    return 0;
  }
  run.scratch.workLeft = kSearchWork;
  run.scratch.referenceModel = run.reference;
  run.scratch.targetModel = run.target;
  run.faceCentresTried = true;
  run.faceCentres = buildFaceCentreTree(*run.reference);
  run.scratch.faceCentres = run.faceCentres;
  if (!run.faceCentres) {
    gfree(centres);
    return 0;
  }
  run.supportLeft = kSupportWork;
  int32_t count = 0;
  for (int32_t r = 0; r < referenceParts; ++r) {
    if (!run.referenceShapes.parts[r].alignable) continue;
    centres[count] = run.referenceShapes.parts[r].centroid;
    run.centreParts[count] = r;
    run.byPointCount[count++] = r;
  }
  run.byPointCountSize = count;
  if (count > 0) {
    run.partCentres = buildPointTree(centres, count);
    if (!run.partCentres) {
      gfree(centres);
      return 0;
    }
  }
  gfree(centres);
  const PartShape* shapes = run.referenceShapes.parts;
  const double* place = run.referencePlace;  // finite by construction
  std::stable_sort(run.byPointCount, run.byPointCount + count, [=](int32_t a, int32_t b) {
    if (shapes[a].pointCount != shapes[b].pointCount)
      return shapes[a].pointCount < shapes[b].pointCount;
    return place[a] < place[b];
  });
  return 1;
}

// Up to kMaxCandidates reference parts of target part t's shape (same point count, measures
// that agree), nearest placement first, into `out`; returns how many. Looks at no more than
// kMaxInspected parts, so a thousand copies of one bolt cost no more than a few dozen.
int32_t sameShapeParts(const AlignRun& run, int32_t t, int32_t* out) {
  const int32_t points = run.targetShapes.parts[t].pointCount;
  const double place = run.targetPlace[t];
  const PartShape* shapes = run.referenceShapes.parts;
  const double* places = run.referencePlace;
  const int32_t* begin = run.byPointCount;
  const int32_t* end = begin + run.byPointCountSize;
  const int32_t* lo = std::lower_bound(
      begin, end, points, [shapes](int32_t r, int32_t n) { return shapes[r].pointCount < n; });
  const int32_t* hi = std::upper_bound(
      lo, end, points, [shapes](int32_t n, int32_t r) { return n < shapes[r].pointCount; });
  // From the first placement not below the part's, outwards in both directions.
  const int32_t* right = std::lower_bound(
      lo, hi, place, [places](int32_t r, double value) { return places[r] < value; });
  const int32_t* left = right;
  int32_t count = 0;
  for (int32_t inspected = 0;
       count < kMaxCandidates && inspected < kMaxInspected && (left > lo || right < hi);
       ++inspected) {
    bool takeRight =
        left == lo || (right < hi && places[*right] - place <= place - places[left[-1]]);
    int32_t r = takeRight ? *right++ : *--left;
    if (shapesAgree(run.targetShapes, t, run.referenceShapes, r)) out[count++] = r;
  }
  // Candidates in the same placement (within a thousandth of the spread) nearest in offset
  // first; the rest keep their order of placement.
  const Vec3 offset = run.targetOffset[t];
  auto key = [&](int32_t r) {
    double apart = std::fabs(places[r] - place);
    return std::pair<double, double>(apart <= 1e-3 ? 0.0 : apart,
                                     squaredDistance(run.referenceOffset[r], offset));
  };
  std::stable_sort(out, out + count, [&](int32_t a, int32_t b) { return key(a) < key(b); });
  return count;
}

// Alignments of target part t onto the reference parts of its shape. -1 when memory failed.
int32_t findAlternatives(AlignRun& run, int32_t t, PartAlignment* out) {
  int32_t candidates[kMaxCandidates];
  const int32_t count = sameShapeParts(run, t, candidates);
  int32_t found = 0;
  for (int32_t k = 0; k < count && found < kMaxAlternatives; ++k) {
    int32_t room = std::min(kAlternativesPerPair, kMaxAlternatives - found);
    int32_t n = findPartAlignments(&run.targetShapes, t, &run.referenceShapes, candidates[k],
                                   &run.scratch, out + found, room);
    if (n < 0) return -1;
    found += n;
  }
  return found;
}

// How far a part's points may land off when moved by the motion estimated on part p: the
// tolerance plus what the estimate's angle error makes of the lever between the parts.
double leverSlack(const AlignRun& run, int32_t p, int32_t q, int32_t r, double share) {
  const PartShape& ps = run.targetShapes.parts[p];
  const PartShape& qs = run.targetShapes.parts[q];
  double tol = alignmentTolerance(run.targetShapes, q, run.referenceShapes, r);
  double lever = distance(ps.centroid, qs.centroid) / ps.scale;
  return 4.0 * tol + share * tol * lever;
}

// Reference part that `motion` (estimated on part p) puts target part q onto: the one whose
// centroid, size and a sample of points it meets; -1 none.
int32_t explainsPart(AlignRun& run, int32_t p, int32_t q, const Similarity& motion, double share) {
  const PartShape& qs = run.targetShapes.parts[q];
  double squared = 0.0;
  int32_t entry = nearestPoint(run.partCentres, applySimilarity(motion, qs.centroid), &squared);
  if (entry < 0) return -1;
  int32_t r = run.centreParts[entry];
  const PartShape& rs = run.referenceShapes.parts[r];
  double slack = leverSlack(run, p, q, r, share);
  if (!(squared <= slack * slack) || rs.pointCount != qs.pointCount ||
      !(std::fabs(rs.scale - motion.scale * qs.scale) <= 1e-3 * rs.scale)) {
    return -1;
  }
  if (!preparePartFeatures(&run.referenceShapes, r)) return -1;
  double tol = alignmentTolerance(run.targetShapes, q, run.referenceShapes, r);
  return sampleLands(run.targetShapes, q, run.referenceShapes, r, motion, 8, slack / tol) ? r : -1;
}

// Target parts other than p that `motion` puts onto a reference part of the same shape: all of
// them, or when `record` only the pending ones, written to run.explained / explainedBy.
// Returns how many.
int32_t explainedParts(AlignRun& run, int32_t p, const Similarity& motion, double share,
                       bool record) {
  int32_t count = 0;
  for (int32_t q = 0; q < run.target->partCount; ++q) {
    if (q == p || !run.targetShapes.parts[q].alignable || run.supportLeft <= 0) continue;
    if (record && run.state[q] != kPending) continue;
    --run.supportLeft;
    int32_t r = explainsPart(run, p, q, motion, share);
    if (r < 0) continue;
    if (record) {
      run.explained[count] = q;
      run.explainedBy[count] = r;
    }
    ++count;
  }
  return count;
}

// Reference faces of target part t's faces under the point map of the latest refinement,
// into `out` by face slot (-1: none, or coincident).
int partFaces(AlignRun& run, int32_t t, int32_t r, const Similarity& motion, int32_t* out) {
  const ModelPart& part = run.target->parts[t];
  for (int32_t i = 0; i < part.faceCount; ++i) {
    int32_t f = part.faces[i];
    out[i] = -1;
    if (run.target->faces[f].partnerFace >= 0) continue;
    int32_t g = faceOnMappedCorners(*run.reference, *run.target, f, run.scratch.pointMap, r);
    if (g < 0) {
      if (!run.faceCentresTried) {
        run.faceCentresTried = true;
        run.faceCentres = buildFaceCentreTree(*run.reference);
        if (!run.faceCentres) return 0;
      }
      g = faceByCentre(*run.reference, *run.target, f, motion, run.faceCentres, r);
    }
    out[i] = g;
  }
  return 1;
}

// True when two motions turn and scale alike (translation aside).
bool sameTurn(const Similarity& a, const Similarity& b) {
  if (!(std::fabs(a.scale - b.scale) <= 1e-3 * std::fabs(a.scale))) return false;
  for (int k = 0; k < 9; ++k) {
    if (!(std::fabs(a.rotation[k] - b.rotation[k]) <= kSameTurn)) return false;
  }
  return true;
}

// Parts that took the turn of `motion` so far.
int32_t votesFor(const AlignRun& run, const Similarity& motion) {
  for (int32_t k = 0; k < run.turnCount; ++k) {
    if (sameTurn(run.turns[k], motion)) return run.turnVotes[k];
  }
  return 0;
}

// Counts one more part settled with the turn of `motion`.
void voteTurn(AlignRun& run, const Similarity& motion) {
  for (int32_t k = 0; k < run.turnCount; ++k) {
    if (sameTurn(run.turns[k], motion)) {
      ++run.turnVotes[k];
      return;
    }
  }
  if (run.turnCount == kMaxTurns) return;
  run.turns[run.turnCount] = motion;
  run.turnVotes[run.turnCount++] = 1;
}

// The motion that leaves a part where it is.
Similarity unturned() {
  Similarity s{};
  s.rotation[0] = s.rotation[4] = s.rotation[8] = 1.0;
  s.scale = 1.0;
  return s;
}

// Gives target part t's faces the reference faces in run.chosen.
void writePartFaces(AlignRun& run, int32_t t, int32_t r, bool checkGuesses) {
  ModelPart& part = run.target->parts[t];
  part.matchedPart = r;
  run.state[t] = kAligned;
  run.claimed[r] = 1;
  ++run.summary.alignedParts;
  for (int32_t i = 0; i < part.faceCount; ++i) {
    if (run.chosen[i] < 0) continue;
    ModelFace& face = run.target->faces[part.faces[i]];
    face.matchedFace = run.chosen[i];
    face.matchLevel = 3;
    bool guess = checkGuesses && run.guessed[i];
    face.alignedMatch = guess ? kGuessedFace : kAlignedFace;
    ++run.summary.alignedFaces;
    if (guess) ++run.summary.guessedFaces;
  }
}

// Aligns part t by `alignment` alone (no guesses). Returns 1 aligned, 0 not, -1 memory.
int alignOne(AlignRun& run, int32_t t, PartAlignment alignment, double firstLimit) {
  int status = refineAlignment(&run.targetShapes, t, &run.referenceShapes, &run.scratch, firstLimit,
                               &alignment);
  if (status <= 0) return status;
  if (!partFaces(run, t, alignment.referencePart, alignment.motion, run.chosen)) return -1;
  writePartFaces(run, t, alignment.referencePart, false);
  voteTurn(run, alignment.motion);
  return 1;
}

// A part with several alignments tried with the turns other parts took, most taken first,
// centroid onto centroid, on every reference part of its shape (a symmetric part may have more
// alignments than were kept, and the one that shares a turn need not be among them). A turn
// decides when it lands the part on one reference part no other target part took; on several
// such parts (copies moved apart) nothing decides. Returns 1 aligned, 0 not, -1 memory.
int alignByTurns(AlignRun& run, int32_t t) {
  constexpr int32_t kTurnsTried = 4;
  int32_t candidates[kMaxCandidates];
  const int32_t count = sameShapeParts(run, t, candidates);
  bool tried[kMaxTurns] = {};
  for (int32_t round = 0; round < kTurnsTried; ++round) {
    int32_t best = -1;
    for (int32_t k = 0; k < run.turnCount; ++k) {
      if (!tried[k] && (best < 0 || run.turnVotes[k] > run.turnVotes[best])) best = k;
    }
    if (best < 0) return 0;
    tried[best] = true;
    PartAlignment landed{-1, run.turns[best], 0.0};
    int32_t landings = 0;
    for (int32_t k = 0; k < count && landings < 2; ++k) {
      int32_t r = candidates[k];
      if (run.claimed[r] || !preparePartFeatures(&run.referenceShapes, r)) continue;
      Similarity motion = run.turns[best];
      motion.from = run.targetShapes.parts[t].centroid;
      motion.to = run.referenceShapes.parts[r].centroid;
      if (!sampleLands(run.targetShapes, t, run.referenceShapes, r, motion, 8, 4.0)) continue;
      landed = PartAlignment{r, motion, 0.0};
      ++landings;
    }
    if (landings > 1) return 0;
    if (landings == 0) continue;
    double tol = alignmentTolerance(run.targetShapes, t, run.referenceShapes, landed.referencePart);
    int status = alignOne(run, t, landed, 4.0 * tol);
    if (status != 0) return status;
  }
  return 0;
}

// Sort key of an alignment's fit: NaN after every number.
double fitKey(const PartAlignment& a) {
  return std::isnan(a.residual) ? 1e308 : a.residual;
}

// Part t on its own with `count` alignments: the first that verifies is taken, in order of the
// parts that share its turn, then of fit. When a turn most other parts took decides (or there
// is one alignment) the part is settled; else faces whose layer another alignment would change
// are guesses.
// True when reference part r sits where target part t sits in its model: the same placement
// and offset within a thousandth of the spread (the copies' layout kept, the model not turned).
bool sitsAlike(const AlignRun& run, int32_t t, int32_t r) {
  return std::fabs(run.referencePlace[r] - run.targetPlace[t]) <= 1e-3 &&
         squaredDistance(run.referenceOffset[r], run.targetOffset[t]) <= 1e-6;
}

int alignAlone(AlignRun& run, int32_t t, PartAlignment* alternatives, int32_t count) {
  const ModelPart& part = run.target->parts[t];
  if (count > 1) {
    int status = alignByTurns(run, t);
    if (status != 0) return status;
  }
  int32_t votes[kMaxAlternatives] = {}, alike[kMaxAlternatives] = {}, alikeCount = 0;
  for (int32_t k = 0; k < count; ++k) {
    votes[k] = votesFor(run, alternatives[k].motion);
    alike[k] = sitsAlike(run, t, alternatives[k].referencePart) ? 1 : 0;
    alikeCount += alike[k];
  }
  // The closest fit first among equals: the true motion beats symmetries that the rounding
  // does not keep.
  int32_t order[kMaxAlternatives];
  for (int32_t k = 0; k < count; ++k)
    order[k] = k;
  std::stable_sort(order, order + count, [&](int32_t a, int32_t b) {
    if (votes[a] != votes[b]) return votes[a] > votes[b];
    if (alike[a] != alike[b]) return alike[a] > alike[b];
    return fitKey(alternatives[a]) < fitKey(alternatives[b]);
  });
  PartAlignment sorted[kMaxAlternatives];
  int32_t sortedVotes[kMaxAlternatives], sortedAlike[kMaxAlternatives];
  for (int32_t k = 0; k < count; ++k) {
    sorted[k] = alternatives[order[k]];
    sortedVotes[k] = votes[order[k]];
    sortedAlike[k] = alike[order[k]];
  }
  for (int32_t k = 0; k < count; ++k)
    alternatives[k] = sorted[k];
  int32_t taken = -1;
  for (int32_t k = 0; k < count && taken < 0; ++k) {
    int status = refineAlignment(&run.targetShapes, t, &run.referenceShapes, &run.scratch, 0.0,
                                 &alternatives[k]);
    if (status < 0) return -1;
    if (status > 0) taken = k;
  }
  if (taken < 0) return 0;
  const PartAlignment& chosen = alternatives[taken];
  if (!partFaces(run, t, chosen.referencePart, chosen.motion, run.chosen)) return -1;
  // Decided by one alignment, by a turn more settled parts took, or (turns tied) by the one
  // alignment onto the copy that sits where this part sits.
  bool byVotes = count > 1 && sortedVotes[0] > sortedVotes[1];
  bool byPlace = count > 1 && sortedAlike[0] && alikeCount == 1 && sortedVotes[0] == sortedVotes[1];
  bool decided = count == 1 || (taken == 0 && (byVotes || byPlace));
  if (decided) {
    voteTurn(run, chosen.motion);
    std::memset(run.guessed, 0, static_cast<size_t>(part.faceCount));
    writePartFaces(run, t, chosen.referencePart, true);
    return 1;
  }
  // A full list means the part has more alignments that give other layers than were kept.
  std::memset(run.guessed, count >= kMaxAlternatives ? 1 : 0, static_cast<size_t>(part.faceCount));
  // The other alignments passed the sample test; where their motion puts a face's centre tells
  // its layer under them (no refinement needed for that).
  for (int32_t k = taken + 1; k < count && k < kGuessAlternatives; ++k) {
    run.scratch.workLeft -= part.faceCount;
    for (int32_t i = 0; i < part.faceCount; ++i) {
      if (run.chosen[i] < 0 || run.guessed[i]) continue;
      Vec3 centre = applySimilarity(alternatives[k].motion, faceCentre(*run.target, part.faces[i]));
      int32_t g = nearestPoint(run.faceCentres, centre, nullptr);
      const char* theirs = g < 0 ? "" : faceLayer(run.reference->faces[g]);
      if (std::strcmp(faceLayer(run.reference->faces[run.chosen[i]]), theirs) != 0) {
        run.guessed[i] = 1;
      }
    }
  }
  writePartFaces(run, t, chosen.referencePart, true);
  return 1;
}

// Seed part p: its alignments, the one whose motion most other parts share, and those parts.
// A part whose motion no other part shares waits for the last pass, where the shared motions
// found meanwhile are tried on it first.
int alignFrom(AlignRun& run, int32_t p, bool lastPass) {
  for (int32_t m = 0; lastPass && m < run.motionCount; ++m) {
    const SharedMotion& shared = run.motions[m];
    double share = 2.0 / std::sqrt(run.targetShapes.parts[shared.seed].pointCount);
    int32_t r = explainsPart(run, shared.seed, p, shared.motion, share);
    if (r < 0) continue;
    int aligned = alignOne(run, p, PartAlignment{r, shared.motion, 0.0},
                           leverSlack(run, shared.seed, p, r, share));
    if (aligned != 0) return aligned < 0 ? 0 : 1;
  }
  // The first pass keeps each part's alignments for the last one.
  PartAlignment* alternatives = run.found + static_cast<size_t>(p) * kMaxAlternatives;
  int32_t count = run.foundCount[p];
  if (!lastPass) {
    count = findAlternatives(run, p, alternatives);
    if (count < 0) return 0;
    run.foundCount[p] = static_cast<int8_t>(count);
  }
  if (count == 0) {
    run.state[p] = kFailed;
    return 1;
  }
  int32_t best = -1, bestSupport = 0;
  for (int32_t k = 0; k < count; ++k) {
    int32_t support = explainedParts(run, p, alternatives[k].motion, 1.0, false);
    if (support > bestSupport) {
      best = k;
      bestSupport = support;
    }
  }
  if (best >= 0) {
    PartAlignment shared = alternatives[best];
    int status =
        refineAlignment(&run.targetShapes, p, &run.referenceShapes, &run.scratch, 0.0, &shared);
    if (status < 0) return 0;
    if (status > 0) {
      if (!partFaces(run, p, shared.referencePart, shared.motion, run.chosen)) return 0;
      writePartFaces(run, p, shared.referencePart, false);
      voteTurn(run, shared.motion);
      const double share = 2.0 / std::sqrt(run.targetShapes.parts[p].pointCount);
      int32_t n = explainedParts(run, p, shared.motion, share, true);
      int32_t moved = 0;
      for (int32_t i = 0; i < n; ++i) {
        int32_t q = run.explained[i];
        double limit = leverSlack(run, p, q, run.explainedBy[i], share);
        int aligned =
            alignOne(run, q, PartAlignment{run.explainedBy[i], shared.motion, 0.0}, limit);
        if (aligned < 0) return 0;
        moved += aligned;
      }
      if (moved > 0) ++run.summary.sharedMotions;
      if (run.motionCount < kMaxMotions) run.motions[run.motionCount++] = {p, shared.motion};
      return 1;
    }
  }
  if (!lastPass) return 1;
  int status = alignAlone(run, p, alternatives, count);
  if (status < 0) return 0;
  if (status == 0) run.state[p] = kFailed;
  return 1;
}

// Pending parts, most clearly oriented (distinct inertia) first: their alignments are unique,
// so the motions they find settle the symmetric parts that move with them.
int32_t seedOrder(AlignRun& run, int32_t* order) {
  int32_t count = 0;
  for (int32_t t = 0; t < run.target->partCount; ++t) {
    if (run.target->parts[t].coincidentPart >= 0 && !worthAligning(run, t)) {
      voteTurn(run, unturned());
    }
    if (!worthAligning(run, t)) continue;
    run.state[t] = kPending;
    order[count++] = t;
    ++run.summary.candidateParts;
  }
  const PartShape* shapes = run.targetShapes.parts;
  auto distinctness = [shapes](int32_t t) {
    const double* e = shapes[t].eigen;
    return std::min(e[0] - e[1], e[1] - e[2]);
  };
  std::stable_sort(order, order + count,
                   [&](int32_t a, int32_t b) { return distinctness(a) > distinctness(b); });
  return count;
}

}  // namespace

int alignParts(FaceModel* reference, FaceModel* target, AlignSummary* summary) noexcept {
  if (summary) *summary = AlignSummary{};
  if (!reference || !target || reference->partCount <= 0 || target->partCount <= 0) return 1;
  const long failuresBefore = gfailureCount();
  AlignRun run{};
  run.reference = reference;
  run.target = target;
  int result = setUpRun(run);
  int32_t* order = result ? zeroedArray<int32_t>(target->partCount) : nullptr;
  if (!order) result = 0;
  if (result && run.byPointCountSize > 0) {
    int32_t count = seedOrder(run, order);
    for (int pass = 0; pass < 2; ++pass) {
      // Parts with one alignment settle first in the last pass: their turns decide between
      // the alignments of the symmetric parts after them.
      if (pass == 1) {
        const int8_t* found = run.foundCount;
        std::stable_sort(order, order + count,
                         [found](int32_t a, int32_t b) { return found[a] < found[b]; });
      }
      for (int32_t i = 0; i < count && result; ++i) {
        int32_t p = order[i];
        if (run.state[p] != kPending) continue;
        result = alignFrom(run, p, pass == 1);
        // A target part's index is no longer needed once it is settled.
        releasePartFeatures(&run.targetShapes, p);
      }
    }
  }
  gfree(order);
  // Memory that failed where a part or a fit was only passed over still ends the run.
  if (gfailureCount() != failuresBefore) result = 0;
  if (summary) *summary = run.summary;
  releaseRun(run);
  return result;
}
