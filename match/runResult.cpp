#include "match/runResult.h"

#include "match/matchingRun.h"
#include "model/faceModel.h"
#include "textfiles/allocator.h"
#include "textfiles/dialogPort.h"
#include "textfiles/platform.h"

namespace {

void releaseMatchingArrays(FaceModel* model) {
  if (!model) return;
  for (int32_t f = 0; model->faces && f < model->faceCount; ++f) {
    gfree(model->faces[f].profile);
    model->faces[f].profile = nullptr;
  }
  for (int32_t p = 0; model->parts && p < model->partCount; ++p)
    model->parts[p].flags &= ~(kPartProfilesComputed | kPartProfilesScrambled);
  for (int32_t i = 0; model->points && i < model->pointCount; ++i) {
    ModelPoint& point = model->points[i];
    gfree(point.faces);
    point.faces = nullptr;
    point.faceCount = point.faceCapacity = 0;
  }
  gfree(model->pointIndex);
  model->pointIndex = nullptr;
  model->pointIndexCapacity = model->pointIndexCount = 0;
}

}  // namespace

void addTallyLines(DialogPort* dialog, const MatchTally& tally, int32_t aligned) noexcept {
  if (!aligned) {
    addProgressLine(dialog, "Faces: %d coincident / %d by tests / %d by propagation / %d unmatched",
                    tally.coincident, tally.byTests, tally.byPropagation, tally.unmatched);
    return;
  }
  addProgressLine(
      dialog, "Faces: %d coincident / %d aligned / %d by tests / %d by propagation / %d unmatched",
      tally.coincident, tally.aligned, tally.byTests, tally.byPropagation, tally.unmatched);
  if (tally.guesses > 0) {
    addProgressLine(dialog, "%d faces on symmetric parts: their layer is a guess", tally.guesses);
  }
}

void keepOnlyWhatSavingNeeds() noexcept {
  releaseMatchingArrays(referenceModel);
  releaseMatchingArrays(targetModel);
  returnFreedMemory();
}
