#pragma once
// The system's one allocator. Every block the core sizes from its input (model arrays, line
// lists, read buffers, influence and profile arrays) comes from these entries. When memory
// cannot be had, the entry reports its own name through the failure handler and returns
// null; the caller then fails cleanly with a result code.
#include <cstddef>

// Told the name of the entry that could not supply memory ("gcalloc", "gcrealloc",
// "gmalloc"). May be called from any thread.
using AllocationFailureHandler = void (*)(const char* entryName);
// Installs the handler; null restores the default, which prints "Morvane Error: <name>" to
// standard error. The front ends install the error report (app/errorReport.h).
void setAllocationFailureHandler(AllocationFailureHandler handler) noexcept;
// Reports through the same handler that memory a library asked for itself (outside these
// entries) could not be had; `entryName` names the operation that asked.
void greportFailure(const char* entryName) noexcept;

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

// Failures reported so far (by the entries and greportFailure): a stage that passes over what
// memory it could not get can still end its run by comparing the count before and after.
long gfailureCount() noexcept;

// Blocks handed out and not yet released, for leak checks in tests.
long gliveBlocks() noexcept;
// Bytes those blocks hold: each block's requested size, and the whole of every chunk a
// BlockCarver cut from that is still in use. What the program holds, without the C library's
// own keeping.
long long gliveBytes() noexcept;

// Fault injection: the `n`-th allocation from now (1 = the next one) fails, once; 0 turns
// it off. Counted over all three entries and all threads.
void gfailAllocationAfter(long n) noexcept;
// Allocations made since the process started (for sweeping every allocation site).
long gallocationCount() noexcept;

// Cuts many small blocks out of large chunks: for lists of millions of short lines, one
// allocation per chunk instead of one per line, and 8 bytes of bookkeeping per block instead
// of a header and the C library's own. Every carved block is an ordinary block to gfree,
// gcrealloc, gblockSize and gliveBlocks (counted there from gcarveDone on); a chunk is
// released with the last of its blocks.
// Carved blocks are aligned to 8 bytes (enough for texts) and not zero-filled. Valid when
// zero-filled; end every use with gcarveDone.
struct BlockCarver {
  size_t chunkSize;  // bytes per chunk; 0 for the default (1 MiB)
  char* chunk;       // the chunk being cut; null before the first block
  char* next;        // its first free byte
  char* end;         // its end
  long cut;          // blocks cut from it so far
};
// A block of `size` bytes cut from the carver's chunk, from a new chunk when it is used up;
// sizes above a quarter of a chunk get a block of their own. Null when memory failed
// ("gmalloc" reported). Only getting a chunk (or an own block) counts as an allocation for
// gfailAllocationAfter.
void* gcarve(BlockCarver* carver, size_t size) noexcept;
// Ends the carver's hold on its current chunk; blocks already cut stay valid. The carver is
// then as new (its chunkSize kept).
void gcarveDone(BlockCarver* carver) noexcept;
