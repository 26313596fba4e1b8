#pragma once
// What a front end does with a finished run: the tally lines of how the faces were matched.
#include <cstdint>

struct DialogPort;
struct MatchTally;

// Adds "Faces: c coincident / t by tests / p by propagation / u unmatched" (with `aligned` not
// 0: "Faces: c coincident / a aligned / t by tests / p by propagation / u unmatched", then
// "k faces on symmetric parts: their layer is a guess" when k > 0).
void addTallyLines(DialogPort* dialog, const MatchTally& tally, int32_t aligned) noexcept;
