#include "app/configFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

namespace {

bool isFolder(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// Creates `folder` (an absolute path, changed in place while it works) and any missing parent,
// with the permissions the umask leaves. True when it is a folder afterwards.
bool makeFolders(char* folder) {
  for (char* slash = std::strchr(folder + 1, '/'); slash; slash = std::strchr(slash + 1, '/')) {
    *slash = '\0';
    mkdir(folder, 0777);
    *slash = '/';
  }
  mkdir(folder, 0777);
  return isFolder(folder);
}

}  // namespace

bool useConfigFolderWhenProgramFolderIsReadOnly(ConfigFolderUse use) noexcept {
  if (folderIsWritableByUser(programPath(nullptr))) return false;
  char folder[PATH_MAX];
  if (!userConfigFolder(folder, sizeof folder)) return false;
  bool present =
      isFolder(folder) || (use == ConfigFolderUse::createIfMissing && makeFolders(folder));
  if (present) setProgramDirectoryTo(folder);
  return present;
}
