#pragma once
// Where the notes file "readme.txt" is read from. It sits beside the program (programPath) unless
// the front end found it elsewhere: an installed program keeps its notes in the shared data
// folder while the files it writes live in the user's configuration folder.

// Reads the notes from `path` (copied whole); null or "" returns to the file beside the program.
// Returns 1, or 0 when the path is too long to be opened (the setting is then unchanged).
int setNotesPath(const char* path) noexcept;
// The path set with setNotesPath, else programPath("readme.txt") (valid as programPath says).
const char* notesPath() noexcept;
