#pragma once
// Inside the DXF writer, open to its tests: one corner's lines.
#include "model/vectors.h"

struct LineList;

// Appends the six lines of corner `corner` (0..3): "1k", x, "2k", y, "3k", z, each value as
// "%-10.5f" without trailing blanks, independent of the locale. Returns 1, 0 on memory failure.
int appendCorner(LineList* list, const Vec3& point, int corner) noexcept;
