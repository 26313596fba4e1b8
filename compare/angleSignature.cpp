#include "compare/angleSignature.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "model/faceModel.h"
#include "textfiles/allocator.h"
#include "textfiles/scopedBlocks.h"
#include "textfiles/settings.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kInvTwoPi = 0.15915494309189535;     // the double nearest 1/(2 pi)
constexpr double kBinsPerRadian = 5.092958178940651;  // the double nearest 16/pi
constexpr double kEdgeBinWeight = 0.1;                // weight of bins 0 and 16 once complete
constexpr double kMatchTolerance = 0.001;
constexpr int32_t kListStep = 4;  // point face lists grow by this many entries
constexpr int kLastBin = kSignatureBins - 1;

bool validIndex(int32_t index, int32_t count) {
  return index >= 0 && index < count;
}

// The capacity a list of `capacity` entries reaches when it grows by kListStep entries each
// time it is full, until `needed` entries fit.
int64_t grownCapacity(int32_t capacity, int64_t needed) {
  int64_t have = capacity > 0 ? capacity : 0;
  if (needed <= have) return have;
  return have + (needed - have + kListStep - 1) / kListStep * kListStep;
}

// Appends every face to the lists of the points at its corners, in face order (a face using a
// point at two corners is listed twice). Each list is grown once, to the capacity that growing
// it in steps of four would reach, so large models need no repeated copying. Returns 0 when a
// list could not be grown; grown lists then stay with the model, nothing is appended.
int linkPointsToFaces(FaceModel* model) noexcept {
  ScopedBlocks scratch;
  int32_t pointCount = model->pointCount;
  auto* added = scratch.zeroed<int64_t>(static_cast<size_t>(pointCount > 0 ? pointCount : 0));
  if (!added) return 0;
  for (int32_t f = 0; f < model->faceCount; ++f) {
    const ModelFace& face = model->faces[f];
    for (int32_t c = 0; c < cornersOf(face); ++c)
      if (validIndex(face.corners[c], pointCount)) ++added[face.corners[c]];
  }
  for (int32_t p = 0; p < pointCount; ++p) {
    ModelPoint& point = model->points[p];
    if (added[p] == 0) continue;
    int64_t capacity = grownCapacity(point.faceCapacity, int64_t{point.faceCount} + added[p]);
    if (capacity > point.faceCapacity) {
      if (capacity > INT32_MAX) return 0;
      // Creating a list reports "gcalloc" then "gcrealloc" on failure, growing one "gcrealloc".
      auto* grown = static_cast<int32_t*>(
          gcrealloc(point.faces, static_cast<size_t>(capacity) * sizeof(int32_t)));
      if (!grown) return 0;
      point.faces = grown;
      point.faceCapacity = static_cast<int32_t>(capacity);
    }
  }
  for (int32_t f = 0; f < model->faceCount; ++f) {
    const ModelFace& face = model->faces[f];
    for (int32_t c = 0; c < cornersOf(face); ++c) {
      if (!validIndex(face.corners[c], pointCount)) continue;
      ModelPoint& point = model->points[face.corners[c]];
      point.faces[point.faceCount++] = f;
    }
  }
  return 1;
}

// Adds the angle between the normals of `b` and its neighbour `c` to the bin it falls in, in
// the face's and the part's signatures.
void addNeighbourAngle(const ModelFace& b, double* signature, const Vec3& neighbourNormal,
                       ModelPart& part) {
  double x = dot(b.normal, neighbourNormal);
  if (x > 1.0) {
    x = 1.0;
  } else if (x < -1.0) {
    x = -1.0;
  }
  double theta = std::acos(x);
  double scaled = theta * kBinsPerRadian;
  // A NaN normal gives no angle at all: it adds nothing rather than poisoning a bin.
  if (!(scaled >= 0.0)) return;
  // theta is at most pi, and pi * kBinsPerRadian is exactly 16; the guard keeps the index in
  // range whatever the arithmetic gives.
  int k = scaled >= kLastBin ? kLastBin : static_cast<int>(scaled);
  signature[k] += theta;
  part.angleSignature[k] += theta;
}

void weighEdgeBins(double signature[kSignatureBins]) {
  signature[0] *= kEdgeBinWeight;
  signature[kLastBin] *= kEdgeBinWeight;
}

}  // namespace

