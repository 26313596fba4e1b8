#pragma once
// Whole files as bytes: a regular file read into one block, and a file replaced whole or not at
// all by what a writer puts into a buffered byte sink.
#include <cstddef>

// Reads the regular file `path` whole into a new block from the allocator: `*bytes` (owned by
// the caller, gfree) holds `*size` bytes and a NUL after them. Returns kLoadRead;
// kLoadNotOpened when `path` is no readable regular file (a folder, FIFO or device is refused
// without being read and never blocks), `*bytes` null; kLoadNoMemory when memory failed
// (reported), `*bytes` null. The file is read to its end, whatever length it had when opened.
int loadFileBytes(const char* path, char** bytes, size_t* size) noexcept;

// Gives the memory of the whole pages inside block[from, to) back to the system while the
// block stays allocated: for a file's bytes that have been read and are no longer needed. Those
// bytes read as zeros afterwards.
void dropReadPages(char* block, size_t from, size_t to) noexcept;

// Buffered output: to the file `fd`, or, when `fd` is negative, into the growing block `data`
// (owned by the sink's user, gfree). Valid when zero-filled apart from `fd`.
struct ByteSink {
  int fd;           // file written to; negative: memory only
  char* data;       // buffer (file) or the whole output (memory); from the allocator
  size_t used;      // bytes in `data` not yet written out
  size_t capacity;  // bytes `data` has room for
  int failed;       // not 0 once a write or an allocation failed; later writes do nothing
};

// Appends `size` bytes. False once the sink has failed.
bool sinkWrite(ByteSink* sink, const char* bytes, size_t size) noexcept;
// Appends a NUL-terminated text.
bool sinkText(ByteSink* sink, const char* text) noexcept;
// Appends a line: `text` then CR LF.
bool sinkLine(ByteSink* sink, const char* text) noexcept;
// Writes out what a file sink holds. False once the sink has failed.
bool sinkFlush(ByteSink* sink) noexcept;

// Fills a sink with a file's contents; false to abandon the file.
using FileWriter = bool (*)(ByteSink* sink, const void* context);

// Writes `path` whole or not at all: `write` fills a temporary file "<path>.XXXXXX" beside it,
// which is synced and renamed over the destination. Returns 1 when written, 0 otherwise
// (nothing at the destination changed, no temporary file left). An existing destination keeps
// its permission bits, a new one gets 0666 less the umask; a symbolic link is followed and
// stays. A destination that exists and is not a regular file is never replaced: 0.
int saveFileWith(const char* path, FileWriter write, const void* context) noexcept;
