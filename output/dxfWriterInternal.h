#pragma once
// Inside the DXF writer, open to its tests and to the writer of a kept result: how a
// coordinate, a face and the entities section's head and end are written.
#include <cstddef>

struct ByteSink;
struct LineList;

// Room for the longest fixed-point double: 309 integer digits, sign, point and five decimals.
constexpr size_t kCoordinateTextSize = 400;

// Writes `value` as "%.5f" does in the C locale ("-0.00000" for negative values that round to
// zero, "inf", "-inf", "nan", "-nan"), exactly rounded, into `text` (room for
// kCoordinateTextSize bytes); returns its length. No NUL is written.
size_t formatCoordinate(double value, char* text) noexcept;

// A 3DFACE on `layer` (null never) with `cornerCount` (3 or 4) corners, each three doubles;
// a triangle's third corner is written again as its fourth. False when the sink failed.
bool writeFaceEntity(ByteSink* sink, const char* layer, const double* const corners[4],
                     int cornerCount) noexcept;
// The ENTITIES section's head and the 999 comments of `comments` (null: none; empty ones are
// left out), and the section's end with the file's.
bool writeEntitiesHead(ByteSink* sink, const LineList* comments) noexcept;
bool writeEntitiesEnd(ByteSink* sink) noexcept;
