#include "output/dxfWriter.h"

#include <charconv>
#include <initializer_list>

#include "model/faceModel.h"
#include "output/dxfWriterInternal.h"
#include "output/outputLayer.h"
#include "textfiles/lineList.h"
#include "textfiles/scopedBlocks.h"

namespace {

// Room for the longest fixed-point double: 309 integer digits, sign, point and five decimals.
constexpr size_t kValueBufferSize = 400;

// `value` as "%-10.5f" in the C locale with its trailing blanks cut, which is the plain "%.5f"
// text: "-0.00000" for negative values that round to zero, "inf", "-inf", "nan", "-nan".
void formatCoordinate(double value, char (&text)[kValueBufferSize]) {
  std::to_chars_result r =
      std::to_chars(text, text + kValueBufferSize - 1, value, std::chars_format::fixed, 5);
  *r.ptr = '\0';  // the buffer always fits a double (ec is never set here)
}

bool appendAll(LineList* list, std::initializer_list<const char*> texts) {
  for (const char* text : texts) {
    if (appendLine(list, text) < 0) return false;
  }
  return true;
}

bool appendFaces(LineList* list, const FaceModel& model) {
  for (int32_t f = 0; f < model.faceCount; ++f) {
    const ModelFace& face = model.faces[f];
    if (!appendAll(list, {"0", "3DFACE", "8", outputLayer(face)})) return false;
    int n = face.cornerCount < 4 ? face.cornerCount : 4;
    for (int k = 0; k < n; ++k) {
      if (!appendCorner(list, pointPosition(model.points[face.corners[k]]), k)) return false;
    }
    // Every written face has four corners: a triangle repeats its third.
    if (n == 3 && !appendCorner(list, pointPosition(model.points[face.corners[2]]), 3)) {
      return false;
    }
  }
  return true;
}

}  // namespace

int appendCorner(LineList* list, const Vec3& point, int corner) noexcept {
  if (corner < 0 || corner > 3) return 0;
  const double values[3] = {point.x, point.y, point.z};
  char code[3] = {'1', static_cast<char>('0' + corner), '\0'};
  char text[kValueBufferSize];
  for (int axis = 0; axis < 3; ++axis) {
    code[0] = static_cast<char>('1' + axis);
    formatCoordinate(values[axis], text);
    if (appendLine(list, code) < 0 || appendLine(list, text) < 0) return 0;
  }
  return 1;
}

LineList* buildTargetDxf() noexcept {
  if (!targetModel) return nullptr;
  OwnedLineList list(newLineList());
  if (!list || !appendAll(list.get(), {"0", "SECTION", "2", "ENTITIES"})) return nullptr;
  if (commentList) {
    for (int32_t i = 0; i < commentList->count; ++i) {
      // An empty value line would not be written and would shift every later group.
      const char* text = commentList->items[i];
      if (!text || !*text) continue;
      if (!appendAll(list.get(), {"999", text})) return nullptr;
    }
  }
  if (!appendFaces(list.get(), *targetModel)) return nullptr;
  if (!appendAll(list.get(), {"0", "ENDSEC", "0", "EOF"})) return nullptr;
  return list.release();
}

int saveTargetDxf(const char* path) noexcept {
  if (!path) return 0;
  OwnedLineList list(buildTargetDxf());
  if (!list) return 0;
  return saveLineListAs(list.get(), path) == 1 ? 1 : 0;
}
