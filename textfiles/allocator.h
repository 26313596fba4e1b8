#pragma once
// The system's one allocator. Every block the core sizes from its input (model arrays, line
// lists, read buffers, influence and profile arrays) comes from these entries. When memory
// cannot be had, the entry reports its own name through reportError and returns null; the
// caller then fails cleanly with a result code.
#include <cstddef>

// A new zero-filled block of `size` bytes (0 is served as 1). Null on failure ("gcalloc").
void* gcalloc(size_t size) noexcept;
// `block` grown (or shrunk) to `size` bytes; old contents kept, any new part zero-filled.
// A null `block` behaves as gcalloc; when that fails both "gcalloc" and "gcrealloc" are
// reported. On failure the old block stays valid and owned by the caller.
void* gcrealloc(void* block, size_t size) noexcept;
// A new block that is not zero-filled. Null on failure ("gmalloc").
void* gmalloc(size_t size) noexcept;
// Releases a block from any of the three entries; null does nothing.
void gfree(void* block) noexcept;

// Size in bytes of a live block as requested (0 requests read 1); 0 for null.
size_t gblockSize(const void* block) noexcept;

// Blocks handed out and not yet released, for leak checks in tests.
long gliveBlocks() noexcept;

// Fault injection: the `n`-th allocation from now (1 = the next one) fails, once; 0 turns
// it off. Counted over all three entries and all threads.
void gfailAllocationAfter(long n) noexcept;
// Allocations made since the process started (for sweeping every allocation site).
long gallocationCount() noexcept;
