#pragma once
// Output made in numbered chunks on two threads and written in order: the chunks are
// independent pieces of text (a run of faces each), formatted into buffers of their own while
// earlier ones are written out.
#include <cstdint>

struct ByteSink;

// Fills the memory sink `chunk` (fd negative, emptied before each call) with chunk `index`;
// false to abandon the output. Called on two threads at once, for different chunks.
using ChunkFormatter = bool (*)(ByteSink* chunk, int32_t index, const void* context);

// Writes chunks 0 .. count - 1 to `sink` in order, formatting them on this thread and one
// more (on this one alone when no thread can be started). The bytes are those of formatting
// every chunk straight into `sink` in order. Returns false when a chunk was abandoned, memory
// failed (reported) or the sink failed; nothing after that chunk is written then.
bool writeChunksInOrder(ByteSink* sink, int32_t count, ChunkFormatter format,
                        const void* context) noexcept;
