// Line lists and files: splitting a text into lines, loading a file into a list, saving a list
// whole or not at all.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "textfiles/allocator.h"
#include "textfiles/fileBytes.h"
#include "textfiles/lineList.h"

namespace {

constexpr int32_t kCapacityStep = 128;
constexpr size_t kMostLines = INT32_MAX - kCapacityStep + 1;  // keeps capacity a valid int32
constexpr size_t kChunkSize = size_t{1} << 20;                // chunk for carved lines

// Calls `onPiece(start, length)` for every line of `text` in order, as `split` cuts it, where
// `length` is the line's text: its bytes up to the break or up to a NUL before it. Returns
// false as soon as `onPiece` does.
//   dropEmpty: every CR and every LF is a break, except that the second byte of CR LF or
//     LF CR belongs to the first; lines whose text is empty are not passed on.
//   keepEmpty: CR LF, LF CR and CR CR LF are one break each, any other CR or LF is one;
//     every line is passed on, empty ones included, except an empty piece after the last break.
template <typename OnPiece>
bool forEachPiece(const char* text, size_t size, LineSplit split, OnPiece&& onPiece) {
  const bool keepEmpty = split == LineSplit::keepEmpty;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  size_t start = 0;
  size_t nul = SIZE_MAX;  // first NUL of the current piece
  size_t i = 0;
  while (i < size) {
    unsigned char c = bytes[i];
    if (c > '\r' || (c != '\r' && c != '\n' && c != '\0')) {
      ++i;
      continue;
    }
    if (c == '\0') {
      if (nul == SIZE_MAX) nul = i;
      ++i;
      continue;
    }
    size_t length = (nul == SIZE_MAX ? i : nul) - start;
    size_t next = i + 1;
    if (next < size) {
      unsigned char d = bytes[next];
      if ((c == '\r' && d == '\n') || (c == '\n' && d == '\r')) {
        ++next;
      } else if (keepEmpty && c == '\r' && d == '\r' && next + 1 < size &&
                 bytes[next + 1] == '\n') {
        next += 2;
      }
    }
    if ((keepEmpty || length > 0) && !onPiece(text + start, length)) return false;
    start = i = next;
    nul = SIZE_MAX;
  }
  if (size > start) {
    size_t length = (nul == SIZE_MAX ? size : nul) - start;
    if ((keepEmpty || length > 0) && !onPiece(text + start, length)) return false;
  }
  return true;
}

// Releases every line and the item array of `list`, keeping the record and its path.
void dropLines(LineList* list) {
  clearLines(list);
  gfree(list->items);
  list->items = nullptr;
  list->capacity = 0;
}

// Bytes a carved line of `length` characters takes in its chunk.
size_t carvedBytes(size_t length) {
  return 8 + ((length + 1 + 7) & ~size_t{7});
}

// Fills the empty `list` with the lines of `text`. A first pass counts the lines and their
// bytes, so the item array is allocated once, and the lines are cut from a few large chunks
// (BlockCarver) rather than allocated one by one. False when memory failed (reported); the
// list is then empty again.
bool splitInto(LineList* list, const char* text, size_t size, LineSplit split) {
  size_t lines = 0;
  size_t bytes = 64;
  forEachPiece(text, size, split, [&](const char* piece, size_t length) {
    (void)piece;
    ++lines;
    bytes += carvedBytes(length);
    return true;
  });
  if (lines == 0) return true;
  if (lines > kMostLines) {
    gfree(gcalloc(~size_t{0}));  // more lines than a list can index: fails and reports
    return false;
  }
  size_t capacity = (lines + kCapacityStep - 1) / kCapacityStep * kCapacityStep;
  dropLines(list);
  list->items = static_cast<char**>(gcalloc(capacity * sizeof(char*)));
  if (!list->items) return false;
  list->capacity = static_cast<int32_t>(capacity);
  BlockCarver carver{};
  carver.chunkSize = bytes < kChunkSize ? bytes : kChunkSize;
  bool stored = forEachPiece(text, size, split, [&](const char* piece, size_t length) {
    auto* line = static_cast<char*>(gcarve(&carver, length + 1));
    if (!line) return false;
    std::memcpy(line, piece, length);
    line[length] = '\0';
    list->items[list->count++] = line;
    return true;
  });
  gcarveDone(&carver);
  if (!stored) dropLines(list);
  return stored;
}

// Writes the non-empty lines of `list` to the sink, each followed by CR LF.
bool writeLines(ByteSink* sink, const void* context) {
  const auto* list = static_cast<const LineList*>(context);
  for (int32_t i = 0; i < list->count; ++i) {
    const char* line = list->items[i];
    if (line && line[0] != '\0' && !sinkLine(sink, line)) return false;
  }
  return true;
}

}  // namespace

LineList* splitTextLines(const char* text, size_t size, LineSplit split) noexcept {
  LineList* list = newLineList();
  if (!list) return nullptr;
  if (size > 0 && text && !splitInto(list, text, size, split)) {
    freeLineList(list);
    return nullptr;
  }
  return list;
}

LineList* loadLineListAs(const char* path, LineSplit split, int* status) noexcept {
  int ignored;
  if (!status) status = &ignored;
  *status = kLoadNoMemory;
  LineList* list = newLineList();
  if (!list) return nullptr;
  if (path) {
    list->path = copyText(path);
    if (!list->path) {
      freeLineList(list);
      return nullptr;
    }
  }
  char* bytes = nullptr;
  size_t size = 0;
  int result = loadFileBytes(path, &bytes, &size);
  if (result == kLoadNotOpened) {
    *status = kLoadNotOpened;
    return list;
  }
  bool splitDone = result == kLoadRead && splitInto(list, bytes, size, split);
  gfree(bytes);
  if (!splitDone) {
    freeLineList(list);
    return nullptr;
  }
  *status = kLoadRead;
  return list;
}

LineList* loadLineList(const char* path) noexcept {
  return loadLineListAs(path, LineSplit::dropEmpty, nullptr);
}

int saveLineList(const LineList* list) noexcept {
  if (!list) return 0;
  return saveFileWith(list->path, writeLines, list);
}

int saveLineListAs(LineList* list, const char* path) noexcept {
  if (!list) return 0;
  char* ownPath = list->path;
  char* spare = list->spareText;
  list->path = const_cast<char*>(path);
  list->spareText = nullptr;
  int written = saveLineList(list);
  list->path = ownPath;
  list->spareText = spare;
  return written;
}
