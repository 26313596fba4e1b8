#include "match/partMatching.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "compare/angleSignature.h"
#include "model/faceModel.h"
#include "textfiles/scopedBlocks.h"
#include "textfiles/settings.h"

// Every scan runs in index order with strict comparisons, so among equally good reference parts
// the lowest-indexed one wins.

namespace {

constexpr double kNoValue = 1e308;
constexpr int64_t kNoCount = 2147483647;
constexpr double kNormalSumSlack = 0.01;

bool validIndex(int32_t index, int32_t count) {
  return index >= 0 && index < count;
}

bool anchored(const ModelPart& part) {
  return part.coincidentPart != -1;
}

// An unanchored target part with no reference part, or with one that several target parts claim.
bool openPart(const ModelPart& t, const FaceModel* reference) {
  if (anchored(t)) return false;
  if (t.matchedPart == -1) return true;
  return validIndex(t.matchedPart, reference->partCount) &&
         reference->parts[t.matchedPart].matchCount > 1;
}

// A reference part that no target part, or several, have claimed.
bool freePart(const ModelPart& r) {
  return r.matchCount != 1;
}

void reassign(ModelPart& t, FaceModel* reference, int32_t best) {
  if (best < 0 || best == t.matchedPart) return;
  t.matchedPart = best;
  ++reference->parts[best].matchCount;
}

// Size stage for one unanchored target part: the first reference part is taken, a later one
// replaces it when its size, then radius sum, then centre distance is clearly closer.
void matchBySize(ModelPart& t, FaceModel* reference) {
  double upperSize = kNoValue, lowerSize = kNoValue;
  double upperRadius = kNoValue, lowerRadius = kNoValue;
  double sizeScale = absAtLeastOne(t.size);
  double radiusScale = absAtLeastOne(t.radiusSum);
  for (int32_t i = 0; i < reference->partCount; ++i) {
    const ModelPart& r = reference->parts[i];
    double dSize = std::fabs(r.size - t.size) / sizeScale;
    if (dSize > upperSize) continue;
    double dRadius = std::fabs(r.radiusSum - t.radiusSum) / radiusScale;
    double dCentre = distance(t.centre, r.centre) / radiusScale;
    if (!(dSize < lowerSize)) {
      if (dRadius > upperRadius) continue;
      if (!(dRadius < lowerRadius) && !(dCentre < t.centreDeviation)) continue;
    }
    t.matchedPart = i;
    t.sizeDeviation = dSize;
    t.radiusDeviation = dRadius;
    t.centreDeviation = dCentre;
    upperSize = 1.25 * dSize;
    upperRadius = 1.25 * dRadius;
    lowerSize = 0.5 * dSize;
    lowerRadius = 0.5 * dRadius;
  }
  if (validIndex(t.matchedPart, reference->partCount)) ++reference->parts[t.matchedPart].matchCount;
}

// Per part number 0..partCount: points and the running sum of nx + ny + nz over the faces,
// faces taken in ascending index as a scan per part would take them.
struct PartTallies {
  int32_t* points;
  double* normalSums;
};

bool tallyParts(const FaceModel* model, ScopedBlocks& scratch, PartTallies* tallies) {
  size_t slots = static_cast<size_t>(model->partCount > 0 ? model->partCount : 0) + 1;
  tallies->points = scratch.zeroed<int32_t>(slots);
  tallies->normalSums = scratch.zeroed<double>(slots);
  if (!tallies->points || !tallies->normalSums) return false;
  for (int32_t i = 0; i < model->pointCount; ++i) {
    int32_t number = model->points[i].part;
    if (number >= 0 && static_cast<size_t>(number) < slots) ++tallies->points[number];
  }
  for (int32_t f = 0; f < model->faceCount; ++f) {
    const ModelFace& face = model->faces[f];
    if (face.part >= 0 && static_cast<size_t>(face.part) < slots)
      tallies->normalSums[face.part] += face.normal.x + face.normal.y + face.normal.z;
  }
  return true;
}

// pointCount, normalSum and centreDistance of one part, from the tallies when they are at hand
// and hold the part's number (the part's index + 1), else by scanning the model.
void measurePart(ModelPart& part, const FaceModel* model, const PartTallies* tallies) {
  if (tallies && part.number >= 0 && part.number <= model->partCount) {
    part.pointCount = tallies->points[part.number];
    part.normalSum = tallies->normalSums[part.number];
  } else {
    part.pointCount = 0;
    part.normalSum = 0.0;
    for (int32_t i = 0; i < model->pointCount; ++i)
      if (model->points[i].part == part.number) ++part.pointCount;
    for (int32_t f = 0; f < model->faceCount; ++f) {
      const ModelFace& face = model->faces[f];
      if (face.part == part.number) part.normalSum += face.normal.x + face.normal.y + face.normal.z;
    }
  }
  part.centreDistance = vectorLength(part.centre) / model->meanSize;
}

// Best free reference part of the same face and point counts by normal sum, the centre
// distance deciding between sums within 0.01 of each other.
int32_t bestByNormalSum(const ModelPart& t, const FaceModel* reference) {
  int32_t best = -1;
  double bestA = kNoValue, bestB = kNoValue;
  for (int32_t i = 0; i < reference->partCount; ++i) {
    const ModelPart& r = reference->parts[i];
    if (!freePart(r) || r.faceCount != t.faceCount || r.pointCount != t.pointCount) continue;
    double dA = std::fabs(t.normalSum - r.normalSum);
    double dB = std::fabs(t.centreDistance - r.centreDistance);
    if (dA < bestA - kNormalSumSlack || (dA < bestA + kNormalSumSlack && dB < bestB)) {
      best = i;
      bestA = dA;
      bestB = dB;
    }
  }
  return best;
}

int32_t bestBySignature(const ModelPart& t, const FaceModel* reference) {
  int32_t best = -1;
  double bestDistance = kNoValue;
  for (int32_t i = 0; i < reference->partCount; ++i) {
    const ModelPart& r = reference->parts[i];
    if (!freePart(r)) continue;
    double d = signatureDistance(t.angleSignature, r.angleSignature);
    if (d < bestDistance) {
      best = i;
      bestDistance = d;
    }
  }
  return best;
}

// Best free reference part whose point count agrees with the target part's to within the
// fraction 1 - faceCountMatching: the closest count, then the closest normal sum. A part
// without points has nothing to agree with and gets no candidate.
int32_t bestByPointCount(const ModelPart& t, const FaceModel* reference) {
  int64_t n = t.pointCount;
  if (n == 0) return -1;
  int32_t best = -1;
  int64_t bestDiff = kNoCount;
  double bestNormal = kNoValue;
  for (int32_t i = 0; i < reference->partCount; ++i) {
    const ModelPart& r = reference->parts[i];
    if (!freePart(r)) continue;
    int64_t diff = std::llabs(n - r.pointCount);
    if (!(1.0 - static_cast<double>(diff) / static_cast<double>(n) >
          matchSettings.faceCountMatching))
      continue;
    double dN = std::fabs(t.normalSum - r.normalSum);
    if (diff < bestDiff || (diff == bestDiff && dN < bestNormal)) {
      best = i;
      bestDiff = diff;
      bestNormal = dN;
    }
  }
  return best;
}

using BestCandidate = int32_t (*)(const ModelPart& t, const FaceModel* reference);

void runPass(FaceModel* reference, FaceModel* target, BestCandidate bestCandidate) {
  for (int32_t p = 0; p < target->partCount; ++p) {
    ModelPart& t = target->parts[p];
    if (openPart(t, reference)) reassign(t, reference, bestCandidate(t, reference));
  }
}

}  // namespace

