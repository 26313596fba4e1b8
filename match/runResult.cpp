#include "match/runResult.h"

#include "match/matchingRun.h"
#include "textfiles/dialogPort.h"

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
