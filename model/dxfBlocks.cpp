#include "model/dxfBlocks.h"

#include "textfiles/allocator.h"

namespace {

char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

uint64_t nameHash(DxfLine name) {
  uint64_t h = 0xCBF29CE484222325ull;  // FNV-1a over the lower-case name
  for (size_t i = 0; i < name.length; ++i)
    h = (h ^ static_cast<unsigned char>(lowerAscii(name.text[i]))) * 0x100000001B3ull;
  return h;
}

bool sameName(DxfLine a, DxfLine b) {
  if (a.length != b.length) return false;
  for (size_t i = 0; i < a.length; ++i) {
    if (lowerAscii(a.text[i]) != lowerAscii(b.text[i])) return false;
  }
  return true;
}

void enterBlock(DxfBlockTable* table, int32_t index) {
  uint32_t mask = static_cast<uint32_t>(table->slotCount) - 1;
  uint32_t slot = static_cast<uint32_t>(nameHash(table->blocks[index].name)) & mask;
  while (table->slots[slot] != 0)
    slot = (slot + 1) & mask;
  table->slots[slot] = index + 1;
}

bool isBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

DxfLine trimmedLine(DxfLine line) noexcept {
  line = skipLeadingBlanks(line);
  while (line.length > 0 && isBlank(line.text[line.length - 1]))
    --line.length;
  return line;
}

bool addBlock(DxfBlockTable* table, const DxfBlock& block) noexcept {
  if (table->count == INT32_MAX / 4) return gcalloc(~size_t{0}) != nullptr;  // refused, reported
  if (table->count == table->capacity) {
    int32_t grown = table->capacity ? table->capacity * 2 : 16;
    auto* blocks = static_cast<DxfBlock*>(gcrealloc(table->blocks, grown * sizeof(DxfBlock)));
    if (!blocks) return false;
    table->blocks = blocks;
    table->capacity = grown;
  }
  if (2 * (table->count + 1) > table->slotCount) {
    int32_t slots = table->slotCount ? table->slotCount * 2 : 64;
    auto* fresh = static_cast<int32_t*>(gcalloc(slots * sizeof(int32_t)));
    if (!fresh) return false;
    gfree(table->slots);
    table->slots = fresh;
    table->slotCount = slots;
    for (int32_t i = 0; i < table->count; ++i)
      enterBlock(table, i);
  }
  table->blocks[table->count] = block;
  table->blocks[table->count].name = trimmedLine(block.name);
  enterBlock(table, table->count++);
  return true;
}

int32_t findBlock(const DxfBlockTable* table, DxfLine name) noexcept {
  if (table->slotCount == 0) return -1;
  name = trimmedLine(name);
  int32_t found = -1;
  uint32_t mask = static_cast<uint32_t>(table->slotCount) - 1;
  for (uint32_t slot = static_cast<uint32_t>(nameHash(name)) & mask; table->slots[slot] != 0;
       slot = (slot + 1) & mask) {
    int32_t index = table->slots[slot] - 1;
    if (sameName(table->blocks[index].name, name) && (found < 0 || index < found)) found = index;
  }
  return found;
}

void freeBlockTable(DxfBlockTable* table) noexcept {
  gfree(table->blocks);
  gfree(table->slots);
  *table = DxfBlockTable{};
}
