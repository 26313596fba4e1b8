#include "model/dxfNumbers.h"

#include <charconv>
#include <cstring>
#include <limits>

#include "model/dxfReader.h"

namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// Tells whether a decimal number that std::from_chars found outside the double range is too
// large (true) or too small (false). `digits` points at the first mantissa character (digit or
// point). The magnitude is 10^(lead + exponent - 1) within one decade, where `lead` counts the
// digits from the first non-zero one to the point (zero or negative when the first non-zero
// digit lies after the point); the double range spans about 10^-324 to 10^308, so the sign of
// lead + exponent decides.
bool exceedsRange(const char* digits) {
  const char* p = digits;
  int64_t integerDigits = 0;
  int64_t lead = 0;
  bool found = false;
  while (isDigit(*p)) {
    if (!found && *p != '0') {
      found = true;
      lead = -integerDigits;  // completed below, once the count of integer digits is known
    }
    ++integerDigits;
    ++p;
  }
  if (found) {
    lead += integerDigits;
  }
  if (*p == '.') {
    ++p;
    int64_t position = 0;
    while (isDigit(*p)) {
      if (!found && *p != '0') {
        found = true;
        lead = -position;
      }
      ++position;
      ++p;
    }
  }
  int64_t exponent = 0;
  if (*p == 'e' || *p == 'E') {
    ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    while (isDigit(*p)) {
      if (exponent < 1000000000) exponent = exponent * 10 + (*p - '0');
      ++p;
    }
    if (negative) exponent = -exponent;
  }
  return lead + exponent > 0;
}

}  // namespace

int32_t readGroupCode(const char* text) noexcept {
  const char* p = skipBlanks(text);
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // Accumulate in 64 bits and stop growing past 2^31, so any length of digits is safe.
  constexpr int64_t kLimit = int64_t{1} << 31;
  int64_t value = 0;
  while (isDigit(*p)) {
    if (value <= kLimit) value = value * 10 + (*p - '0');
    ++p;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max() || value < std::numeric_limits<int32_t>::min()) {
    return kUnknownGroupCode;
  }
  return static_cast<int32_t>(value);
}

double readCoordinate(const char* text) noexcept {
  const char* p = skipBlanks(text);
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
    // from_chars would take a second '-' itself; strtod takes one sign only.
    if (*p == '+' || *p == '-') return 0.0;
  }
  double value = 0.0;
  std::from_chars_result r = std::from_chars(p, p + std::strlen(p), value);
  if (r.ec == std::errc::result_out_of_range) {
    value = exceedsRange(p) ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (r.ec != std::errc()) {
    return 0.0;  // no number: +0 whatever the sign, as strtod
  }
  return negative ? -value : value;
}
