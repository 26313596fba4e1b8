#pragma once
// The line splitting rules stated byte by byte, as plainly as possible (splitTextLines is
// proven equal to it by the fuzz target lineSplitFuzz).
#include <string>
#include <vector>

#include "textfiles/lineList.h"

inline std::vector<std::string> plainSplit(const char* text, size_t size, LineSplit split) {
  const bool keepEmpty = split == LineSplit::keepEmpty;
  std::vector<std::string> lines;
  std::string piece;
  bool cut = false;  // a NUL ended the piece's text
  auto finish = [&] {
    if (keepEmpty || !piece.empty()) lines.push_back(piece);
    piece.clear();
    cut = false;
  };
  for (size_t i = 0; i < size; ++i) {
    const char c = text[i], other = c == '\r' ? '\n' : '\r';
    if (c != '\r' && c != '\n') {
      cut |= c == '\0';
      if (!cut) piece.push_back(c);
      continue;
    }
    finish();
    if (i + 1 < size && text[i + 1] == other)
      i += 1;  // CR LF, LF CR
    else if (keepEmpty && c == '\r' && i + 2 < size && text[i + 1] == '\r' && text[i + 2] == '\n')
      i += 2;  // CR CR LF
  }
  // Bytes after the last break are a line (even when a NUL left its text empty).
  if (size > 0 && text[size - 1] != '\r' && text[size - 1] != '\n') finish();
  return lines;
}
