#include "textfiles/allocator.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

void printFailure(const char* entryName) {
  std::fprintf(stderr, "Morvane Error: %s\n", entryName);
}

std::atomic<AllocationFailureHandler> failureHandler{printFailure};

std::atomic<long> failureCount{0};

void reportFailure(const char* entryName) noexcept {
  failureCount.fetch_add(1, std::memory_order_relaxed);
  failureHandler.load(std::memory_order_acquire)(entryName);
}

// Every own block carries its requested size in front of it, so that gcrealloc knows which
// part is new and must be zero-filled. The header keeps the payload aligned for any scalar
// type. Its second word, right in front of the payload, is 0 for an own block; a block cut by
// a BlockCarver has there instead one nonzero word, its carved word.
struct alignas(std::max_align_t) BlockHeader {
  size_t size;
  uint64_t carvedWord;  // 0: an own block
};
static_assert(sizeof(BlockHeader) == 16, "the tag word sits right in front of the payload");

// A carved block's word: its size in the high 32 bits, and in the low 32 bits its payload's
// distance from the start of its chunk in units of 8 bytes (never 0: the chunk starts with
// its header).
constexpr size_t kMostCarvedSize = 0xFFFFFFFFu;
constexpr size_t kMostChunkSize = size_t{1} << 30;
constexpr size_t kLeastChunkSize = 64;
constexpr size_t kDefaultChunkSize = size_t{1} << 20;

// The head of a chunk. `users` starts at kCarverHold while a carver cuts from the chunk, drops
// by one for each block released and by kCarverHold - cut when the carver lets go, so it
// reaches 0 exactly when the carver is done and every block cut is released.
struct alignas(std::max_align_t) ChunkHeader {
  std::atomic<long> users;
  size_t size;  // bytes of the chunk, header included
};
constexpr long kCarverHold = long{1} << 40;

std::atomic<long> liveBlocks{0};
std::atomic<long long> liveBytes{0};  // own blocks as requested, chunks whole
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

BlockHeader* headerOf(void* block) noexcept {
  return static_cast<BlockHeader*>(block) - 1;
}

void* payloadOf(BlockHeader* header) noexcept {
  return header + 1;
}

uint64_t carvedWordOf(const void* block) noexcept {
  uint64_t word;
  std::memcpy(&word, static_cast<const char*>(block) - sizeof word, sizeof word);
  return word;
}

ChunkHeader* chunkOf(void* block, uint64_t word) noexcept {
  return reinterpret_cast<ChunkHeader*>(static_cast<char*>(block) - (word & 0xFFFFFFFFu) * 8);
}

bool sizeFits(size_t size) noexcept {
  return size <= (~size_t{0} >> 2) - sizeof(BlockHeader);
}

// A new own block of `size` (at least 1) bytes, zero-filled when asked; reports `name` on
// failure.
void* newBlock(size_t size, bool zeroed, const char* name) noexcept {
  if (injectedFailure() || !sizeFits(size)) {
    reportFailure(name);
    return nullptr;
  }
  void* raw =
      zeroed ? std::calloc(1, sizeof(BlockHeader) + size) : std::malloc(sizeof(BlockHeader) + size);
  if (!raw) {
    reportFailure(name);
    return nullptr;
  }
  auto* header = static_cast<BlockHeader*>(raw);
  header->size = size;
  header->carvedWord = 0;
  liveBlocks.fetch_add(1, std::memory_order_relaxed);
  liveBytes.fetch_add(static_cast<long long>(size), std::memory_order_relaxed);
  return payloadOf(header);
}

// Drops `count` users of a chunk, releasing it with the last.
void dropChunkUsers(ChunkHeader* chunk, long count) noexcept {
  if (chunk->users.fetch_sub(count, std::memory_order_acq_rel) == count) {
    liveBytes.fetch_sub(static_cast<long long>(chunk->size), std::memory_order_relaxed);
    chunk->users.~atomic();
    std::free(chunk);
  }
}

size_t roundUp8(size_t n) noexcept {
  return (n + 7) & ~size_t{7};
}

}  // namespace

long gfailureCount() noexcept {
  return failureCount.load(std::memory_order_relaxed);
}

void greportFailure(const char* entryName) noexcept {
  reportFailure(entryName);
}

void setAllocationFailureHandler(AllocationFailureHandler handler) noexcept {
  failureHandler.store(handler ? handler : printFailure, std::memory_order_release);
}

void* gcalloc(size_t size) noexcept {
  return newBlock(size ? size : 1, true, "gcalloc");
}

