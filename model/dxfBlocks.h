#pragma once
// The block definitions of a DXF file's BLOCKS section: each block's name, base point and the
// range of its entities in the file's bytes, found again by name (letter case not counted).
#include <cstddef>
#include <cstdint>

#include "model/dxfText.h"
#include "model/vectors.h"

struct DxfBlock {
  DxfLine name;  // in the file's bytes, surrounding white space removed
  Vec3 base;     // 10/20/30 of the BLOCK entity
  size_t start;  // offset of the group 0 of the block's first entity
  size_t end;    // offset of the group 0 that ends the block (ENDBLK, ENDSEC or the next BLOCK)
};

// Valid when zero-filled; blocks and slots from the allocator, released by freeBlockTable.
struct DxfBlockTable {
  DxfBlock* blocks;
  int32_t count;
  int32_t capacity;
  int32_t* slots;  // open addressing: block index + 1, 0 empty; at most half full
  int32_t slotCount;
};

// Adds a block (a later block of the same name is never found). False when memory failed.
bool addBlock(DxfBlockTable* table, const DxfBlock& block) noexcept;
// The index of the first block named `name` (after its surrounding white space), -1 for none.
int32_t findBlock(const DxfBlockTable* table, DxfLine name) noexcept;
// Releases the table's arrays; the table is then as new.
void freeBlockTable(DxfBlockTable* table) noexcept;
// `line` without white space at either end.
DxfLine trimmedLine(DxfLine line) noexcept;