int computeAngleSignatures(FaceModel* model) noexcept {
  if (!model) return 0;
  if (!linkPointsToFaces(model)) return 0;
  int32_t faceCount = model->faceCount > 0 ? model->faceCount : 0;
  ScopedBlocks scratch;
  // counter[c]: corners of the current face whose point face c also uses.
  auto* counter = scratch.raw<int32_t>(static_cast<size_t>(faceCount) + 1);
  if (!counter) return 0;
  // The faces whose counters the current face raised, so only those are cleared again.
  auto* touched = scratch.raw<int32_t>(static_cast<size_t>(faceCount) + 1);
  // slotOf[c]: position of face c in the face list of the part being worked on (stale values
  // from earlier parts are recognised by checking the list).
  auto* slotOf = scratch.raw<int32_t>(static_cast<size_t>(faceCount) + 1);
  // The normals side by side: neighbours are read at random, and whole face records would
  // bring far more into the cache than the normal.
  auto* normals = scratch.raw<Vec3>(static_cast<size_t>(faceCount) + 1);
  if (!touched || !slotOf || !normals) return 0;
  if (!model->faceSignatures) {
    model->faceSignatures = static_cast<double*>(
        gcalloc(sizeof(double) * kSignatureBins * static_cast<size_t>(faceCount)));
    if (!model->faceSignatures) return 0;
  }
  for (int32_t f = 0; f < faceCount; ++f)
    normals[f] = model->faces[f].normal;
  std::fill(counter, counter + faceCount + 1, 0);
  std::fill(slotOf, slotOf + faceCount + 1, -1);
  if (!model->parts) return 1;

  for (int32_t pi = 0; pi < model->partCount; ++pi) {
    ModelPart& part = model->parts[pi];
    int32_t listLength = part.faces ? part.faceCount : 0;
    for (int32_t s = 0; s < listLength; ++s)
      if (validIndex(part.faces[s], faceCount)) slotOf[part.faces[s]] = s;

    for (int32_t s = 0; s < listLength; ++s) {
      int32_t b = part.faces[s];
      if (!validIndex(b, faceCount)) continue;
      ModelFace& face = model->faces[b];
      int32_t touchedCount = 0;
      for (int32_t c = 0; c < cornersOf(face); ++c) {
        if (!validIndex(face.corners[c], model->pointCount)) continue;
        const ModelPoint& point = model->points[face.corners[c]];
        for (int32_t e = 0; e < point.faceCount; ++e) {
          int32_t other = point.faces[e];
          if (other == b || !validIndex(other, faceCount)) continue;
          if (counter[other]++ == 0) touched[touchedCount++] = other;
        }
      }
      // Edge neighbours share at least two corner points; only those in this part's face list
      // count, taken in the order of that list.
      int32_t neighbourCount = 0;
      for (int32_t t = 0; t < touchedCount; ++t) {
        int32_t other = touched[t];
        int32_t slot = slotOf[other];
        if (counter[other] > 1 && validIndex(slot, listLength) && part.faces[slot] == other)
          touched[neighbourCount++] = slot;
        counter[other] = 0;
      }
      std::sort(touched, touched + neighbourCount);
      double* signature = model->faceSignatures + static_cast<size_t>(b) * kSignatureBins;
      for (int32_t t = 0; t < neighbourCount; ++t)
        addNeighbourAngle(face, signature, normals[part.faces[touched[t]]], part);
      weighEdgeBins(signature);
    }
    weighEdgeBins(part.angleSignature);
  }
  return 1;
}

double signatureDistance(const double a[kSignatureBins], const double b[kSignatureBins]) noexcept {
  double sum = 0.0;
  int matching = 0;
  for (int i = 0; i < kSignatureBins; ++i) {
    double difference = std::fabs(a[i] - b[i]);
    sum += difference;
    if (a[i] > kMatchTolerance && difference < kMatchTolerance) ++matching;
  }
  if (matching > 0) sum = sum - matching * matchSettings.sameFaceAngleAdvantage * kPi;
  return sum * kInvTwoPi;
}

namespace {
using Double8 = double __attribute__((vector_size(64)));
using Bits8 = int64_t __attribute__((vector_size(64)));
#define MORVANE_SPLAT8(v)  \
  Double8 {                \
    v, v, v, v, v, v, v, v \
  }
}  // namespace

// Each lane runs signatureDistance's operations in its order. The clones live inside this file:
// clang resolves the clones of a function other files call under another name than g++ does.
__attribute__((target_clones("avx512f", "avx2", "default"))) static void signatureDistancesCloned(
    const double a[kSignatureBins], const double* layout, double* out) noexcept {
  constexpr int kGroups = kSignatureBlock / 8;
  const int64_t m = INT64_MAX;
  const Bits8 magnitude = {m, m, m, m, m, m, m, m};
  const Double8 tolerance = MORVANE_SPLAT8(kMatchTolerance), one = MORVANE_SPLAT8(1.0),
                zero = MORVANE_SPLAT8(0.0);
  Double8 sum[kGroups] = {}, matching[kGroups] = {};
  for (int i = 0; i < kSignatureBins; ++i) {
    const Double8 value = MORVANE_SPLAT8(a[i]);
    const bool occupied = a[i] > kMatchTolerance;
    for (int q = 0; q < kGroups; ++q) {
      Double8 other;
      std::memcpy(&other, layout + i * kSignatureBlock + 8 * q, sizeof other);
      Double8 difference =
          reinterpret_cast<Double8>(reinterpret_cast<Bits8>(value - other) & magnitude);  // fabs
      sum[q] += difference;
      if (occupied) matching[q] += difference < tolerance ? one : zero;
    }
  }
  const Double8 advantage = MORVANE_SPLAT8(matchSettings.sameFaceAngleAdvantage);
  for (int q = 0; q < kGroups; ++q) {
    Double8 lowered = sum[q] - matching[q] * advantage * MORVANE_SPLAT8(kPi);
    Double8 result = (matching[q] > zero ? lowered : sum[q]) * MORVANE_SPLAT8(kInvTwoPi);
    std::memcpy(out + 8 * q, &result, sizeof result);
  }
}
#undef MORVANE_SPLAT8

void signatureDistances(const double a[kSignatureBins], const double* layout,
                        double* out) noexcept {
  signatureDistancesCloned(a, layout, out);
}
