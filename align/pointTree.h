#pragma once
// Nearest-neighbour index over a fixed set of 3D positions (a k-d tree). The tree owns a copy of
// the positions; it is built once and only read afterwards, so several threads may query it.
#include <cstdint>

#include "model/vectors.h"

struct PointTree;

// A tree over `count` positions (every coordinate finite); index i answers for points[i].
// Null when memory failed (reported) or count is not positive.
PointTree* buildPointTree(const Vec3* points, int32_t count) noexcept;
// Releases the tree; null does nothing.
void releasePointTree(PointTree* tree) noexcept;
// Index of the position nearest to `query`, with its squared distance; -1 for an empty tree.
int32_t nearestPoint(const PointTree* tree, const Vec3& query, double* squaredDistance) noexcept;
// Up to `k` nearest positions, nearest first, into indices / squaredDistances (k entries
// each). Returns how many were found.
int32_t nearestPoints(const PointTree* tree, const Vec3& query, int32_t k, int32_t* indices,
                      double* squaredDistances) noexcept;
// Number of positions in the tree.
int32_t pointTreeSize(const PointTree* tree) noexcept;
