#include "app/programPath.h"

#include <unistd.h>

#include <climits>
#include <cstring>

namespace {

constexpr size_t kPathSize = PATH_MAX + 1;
constexpr int kRingSize = 10;

char directory[kPathSize];
char ring[kRingSize][kPathSize];
int ringIndex = 0;

// Copies `text` into `out` of `size` bytes, cutting it when it does not fit.
void copyCut(char* out, size_t size, const char* text) {
  size_t n = strnlen(text, size - 1);
  std::memcpy(out, text, n);
  out[n] = '\0';
}

}  // namespace

void setProgramDirectory() noexcept {
  char exe[kPathSize];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) {
    directory[0] = '\0';
    return;
  }
  exe[n] = '\0';
  char* slash = std::strrchr(exe, '/');
  if (slash) slash[1] = '\0';
  copyCut(directory, sizeof directory, exe);
}

void setProgramDirectoryTo(const char* dir) noexcept {
  copyCut(directory, sizeof directory - 1, dir ? dir : "");
  size_t n = std::strlen(directory);
  if (n > 0 && directory[n - 1] != '/') {
    directory[n] = '/';
    directory[n + 1] = '\0';
  }
}

const char* programDirectory() noexcept {
  return directory;
}

const char* programPath(const char* name) noexcept {
  ringIndex = (ringIndex + 1) % kRingSize;
  char* out = ring[ringIndex];
  copyCut(out, kPathSize, directory);
  size_t n = std::strlen(out);
  if (name) {
    copyCut(out + n, kPathSize - n, name);
  } else if (n > 0) {
    out[n - 1] = '\0';
  }
  return out;
}
