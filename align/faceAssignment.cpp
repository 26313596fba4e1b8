#include "align/faceAssignment.h"

#include <cmath>

#include "align/pointTree.h"
#include "model/faceModel.h"
#include "textfiles/allocator.h"

namespace {

bool holds(const int32_t* corners, int32_t count, int32_t point) {
  for (int32_t k = 0; k < count; ++k) {
    if (corners[k] == point) return true;
  }
  return false;
}

// Every corner of `a` is among the corners of `b`.
bool within(const int32_t* a, int32_t aCount, const int32_t* b, int32_t bCount) {
  for (int32_t k = 0; k < aCount; ++k) {
    if (!holds(b, bCount, a[k])) return false;
  }
  return true;
}

int32_t cornersOf(const ModelFace& face, int32_t* out) {
  int32_t count = face.cornerCount == 4 ? 4 : 3;
  int32_t n = 0;
  for (int32_t k = 0; k < count; ++k) {
    if (!holds(out, n, face.corners[k])) out[n++] = face.corners[k];
  }
  return n;
}

}  // namespace

int32_t faceOnMappedCorners(const FaceModel& reference, const FaceModel& target, int32_t f,
                            const int32_t* pointMap, int32_t r) noexcept {
  int32_t own[4];
  int32_t ownCount = cornersOf(target.faces[f], own);
  for (int32_t k = 0; k < ownCount; ++k) {
    own[k] = pointMap[own[k]];
    if (own[k] < 0 || own[k] >= reference.pointCount) return -1;
  }
  const ModelPoint& first = reference.points[own[0]];
  int32_t holding = -1, covered = -1;
  for (int32_t i = 0; i < first.faceCount; ++i) {
    int32_t g = first.faces[i];
    const ModelFace& face = reference.faces[g];
    if (face.part != r + 1) continue;
    int32_t other[4];
    int32_t otherCount = cornersOf(face, other);
    bool ownInOther = within(own, ownCount, other, otherCount);
    bool otherInOwn = within(other, otherCount, own, ownCount);
    if (ownInOther && otherInOwn) return g;
    if (ownInOther && holding < 0) holding = g;
    if (otherInOwn && covered < 0) covered = g;
  }
  return holding >= 0 ? holding : covered;
}

Vec3 faceCentre(const FaceModel& model, int32_t f) noexcept {
  const ModelFace& face = model.faces[f];
  int32_t count = face.cornerCount == 4 ? 4 : 3;
  Vec3 sum{0, 0, 0};
  for (int32_t k = 0; k < count; ++k) {
    const ModelPoint& p = model.points[face.corners[k]];
    sum = {sum.x + p.x, sum.y + p.y, sum.z + p.z};
  }
  return {sum.x / count, sum.y / count, sum.z / count};
}

int32_t faceByCentre(const FaceModel& reference, const FaceModel& target, int32_t f,
                     const Similarity& motion, const PointTree* centres, int32_t r) noexcept {
  if (!centres) return -1;
  const ModelFace& face = target.faces[f];
  Vec3 centre = applySimilarity(motion, faceCentre(target, f));
  double size = 0.0;
  int32_t count = face.cornerCount == 4 ? 4 : 3;
  for (int32_t k = 0; k < count; ++k) {
    const ModelPoint& p = target.points[face.corners[k]];
    size = std::fmax(size, distance(applySimilarity(motion, {p.x, p.y, p.z}), centre));
  }
  int32_t found[8];
  double squared[8];
  int32_t n = nearestPoints(centres, centre, 8, found, squared);
  double limit = 0.25 * size;
  for (int32_t i = 0; i < n; ++i) {
    if (!(squared[i] <= limit * limit)) break;
    if (reference.faces[found[i]].part == r + 1) return found[i];
  }
  return -1;
}

PointTree* buildFaceCentreTree(const FaceModel& model) noexcept {
  if (model.faceCount <= 0) return nullptr;
  auto* centres = static_cast<Vec3*>(gmalloc(sizeof(Vec3) * static_cast<size_t>(model.faceCount)));
  if (!centres) return nullptr;
  for (int32_t f = 0; f < model.faceCount; ++f) {
    Vec3 c = faceCentre(model, f);
    // Broken coordinates must not reach the tree: park such faces far away.
    if (!(std::fabs(c.x) < 1e12 && std::fabs(c.y) < 1e12 && std::fabs(c.z) < 1e12)) {
      c = {1e15, 1e15, 1e15};
    }
    centres[f] = c;
  }
  PointTree* tree = buildPointTree(centres, model.faceCount);
  gfree(centres);
  return tree;
}
