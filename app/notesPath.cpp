#include "app/notesPath.h"

#include <climits>
#include <cstring>

#include "app/programPath.h"

namespace {

char notes[PATH_MAX + 1];  // empty: beside the program

}  // namespace

int setNotesPath(const char* path) noexcept {
  if (!path || path[0] == '\0') {
    notes[0] = '\0';
    return 1;
  }
  size_t n = std::strlen(path);
  if (n >= sizeof notes) return 0;
  std::memcpy(notes, path, n + 1);
  return 1;
}

const char* notesPath() noexcept {
  return notes[0] ? notes : programPath("readme.txt");
}