void matchParts(FaceModel* reference, FaceModel* target) noexcept {
  if (!reference || !target || !target->parts) return;
  if (reference->partCount > 0 && !reference->parts) return;

  // Size stage.
  for (int32_t i = 0; i < reference->partCount; ++i)
    reference->parts[i].matchCount = 0;
  for (int32_t p = 0; p < target->partCount; ++p)
    if (!anchored(target->parts[p])) matchBySize(target->parts[p], reference);

  // Rejection of weak size matches; several target parts on one reference part face the
  // multiple limit.
  for (int32_t p = 0; p < target->partCount; ++p) {
    ModelPart& t = target->parts[p];
    if (anchored(t) || !validIndex(t.matchedPart, reference->partCount)) continue;
    double limit = reference->parts[t.matchedPart].matchCount > 1
                       ? matchSettings.groupMultipleMatching
                       : matchSettings.groupSingleMatching;
    if (t.sizeDeviation > limit) t.matchedPart = -1;
  }

  // Claims and measures. Without memory for the tallies (already reported) the measures are
  // counted by scanning, with the same results.
  ScopedBlocks scratch;
  PartTallies targetTallies{}, referenceTallies{};
  const PartTallies* targetCounts =
      tallyParts(target, scratch, &targetTallies) ? &targetTallies : nullptr;
  const PartTallies* referenceCounts =
      tallyParts(reference, scratch, &referenceTallies) ? &referenceTallies : nullptr;
  for (int32_t i = 0; i < reference->partCount; ++i)
    reference->parts[i].matchCount = 0;
  for (int32_t p = 0; p < target->partCount; ++p) {
    ModelPart& t = target->parts[p];
    measurePart(t, target, targetCounts);
    if (validIndex(t.matchedPart, reference->partCount))
      ++reference->parts[t.matchedPart].matchCount;
  }
  for (int32_t i = 0; i < reference->partCount; ++i) {
    ModelPart& r = reference->parts[i];
    if (r.matchCount == 1) {  // never free again, so its measures are never read
      r.pointCount = 0;
      r.normalSum = 0.0;
      r.centreDistance = 0.0;
    } else {
      measurePart(r, reference, referenceCounts);
    }
  }

  runPass(reference, target, bestByNormalSum);
  runPass(reference, target, bestBySignature);
  runPass(reference, target, bestByPointCount);
}
