#pragma once
// The DXF face reader: 3DFACE entities into a grouped, measured face model.
struct FaceModel;
struct LineList;

// Reads the 3DFACE entities of a DXF file held as lines (split with empty lines kept).
//   lines     the file's lines, in order; only read
//   source    the model's name ("Ref", "Terget"); copied
//   comments  when given, every group 999 comment's text is appended, in file order
//   rotation  how far every face's corner order is rotated; negative reads as 0, 4 and more
//             act through the remainder
// Returns a new grouped and measured model owned by the caller (releaseModel), or null when
// memory failed (reported by the allocator).
FaceModel* readDxfFaces(const LineList* lines, const char* source, LineList* comments,
                        int rotation) noexcept;
