#pragma once
// Where the faces of a block land: the affine map of an INSERT (base point, scale, rotation
// about the insert's z axis, MINSERT cell offset, insertion point, extrusion direction by the
// arbitrary-axis rule), composed over nested INSERTs.
#include "model/vectors.h"

// p -> (x row . p + x offset, ...): rows[0..2] the matrix, offset the translation. Valid when
// zero-filled only with `identity` set by identityPlacement.
struct Placement {
  Vec3 rows[3];
  Vec3 offset;
  bool identity;  // the map changes nothing (positions are passed on bit for bit)
};

// What an INSERT says about its placement, with the DXF defaults where a group is absent.
struct InsertGroups {
  Vec3 insertion;        // 10/20/30, in the insert's object coordinate system
  Vec3 scale;            // 41/42/43, default 1
  double rotation;       // 50, degrees
  Vec3 extrusion;        // 210/220/230, default (0, 0, 1)
  int32_t columns;       // 70, default 1 (MINSERT)
  int32_t rows;          // 71, default 1
  double columnSpacing;  // 44
  double rowSpacing;     // 45
};

// The map that changes nothing.
Placement identityPlacement() noexcept;
// The map of one cell (`column`, `row`) of an INSERT of a block whose base point is `base`,
// inside the map `outer` of where the INSERT itself stands.
Placement insertPlacement(const Placement& outer, const InsertGroups& insert, const Vec3& base,
                          int32_t column, int32_t row) noexcept;
// The position `p` placed by `placement`.
Vec3 placePoint(const Placement& placement, const Vec3& p) noexcept;
// The x and y axes of the object coordinate system whose z axis is `normal` (the arbitrary-axis
// rule); a zero or non-finite normal reads as (0, 0, 1).
void arbitraryAxes(Vec3 normal, Vec3* xAxis, Vec3* yAxis, Vec3* zAxis) noexcept;
