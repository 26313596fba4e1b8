// Whole files as bytes: reading one into a block, replacing one through a byte sink.
#include "textfiles/fileBytes.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "textfiles/allocator.h"
#include "textfiles/lineFilesInternal.h"
#include "textfiles/lineList.h"

void (*beforeOpeningCheckedFile)(const char* path);

namespace {

constexpr size_t kSinkBuffer = size_t{1} << 20;    // a file sink writes in blocks of this size
constexpr size_t kDirectWrite = size_t{64} << 10;  // a file sink writes pieces this large directly

// Result of reading a whole file.
enum class ReadResult { read, notRead, noMemory };

// Reads the regular file `path` whole into a new block from the allocator (`*bytes`, `*size`).
// Anything but a regular file is refused without reading, and the open never waits (a FIFO
// without writer, a device). The file is read until its end, whatever length it had when it
// was opened, so a file that grows or shrinks meanwhile is read as it then is.
ReadResult readWholeFile(const char* path, char** bytes, size_t* size) {
  *bytes = nullptr;
  *size = 0;
  struct stat info;
  if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return ReadResult::notRead;
  if (beforeOpeningCheckedFile) beforeOpeningCheckedFile(path);
  int fd;
  do {
    fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return ReadResult::notRead;
  // The path may have been replaced between stat and open: check what was opened.
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return ReadResult::notRead;
  }
  // Room for the whole file and one byte more, so that the read which finds the end of an
  // unchanged file needs no growth.
  size_t room = static_cast<size_t>(info.st_size) + 1;
  char* buffer = static_cast<char*>(gmalloc(room));
  if (!buffer) {
    close(fd);
    return ReadResult::noMemory;
  }
  size_t filled = 0;
  for (;;) {
    if (filled == room) {
      size_t grown = room + room / 2 + 65536;
      auto* larger = static_cast<char*>(gcrealloc(buffer, grown));
      if (!larger) {
        gfree(buffer);
        close(fd);
        return ReadResult::noMemory;
      }
      buffer = larger;
      room = grown;
    }
    size_t want = room - filled;
    if (want > (size_t{1} << 30)) want = size_t{1} << 30;
    ssize_t got = read(fd, buffer + filled, want);
    if (got > 0) {
      filled += static_cast<size_t>(got);
    } else if (got == 0) {
      break;
    } else if (errno != EINTR) {
      gfree(buffer);
      close(fd);
      return ReadResult::notRead;
    }
  }
  close(fd);
  // A NUL after the bytes, so that the last line of a text ends like every other.
  if (filled == room) {
    auto* larger = static_cast<char*>(gcrealloc(buffer, room + 1));
    if (!larger) {
      gfree(buffer);
      return ReadResult::noMemory;
    }
    buffer = larger;
  }
  buffer[filled] = '\0';
  *bytes = buffer;
  *size = filled;
  return ReadResult::read;
}

// Writes all `size` bytes, retrying short writes and interruptions.
bool writeAll(int fd, const char* bytes, size_t size) {
  while (size > 0) {
    ssize_t done = write(fd, bytes, size);
    if (done < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (done == 0) return false;
    bytes += done;
    size -= static_cast<size_t>(done);
  }
  return true;
}

// Creates a new file "<destination>.XXXXXX" beside the destination with a fresh random suffix,
// for writing; its name goes to `name` (room for the destination's length + 8). The mode 0666
// lets the process's umask decide a new file's permissions.
int createTemporary(const char* destination, char* name) {
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  size_t n = std::strlen(destination);
  std::memcpy(name, destination, n);
  name[n] = '.';
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  static std::atomic<uint64_t> counter{0};
  uint64_t seed = static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(now.tv_sec) << 20) ^
                  (static_cast<uint64_t>(getpid()) << 40) ^ reinterpret_cast<uintptr_t>(name);
  for (int attempt = 0; attempt < 100; ++attempt) {
    uint64_t state = seed + 0x9E3779B97F4A7C15ull * (counter.fetch_add(1) + 1);
    for (int k = 0; k < 6; ++k) {
      state ^= state >> 29;
      state *= 0xBF58476D1CE4E5B9ull;
      state ^= state >> 32;
      name[n + 1 + k] = kDigits[state % 62];
    }
    name[n + 7] = '\0';
    int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// The sink's buffer, allocated at the first write.
bool sinkRoom(ByteSink* sink, size_t size) {
  if (sink->failed) return false;
  if (sink->fd >= 0) {
    if (!sink->data) {
      sink->data = static_cast<char*>(gmalloc(kSinkBuffer));
      if (!sink->data) return sink->failed = 1, false;
      sink->capacity = kSinkBuffer;
    }
    return true;
  }
  if (sink->used + size <= sink->capacity) return true;
  size_t grown = sink->capacity + sink->capacity / 2 + 65536;
  if (grown < sink->used + size) grown = sink->used + size;
  auto* larger = static_cast<char*>(gcrealloc(sink->data, grown));
  if (!larger) return sink->failed = 1, false;
  sink->data = larger;
  sink->capacity = grown;
  return true;
}

}  // namespace

int loadFileBytes(const char* path, char** bytes, size_t* size) noexcept {
  *bytes = nullptr;
  *size = 0;
  if (!path) return kLoadNotOpened;
  switch (readWholeFile(path, bytes, size)) {
    case ReadResult::read:
      return kLoadRead;
    case ReadResult::notRead:
      return kLoadNotOpened;
    default:
      return kLoadNoMemory;
  }
}

void dropReadPages(char* block, size_t from, size_t to) noexcept {
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  uintptr_t first = (reinterpret_cast<uintptr_t>(block + from) + page - 1) / page * page;
  uintptr_t last = reinterpret_cast<uintptr_t>(block + to) / page * page;
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

bool sinkFlush(ByteSink* sink) noexcept {
  if (sink->failed) return false;
  if (sink->fd < 0 || sink->used == 0) return true;
  if (!writeAll(sink->fd, sink->data, sink->used)) return sink->failed = 1, false;
  sink->used = 0;
  return true;
}

bool sinkWrite(ByteSink* sink, const char* bytes, size_t size) noexcept {
  if (!sinkRoom(sink, size)) return false;
  if (sink->fd >= 0 && size >= kDirectWrite) {  // large pieces go out without a copy
    if (!sinkFlush(sink)) return false;
    if (!writeAll(sink->fd, bytes, size)) return sink->failed = 1, false;
    return true;
  }
  while (sink->used + size > sink->capacity) {  // a file sink: fill, write out, go on
    size_t part = sink->capacity - sink->used;
    std::memcpy(sink->data + sink->used, bytes, part);
    sink->used += part;
    bytes += part;
    size -= part;
    if (!sinkFlush(sink)) return false;
  }
  std::memcpy(sink->data + sink->used, bytes, size);
  sink->used += size;
  return true;
}

bool sinkText(ByteSink* sink, const char* text) noexcept {
  return sinkWrite(sink, text, std::strlen(text));
}

bool sinkLine(ByteSink* sink, const char* text) noexcept {
  return sinkText(sink, text) && sinkWrite(sink, "\r\n", 2);
}

int saveFileWith(const char* path, FileWriter write, const void* context) noexcept {
  if (!path || path[0] == '\0') return 0;
  // Writing through a symbolic link replaces the file it points to, and keeps the link.
  char* resolved = realpath(path, nullptr);
  const char* destination = resolved ? resolved : path;
  int written = 0;
  // Only a regular file is ever replaced: renaming over a FIFO or a device node (as root,
  // /dev/null itself) would destroy it.
  struct stat existing;
  if (stat(destination, &existing) == 0 && !S_ISREG(existing.st_mode)) {
    std::free(resolved);
    return 0;
  }
  auto* temporary = static_cast<char*>(gmalloc(std::strlen(destination) + 8));
  if (temporary) {
    int fd = createTemporary(destination, temporary);
    if (fd >= 0) {
      // An existing file keeps its permission bits.
      struct stat info;
      if (stat(destination, &info) == 0 && S_ISREG(info.st_mode)) fchmod(fd, info.st_mode & 07777);
      ByteSink sink{};
      sink.fd = fd;
      bool ok = write(&sink, context) && sinkFlush(&sink);
      gfree(sink.data);
      // The data reaches the disk before the rename makes it the file: after a crash the
      // destination is the old file or the new one, never an empty one.
      ok = ok && fsync(fd) == 0;
      ok = (close(fd) == 0) && ok;
      ok = ok && rename(temporary, destination) == 0;
      if (!ok) unlink(temporary);
      written = ok ? 1 : 0;
    }
    gfree(temporary);
  }
  std::free(resolved);
  return written;
}
