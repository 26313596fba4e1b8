#include "model/dxfReader.h"

#include <cstring>

#include "model/dxfNumbers.h"
#include "model/dxfText.h"
#include "model/faceModel.h"
#include "model/partGrouping.h"
#include "textfiles/allocator.h"
#include "textfiles/fileBytes.h"
#include "textfiles/lineList.h"

namespace {

constexpr int32_t kCodeEntity = 0;
constexpr int32_t kCodeName = 2;
constexpr int32_t kCodeLayer = 8;
constexpr int32_t kCodeComment = 999;

// Slot 0..11 of a corner coordinate group (10..13 x, 20..23 y, 30..33 z), -1 for any other code.
int coordinateSlot(int32_t code) {
  int axis = code / 10 - 1;
  int corner = code % 10;
  if (code < 10 || axis > 2 || corner > 3) return -1;
  return corner * 3 + axis;
}

// The groups of one 3DFACE gathered so far. The first occurrence of each group counts.
struct FaceGroups {
  DxfLine layer;  // value of the first group 8 after leading white space; in the file's bytes
  bool layerSeen;
  unsigned seenSlots;  // bit s set once coordinate slot s was read
  double values[12];   // x0 y0 z0 x1 ... z3; 0 where absent

  void reset() {
    layer = DxfLine{};
    layerSeen = false;
    seenSlots = 0;
    for (double& v : values)
      v = 0.0;
  }
};

constexpr unsigned kSlotX0 = 1u << 0;
constexpr unsigned kSlotsCorner3 = 7u << 9;

// Adds the gathered face: dropped without a group 10; a face without any of 13, 23, 33 has
// its fourth corner copied from its third. Returns 0 only when memory failed.
int finishFace(FaceModel* model, const FaceGroups& face) {
  if (!(face.seenSlots & kSlotX0)) return 1;
  Vec3 corners[4];
  for (int k = 0; k < 4; ++k) {
    corners[k] = {face.values[k * 3], face.values[k * 3 + 1], face.values[k * 3 + 2]};
  }
  if (!(face.seenSlots & kSlotsCorner3)) corners[3] = corners[2];
  if (!face.layer.text) return addFace(model, "", corners);
  TerminatedLine layer(face.layer);
  return addFace(model, face.layer.text, corners);
}

// Turns every face's corner order by `rotation` (0..3): entry j becomes old entry
// (j + rotation) mod cornerCount. sortedCorners are not touched.
void rotateCorners(FaceModel* model, int rotation) {
  for (int32_t f = 0; f < model->faceCount; ++f) {
    ModelFace& face = model->faces[f];
    int n = face.cornerCount;
    if (n < 1 || n > 4) continue;
    int32_t old[4];
    std::memcpy(old, face.corners, sizeof old);
    for (int j = 0; j < n; ++j)
      face.corners[j] = old[(j + rotation) % n];
  }
}

// Drops the comments appended after the first `keep` lines, so a failed read leaves the
// caller's list as it found it.
void dropCommentsAfter(LineList* comments, int32_t keep) {
  if (!comments) return;
  while (comments->count > keep) {
    --comments->count;
    gfree(comments->items[comments->count]);
    comments->items[comments->count] = nullptr;
  }
}

// Appends a comment's text (after its leading white space) when it is not empty. Returns 0
// only when memory failed.
int appendComment(LineList* comments, DxfLine value) {
  DxfLine text = skipLeadingBlanks(value);
  if (!comments || text.length == 0) return 1;
  TerminatedLine terminated(text);
  return appendLine(comments, text.text) >= 0;
}

// Faces the file can hold at most: one per "3DFACE" in it, and never more than one per 40
// bytes (an entity takes at least 20 lines).
int32_t faceNamesIn(const char* bytes, size_t size) {
  size_t count = 0;
  const size_t most = size / 40 + 1;
  for (const char* at = bytes; count < most;) {
    const void* found = memmem(at, size - static_cast<size_t>(at - bytes), "3DFACE", 6);
    if (!found) break;
    ++count;
    at = static_cast<const char*>(found) + 6;
  }
  return count > INT32_MAX / 2 ? INT32_MAX / 2 : static_cast<int32_t>(count);
}

// Bytes read before a file's pages are handed back, in steps of this many.
constexpr size_t kDropStep = size_t{4} << 20;

// The file's bytes already read are handed back to the system as the read goes on (never those
// of a BLOCKS section, nor of the entity being read), when `dropRead` is set.
struct ReadPages {
  bool dropRead;
  size_t dropped;  // bytes before this offset were handed back
};

void dropPagesBefore(ReadPages* pages, char* bytes, size_t offset) {
  if (!pages->dropRead || offset < pages->dropped + kDropStep) return;
  dropReadPages(bytes, pages->dropped, offset);
  pages->dropped = offset;
}

// One pass over the file's groups (a group-code line and its value line each). Returns 0 only
// when memory failed.
int readGroups(DxfCursor cursor, FaceModel* model, LineList* comments, ReadPages pages) {
  FaceGroups face;
  face.reset();
  bool inFace = false;
  bool afterSection = false;  // the previous group was a group 0 "SECTION"
  bool inBlocks = false;      // between SECTION / 2 BLOCKS and the next ENDSEC
  DxfGroup group;
  while (nextDxfGroup(&cursor, &group)) {
    const int32_t code = group.code;
    const DxfLine value = group.value;
    if (code == kCodeEntity) {
      if (inFace && !finishFace(model, face)) return 0;
      inFace = false;
      if (!inBlocks) dropPagesBefore(&pages, cursor.bytes, group.start);
      if (lineIsName(value, "SECTION")) {
        afterSection = true;
        continue;
      }
      afterSection = false;
      if (inBlocks) {
        if (lineIsName(value, "ENDSEC")) inBlocks = false;
      } else if (lineStartsWith(value, "3DFACE")) {
        inFace = true;
        face.reset();
      }
      continue;
    }
    if (afterSection) {
      afterSection = false;
      if (code == kCodeName && lineIsName(value, "BLOCKS")) inBlocks = true;
    }
    if (code == kCodeComment) {
      if (!appendComment(comments, value)) return 0;
      continue;
    }
    if (!inFace) continue;
    if (code == kCodeLayer) {
      if (!face.layerSeen) {
        face.layerSeen = true;
        face.layer = skipLeadingBlanks(value);
      }
      continue;
    }
    int slot = coordinateSlot(code);
    if (slot >= 0 && !(face.seenSlots & (1u << slot))) {
      face.seenSlots |= 1u << slot;
      face.values[slot] = lineCoordinate(value);
    }
  }
  if (inFace && !finishFace(model, face)) return 0;
  return 1;
}

// readDxfBytes, handing the bytes read back to the system as it goes when `dropRead` is set.
FaceModel* readText(char* bytes, size_t size, const char* source, LineList* comments, int rotation,
                    bool dropRead) {
  FaceModel* model = createModel(source);
  if (!model) return nullptr;
  const int32_t commentsBefore = comments ? comments->count : 0;
  bool ok = true;
  if (bytes && size > 0) {
    int32_t faces = faceNamesIn(bytes, size);
    ok = (faces == 0 || reserveFaces(model, faces)) &&
         readGroups({bytes, size, 0}, model, comments, {dropRead, 0});
  }
  if (ok && model->faceCount > 0) {
    rotateCorners(model, rotation < 0 ? 0 : rotation % 4);
    ok = groupParts(model) && measureParts(model);
  }
  if (!ok) {
    dropCommentsAfter(comments, commentsBefore);
    releaseModel(model);
    return nullptr;
  }
  return model;
}

}  // namespace

