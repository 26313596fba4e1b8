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
constexpr double kExactTens[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// A plain decimal without sign nor exponent ("123", "0.50000", ".5") of at most 15 digits:
// the integer of its digits and the power of ten are both exact doubles, so one division
// rounds the value exactly as a full conversion does. Returns the end of the number, or null
// for anything else (left to the full conversion).
const char* readPlainDecimal(const char* s, const char* end, double* value) {
  constexpr long kMostDigits = 15;  // below 2^53 whatever they are
  const char* p = s;
  uint64_t digits = 0;
  for (; p < end && isDigit(*p); ++p)
    digits = digits * 10 + static_cast<uint64_t>(*p - '0');
  const long whole = p - s;
  long decimals = 0;
  if (p < end && *p == '.') {
    const char* first = ++p;
    for (; p < end && isDigit(*p); ++p)
      digits = digits * 10 + static_cast<uint64_t>(*p - '0');
    decimals = p - first;
  }
  if (whole + decimals == 0 || whole + decimals > kMostDigits) return nullptr;
  if (p < end && (*p == 'e' || *p == 'E' || *p == '.')) return nullptr;
  const double exact = static_cast<double>(digits);
  *value = decimals > 0 ? exact / kExactTens[decimals] : exact;
  return p;
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
