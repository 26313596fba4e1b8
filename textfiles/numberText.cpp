#include "textfiles/numberText.h"

#include <charconv>
#include <cstdint>
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

// Powers of ten a double holds exactly.
constexpr double kExactTens[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A plain decimal without sign nor exponent ("123", "-" excluded, "0.50000", ".5") whose digits
// make an integer up to 2^53 and that has at most 22 decimals: the integer and the power of ten
// are both exact doubles, so one division rounds the value exactly as a full conversion does.
// Returns the end of the number, or null for anything else (left to the full conversion).
const char* readPlainDecimal(const char* s, const char* end, double* value) {
  constexpr uint64_t kExactLimit = uint64_t{1} << 53;
  uint64_t digits = 0;
  int decimals = -1;  // -1 before the point
  bool any = false;
  for (; s < end; ++s) {
    const char c = *s;
    if (isDigit(c)) {
      digits = digits * 10 + static_cast<uint64_t>(c - '0');
      if (digits > kExactLimit) return nullptr;
      any = true;
      if (decimals >= 0 && ++decimals > 22) return nullptr;
    } else if (c == '.' && decimals < 0) {
      decimals = 0;
    } else if (c == 'e' || c == 'E' || c == '.') {
      return nullptr;
    } else {
      break;
    }
  }
  if (!any) return nullptr;
  const double whole = static_cast<double>(digits);
  *value = decimals > 0 ? whole / kExactTens[decimals] : whole;
  return s;
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
  } else if (const char* plain = readPlainDecimal(s, end, &result)) {
    *value = negative ? -result : result;
    return plain;
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
