// The DXF reader on any text: lines split as for a DXF file, read into a grouped and measured
// model (rotation picked from the input's hash, negative and beyond 3 included), checked for
// consistency, given its angle signatures and influence profiles, written by the DXF writer and
// read back; then read once more with one allocation failing.
#include <cstring>
#include <string>

#include "compare/angleSignature.h"
#include "compare/influenceProfile.h"
#include "fuzzSupport.h"
#include "model/dxfReader.h"
#include "model/faceModel.h"
#include "output/dxfWriter.h"
#include "textfiles/allocator.h"
#include "textfiles/lineList.h"

namespace {

constexpr int32_t kMostPartFacesForProfiles = 64;  // larger parts: the whole-run target

bool validPoint(const FaceModel* m, int32_t p) {
  return p >= 0 && p < m->pointCount;
}

void checkModel(const FaceModel* m) {
  FUZZ_CHECK(m->faceCount >= 0 && m->faceCount <= m->faceCapacity);
  FUZZ_CHECK(m->pointCount >= 0 && m->pointCount <= m->pointCapacity);
  FUZZ_CHECK((m->faceCount > 0) == (m->partCount > 0));
  FUZZ_CHECK(m->partCount <= m->faceCount);
  FUZZ_CHECK(m->partCount == 0 || m->parts != nullptr);
  int64_t listed = 0;
  for (int32_t p = 0; p < m->partCount; ++p) {
    const ModelPart& part = m->parts[p];
    FUZZ_CHECK(part.number == p + 1 && part.faceCount > 0 && part.faces != nullptr);
    listed += part.faceCount;
    for (int32_t k = 0; k < part.faceCount; ++k) {
      FUZZ_CHECK(part.faces[k] >= 0 && part.faces[k] < m->faceCount);
      FUZZ_CHECK(k == 0 || part.faces[k - 1] < part.faces[k]);
    }
  }
  FUZZ_CHECK(listed == m->faceCount);
  for (int32_t f = 0; f < m->faceCount; ++f) {
    const ModelFace& face = m->faces[f];
    FUZZ_CHECK(face.cornerCount == 3 || face.cornerCount == 4);
    FUZZ_CHECK(face.part >= 1 && face.part <= m->partCount);
    const ModelPart& part = m->parts[face.part - 1];
    FUZZ_CHECK(face.partSlot >= 0 && face.partSlot < part.faceCount);
    FUZZ_CHECK(part.faces[face.partSlot] == f);
    for (int c = 0; c < face.cornerCount; ++c) {
      FUZZ_CHECK(validPoint(m, face.corners[c]) && validPoint(m, face.sortedCorners[c]));
      FUZZ_CHECK(m->points[face.corners[c]].part == face.part);
      FUZZ_CHECK(c == 0 || face.sortedCorners[c - 1] <= face.sortedCorners[c]);
    }
    // A face on layer "" is written as "Obj1"; any other layer is kept whole.
    FUZZ_CHECK(face.layer == nullptr || std::strchr(face.layer, '\r') == nullptr);
  }
}

// After computeAngleSignatures: each point lists the faces using it, once per corner, in order.
void checkPointFaces(const FaceModel* m) {
  int64_t uses = 0, listed = 0;
  for (int32_t f = 0; f < m->faceCount; ++f)
    uses += m->faces[f].cornerCount;
  for (int32_t p = 0; p < m->pointCount; ++p) {
    const ModelPoint& point = m->points[p];
    FUZZ_CHECK(point.faceCount >= 0 && point.faceCount <= point.faceCapacity);
    listed += point.faceCount;
    for (int32_t k = 0; k < point.faceCount; ++k) {
      int32_t f = point.faces[k];
      FUZZ_CHECK(f >= 0 && f < m->faceCount);
      FUZZ_CHECK(k == 0 || point.faces[k - 1] <= f);
    }
  }
  FUZZ_CHECK(listed == uses);
}

void checkProfiles(FaceModel* m) {
  for (int32_t p = 0; p < m->partCount; ++p) {
    if (m->parts[p].faceCount > kMostPartFacesForProfiles) continue;
    FUZZ_CHECK(computePartProfiles(m, p) == 1);
    const ModelPart& part = m->parts[p];
    FUZZ_CHECK(part.flags & 1);
    // After a computation, the part's faces read 2 and every other face 0.
    for (int32_t f = 0; f < m->faceCount; ++f) {
      const ModelFace& face = m->faces[f];
      FUZZ_CHECK(face.mark == (face.part == p + 1 ? 2 : 0));
      if (face.part == p + 1) FUZZ_CHECK(face.influence != nullptr && face.profile != nullptr);
    }
  }
}

// The writer's file for `model`, read back: the same faces in the same order, each on the
// layer written for it, and the same comments.
void checkRoundTrip(FaceModel* model, LineList* comments) {
  targetModel = model;
  commentList = comments;
  LineList* written = buildTargetDxf();
  targetModel = nullptr;
  commentList = nullptr;
  FUZZ_CHECK(written != nullptr);
  std::string text;
  for (int32_t i = 0; i < written->count; ++i) {
    FUZZ_CHECK(written->items[i][0] != '\0');  // saving drops empty lines: none may occur
    text += written->items[i];
    text += "\r\n";
  }
  freeLineList(written);
  LineList* lines = splitTextLines(text.data(), text.size(), LineSplit::keepEmpty);
  LineList* again = newLineList();
  FUZZ_CHECK(lines && again);
  FaceModel* copy = readDxfFaces(lines, "Terget", again, 0);
  FUZZ_CHECK(copy != nullptr);
  FUZZ_CHECK(copy->faceCount == model->faceCount);
  for (int32_t f = 0; f < model->faceCount; ++f) {
    const char* layer = faceLayer(model->faces[f]);
    FUZZ_CHECK(std::strcmp(faceLayer(copy->faces[f]), *layer ? layer : "Obj1") == 0);
  }
  FUZZ_CHECK(again->count == comments->count);
  for (int32_t i = 0; i < comments->count; ++i)
    FUZZ_CHECK(std::strcmp(again->items[i], comments->items[i]) == 0);
  releaseModel(copy);
  freeLineList(again);
  freeLineList(lines);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzSetUp();
  uint64_t hash = fuzzHash(data, size);
  int rotation = static_cast<int>(hash % 7) - 1;  // -1 .. 5
  long before = gliveBlocks();
  LineList* lines = splitTextLines(reinterpret_cast<const char*>(data), size, LineSplit::keepEmpty);
  LineList* comments = newLineList();
  FUZZ_CHECK(lines && comments);

  long start = gallocationCount();
  FaceModel* model = readDxfFaces(lines, "Terget", comments, rotation);
  long used = gallocationCount() - start;
  FUZZ_CHECK(model != nullptr);
  checkModel(model);
  if (model->faceCount > 0) {
    FUZZ_CHECK(computeAngleSignatures(model) == 1);
    checkPointFaces(model);
    checkProfiles(model);
  }
  checkRoundTrip(model, comments);
  int32_t commentCount = comments->count;
  releaseModel(model);

  // One allocation of the same read fails: no model and the comment list as it was, or (for
  // an allocation the read could do without) a whole model. Nothing leaks either way.
  gfailAllocationAfter(1 + static_cast<long>((hash >> 8) % static_cast<uint64_t>(used + 1)));
  LineList* more = newLineList();
  FaceModel* partial = more ? readDxfFaces(lines, "Terget", more, rotation) : nullptr;
  gfailAllocationAfter(0);
  if (partial) {
    checkModel(partial);
    FUZZ_CHECK(more->count == commentCount);
  } else if (more) {
    FUZZ_CHECK(more->count == 0);
  }
  releaseModel(partial);
  freeLineList(more);
  freeLineList(comments);
  freeLineList(lines);
  FUZZ_CHECK(gliveBlocks() == before);
  return 0;
}
