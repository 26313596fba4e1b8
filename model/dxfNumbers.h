#pragma once
// Reading the two kinds of number a DXF file holds: group codes and coordinate values. Both
// read a prefix of the text the way the C library's atoi and strtod do in the C locale, and
// never depend on the process locale.
#include <cstddef>
#include <cstdint>

// A group code that the reader knows nothing about: the code of a line whose number does not
// fit in 32 bits (it never wraps into a known code). Any other code outside the DXF range
// (such as -1 itself) is just as unknown.
constexpr int32_t kUnknownGroupCode = -1;

// The group code of a line: leading white space (space, \t \n \v \f \r), an optional sign and
// decimal digits; whatever follows is ignored. A line that does not begin with a number reads
// 0; a number outside the 32-bit range reads kUnknownGroupCode.
int32_t readGroupCode(const char* text) noexcept;
// The same for the `length` bytes at `text`, which need not end in a NUL (nor hold one).
int32_t readGroupCodeIn(const char* text, size_t length) noexcept;

// The number at the start of a value line, as strtod reads it in the C locale: leading white
// space, an optional sign, then decimal digits with an optional point and exponent, or "inf",
// "infinity", "nan", "nan(...)" in any letter case. Values beyond the double range give
// +-infinity, values below the smallest denormal give +-0, as strtod does. Text that does not
// begin with such a number reads +0. Hexadecimal forms ("0x1p3") are not DXF numbers: they read
// as their leading "0".
double readCoordinate(const char* text) noexcept;
