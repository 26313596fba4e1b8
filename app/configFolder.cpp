#include "app/configFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "app/programPath.h"

bool folderIsWritableByUser(const char* folder) noexcept {
  return folder && *folder && access(folder, W_OK | X_OK) == 0;
}

bool userConfigFolder(char* out, unsigned long size) noexcept {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  int written = -1;
  if (xdg && xdg[0] == '/') {
    written = std::snprintf(out, size, "%s/morvane", xdg);
  } else if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
    written = std::snprintf(out, size, "%s/.config/morvane", home);
  }
  return written > 0 && static_cast<unsigned long>(written) < size;
}

void useConfigFolderWhenProgramFolderIsReadOnly() noexcept {
  if (folderIsWritableByUser(programPath(nullptr))) return;
  char folder[PATH_MAX];
  struct stat info;
  if (userConfigFolder(folder, sizeof folder) && stat(folder, &info) == 0 && S_ISDIR(info.st_mode))
    setProgramDirectoryTo(folder);
}
