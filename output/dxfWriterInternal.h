#pragma once
// Inside the DXF writer, open to its tests: how a coordinate is written.
#include <cstddef>

// Room for the longest fixed-point double: 309 integer digits, sign, point and five decimals.
constexpr size_t kCoordinateTextSize = 400;

// Writes `value` as "%.5f" does in the C locale ("-0.00000" for negative values that round to
// zero, "inf", "-inf", "nan", "-nan"), exactly rounded, into `text` (room for
// kCoordinateTextSize bytes); returns its length. No NUL is written.
size_t formatCoordinate(double value, char* text) noexcept;
