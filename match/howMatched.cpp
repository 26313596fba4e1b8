#include "match/howMatched.h"

#include "align/alignParts.h"
#include "match/faceTests.h"
#include "model/faceModel.h"

namespace {

bool hasReferenceFace(const FaceModel* reference, const ModelFace& face) {
  return reference && face.matchedFace >= 0 && face.matchedFace < reference->faceCount;
}

// The direct tests take the first face of the matched part that passes them, and nothing later
// changes such a match; a face the propagation matched passed them with no face of that part.
bool passesDirectTests(const FaceModel& reference, const FaceModel& target, const ModelFace& face) {
  const ModelFace& candidate = reference.faces[face.matchedFace];
  int32_t partIndex = face.part - 1;
  bool inMatchedPart = partIndex >= 0 && partIndex < target.partCount &&
                       candidate.part == target.parts[partIndex].matchedPart + 1;
  return inMatchedPart && faceTestsPassed(target, face, reference, candidate) == kFaceTests;
}

}  // namespace

HowMatched howMatched(const FaceModel* reference, const FaceModel& target, int32_t face) noexcept {
  const ModelFace& f = target.faces[face];
  if (!hasReferenceFace(reference, f)) return HowMatched::unmatched;
  if (f.partnerFace >= 0) return HowMatched::coincident;  // taken before any test
  if (f.alignedMatch) return HowMatched::aligned;
  return passesDirectTests(*reference, target, f) ? HowMatched::tests : HowMatched::propagation;
}

const char* howMatchedName(HowMatched how) noexcept {
  switch (how) {
    case HowMatched::coincident:
      return "coincident";
    case HowMatched::aligned:
      return "aligned";
    case HowMatched::tests:
      return "tests";
    case HowMatched::propagation:
      return "propagation";
    case HowMatched::unmatched:
      break;
  }
  return "unmatched";
}

int32_t isGuessedLayer(const FaceModel* reference, const FaceModel& target, int32_t face) noexcept {
  return howMatched(reference, target, face) == HowMatched::aligned &&
                 target.faces[face].alignedMatch == kGuessedFace
             ? 1
             : 0;
}
