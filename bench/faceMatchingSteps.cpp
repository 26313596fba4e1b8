#include "bench/faceMatchingSteps.h"

#include <cstdint>

#include "bench/processProbe.h"
#include "compare/influenceProfile.h"
#include "compare/propagation.h"
#include "match/faceTests.h"
#include "model/faceModel.h"

namespace {

// The first face of reference part `rp`, in list order, that passes the angle, normal and
// position tests; -1 when none does. Adds the tests passed to f.matchLevel.
int32_t firstPassingFace(const FaceModel& reference, const ModelPart& rp, const FaceModel& target,
                         ModelFace& f) {
  for (int32_t i = 0; i < rp.faceCount; ++i) {
    int passed = faceTestsPassed(target, f, reference, reference.faces[rp.faces[i]]);
    f.matchLevel += passed;
    if (passed == kFaceTests) return rp.faces[i];
  }
  return -1;
}

}  // namespace

int matchFacesTimed(FaceModel* reference, FaceModel* target, FaceMatchingTimes* times) {
  *times = FaceMatchingTimes{};
  for (int32_t r = 0; r < reference->partCount; ++r)
    reference->parts[r].flags = 0;
  for (int32_t t = 0; t < target->partCount; ++t) {
    ModelPart& part = target->parts[t];
    if (part.matchedPart < 0) {
      for (int32_t i = 0; i < part.faceCount; ++i)
        target->faces[part.faces[i]].matchedFace = -1;
      continue;
    }
    const ModelPart& rp = reference->parts[part.matchedPart];
    double start = benchprobe::nowSeconds();
    int32_t matched = 0;
    for (int32_t i = 0; i < part.faceCount; ++i) {
      ModelFace& f = target->faces[part.faces[i]];
      f.matchLevel = 0;
      if (f.partnerFace >= 0) {
        f.matchedFace = f.partnerFace;
        f.matchLevel = kMatchLevelCoincident;
      } else {
        f.matchedFace = firstPassingFace(*reference, rp, *target, f);
      }
      matched += f.matchedFace >= 0;
    }
    times->tests += benchprobe::nowSeconds() - start;
    if (matched == part.faceCount) continue;

    start = benchprobe::nowSeconds();
    part.flags = 0;
    if (!computePartProfiles(target, t) || !computePartProfiles(reference, part.matchedPart)) {
      return 0;
    }
    // Reference parts that faces of this part reach through coincidence are scored too.
    for (int32_t i = 0; i < part.faceCount; ++i) {
      int32_t partner = target->faces[part.faces[i]].partnerFace;
      if (partner < 0) continue;
      int32_t other = reference->faces[partner].part - 1;
      if (other != part.matchedPart && !computePartProfiles(reference, other)) return 0;
    }
    times->profiles += benchprobe::nowSeconds() - start;

    start = benchprobe::nowSeconds();
    if (!propagateMatches(reference, target, t)) return 0;
    times->propagation += benchprobe::nowSeconds() - start;
    ++times->propagatedParts;
  }
  return 1;
}
