#include "model/dxfNumbers.h"

#include <cstring>
#include <limits>

#include "textfiles/numberText.h"

namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// The white space skipWhiteSpace skips.
bool isBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

int32_t readGroupCode(const char* text) noexcept {
  return readGroupCodeIn(text, std::strlen(text));
}

int32_t readGroupCodeIn(const char* text, size_t length) noexcept {
  const char* p = text;
  const char* end = text + length;
  while (p < end && isBlank(*p))
    ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  // Accumulate in 64 bits and stop growing past 2^31, so any length of digits is safe.
  constexpr int64_t kLimit = int64_t{1} << 31;
  int64_t value = 0;
  while (p < end && isDigit(*p)) {
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
  double value = 0.0;  // no number: +0 whatever the sign, as strtod
  readRealNumber(text, &value, RealForms::decimal);
  return value;
}
