#pragma once
// Shape measures of every part of a model that survive rotation, reflection, uniform scale and
// translation, and on demand a nearest-neighbour index and per-point features of one part.
#include <cstdint>

#include "model/faceModel.h"
#include "model/vectors.h"

struct PointTree;

struct PartShape {
  int32_t alignable;   // 1 when the part can be aligned: four or more finite points, not on a line
  int32_t pointCount;  // points of the part (entries of its list)
  int32_t firstPoint;  // its list starts at ShapeSet::points[firstPoint]
  Vec3 centroid;       // mean point position
  double scale;        // root mean square distance of the points from the centroid
  double eigen[3];     // eigenvalues of the point covariance over scale^2, descending
  double meanRadius;   // mean distance from the centroid over scale
  double maxRadius;    // largest distance from the centroid over scale
  // Features, after preparePartFeatures; indexed by position in the part's list.
  PointTree* tree;    // owned: the part's points
  double* radius;     // owned: distance from the centroid over scale
  double* spacing;    // owned: distance to the nearest other point over scale
  int32_t* byRadius;  // owned: list positions in ascending radius
};

struct ShapeSet {
  const FaceModel* model;
  int32_t partCount;
  PartShape* parts;  // owned, one per model part
  int32_t* points;   // owned: point indices grouped by part, ascending within a part
};

// Measures every part of `model` (grouped and measured). Returns 1, or 0 when memory failed.
int buildShapeSet(const FaceModel* model, ShapeSet* out) noexcept;
// Builds the index and features of part `index` once. Returns 1, or 0 when memory failed or
// the part is not alignable.
int preparePartFeatures(ShapeSet* set, int32_t index) noexcept;
// Releases the index and features of one part (it may be prepared again).
void releasePartFeatures(ShapeSet* set, int32_t index) noexcept;
// Releases everything the set owns and zero-fills it.
void releaseShapeSet(ShapeSet* set) noexcept;
// Position of entry `k` of part `index`'s list.
inline Vec3 listedPoint(const ShapeSet& set, int32_t index, int32_t k) noexcept {
  const ModelPoint& p = set.model->points[set.points[set.parts[index].firstPoint + k]];
  return {p.x, p.y, p.z};
}
