#pragma once
// The user's configuration folder for Morvane: where the remembered files live when the
// program's own folder cannot be written (an installed copy). The dialog and the batch tool
// agree on it, so the batch tool reads the "param.txt" the dialog wrote.

// Whether this user can create files in `folder`.
bool folderIsWritableByUser(const char* folder) noexcept;

// Writes "$XDG_CONFIG_HOME/morvane" (when that variable is an absolute path) or
// "$HOME/.config/morvane" into `out` (`size` bytes). Returns false when neither variable is
// usable or the path does not fit; nothing is created.
bool userConfigFolder(char* out, unsigned long size) noexcept;

// Points programPath at the user's configuration folder when the program's own folder cannot
// be written and that folder exists; otherwise leaves it beside the program. Call after
// setProgramDirectory().
void useConfigFolderWhenProgramFolderIsReadOnly() noexcept;
