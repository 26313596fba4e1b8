#include "match/runNotes.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "model/faceModel.h"
#include "textfiles/dialogPort.h"
#include "textfiles/platform.h"

namespace {

constexpr size_t kReasonSize = 200;

// "N faces, M points, largest part K faces" of `model`, or "none" without one.
void describeModel(const FaceModel* model, char* text, size_t size) {
  if (!model) {
    std::snprintf(text, size, "none");
    return;
  }
  int32_t largest = 0;
  for (int32_t p = 0; model->parts && p < model->partCount; ++p)
    if (model->parts[p].faceCount > largest) largest = model->parts[p].faceCount;
  std::snprintf(text, size, "%d faces, %d points, largest part %d faces", model->faceCount,
                model->pointCount, largest);
}

// True when the stage works part by part, where a huge part is what needs the memory.
bool partStage(const char* stage) {
  for (const char* name : {"profiles", "propagation", "face tests", "part matching"})
    if (std::strcmp(stage, name) == 0) return true;
  return false;
}

}  // namespace

void noteUnreadable(DialogPort* dialog, const char* path) noexcept {
  char reason[kReasonSize] = "it could not be opened";
  fileReadProblem(path, reason, sizeof reason);
  addDetailLine(dialog, "cannot read %s: %s", path, reason);
}

void noteNoFaces(DialogPort* dialog, const char* path) noexcept {
  addDetailLine(dialog, "no 3DFACE entities in %s", path);
}

void noteOutOfMemoryReading(DialogPort* dialog, const char* path) noexcept {
  const long long mib = fileStamp(path).size / 1048576;
  addDetailLine(dialog,
                "out of memory while reading %s (%lld MiB): close other programs or split the "
                "model into smaller files",
                path, mib);
}

void noteOutOfMemory(DialogPort* dialog, const char* stage, const FaceModel* reference,
                     const FaceModel* target, int aligning) noexcept {
  char referenceText[96], targetText[96];
  describeModel(reference, referenceText, sizeof referenceText);
  describeModel(target, targetText, sizeof targetText);
  const char* advice = !aligning && partStage(stage)
                           ? "; a huge turned part needs no profiles when it is aligned: tick "
                             "\"Align turned parts\" (morvane-match --align)"
                           : "";
  addDetailLine(dialog,
                "out of memory while %s (target: %s; reference: %s): close other programs or "
                "split the model into smaller files%s",
                stage, targetText, referenceText, advice);
}
