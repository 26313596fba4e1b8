#include "textfiles/allocator.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "app/errorReport.h"

namespace {

// Every block carries its requested size in front of it, so that gcrealloc knows which part
// is new and must be zero-filled. The header keeps the payload aligned for any scalar type.
struct alignas(std::max_align_t) BlockHeader {
  size_t size;
};

std::atomic<long> liveBlocks{0};
std::atomic<long> allocationCount{0};
std::atomic<long> failCountdown{0};

// True when this allocation is the one the fault injection asked to fail.
bool injectedFailure() noexcept {
  allocationCount.fetch_add(1, std::memory_order_relaxed);
  long left = failCountdown.load(std::memory_order_relaxed);
  while (left > 0) {
    if (failCountdown.compare_exchange_weak(left, left - 1)) return left == 1;
  }
  return false;
}

BlockHeader* headerOf(void* block) noexcept { return static_cast<BlockHeader*>(block) - 1; }

void* payloadOf(BlockHeader* header) noexcept { return header + 1; }

bool sizeFits(size_t size) noexcept { return size <= (~size_t{0} >> 2) - sizeof(BlockHeader); }

}  // namespace

void* gcalloc(size_t size) noexcept {
  if (size == 0) size = 1;
  if (injectedFailure() || !sizeFits(size)) {
    reportError("gcalloc");
    return nullptr;
  }
  auto* header = static_cast<BlockHeader*>(std::calloc(1, sizeof(BlockHeader) + size));
  if (!header) {
    reportError("gcalloc");
    return nullptr;
  }
  header->size = size;
  liveBlocks.fetch_add(1, std::memory_order_relaxed);
  return payloadOf(header);
}

void* gcrealloc(void* block, size_t size) noexcept {
  if (!block) {
    void* fresh = gcalloc(size);
    if (!fresh) reportError("gcrealloc");
    return fresh;
  }
  if (size == 0) size = 1;
  if (injectedFailure() || !sizeFits(size)) {
    reportError("gcrealloc");
    return nullptr;
  }
  size_t oldSize = headerOf(block)->size;
  auto* header =
      static_cast<BlockHeader*>(std::realloc(headerOf(block), sizeof(BlockHeader) + size));
  if (!header) {
    reportError("gcrealloc");
    return nullptr;
  }
  if (size > oldSize) std::memset(static_cast<char*>(payloadOf(header)) + oldSize, 0, size - oldSize);
  header->size = size;
  return payloadOf(header);
}

void* gmalloc(size_t size) noexcept {
  if (size == 0) size = 1;
  if (injectedFailure() || !sizeFits(size)) {
    reportError("gmalloc");
    return nullptr;
  }
  auto* header = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
  if (!header) {
    reportError("gmalloc");
    return nullptr;
  }
  header->size = size;
  liveBlocks.fetch_add(1, std::memory_order_relaxed);
  return payloadOf(header);
}

void gfree(void* block) noexcept {
  if (!block) return;
  liveBlocks.fetch_sub(1, std::memory_order_relaxed);
  std::free(headerOf(block));
}

size_t gblockSize(const void* block) noexcept {
  return block ? headerOf(const_cast<void*>(block))->size : 0;
}

long gliveBlocks() noexcept { return liveBlocks.load(); }

void gfailAllocationAfter(long n) noexcept { failCountdown.store(n > 0 ? n : 0); }

long gallocationCount() noexcept { return allocationCount.load(); }
