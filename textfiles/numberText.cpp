#include "textfiles/numberText.h"

#include <charconv>
#include <cstring>

namespace {

bool isSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isHexDigit(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// For a number whose value cannot be held (too large or too small for a double): true when
// its magnitude is above 1, so it overflows rather than underflows. `s` is its mantissa, just
// after any sign and "0x"; `base` 10 or 16.
bool isHugeMagnitude(const char* s, int base) {
  auto isMantissaDigit = [base](char c) { return base == 16 ? isHexDigit(c) : isDigit(c); };
  while (*s == '0')
    ++s;
  long position = 0;  // decimal (or hex) digits of the integer part after its leading zeros
  while (isMantissaDigit(*s)) {
    ++position;
    ++s;
  }
  if (position == 0 && *s == '.') {
    ++s;
    while (*s == '0') {
      --position;
      ++s;
    }
  }
  while (isMantissaDigit(*s) || *s == '.')
    ++s;
  long exponent = 0;
  if (*s == (base == 16 ? 'p' : 'e') || *s == (base == 16 ? 'P' : 'E')) {
    ++s;
    bool negative = *s == '-';
    if (*s == '+' || *s == '-') ++s;
    for (; isDigit(*s); ++s) {
      if (exponent < 1000000000L) exponent = exponent * 10 + (*s - '0');
    }
    if (negative) exponent = -exponent;
  }
  long scale = base == 16 ? 4 : 1;
  return position * scale + exponent > 0;
}

}  // namespace

const char* skipWhiteSpace(const char* text) noexcept {
  while (isSpace(*text))
    ++text;
  return text;
}

const char* readRealNumber(const char* text, double* value, RealForms forms) noexcept {
  return readRealNumberIn(text, std::strlen(text), value, forms);
}

const char* readRealNumberIn(const char* text, size_t length, double* value,
                             RealForms forms) noexcept {
  const char* end = text + length;
  const char* s = text;
  while (s < end && isSpace(*s))
    ++s;
  if (s == end) return nullptr;
  bool negative = *s == '-';
  if (*s == '+' || *s == '-') ++s;
  if (s == end) return nullptr;
  double result = 0.0;
  std::from_chars_result read{};
  int base = 10;
  if (forms == RealForms::decimalOrHex && end - s >= 3 && s[0] == '0' &&
      (s[1] == 'x' || s[1] == 'X') &&
      (isHexDigit(s[2]) || (s[2] == '.' && end - s >= 4 && isHexDigit(s[3])))) {
    base = 16;
    s += 2;
    read = std::from_chars(s, end, result, std::chars_format::hex);
  } else if (s[0] == '-' || s[0] == '+') {
    return nullptr;  // a second sign
  } else {
    read = std::from_chars(s, end, result, std::chars_format::general);
  }
  if (read.ec == std::errc::result_out_of_range) {
    result = isHugeMagnitude(s, base) ? __builtin_huge_val() : 0.0;
  } else if (read.ec != std::errc{}) {
    return nullptr;
  }
  *value = negative ? -result : result;
  return read.ptr;
}
