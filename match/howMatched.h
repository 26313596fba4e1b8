#pragma once
// How each target face of a finished run got the layer it is written under, face by face, in
// the words of the per-face report and the picture's "By how matched" colours.
#include <cstdint>

struct FaceModel;

enum class HowMatched : int32_t {
  unmatched = 0,    // no reference face: the face keeps its own layer
  coincident = 1,   // the reference face on the same points
  aligned = 2,      // the reference face it lands on once its part is aligned
  tests = 3,        // the first reference face of its matched part passing the direct tests
  propagation = 4,  // reached by the correspondence propagation
};
constexpr int32_t kHowMatchedKinds = 5;

// Target face `face` (an index into target) after a run with `reference` (may be null); the
// run's "Faces:" tally (tallyMatches) counts these kinds. Reads matchSettings, as the run left
// them.
HowMatched howMatched(const FaceModel* reference, const FaceModel& target, int32_t face) noexcept;
// The kind's word: "unmatched", "coincident", "aligned", "tests" or "propagation".
const char* howMatchedName(HowMatched how) noexcept;
// 1 when the face was aligned on a symmetric part, where another alignment would give another
// layer: its layer is a guess. 0 otherwise.
int32_t isGuessedLayer(const FaceModel* reference, const FaceModel& target, int32_t face) noexcept;
