// The DXF reader as it read a file split into a line list, group by group.
#include "tests/reference/lineDxfReader.h"

#include <cstring>

#include "model/dxfNumbers.h"
#include "model/faceModel.h"
#include "model/partGrouping.h"
#include "textfiles/allocator.h"
#include "textfiles/lineList.h"
#include "textfiles/numberText.h"

namespace {

constexpr int32_t kCodeEntity = 0;
constexpr int32_t kCodeName = 2;
constexpr int32_t kCodeLayer = 8;
constexpr int32_t kCodeComment = 999;

// Whether `text` equals `name` once surrounding white space is removed.
bool isName(const char* text, const char* name) {
  const char* p = skipWhiteSpace(text);
  size_t n = std::strlen(name);
  return std::strncmp(p, name, n) == 0 && *skipWhiteSpace(p + n) == '\0';
}

// Entity names are taken as 3DFACE by their first six characters after leading white space
// (case-sensitive; anything after them is ignored).
bool isFaceName(const char* text) {
  return std::strncmp(skipWhiteSpace(text), "3DFACE", 6) == 0;
}

// Slot 0..11 of a corner coordinate group (10..13 x, 20..23 y, 30..33 z), -1 for any other code.
int coordinateSlot(int32_t code) {
  int axis = code / 10 - 1;
  int corner = code % 10;
  if (code < 10 || axis > 2 || corner > 3) return -1;
  return corner * 3 + axis;
}

// The groups of one 3DFACE gathered so far. The first occurrence of each group counts.
struct FaceGroups {
  const char* layer;  // value of the first group 8 after leading white space; borrowed
  bool layerSeen;
  unsigned seenSlots;  // bit s set once coordinate slot s was read
  double values[12];   // x0 y0 z0 x1 ... z3; 0 where absent

  void reset() {
    layer = "";
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
  return addFace(model, face.layer, corners);
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

// One pass over the file's groups (a group-code line and its value line each). Returns 0 only
// when memory failed.
int readGroups(const LineList* lines, FaceModel* model, LineList* comments) {
  FaceGroups face;
  face.reset();
  bool inFace = false;
  bool afterSection = false;  // the previous group was a group 0 "SECTION"
  bool inBlocks = false;      // between SECTION / 2 BLOCKS and the next ENDSEC
  const int32_t count = lines->count;
  char* const* items = lines->items;
  // A group-code line without a value line (the last line) is no group.
  for (int32_t i = 0; i + 1 < count; i += 2) {
    const int32_t code = readGroupCode(items[i]);
    const char* value = items[i + 1];
    if (code == kCodeEntity) {
      if (inFace && !finishFace(model, face)) return 0;
      inFace = false;
      if (isName(value, "SECTION")) {
        afterSection = true;
        continue;
      }
      afterSection = false;
      if (inBlocks) {
        if (isName(value, "ENDSEC")) inBlocks = false;
      } else if (isFaceName(value)) {
        inFace = true;
        face.reset();
      }
      continue;
    }
    if (afterSection) {
      afterSection = false;
      if (code == kCodeName && isName(value, "BLOCKS")) inBlocks = true;
    }
    if (code == kCodeComment) {
      const char* text = skipWhiteSpace(value);
      if (comments && *text != '\0' && appendLine(comments, text) < 0) return 0;
      continue;
    }
    if (!inFace) continue;
    if (code == kCodeLayer) {
      if (!face.layerSeen) {
        face.layerSeen = true;
        face.layer = skipWhiteSpace(value);
      }
      continue;
    }
    int slot = coordinateSlot(code);
    if (slot >= 0 && !(face.seenSlots & (1u << slot))) {
      face.seenSlots |= 1u << slot;
      face.values[slot] = readCoordinate(value);
    }
  }
  if (inFace && !finishFace(model, face)) return 0;
  return 1;
}

}  // namespace

FaceModel* readDxfLines(const LineList* lines, const char* source, LineList* comments,
                        int rotation) noexcept {
  FaceModel* model = createModel(source);
  if (!model) return nullptr;
  const int32_t commentsBefore = comments ? comments->count : 0;
  bool ok = !lines || readGroups(lines, model, comments);
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
