#include "textfiles/lineList.h"

#include <cstring>

#include "textfiles/allocator.h"

namespace {

constexpr int32_t kCapacityStep = 128;
constexpr int kNoMemory = -4;

// Makes room for one more line. Capacity grows geometrically (doubling) but always in whole
// steps of 128, so loading millions of lines resizes the item array only a few dozen times.
bool growIfFull(LineList* list) {
  if (list->count < list->capacity) return true;
  int32_t grown = list->capacity < kCapacityStep ? kCapacityStep : list->capacity * 2;
  if (grown < list->capacity) return false;  // would overflow
  void* items = gcrealloc(list->items, sizeof(char*) * static_cast<size_t>(grown));
  if (!items) return false;
  list->items = static_cast<char**>(items);
  list->capacity = grown;
  return true;
}

}  // namespace

char* copyText(const char* text) noexcept {
  if (!text) text = "";
  size_t n = std::strlen(text);
  auto* copy = static_cast<char*>(gcalloc(n + 1));
  if (copy) std::memcpy(copy, text, n);
  return copy;
}

void trimTrailingBlanks(char* text) noexcept {
  if (!text) return;
  size_t n = std::strlen(text);
  while (n > 0 && text[n - 1] == ' ')
    text[--n] = '\0';
}

LineList* newLineList() noexcept {
  return static_cast<LineList*>(gcalloc(sizeof(LineList)));
}

void clearLines(LineList* list) noexcept {
  if (!list) return;
  for (int32_t i = 0; i < list->count; ++i) {
    gfree(list->items[i]);
    list->items[i] = nullptr;
  }
  list->count = 0;
}

void freeLineList(LineList* list) noexcept {
  if (!list) return;
  clearLines(list);
  gfree(list->items);
  gfree(list->path);
  gfree(list->spareText);
  gfree(list);
}

int appendLine(LineList* list, const char* text) noexcept {
  if (!list) return -1;
  if (!growIfFull(list)) return kNoMemory;
  char* copy = copyText(text);
  if (!copy) return kNoMemory;
  list->items[list->count] = copy;
  return list->count++;
}

int insertLine(LineList* list, const char* text, int index) noexcept {
  if (!list) return -1;
  if (index < 0 || index >= list->count) return appendLine(list, text);
  if (!growIfFull(list)) return kNoMemory;
  char* copy = copyText(text);
  if (!copy) return kNoMemory;
  std::memmove(list->items + index + 1, list->items + index,
               sizeof(char*) * static_cast<size_t>(list->count - index));
  list->items[index] = copy;
  return list->count++;
}

void compactLines(LineList* list) noexcept {
  if (!list) return;
  int32_t write = 0;
  for (int32_t read = 0; read < list->count; ++read) {
    char* line = list->items[read];
    if (line && line[0] == '\0') {
      gfree(line);
      line = nullptr;
    }
    list->items[read] = nullptr;
    if (line) list->items[write++] = line;
  }
  list->count = write;
}

int findLine(const LineList* list, const char* text) noexcept {
  if (!list) return -2;
  if (!text) return -3;
  for (int32_t i = 0; i < list->count; ++i) {
    if (list->items[i] && std::strcmp(list->items[i], text) == 0) return i;
  }
  return -1;
}

int moveLineToFront(LineList* list, const char* text) noexcept {
  if (!list) return -1;
  if (!text) return -3;
  if (text[0] == '\0') return -2;
  int found = findLine(list, text);
  if (found == 0) return 0;
  if (found < 0) return insertLine(list, text, 0);
  // The line itself moves, so this never needs memory. Its old entry is emptied and the list
  // compacted, which also drops every empty line.
  char* line = list->items[found];
  list->items[found] = nullptr;
  compactLines(list);
  std::memmove(list->items + 1, list->items, sizeof(char*) * static_cast<size_t>(list->count));
  list->items[0] = line;
  return list->count++;
}
