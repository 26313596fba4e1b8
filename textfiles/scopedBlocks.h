#pragma once
// RAII guards at the edges of core operations, so early returns never leak.
#include <cstddef>
#include <memory>

#include "textfiles/allocator.h"
#include "textfiles/lineList.h"

// Frees the working blocks it handed out when the operation ends, newest first.
class ScopedBlocks {
 public:
  ScopedBlocks() = default;
  ScopedBlocks(const ScopedBlocks&) = delete;
  ScopedBlocks& operator=(const ScopedBlocks&) = delete;
  ~ScopedBlocks() {
    while (count_ > 0)
      gfree(blocks_[--count_]);
  }
  // `n` zero-filled elements from gcalloc; null when memory failed (already reported).
  template <typename T>
  T* zeroed(size_t n) noexcept {
    return keep(static_cast<T*>(gcalloc(n * sizeof(T))));
  }
  // `n` uninitialised elements from gmalloc; null when memory failed (already reported).
  template <typename T>
  T* raw(size_t n) noexcept {
    return keep(static_cast<T*>(gmalloc(n * sizeof(T))));
  }

 private:
  template <typename T>
  T* keep(T* block) noexcept {
    if (block && count_ < kMaxBlocks) {
      blocks_[count_++] = block;
    } else if (block) {
      gfree(block);
      block = nullptr;
    }
    return block;
  }
  static constexpr int kMaxBlocks = 16;
  void* blocks_[kMaxBlocks] = {};
  int count_ = 0;
};

// An owned line list released with freeLineList.
struct LineListRelease {
  void operator()(LineList* list) const noexcept { freeLineList(list); }
};
using OwnedLineList = std::unique_ptr<LineList, LineListRelease>;
