#pragma once
// The user's configuration folder for Morvane: where the remembered files live when the
// program's own folder cannot be written (an installed copy). The one place that decides it,
// for the dialog and the batch tool alike, so the batch tool reads the "param.txt" the dialog
// wrote.

// Whether this user can create files in `folder`.
bool folderIsWritableByUser(const char* folder) noexcept;

// Writes "$XDG_CONFIG_HOME/morvane" (when that variable is an absolute path) or
// "$HOME/.config/morvane" into `out` (`size` bytes). Returns false when neither variable is
// usable or the path does not fit; nothing is created.
bool userConfigFolder(char* out, unsigned long size) noexcept;

// Whether a missing configuration folder is created.
enum class ConfigFolderUse {
  ifPresent,        // the batch tool: only a folder that is already there
  createIfMissing,  // the dialog: created (with its parents) when missing
};

// Points programPath at the user's configuration folder when the program's own folder cannot
// be written and that folder exists (or, as `use` says, could be created); otherwise leaves it
// beside the program, where files that cannot be written are then passed over. Call after
// setProgramDirectory(). Returns true when the configuration folder is used.
bool useConfigFolderWhenProgramFolderIsReadOnly(
    ConfigFolderUse use = ConfigFolderUse::ifPresent) noexcept;
