// Two threads share the chunks: a helper formats three of every five into a ring of buffers,
// this thread the other two into a buffer of its own, and writes every chunk out in order (the
// writing is this thread's extra share).
#include "textfiles/orderedChunks.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "textfiles/allocator.h"
#include "textfiles/fileBytes.h"

namespace {

constexpr int32_t kRing = 4;  // the helper's buffers; its n-th chunk uses buffer n % kRing

// Whether the helper formats chunk `index`: three of every five.
bool helperTakes(int32_t index) {
  const int32_t place = index % 5;
  return place != 0 && place != 3;
}

// A buffer of the ring: which chunk it holds, or -1 when it is free to be filled.
struct RingSlot {
  ByteSink text;
  int32_t holds;  // chunk index whose text is complete here; -1 free
  bool failed;    // that chunk was abandoned or memory failed
};

struct Ring {
  RingSlot slots[kRing];
  ByteSink own;  // this thread's buffer
  std::mutex lock;
  std::condition_variable changed;
  bool stop = false;  // the writer gave up: the helper ends
};

// Formats chunk `index` into a memory sink, emptied first.
bool formatInto(ByteSink* text, int32_t index, ChunkFormatter format, const void* context) {
  text->used = 0;
  return format(text, index, context) && !text->failed;
}

// The helper: its chunks in order, each once its buffer is free.
void formatHelperChunks(Ring* ring, int32_t count, ChunkFormatter format, const void* context) {
  int32_t taken = 0;
  for (int32_t index = 0; index < count; ++index) {
    if (!helperTakes(index)) continue;
    RingSlot* slot = &ring->slots[taken++ % kRing];
    {
      std::unique_lock<std::mutex> hold(ring->lock);
      ring->changed.wait(hold, [&] { return ring->stop || slot->holds < 0; });
      if (ring->stop) return;
    }
    const bool ok = formatInto(&slot->text, index, format, context);
    std::lock_guard<std::mutex> hold(ring->lock);
    slot->failed = !ok;
    slot->holds = index;
    ring->changed.notify_all();
    if (!ok) return;
  }
}

// Waits for the helper's chunk `index` in `slot`, writes it out and frees the slot.
bool writeHelperChunk(Ring* ring, RingSlot* slot, ByteSink* sink, int32_t index) {
  {
    std::unique_lock<std::mutex> hold(ring->lock);
    ring->changed.wait(hold, [&] { return slot->holds == index; });
  }
  const bool ok = !slot->failed && sinkWrite(sink, slot->text.data, slot->text.used);
  std::lock_guard<std::mutex> hold(ring->lock);
  slot->holds = -1;
  ring->changed.notify_all();
  return ok;
}

bool writeAlone(ByteSink* sink, int32_t count, ChunkFormatter format, const void* context) {
  for (int32_t index = 0; index < count; ++index)
    if (!format(sink, index, context)) return false;
  return !sink->failed;
}

// Writes every chunk in order with the helper running; false at the first failure.
bool writeWithHelper(Ring* ring, ByteSink* sink, int32_t count, ChunkFormatter format,
                     const void* context) {
  int32_t helperChunks = 0;
  for (int32_t index = 0; index < count; ++index) {
    bool ok;
    if (helperTakes(index)) {
      ok = writeHelperChunk(ring, &ring->slots[helperChunks++ % kRing], sink, index);
    } else {
      ok = formatInto(&ring->own, index, format, context) &&
           sinkWrite(sink, ring->own.data, ring->own.used);
    }
    if (!ok) return false;
  }
  return true;
}

}  // namespace

bool writeChunksInOrder(ByteSink* sink, int32_t count, ChunkFormatter format,
                        const void* context) noexcept {
  if (count < 2) return writeAlone(sink, count, format, context);
  Ring* ring = new (std::nothrow) Ring;
  if (!ring) return writeAlone(sink, count, format, context);
  for (RingSlot& slot : ring->slots) {
    slot = RingSlot{};
    slot.text.fd = -1;
    slot.holds = -1;
  }
  ring->own = ByteSink{};
  ring->own.fd = -1;
  std::thread helper;
  try {
    helper = std::thread(formatHelperChunks, ring, count, format, context);
  } catch (...) {  // no thread to be had: one thread does it all
    delete ring;
    return writeAlone(sink, count, format, context);
  }
  const bool ok = writeWithHelper(ring, sink, count, format, context);
  {
    std::lock_guard<std::mutex> hold(ring->lock);
    ring->stop = true;
    ring->changed.notify_all();
  }
  helper.join();
  for (RingSlot& slot : ring->slots)
    gfree(slot.text.data);
  gfree(ring->own.data);
  delete ring;
  return ok;
}
