// Two threads take turns at the chunks: this one the even ones, a helper the odd ones, each
// into a ring of buffers; this one writes every chunk out in order.
#include "textfiles/orderedChunks.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "textfiles/allocator.h"
#include "textfiles/fileBytes.h"

namespace {

constexpr int32_t kRing = 4;  // chunk buffers; chunk i uses buffer i % kRing

// A buffer of the ring: which chunk it holds, or -1 when it is free to be filled.
struct RingSlot {
  ByteSink text;
  int32_t holds;  // chunk index whose text is complete here; -1 free
  bool failed;    // that chunk was abandoned or memory failed
};

struct Ring {
  RingSlot slots[kRing];
  std::mutex lock;
  std::condition_variable changed;
  bool stop = false;  // the writer gave up: the helper ends
};

// Formats chunk `index` into its slot's buffer.
bool formatInto(RingSlot* slot, int32_t index, ChunkFormatter format, const void* context) {
  slot->text.used = 0;
  return format(&slot->text, index, context) && !slot->text.failed;
}

// The helper: every odd chunk, each once its slot is free.
void formatOddChunks(Ring* ring, int32_t count, ChunkFormatter format, const void* context) {
  for (int32_t index = 1; index < count; index += 2) {
    RingSlot* slot = &ring->slots[index % kRing];
    {
      std::unique_lock<std::mutex> hold(ring->lock);
      ring->changed.wait(hold, [&] { return ring->stop || slot->holds < 0; });
      if (ring->stop) return;
    }
    const bool ok = formatInto(slot, index, format, context);
    std::lock_guard<std::mutex> hold(ring->lock);
    slot->failed = !ok;
    slot->holds = index;
    ring->changed.notify_all();
    if (!ok) return;
  }
}

// Waits for the helper's chunk `index`, writes it out and frees its slot.
bool writeHelperChunk(Ring* ring, ByteSink* sink, int32_t index) {
  RingSlot* slot = &ring->slots[index % kRing];
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

// Formats even chunk `index` into its slot (even slots are this thread's alone) and writes it.
bool writeOwnChunk(Ring* ring, ByteSink* sink, int32_t index, ChunkFormatter format,
                   const void* context) {
  RingSlot* slot = &ring->slots[index % kRing];
  return formatInto(slot, index, format, context) &&
         sinkWrite(sink, slot->text.data, slot->text.used);
}

bool writeAlone(ByteSink* sink, int32_t count, ChunkFormatter format, const void* context) {
  for (int32_t index = 0; index < count; ++index)
    if (!format(sink, index, context)) return false;
  return !sink->failed;
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
  std::thread helper;
  try {
    helper = std::thread(formatOddChunks, ring, count, format, context);
  } catch (...) {  // no thread to be had: one thread does it all
    delete ring;
    return writeAlone(sink, count, format, context);
  }
  bool ok = true;
  for (int32_t index = 0; ok && index < count; ++index) {
    ok = index % 2 == 0 ? writeOwnChunk(ring, sink, index, format, context)
                        : writeHelperChunk(ring, sink, index);
  }
  {
    std::lock_guard<std::mutex> hold(ring->lock);
    ring->stop = true;
    ring->changed.notify_all();
  }
  helper.join();
  for (RingSlot& slot : ring->slots)
    gfree(slot.text.data);
  delete ring;
  return ok;
}
