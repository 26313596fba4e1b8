#pragma once
// The DXF face reader: the faces of a DXF file, read straight from its bytes, into a grouped,
// measured face model.
#include <cstddef>

struct FaceModel;
struct LineList;

// Reads the 3DFACE entities of a DXF file's bytes.
//   bytes     `size` bytes and one more writable byte after them (loadFileBytes gives such a
//             block); bytes are written while they are read and put back, so the text is
//             unchanged afterwards
//   source    the model's name ("Ref", "Terget"); copied
//   comments  when given, every group 999 comment's text is appended, in file order
//   rotation  how far every face's corner order is rotated; negative reads as 0, 4 and more
//             act through the remainder
// Returns a new grouped and measured model owned by the caller (releaseModel), or null when
// memory failed (reported by the allocator; `comments` is then as it was).
FaceModel* readDxfBytes(char* bytes, size_t size, const char* source, LineList* comments,
                        int rotation) noexcept;

// Loads the file `path` and reads it as readDxfBytes does. `*status` tells what happened:
// kLoadRead (a model, or null when memory failed while reading), kLoadNotOpened (no readable
// regular file: null), kLoadNoMemory (null). The file's bytes are released before returning.
FaceModel* readDxfFile(const char* path, const char* source, LineList* comments, int rotation,
                       int* status) noexcept;

// readDxfBytes over a file already split into lines (empty lines kept): the lines are joined
// again, each ended by LF, and read. Null when memory failed.
FaceModel* readDxfFaces(const LineList* lines, const char* source, LineList* comments,
                        int rotation) noexcept;
