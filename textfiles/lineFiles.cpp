// Line lists and files: splitting a text into lines, loading a file into a list, saving a list
// whole or not at all.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "textfiles/allocator.h"
#include "textfiles/lineFilesInternal.h"
#include "textfiles/lineList.h"

void (*beforeOpeningCheckedFile)(const char* path);

namespace {

constexpr int32_t kCapacityStep = 128;
constexpr size_t kMostLines = INT32_MAX - kCapacityStep + 1;  // keeps capacity a valid int32
constexpr size_t kChunkSize = size_t{1} << 20;                // chunk for carved lines

// Calls `onPiece(start, length)` for every line of `text` in order, as `split` cuts it, where
// `length` is the line's text: its bytes up to the break or up to a NUL before it. Returns
// false as soon as `onPiece` does.
//   dropEmpty: every CR and every LF is a break, except that the second byte of CR LF or
//     LF CR belongs to the first; lines whose text is empty are not passed on.
//   keepEmpty: CR LF, LF CR and CR CR LF are one break each, any other CR or LF is one;
//     every line is passed on, empty ones included, except an empty piece after the last break.
template <typename OnPiece>
bool forEachPiece(const char* text, size_t size, LineSplit split, OnPiece&& onPiece) {
  const bool keepEmpty = split == LineSplit::keepEmpty;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  size_t start = 0;
  size_t nul = SIZE_MAX;  // first NUL of the current piece
  size_t i = 0;
  while (i < size) {
    unsigned char c = bytes[i];
    if (c > '\r' || (c != '\r' && c != '\n' && c != '\0')) {
      ++i;
      continue;
    }
    if (c == '\0') {
      if (nul == SIZE_MAX) nul = i;
      ++i;
      continue;
    }
    size_t length = (nul == SIZE_MAX ? i : nul) - start;
    size_t next = i + 1;
    if (next < size) {
      unsigned char d = bytes[next];
      if ((c == '\r' && d == '\n') || (c == '\n' && d == '\r')) {
        ++next;
      } else if (keepEmpty && c == '\r' && d == '\r' && next + 1 < size &&
                 bytes[next + 1] == '\n') {
        next += 2;
      }
    }
    if ((keepEmpty || length > 0) && !onPiece(text + start, length)) return false;
    start = i = next;
    nul = SIZE_MAX;
  }
  if (size > start) {
    size_t length = (nul == SIZE_MAX ? size : nul) - start;
    if ((keepEmpty || length > 0) && !onPiece(text + start, length)) return false;
  }
  return true;
}

// Releases every line and the item array of `list`, keeping the record and its path.
void dropLines(LineList* list) {
  clearLines(list);
  gfree(list->items);
  list->items = nullptr;
  list->capacity = 0;
}

// Bytes a carved line of `length` characters takes in its chunk.
size_t carvedBytes(size_t length) {
  return 8 + ((length + 1 + 7) & ~size_t{7});
}

// Fills the empty `list` with the lines of `text`. A first pass counts the lines and their
// bytes, so the item array is allocated once, and the lines are cut from a few large chunks
// (BlockCarver) rather than allocated one by one. False when memory failed (reported); the
// list is then empty again.
bool splitInto(LineList* list, const char* text, size_t size, LineSplit split) {
  size_t lines = 0;
  size_t bytes = 64;
  forEachPiece(text, size, split, [&](const char* piece, size_t length) {
    (void)piece;
    ++lines;
    bytes += carvedBytes(length);
    return true;
  });
  if (lines == 0) return true;
  if (lines > kMostLines) {
    gfree(gcalloc(~size_t{0}));  // more lines than a list can index: fails and reports
    return false;
  }
  size_t capacity = (lines + kCapacityStep - 1) / kCapacityStep * kCapacityStep;
  dropLines(list);
  list->items = static_cast<char**>(gcalloc(capacity * sizeof(char*)));
  if (!list->items) return false;
  list->capacity = static_cast<int32_t>(capacity);
  BlockCarver carver{};
  carver.chunkSize = bytes < kChunkSize ? bytes : kChunkSize;
  bool stored = forEachPiece(text, size, split, [&](const char* piece, size_t length) {
    auto* line = static_cast<char*>(gcarve(&carver, length + 1));
    if (!line) return false;
    std::memcpy(line, piece, length);
    line[length] = '\0';
    list->items[list->count++] = line;
    return true;
  });
  gcarveDone(&carver);
  if (!stored) dropLines(list);
  return stored;
}

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

// Writes the non-empty lines of `list`, each followed by CR LF, through a local buffer.
bool writeLines(int fd, const LineList* list) {
  constexpr size_t kBufferSize = 65536;
  char buffer[kBufferSize];
  size_t used = 0;
  for (int32_t i = 0; i < list->count; ++i) {
    const char* line = list->items[i];
    if (!line || line[0] == '\0') continue;
    size_t length = std::strlen(line);
    if (used + length + 2 > kBufferSize) {
      if (!writeAll(fd, buffer, used)) return false;
      used = 0;
    }
    if (length + 2 > kBufferSize) {
      if (!writeAll(fd, line, length) || !writeAll(fd, "\r\n", 2)) return false;
      continue;
    }
    std::memcpy(buffer + used, line, length);
    buffer[used + length] = '\r';
    buffer[used + length + 1] = '\n';
    used += length + 2;
  }
  return writeAll(fd, buffer, used);
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

}  // namespace

LineList* splitTextLines(const char* text, size_t size, LineSplit split) noexcept {
  LineList* list = newLineList();
  if (!list) return nullptr;
  if (size > 0 && text && !splitInto(list, text, size, split)) {
    freeLineList(list);
    return nullptr;
  }
  return list;
}

LineList* loadLineListAs(const char* path, LineSplit split, int* status) noexcept {
  int ignored;
  if (!status) status = &ignored;
  *status = kLoadNoMemory;
  LineList* list = newLineList();
  if (!list) return nullptr;
  if (path) {
    list->path = copyText(path);
    if (!list->path) {
      freeLineList(list);
      return nullptr;
    }
  }
  char* bytes = nullptr;
  size_t size = 0;
  ReadResult result = path ? readWholeFile(path, &bytes, &size) : ReadResult::notRead;
  if (result == ReadResult::notRead) {
    *status = kLoadNotOpened;
    return list;
  }
  bool splitDone = result == ReadResult::read && splitInto(list, bytes, size, split);
  gfree(bytes);
  if (!splitDone) {
    freeLineList(list);
    return nullptr;
  }
  *status = kLoadRead;
  return list;
}

LineList* loadLineList(const char* path) noexcept {
  return loadLineListAs(path, LineSplit::dropEmpty, nullptr);
}

int saveLineList(const LineList* list) noexcept {
  if (!list || !list->path || list->path[0] == '\0') return 0;
  // Writing through a symbolic link replaces the file it points to, and keeps the link.
  char* resolved = realpath(list->path, nullptr);
  const char* destination = resolved ? resolved : list->path;
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
      // The data reaches the disk before the rename makes it the file: after a crash the
      // destination is the old file or the new one, never an empty one.
      bool ok = writeLines(fd, list) && fsync(fd) == 0;
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

int saveLineListAs(LineList* list, const char* path) noexcept {
  if (!list) return 0;
  char* ownPath = list->path;
  char* spare = list->spareText;
  list->path = const_cast<char*>(path);
  list->spareText = nullptr;
  int written = saveLineList(list);
  list->path = ownPath;
  list->spareText = spare;
  return written;
}
