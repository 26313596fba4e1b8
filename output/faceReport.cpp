#include "output/faceReport.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "match/howMatched.h"
#include "model/faceModel.h"
#include "output/outputLayer.h"
#include "textfiles/allocator.h"
#include "textfiles/lineList.h"
#include "textfiles/scopedBlocks.h"

namespace {

constexpr const char* kHeader = "face,layer,how,reference_face,part,guess";
// Room for the row's numbers and words besides the layer field.
constexpr size_t kRowRoomBesidesLayer = 96;

bool needsQuotes(const char* text) {
  return std::strpbrk(text, ",\" \r\n") != nullptr;
}

// A block of at least `size` bytes in *buffer (grown through the allocator); false on failure.
bool ensureRoom(char** buffer, size_t* room, size_t size) {
  if (size <= *room) return true;
  void* grown = gcrealloc(*buffer, size);
  if (!grown) return false;
  *buffer = static_cast<char*>(grown);
  *room = size;
  return true;
}

// Appends the row of target face f, built in *buffer; false when memory failed.
bool appendRow(LineList* list, const FaceModel& target, int32_t f, LayerRule rule, char** buffer,
               size_t* room) {
  const ModelFace& face = target.faces[f];
  const char* layer = layerByRule(rule, face);
  if (!ensureRoom(buffer, room, 2 * std::strlen(layer) + kRowRoomBesidesLayer)) return false;
  HowMatched how = howMatched(referenceModel, target, f);
  char* out = *buffer;
  int n = std::snprintf(out, *room, "%" PRId32 ",", f);
  n += static_cast<int>(formatCsvField(layer, out + n, *room - n));
  n += std::snprintf(out + n, *room - n, ",%s,", howMatchedName(how));
  if (how != HowMatched::unmatched)
    n += std::snprintf(out + n, *room - n, "%" PRId32, face.matchedFace);
  std::snprintf(out + n, *room - n, ",%" PRId32 ",%" PRId32, face.part,
                isGuessedLayer(referenceModel, target, f));
  return appendLine(list, out) >= 0;
}

}  // namespace

size_t formatCsvField(const char* text, char* out, size_t room) noexcept {
  size_t length = std::strlen(text);
  if (!needsQuotes(text)) {
    if (length + 1 > room) return length + 1;
    std::memcpy(out, text, length + 1);
    return length;
  }
  size_t need = length + 2;
  for (const char* c = text; *c; ++c)
    need += *c == '"';
  if (need + 1 > room) return need + 1;
  size_t n = 0;
  out[n++] = '"';
  for (const char* c = text; *c; ++c) {
    if (*c == '"') out[n++] = '"';
    out[n++] = *c;
  }
  out[n++] = '"';
  out[n] = '\0';
  return n;
}

LineList* buildFaceReport(LayerRule rule) noexcept {
  if (!targetModel) return nullptr;
  OwnedLineList list(newLineList());
  if (!list || appendLine(list.get(), kHeader) < 0) return nullptr;
  char* buffer = nullptr;
  size_t room = 0;
  bool built = true;
  for (int32_t f = 0; built && f < targetModel->faceCount; ++f)
    built = appendRow(list.get(), *targetModel, f, rule, &buffer, &room);
  gfree(buffer);
  return built ? list.release() : nullptr;
}

int saveFaceReport(const char* path, LayerRule rule) noexcept {
  if (!path) return 0;
  OwnedLineList list(buildFaceReport(rule));
  if (!list) return 0;
  return saveLineListAs(list.get(), path) == 1 ? 1 : 0;
}
