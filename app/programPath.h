#pragma once
// Where the program's remembered files live: "param.txt", "reflist.txt", "tergetlist.txt",
// "readme.txt" and "perr.txt" all sit in the program directory.

// Sets the program directory from the running executable (/proc/self/exe), cut after its last
// '/'. Called once at start by each front end.
void setProgramDirectory() noexcept;
// Sets the program directory to `directory` (a trailing '/' is added when missing). Used by the
// dialog when the program's own folder cannot be written, and by tests.
void setProgramDirectoryTo(const char* directory) noexcept;
// The program directory, ending with '/'; empty before it is set.
const char* programDirectory() noexcept;

// The program directory joined with `name`; with a null `name`, the directory without its
// trailing '/'. The text lives in a ring of ten buffers: valid until ten further calls.
const char* programPath(const char* name) noexcept;
