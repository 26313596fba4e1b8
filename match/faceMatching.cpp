#include "match/faceMatching.h"

#include <atomic>

#include "compare/influenceProfile.h"
#include "compare/influenceWorkers.h"
#include "compare/propagation.h"
#include "match/faceTests.h"
#include "model/faceModel.h"

namespace {

// Tests target face f against the faces of reference part `rp` in list order; the first face
// that passes all three face tests is taken. Every test passed on the way adds 1 to
// f.matchLevel. Returns true when one was taken.
bool matchByTests(const FaceModel& reference, const ModelPart& rp, ModelFace& f) noexcept {
  f.matchedFace = -1;
  if (!rp.faces) return false;
  for (int32_t i = 0; i < rp.faceCount; ++i) {
    int32_t g = rp.faces[i];
    int passed = faceTestsPassed(f, reference.faces[g]);
    f.matchLevel += passed;
    if (passed < kFaceTests) continue;
    f.matchedFace = g;
    return true;
  }
  return false;
}

// Faces handed to a worker at a time by the direct tests.
constexpr int32_t kTestChunk = 64;

// The direct tests of every face of target part `part` that is neither aligned nor coincident
// (those take their reference face), on all cores: each face's result depends on it alone.
// Returns how many faces of the part are matched.
int32_t matchPartFaces(const FaceModel& reference, const ModelPart& rp, FaceModel* target,
                       const ModelPart& part) noexcept {
  int32_t count = part.faces ? part.faceCount : 0;
  int32_t chunks = (count + kTestChunk - 1) / kTestChunk;
  double effort = static_cast<double>(count) * static_cast<double>(rp.faceCount) * 16.0;
  std::atomic<int32_t> nextChunk{0}, matched{0};
  auto work = [&](int) noexcept {
    int32_t found = 0;
    for (;;) {
      int32_t chunk = nextChunk.fetch_add(1, std::memory_order_relaxed);
      if (chunk >= chunks) break;
      int32_t end = (chunk + 1) * kTestChunk < count ? (chunk + 1) * kTestChunk : count;
      for (int32_t i = chunk * kTestChunk; i < end; ++i) {
        ModelFace& f = target->faces[part.faces[i]];
        if (f.alignedMatch) {  // matched by the part's alignment
          ++found;
          continue;
        }
        f.matchLevel = 0;
        if (f.partnerFace >= 0) {
          f.matchedFace = f.partnerFace;
          f.matchLevel = kMatchLevelCoincident;
          ++found;
        } else if (matchByTests(reference, rp, f)) {
          ++found;
        }
      }
    }
    matched.fetch_add(found, std::memory_order_relaxed);
  };
  runWorkers(workerCount(chunks, effort), work);
  return matched.load();
}

// Part index of reference face r, or -1.
int32_t partOfFace(const FaceModel& model, int32_t r) noexcept {
  if (r < 0 || r >= model.faceCount) return -1;
  int32_t index = model.faces[r].part - 1;
  return (index >= 0 && index < model.partCount) ? index : -1;
}

}  // namespace

int matchFaces(FaceModel* reference, FaceModel* target) noexcept {
  if (!target) return 1;
  if (reference) {
    for (int32_t i = 0; i < reference->partCount; ++i)
      reference->parts[i].flags &= kPartMarked;
  }
  for (int32_t t = 0; t < target->partCount; ++t) {
    ModelPart& part = target->parts[t];
    int32_t count = part.faces ? part.faceCount : 0;
    bool matched = reference && part.matchedPart >= 0 && part.matchedPart < reference->partCount;
    if (!matched) {
      for (int32_t i = 0; i < count; ++i)
        target->faces[part.faces[i]].matchedFace = -1;
      continue;
    }
    const ModelPart& rp = reference->parts[part.matchedPart];
    if (matchPartFaces(*reference, rp, target, part) == count) continue;
    part.flags &= kPartMarked;
    // A part whose profiles cannot have the memory they need keeps what the tests gave.
    int computed = computePartProfiles(target, t);
    if (computed == kProfilesTooLarge) continue;
    if (computed) computed = computePartProfiles(reference, part.matchedPart);
    if (!computed) return 0;
    if (computed == kProfilesTooLarge) continue;
    // Faces matched through coincidence into other reference parts are scored by their
    // profiles too.
    for (int32_t i = 0; i < count; ++i) {
      int32_t other = partOfFace(*reference, target->faces[part.faces[i]].partnerFace);
      if (other >= 0 && !computePartProfiles(reference, other)) return 0;
    }
    if (!propagateMatches(reference, target, t)) return 0;
  }
  return 1;
}
