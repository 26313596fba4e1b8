#pragma once
// The line list: every text file of the system passes through it. An ordered list of owned,
// NUL-terminated lines together with the path of the file it came from or goes to. All blocks
// come from the allocator; a list is released with freeLineList.
#include <cstddef>
#include <cstdint>

struct LineList {
  char* path;        // owned; null when the list has no file
  char* spareText;   // owned; unused by the system, released with the list
  int32_t count;     // lines in use
  int32_t capacity;  // entries `items` has room for; a multiple of 128
  char** items;      // `capacity` entries; 0..count-1 are the lines. Null until the first line
};

// How a text is cut into lines.
enum class LineSplit {
  dropEmpty,  // settings, recent lists, notes: CR, LF, CR LF, LF CR are breaks; empty pieces
              // dropped
  keepEmpty,  // DXF: CR LF, LF CR, CR CR LF, lone CR, lone LF are one break each; empty pieces
              // kept, except one after the last break
};

// Result of loading a file.
enum LoadStatus : int {
  kLoadRead = 1,       // the file was read (it may have been empty)
  kLoadNotOpened = 0,  // missing, unreadable, or not a regular file: the list is empty
  kLoadNoMemory = -1,  // an allocation failed (reported); no list is returned (null)
};

// A new, empty list from gcalloc; null when it cannot be allocated.
LineList* newLineList() noexcept;
// Releases every line; `path`, `capacity` and the item array stay.
void clearLines(LineList* list) noexcept;
// Releases the path, spare text, every line, the item array and the record; null does nothing.
void freeLineList(LineList* list) noexcept;
// Appends a copy of `text`; returns its index, -1 for a null list, -4 when memory failed.
int appendLine(LineList* list, const char* text) noexcept;
// Inserts a copy of `text` at `index` (an index < 0 or >= count appends); returns the count
// before the call, -1 for a null list, -4 when memory failed.
int insertLine(LineList* list, const char* text, int index) noexcept;
// Drops empty lines, keeping the order of the others.
void compactLines(LineList* list) noexcept;
// Index of the first line equal to `text` byte for byte; -1 none, -2 null list, -3 null text.
int findLine(const LineList* list, const char* text) noexcept;
// Moves `text` to the front (inserting a copy when absent). 0 when it already is first;
// -1 null list, -3 null text, -2 empty text; otherwise insertLine's result.
int moveLineToFront(LineList* list, const char* text) noexcept;

// Loads a settings-style file (empty lines dropped). Never null unless memory fails; a file
// that cannot be opened gives an empty list whose path is set.
LineList* loadLineList(const char* path) noexcept;
// Loads `path` split as `split`, and says in `status` (when given) what happened. A path that
// is not a readable regular file (missing, a directory, a FIFO or device) is never read and
// never blocks: an empty list with its path set, kLoadNotOpened (as after a failed read).
// The file is read to its end whatever its size when opened. When memory fails: null,
// kLoadNoMemory, and nothing left allocated. A NUL byte ends the text of its line; in
// dropEmpty mode a line whose text is then empty is dropped.
LineList* loadLineListAs(const char* path, LineSplit split, int* status) noexcept;
// Splits `size` bytes of `text` (which need not be NUL-terminated) into a new list without
// path, as loadLineListAs does. Null when memory fails. The lines are cut from shared chunks
// (BlockCarver) but each is an ordinary block to gfree.
LineList* splitTextLines(const char* text, size_t size, LineSplit split) noexcept;

// Writes every non-empty line, each ending in CR LF, to the list's path: whole or not at all
// (a temporary file "<path>.XXXXXX" in the same folder, renamed over the destination; no
// fsync). Returns 1 when written, 0 otherwise (nothing at the destination changed, no
// temporary file left). An existing destination keeps its permission bits, a new one gets
// 0666 less the umask; a symbolic link is followed and stays. A destination that exists and is
// not a regular file (a folder, a FIFO, a device) is never replaced: 0.
int saveLineList(const LineList* list) noexcept;
// As saveLineList, under `path` (borrowed); the list's own path is unchanged afterwards.
int saveLineListAs(LineList* list, const char* path) noexcept;

// A new owned copy of `text` (gcalloc, length + 1 bytes); null when memory fails.
char* copyText(const char* text) noexcept;
// Replaces trailing blanks (32 only) by NUL, in place.
void trimTrailingBlanks(char* text) noexcept;
