#include "align/partShapes.h"

#include <Eigen/Eigenvalues>

#include <algorithm>
#include <cmath>

#include "align/pointTree.h"
#include "model/faceModel.h"
#include "textfiles/allocator.h"

namespace {

// Beyond this a coordinate is treated as broken input: squared distances would lose all
// precision or overflow.
constexpr double kLargestCoordinate = 1e12;

bool finitePoint(const ModelPoint& p) {
  return std::fabs(p.x) < kLargestCoordinate && std::fabs(p.y) < kLargestCoordinate &&
         std::fabs(p.z) < kLargestCoordinate;
}

// Centroid, scale and the scale-free measures of one part whose list is filled.
void measureShape(const ShapeSet& set, int32_t index, PartShape& shape) {
  const int32_t n = shape.pointCount;
  if (n < 4) return;
  Vec3 sum{0, 0, 0};
  for (int32_t k = 0; k < n; ++k) {
    const ModelPoint& p = set.model->points[set.points[shape.firstPoint + k]];
    if (!finitePoint(p)) return;
    sum = {sum.x + p.x, sum.y + p.y, sum.z + p.z};
  }
  shape.centroid = {sum.x / n, sum.y / n, sum.z / n};
  Eigen::Matrix3d cov = Eigen::Matrix3d::Zero();
  double radiusSum = 0.0, radiusMax = 0.0;
  for (int32_t k = 0; k < n; ++k) {
    Vec3 d = listedPoint(set, index, k) - shape.centroid;
    Eigen::Vector3d v(d.x, d.y, d.z);
    cov += v * v.transpose();
    double r = vectorLength(d);
    radiusSum += r;
    radiusMax = std::max(radiusMax, r);
  }
  cov /= n;
  double scale = std::sqrt(cov.trace());
  if (!(scale > 0.0) || !std::isfinite(scale)) return;
  Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver(cov / (scale * scale));
  Eigen::Vector3d values = solver.eigenvalues();  // ascending
  shape.scale = scale;
  for (int i = 0; i < 3; ++i)
    shape.eigen[i] = values(2 - i);
  shape.meanRadius = radiusSum / n / scale;
  shape.maxRadius = radiusMax / scale;
  // Points on one line fix no rotation about it.
  shape.alignable = shape.eigen[1] > 1e-9 ? 1 : 0;
}

}  // namespace

int buildShapeSet(const FaceModel* model, ShapeSet* out) noexcept {
  *out = ShapeSet{};
  if (!model || model->partCount <= 0) return 1;
  out->model = model;
  out->partCount = model->partCount;
  out->parts =
      static_cast<PartShape*>(gcalloc(sizeof(PartShape) * static_cast<size_t>(model->partCount)));
  out->points = static_cast<int32_t*>(
      gcalloc(sizeof(int32_t) * (static_cast<size_t>(model->pointCount) + 1)));
  if (!out->parts || !out->points) {
    releaseShapeSet(out);
    return 0;
  }
  // Counting sort of the points by part number.
  for (int32_t i = 0; i < model->pointCount; ++i) {
    int32_t part = model->points[i].part;
    if (part >= 1 && part <= model->partCount) ++out->parts[part - 1].pointCount;
  }
  int32_t start = 0;
  for (int32_t p = 0; p < model->partCount; ++p) {
    out->parts[p].firstPoint = start;
    start += out->parts[p].pointCount;
    out->parts[p].pointCount = 0;
  }
  for (int32_t i = 0; i < model->pointCount; ++i) {
    int32_t part = model->points[i].part;
    if (part < 1 || part > model->partCount) continue;
    PartShape& shape = out->parts[part - 1];
    out->points[shape.firstPoint + shape.pointCount++] = i;
  }
  for (int32_t p = 0; p < model->partCount; ++p)
    measureShape(*out, p, out->parts[p]);
  return 1;
}

int preparePartFeatures(ShapeSet* set, int32_t index) noexcept {
  PartShape& shape = set->parts[index];
  if (!shape.alignable) return 0;
  if (shape.tree) return 1;
  const int32_t n = shape.pointCount;
  auto* positions = static_cast<Vec3*>(gmalloc(sizeof(Vec3) * static_cast<size_t>(n)));
  shape.radius = static_cast<double*>(gmalloc(sizeof(double) * static_cast<size_t>(n)));
  shape.spacing = static_cast<double*>(gmalloc(sizeof(double) * static_cast<size_t>(n)));
  shape.byRadius = static_cast<int32_t*>(gmalloc(sizeof(int32_t) * static_cast<size_t>(n)));
  if (positions) {
    for (int32_t k = 0; k < n; ++k)
      positions[k] = listedPoint(*set, index, k);
    shape.tree = buildPointTree(positions, n);
  }
  if (!positions || !shape.tree || !shape.radius || !shape.spacing || !shape.byRadius) {
    gfree(positions);
    releasePartFeatures(set, index);
    return 0;
  }
  for (int32_t k = 0; k < n; ++k) {
    shape.radius[k] = distance(positions[k], shape.centroid) / shape.scale;
    int32_t found[2];
    double squared[2] = {0.0, 0.0};
    int32_t m = nearestPoints(shape.tree, positions[k], 2, found, squared);
    shape.spacing[k] = m == 2 ? std::sqrt(squared[1]) / shape.scale : 0.0;
    shape.byRadius[k] = k;
  }
  gfree(positions);
  const double* radius = shape.radius;
  std::sort(shape.byRadius, shape.byRadius + n,
            [radius](int32_t a, int32_t b) { return radius[a] < radius[b]; });
  return 1;
}

void releasePartFeatures(ShapeSet* set, int32_t index) noexcept {
  PartShape& shape = set->parts[index];
  releasePointTree(shape.tree);
  gfree(shape.radius);
  gfree(shape.spacing);
  gfree(shape.byRadius);
  shape.tree = nullptr;
  shape.radius = nullptr;
  shape.spacing = nullptr;
  shape.byRadius = nullptr;
}

void releaseShapeSet(ShapeSet* set) noexcept {
  if (set->parts) {
    for (int32_t p = 0; p < set->partCount; ++p)
      releasePartFeatures(set, p);
  }
  gfree(set->parts);
  gfree(set->points);
  *set = ShapeSet{};
}
