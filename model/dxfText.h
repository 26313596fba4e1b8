#pragma once
// The lines and groups of a DXF file read straight from its bytes, in the buffer that holds
// them: no line is copied. Lines are cut as the line list cuts a DXF file (CR LF, LF CR,
// CR CR LF, a lone CR or LF are one break each; empty lines count; an empty piece after the
// last break is no line), and a NUL ends the text of its line.
#include <cstddef>
#include <cstdint>

// A line's text inside the buffer: `length` bytes from `text`, up to its break or a NUL.
// The byte after the text (text[length]) belongs to the buffer and may be written.
struct DxfLine {
  char* text;
  size_t length;
};

// Walks a buffer of `size` bytes followed by one more writable byte (a NUL).
struct DxfCursor {
  char* bytes;
  size_t size;
  size_t next;  // offset of the next line's first byte
};

// The next line; false when the bytes are used up.
bool nextDxfLine(DxfCursor* cursor, DxfLine* line) noexcept;

// One group: a group-code line and its value line.
struct DxfGroup {
  int32_t code;  // as readGroupCode reads the code line
  DxfLine value;
  size_t start;  // offset of the code line
};
// The next group; false when the lines run out (a code line without its value is no group).
bool nextDxfGroup(DxfCursor* cursor, DxfGroup* group) noexcept;

// The line without its leading white space.
DxfLine skipLeadingBlanks(DxfLine line) noexcept;
// Whether the line is `name` once surrounding white space is removed.
bool lineIsName(DxfLine line, const char* name) noexcept;
// Whether the line begins, after leading white space, with `prefix`.
bool lineStartsWith(DxfLine line, const char* prefix) noexcept;
// The coordinate the line starts with (readCoordinate's rules).
double lineCoordinate(DxfLine line) noexcept;
// The integer the line starts with (readGroupCode's rules).
int32_t lineInteger(DxfLine line) noexcept;

// Holds a line's text NUL-terminated in place while it lives, then puts the byte back.
class TerminatedLine {
 public:
  explicit TerminatedLine(DxfLine line) noexcept : end_(line.text + line.length), saved_(*end_) {
    *end_ = '\0';
  }
  ~TerminatedLine() { *end_ = saved_; }
  TerminatedLine(const TerminatedLine&) = delete;
  TerminatedLine& operator=(const TerminatedLine&) = delete;

 private:
  char* end_;
  char saved_;
};
