#include "model/dxfText.h"

#include <cstring>

#include "model/dxfNumbers.h"
#include "textfiles/numberText.h"

namespace {

// White space within a line (a line holds no CR nor LF).
bool isBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

bool nextDxfLine(DxfCursor* cursor, DxfLine* line) noexcept {
  const size_t size = cursor->size;
  size_t i = cursor->next;
  if (i >= size) return false;
  const auto* bytes = reinterpret_cast<const unsigned char*>(cursor->bytes);
  const size_t start = i;
  size_t nul = SIZE_MAX;
  for (; i < size; ++i) {
    const unsigned char c = bytes[i];
    if (c > '\r') continue;
    if (c == '\r' || c == '\n') break;
    if (c == '\0' && nul == SIZE_MAX) nul = i;
  }
  line->text = cursor->bytes + start;
  line->length = (nul == SIZE_MAX ? i : nul) - start;
  size_t next = i + 1;
  if (next < size) {
    const unsigned char c = bytes[i], d = bytes[next];
    if ((c == '\r' && d == '\n') || (c == '\n' && d == '\r')) {
      ++next;
    } else if (c == '\r' && d == '\r' && next + 1 < size && bytes[next + 1] == '\n') {
      next += 2;
    }
  }
  cursor->next = next;
  return true;
}

bool nextDxfGroup(DxfCursor* cursor, DxfGroup* group) noexcept {
  DxfLine code;
  group->start = cursor->next;
  if (!nextDxfLine(cursor, &code) || !nextDxfLine(cursor, &group->value)) return false;
  group->code = lineInteger(code);
  return true;
}

DxfLine skipLeadingBlanks(DxfLine line) noexcept {
  while (line.length > 0 && isBlank(*line.text)) {
    ++line.text;
    --line.length;
  }
  return line;
}

bool lineStartsWith(DxfLine line, const char* prefix) noexcept {
  line = skipLeadingBlanks(line);
  size_t n = std::strlen(prefix);
  return line.length >= n && std::memcmp(line.text, prefix, n) == 0;
}

bool lineIsName(DxfLine line, const char* name) noexcept {
  line = skipLeadingBlanks(line);
  size_t n = std::strlen(name);
  if (line.length < n || std::memcmp(line.text, name, n) != 0) return false;
  for (size_t i = n; i < line.length; ++i) {
    if (!isBlank(line.text[i])) return false;
  }
  return true;
}

double lineCoordinate(DxfLine line) noexcept {
  double value = 0.0;  // no number: +0 whatever the sign, as strtod
  readRealNumberIn(line.text, line.length, &value, RealForms::decimal);
  return value;
}

int32_t lineInteger(DxfLine line) noexcept {
  return readGroupCodeIn(line.text, line.length);
}
