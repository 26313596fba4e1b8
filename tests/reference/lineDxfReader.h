#pragma once
// The DXF face reader's rules stated over the file's lines (the line list's split, empty lines
// kept), one group of two lines at a time, as plainly as possible: readDxfBytes is proven equal
// to it on random and hostile texts (tests/model, fuzz/dxfReaderFuzz).
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "model/dxfNumbers.h"
#include "tests/reference/lineSplitReference.h"
#include "textfiles/numberText.h"

struct PlainDxf {
  std::vector<std::string> layers;           // per face
  std::vector<std::vector<double>> corners;  // per face x0 y0 z0 ... x3 y3 z3
  std::vector<std::string> comments;
};

// The 3DFACE entities outside BLOCKS sections: the first group 8 is the layer, the first of each
// of groups 10..33 a coordinate (0 where absent); no group 10: no face; none of 13, 23, 33: the
// fourth corner is the third. Every non-empty group 999 text is a comment.
inline PlainDxf plainReadDxf(const std::string& text) {
  std::vector<std::string> lines = plainSplit(text.data(), text.size(), LineSplit::keepEmpty);
  auto is = [](const std::string& line, const char* name) {
    const char* p = skipWhiteSpace(line.c_str());
    return !std::strncmp(p, name, std::strlen(name)) && !*skipWhiteSpace(p + std::strlen(name));
  };
  PlainDxf out;
  bool inFace = false, afterSection = false, inBlocks = false;
  std::vector<bool> seen;
  auto finish = [&] {
    if (inFace && !seen[0]) out.layers.pop_back(), out.corners.pop_back();
    if (inFace && seen[0] && !seen[9] && !seen[10] && !seen[11])
      std::copy_n(out.corners.back().begin() + 6, 3, out.corners.back().begin() + 9);
    inFace = false;
  };
  for (size_t i = 0; i + 1 < lines.size(); i += 2) {
    const int code = readGroupCode(lines[i].c_str());
    const std::string value = lines[i + 1].c_str(), trimmed = skipWhiteSpace(value.c_str());
    if (code == 0) {
      finish();
      bool section = is(value, "SECTION");
      if (inBlocks && is(value, "ENDSEC")) inBlocks = false;
      if (!section && !inBlocks && !std::strncmp(trimmed.c_str(), "3DFACE", 6)) {
        inFace = true, seen.assign(13, false);
        out.layers.push_back(""), out.corners.push_back(std::vector<double>(12, 0.0));
      }
      afterSection = section;
      continue;
    }
    if (afterSection && code == 2 && is(value, "BLOCKS")) inBlocks = true;
    afterSection = false;
    if (code == 999 && !trimmed.empty()) out.comments.push_back(trimmed);
    const int slot = (code % 10) * 3 + code / 10 - 1;
    if (inFace && code == 8 && !seen[12]) seen[12] = true, out.layers.back() = trimmed;
    if (inFace && code >= 10 && code <= 33 && code % 10 < 4 && !seen[slot])
      seen[slot] = true, out.corners.back()[slot] = readCoordinate(trimmed.c_str());
  }
  finish();
  return out;
}