FaceModel* readDxfBytes(char* bytes, size_t size, const char* source, LineList* comments,
                        int rotation) noexcept {
  return readText(bytes, size, source, comments, rotation, false);
}

FaceModel* readDxfFile(const char* path, const char* source, LineList* comments, int rotation,
                       int* status) noexcept {
  char* bytes = nullptr;
  size_t size = 0;
  *status = loadFileBytes(path, &bytes, &size);
  if (*status != kLoadRead) return nullptr;
  FaceModel* model = readText(bytes, size, source, comments, rotation, true);
  gfree(bytes);
  return model;
}

FaceModel* readDxfFaces(const LineList* lines, const char* source, LineList* comments,
                        int rotation) noexcept {
  size_t size = 0;
  for (int32_t i = 0; lines && i < lines->count; ++i)
    size += std::strlen(lines->items[i]) + 1;
  auto* bytes = static_cast<char*>(gmalloc(size + 1));
  if (!bytes) return nullptr;
  char* at = bytes;
  for (int32_t i = 0; lines && i < lines->count; ++i) {
    size_t length = std::strlen(lines->items[i]);
    std::memcpy(at, lines->items[i], length);
    at[length] = '\n';
    at += length + 1;
  }
  *at = '\0';
  FaceModel* model = readText(bytes, size, source, comments, rotation, true);
  gfree(bytes);
  return model;
}
