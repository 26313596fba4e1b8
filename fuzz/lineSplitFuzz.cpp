// The line splitter on any bytes, in both modes, checked against a plain statement of the
// splitting rules; then once more with one of its allocations failing.
#include <cstring>
#include <string>
#include <vector>

#include "fuzzSupport.h"
#include "textfiles/allocator.h"
#include "textfiles/lineList.h"

namespace {

// The rules written out byte by byte, as slowly and plainly as possible.
std::vector<std::string> plainSplit(const char* text, size_t size, LineSplit split) {
  const bool keepEmpty = split == LineSplit::keepEmpty;
  std::vector<std::string> lines;
  std::string piece;
  bool cut = false;  // a NUL ended the piece's text
  auto finish = [&] {
    if (keepEmpty || !piece.empty()) lines.push_back(piece);
    piece.clear();
    cut = false;
  };
  size_t i = 0;
  while (i < size) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      finish();
      char other = c == '\r' ? '\n' : '\r';
      if (i + 1 < size && text[i + 1] == other) {
        i += 2;
      } else if (keepEmpty && c == '\r' && i + 2 < size && text[i + 1] == '\r' &&
                 text[i + 2] == '\n') {
        i += 3;
      } else {
        i += 1;
      }
      continue;
    }
    if (c == '\0') cut = true;
    if (!cut) piece.push_back(c);
    ++i;
  }
  // Text after the last break is a line; an empty piece there is none, unless it held a NUL
  // (a piece of bytes whose text is empty).
  bool bytesAfterBreak = size > 0 && text[size - 1] != '\r' && text[size - 1] != '\n';
  if (bytesAfterBreak) finish();
  return lines;
}

void checkMode(const char* text, size_t size, LineSplit split, uint64_t hash) {
  long before = gliveBlocks();
  LineList* list = splitTextLines(text, size, split);
  FUZZ_CHECK(list != nullptr);
  FUZZ_CHECK(list->path == nullptr);
  FUZZ_CHECK(list->count >= 0 && list->count <= list->capacity && list->capacity % 128 == 0);
  std::vector<std::string> expected = plainSplit(text, size, split);
  FUZZ_CHECK(static_cast<size_t>(list->count) == expected.size());
  for (int32_t i = 0; i < list->count; ++i) {
    FUZZ_CHECK(list->items[i] != nullptr);
    FUZZ_CHECK(expected[i] == list->items[i]);
    FUZZ_CHECK(gblockSize(list->items[i]) >= expected[i].size() + 1);
  }
  freeLineList(list);
  FUZZ_CHECK(gliveBlocks() == before);

  // One allocation fails: either it was not needed (the same lines) or the list is refused
  // whole, and nothing is left behind.
  gfailAllocationAfter(1 + static_cast<long>(hash % 4));
  list = splitTextLines(text, size, split);
  gfailAllocationAfter(0);
  if (list) {
    FUZZ_CHECK(static_cast<size_t>(list->count) == expected.size());
    for (int32_t i = 0; i < list->count; ++i)
      FUZZ_CHECK(expected[i] == list->items[i]);
    freeLineList(list);
  }
  FUZZ_CHECK(gliveBlocks() == before);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzSetUp();
  const char* text = reinterpret_cast<const char*>(data);
  uint64_t hash = fuzzHash(data, size);
  checkMode(text, size, LineSplit::dropEmpty, hash);
  checkMode(text, size, LineSplit::keepEmpty, hash >> 8);
  return 0;
}
