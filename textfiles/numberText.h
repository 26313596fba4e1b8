#pragma once
// Reading numbers out of text the way the C library's strtod does in the C locale, whatever
// the process locale is: the one reader behind the settings file and the DXF values.

#include <cstddef>

// Position of the first character of `text` that is not white space (space, \t \n \v \f \r).
const char* skipWhiteSpace(const char* text) noexcept;

// Which forms of a real number are read.
enum class RealForms {
  decimal,       // a hexadecimal form "0x1p3" reads as its leading "0"
  decimalOrHex,  // "0x1.8p3" too (as strtod)
};

// The real number at the start of `text`: white space, an optional sign, then decimal digits
// with an optional point and exponent ("1e" reads as 1), "inf", "infinity" or "nan" (any case,
// "nan(...)" too), or, when `forms` allows, a hexadecimal form. A value too large for a double
// reads as an infinity of its sign, one too small as a zero of its sign. Returns the end of the
// number, or null when the text does not start with one (`*value` unchanged).
const char* readRealNumber(const char* text, double* value, RealForms forms) noexcept;
// The same for the `length` bytes at `text`; the byte after them must not continue a number
// (a NUL, a line break), as isHugeMagnitude's scan of an out-of-range number may look at it.
const char* readRealNumberIn(const char* text, size_t length, double* value,
                             RealForms forms) noexcept;
