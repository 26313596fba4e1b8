#pragma once
// What a front end does with a finished run: the tally lines of how the faces were matched,
// and the run state cut down to what writing it still needs.
#include <cstdint>

struct DialogPort;
struct MatchTally;

// Adds "Faces: c coincident / t by tests / p by propagation / u unmatched" (with `aligned` not
// 0: "Faces: c coincident / a aligned / t by tests / p by propagation / u unmatched", then
// "k faces on symmetric parts: their layer is a guess" when k > 0).
void addTallyLines(DialogPort* dialog, const MatchTally& tally, int32_t aligned) noexcept;

// Releases what the run state holds only for matching: every face's influence profile, every
// point's face list and the point index of both models, then hands the freed memory back to
// the system. The writer, the tally, the per-face report and the pictures read nothing of it.
void keepOnlyWhatSavingNeeds() noexcept;
