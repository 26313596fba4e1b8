#pragma once
// The DXF face reader: the faces of a DXF file, read straight from its bytes, into a grouped,
// measured face model.
#include <cstddef>
#include <cstdint>

struct FaceModel;
struct LineList;

// The forms a face comes in.
enum DxfForm : int {
  kForm3dFace,       // a 3DFACE entity
  kFormPolyface,     // a face record of a POLYLINE polyface mesh (70 bit 64)
  kFormPolygonMesh,  // a cell of a POLYLINE polygon mesh (70 bit 16)
  kFormMesh,         // a face of a MESH entity (its level-0 faces; larger ones as fans)
  kFormCount
};

// What a read found besides the faces. Valid when zero-filled; `notes` is the caller's to
// release (freeLineList).
struct DxfReadReport {
  int32_t faces[kFormCount];  // faces read per form, those placed by INSERT included
  int32_t placedFaces;        // faces placed by INSERT (of any form)
  int32_t solids;             // 3DSOLID, BODY, REGION and SURFACE entities: not read
  int32_t lostFaces;          // faces the file holds that could not be read
  int32_t binary;             // not 0: a binary DXF, of which nothing was read
  LineList* notes;            // what was wrong, a line each (entity and handle named); or null
  int32_t moreNotes;          // notes left out beyond the first kMostDxfNotes
};
constexpr int32_t kMostDxfNotes = 8;

// readDxfFile's choices.
constexpr int kDxfKeepSource = 1;  // the model keeps the file's bytes and every face's origin

// Reads the faces of a DXF file's bytes: 3DFACE entities, POLYLINE polyface and polygon
// meshes, MESH entities, and all these in blocks where INSERT (MINSERT) places them (nested
// up to 16 deep), in the order the file gives them (each INSERT where it stands). A face on
// layer "0" in a block takes the INSERT's layer. Faces inside the BLOCKS section count only
// where they are inserted.
//   bytes     `size` bytes and one more writable byte after them (loadFileBytes gives such a
//             block); bytes are written while they are read and put back, so the text is
//             unchanged afterwards
//   source    the model's name ("Ref", "Terget"); copied
//   comments  when given, every group 999 comment's text is appended, in file order
//   rotation  how far every face's corner order is rotated; negative reads as 0, 4 and more
//             act through the remainder
//   report    when given (zero-filled), filled with the counts and notes of the read
// Returns a new grouped and measured model owned by the caller (releaseModel), or null when
// memory failed (reported by the allocator; `comments` is then as it was).
FaceModel* readDxfBytes(char* bytes, size_t size, const char* source, LineList* comments,
                        int rotation, DxfReadReport* report = nullptr) noexcept;

// Loads the file `path` and reads it as readDxfBytes does. `*status` tells what happened:
// kLoadRead (a model, or null when memory failed while reading), kLoadNotOpened (no readable
// regular file: null), kLoadNoMemory (null). The file's bytes are released before returning.
// With kDxfKeepSource in `flags` the model keeps the bytes (sourceBytes) and the faces' origins.
FaceModel* readDxfFile(const char* path, const char* source, LineList* comments, int rotation,
                       int* status, DxfReadReport* report = nullptr, int flags = 0) noexcept;

// readDxfBytes over a file already split into lines (empty lines kept): the lines are joined
// again, each ended by LF, and read. Null when memory failed.
FaceModel* readDxfFaces(const LineList* lines, const char* source, LineList* comments,
                        int rotation) noexcept;