void* gcrealloc(void* block, size_t size) noexcept {
  if (!block) {
    void* fresh = gcalloc(size);
    if (!fresh) reportFailure("gcrealloc");
    return fresh;
  }
  if (size == 0) size = 1;
  uint64_t word = carvedWordOf(block);
  if (word != 0) {
    // A carved block moves to an own block of the new size.
    void* fresh = newBlock(size, false, "gcrealloc");
    if (!fresh) return nullptr;
    size_t oldSize = static_cast<size_t>(word >> 32);
    size_t kept = oldSize < size ? oldSize : size;
    std::memcpy(fresh, block, kept);
    std::memset(static_cast<char*>(fresh) + kept, 0, size - kept);
    gfree(block);
    return fresh;
  }
  if (injectedFailure() || !sizeFits(size)) {
    reportFailure("gcrealloc");
    return nullptr;
  }
  size_t oldSize = headerOf(block)->size;
  auto* header =
      static_cast<BlockHeader*>(std::realloc(headerOf(block), sizeof(BlockHeader) + size));
  if (!header) {
    reportFailure("gcrealloc");
    return nullptr;
  }
  if (size > oldSize)
    std::memset(static_cast<char*>(payloadOf(header)) + oldSize, 0, size - oldSize);
  header->size = size;
  liveBytes.fetch_add(static_cast<long long>(size) - static_cast<long long>(oldSize),
                      std::memory_order_relaxed);
  return payloadOf(header);
}

void* gmalloc(size_t size) noexcept {
  return newBlock(size ? size : 1, false, "gmalloc");
}

void gfree(void* block) noexcept {
  if (!block) return;
  liveBlocks.fetch_sub(1, std::memory_order_relaxed);
  uint64_t word = carvedWordOf(block);
  if (word != 0) {
    dropChunkUsers(chunkOf(block, word), 1);
  } else {
    liveBytes.fetch_sub(static_cast<long long>(headerOf(block)->size), std::memory_order_relaxed);
    std::free(headerOf(block));
  }
}

size_t gblockSize(const void* block) noexcept {
  if (!block) return 0;
  uint64_t word = carvedWordOf(block);
  return word != 0 ? static_cast<size_t>(word >> 32) : headerOf(const_cast<void*>(block))->size;
}

long gliveBlocks() noexcept {
  return liveBlocks.load();
}

long long gliveBytes() noexcept {
  return liveBytes.load(std::memory_order_relaxed);
}

void gfailAllocationAfter(long n) noexcept {
  failCountdown.store(n > 0 ? n : 0);
}

long gallocationCount() noexcept {
  return allocationCount.load();
}

// Sanitizer builds give every carved block its own allocation, so that overruns between
// neighbouring lines are still caught.
#if defined(__SANITIZE_ADDRESS__)
#define MORVANE_OWN_BLOCKS_ONLY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MORVANE_OWN_BLOCKS_ONLY 1
#endif
#endif

void* gcarve(BlockCarver* carver, size_t size) noexcept {
  if (size == 0) size = 1;
  size_t chunkSize = carver->chunkSize ? carver->chunkSize : kDefaultChunkSize;
  if (chunkSize < kLeastChunkSize) chunkSize = kLeastChunkSize;
  if (chunkSize > kMostChunkSize) chunkSize = kMostChunkSize;
  size_t step = sizeof(uint64_t) + roundUp8(size);
#ifdef MORVANE_OWN_BLOCKS_ONLY
  bool own = true;
#else
  bool own = size > kMostCarvedSize || step > (chunkSize - sizeof(ChunkHeader)) / 4;
#endif
  if (own) return gmalloc(size);
  if (!carver->chunk || static_cast<size_t>(carver->end - carver->next) < step) {
    gcarveDone(carver);
    if (injectedFailure()) {
      reportFailure("gmalloc");
      return nullptr;
    }
    auto* chunk = static_cast<char*>(std::malloc(chunkSize));
    if (!chunk) {
      reportFailure("gmalloc");
      return nullptr;
    }
    new (chunk) ChunkHeader{};
    reinterpret_cast<ChunkHeader*>(chunk)->size = chunkSize;
    liveBytes.fetch_add(static_cast<long long>(chunkSize), std::memory_order_relaxed);
    reinterpret_cast<ChunkHeader*>(chunk)->users.store(kCarverHold, std::memory_order_relaxed);
    carver->chunk = chunk;
    carver->next = chunk + sizeof(ChunkHeader);
    carver->end = chunk + chunkSize;
    carver->cut = 0;
  }
  char* payload = carver->next + sizeof(uint64_t);
  uint64_t word =
      (static_cast<uint64_t>(size) << 32) | static_cast<uint64_t>((payload - carver->chunk) / 8);
  std::memcpy(carver->next, &word, sizeof word);
  carver->next += step;
  ++carver->cut;
  return payload;
}

void gcarveDone(BlockCarver* carver) noexcept {
  if (carver->chunk) {
    // Blocks cut are counted as live from here; any already released were subtracted.
    liveBlocks.fetch_add(carver->cut, std::memory_order_relaxed);
    dropChunkUsers(reinterpret_cast<ChunkHeader*>(carver->chunk), kCarverHold - carver->cut);
  }
  size_t chunkSize = carver->chunkSize;
  *carver = BlockCarver{};
  carver->chunkSize = chunkSize;
}
