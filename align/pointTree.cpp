#include "align/pointTree.h"

#include <nanoflann.hpp>

#include <new>

#include "textfiles/allocator.h"

namespace {

// The positions as nanoflann reads them.
struct PositionSource {
  const Vec3* points;
  int32_t count;
  size_t kdtree_get_point_count() const { return static_cast<size_t>(count); }
  double kdtree_get_pt(size_t i, size_t dim) const {
    const Vec3& p = points[i];
    return dim == 0 ? p.x : (dim == 1 ? p.y : p.z);
  }
  template <class Box>
  bool kdtree_get_bbox(Box&) const {
    return false;
  }
};

using Index = nanoflann::KDTreeSingleIndexAdaptor<
    nanoflann::L2_Simple_Adaptor<double, PositionSource, double, uint32_t>, PositionSource, 3,
    uint32_t>;

}  // namespace

struct PointTree {
  Vec3* points;  // owned (gmalloc)
  PositionSource source;
  Index* index;
};

PointTree* buildPointTree(const Vec3* points, int32_t count) noexcept {
  if (!points || count <= 0) return nullptr;
  auto* tree = static_cast<PointTree*>(gcalloc(sizeof(PointTree)));
  if (!tree) return nullptr;
  tree->points = static_cast<Vec3*>(gmalloc(sizeof(Vec3) * static_cast<size_t>(count)));
  if (!tree->points) {
    gfree(tree);
    return nullptr;
  }
  for (int32_t i = 0; i < count; ++i)
    tree->points[i] = points[i];
  tree->source = PositionSource{tree->points, count};
  try {
    tree->index = new Index(3, tree->source, nanoflann::KDTreeSingleIndexAdaptorParams(12));
  } catch (const std::bad_alloc&) {
    greportFailure("buildPointTree");
    gfree(tree->points);
    gfree(tree);
    return nullptr;
  }
  return tree;
}

void releasePointTree(PointTree* tree) noexcept {
  if (!tree) return;
  delete tree->index;
  gfree(tree->points);
  gfree(tree);
}

int32_t nearestPoints(const PointTree* tree, const Vec3& query, int32_t k, int32_t* indices,
                      double* squaredDistances) noexcept {
  if (!tree || k <= 0) return 0;
  const double q[3] = {query.x, query.y, query.z};
  uint32_t found[16];
  double distances[16];
  size_t wanted = static_cast<size_t>(k < 16 ? k : 16);
  nanoflann::KNNResultSet<double, uint32_t> result(wanted);
  result.init(found, distances);
  tree->index->findNeighbors(result, q, nanoflann::SearchParams());
  int32_t n = static_cast<int32_t>(result.size());
  for (int32_t i = 0; i < n; ++i) {
    indices[i] = static_cast<int32_t>(found[i]);
    squaredDistances[i] = distances[i];
  }
  return n;
}

int32_t nearestPoint(const PointTree* tree, const Vec3& query, double* squaredDistance) noexcept {
  int32_t index = -1;
  double d = 1e308;
  if (nearestPoints(tree, query, 1, &index, &d) == 0) index = -1;
  if (squaredDistance) *squaredDistance = d;
  return index;
}

int32_t pointTreeSize(const PointTree* tree) noexcept {
  return tree ? tree->source.count : 0;
}
