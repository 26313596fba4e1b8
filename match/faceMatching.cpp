#include "match/faceMatching.h"

#include <atomic>

#include "compare/angleSignature.h"
#include "compare/influenceProfile.h"
#include "compare/influenceWorkers.h"
#include "compare/propagation.h"
#include "match/faceTests.h"
#include "model/faceModel.h"
#include "textfiles/runProgress.h"
#include "textfiles/scopedBlocks.h"

namespace {

// The angle signatures of reference part `rp`, laid out a block of kSignatureBlock faces at a
// time, bin by bin (signatureDistances' layout); the last block padded with zeros. Null when
// memory failed.
double* layOutSignatures(const FaceModel& reference, const ModelPart& rp,
                         ScopedBlocks& blocks) noexcept {
  int32_t count = rp.faces ? rp.faceCount : 0;
  int32_t blockCount = (count + kSignatureBlock - 1) / kSignatureBlock;
  constexpr size_t kBlock = static_cast<size_t>(kSignatureBins) * kSignatureBlock;
  double* layout =
      blocks.zeroed<double>(kBlock * static_cast<size_t>(blockCount > 0 ? blockCount : 1));
  if (!layout) return nullptr;
  for (int32_t i = 0; i < count; ++i) {
    double* block = layout + kBlock * static_cast<size_t>(i / kSignatureBlock);
    const double* signature = faceSignature(reference, reference.faces[rp.faces[i]]);
    for (int b = 0; b < kSignatureBins; ++b)
      block[b * kSignatureBlock + i % kSignatureBlock] = signature[b];
  }
  return layout;
}

// Tests target face f against the faces of reference part `rp` in list order; the first face
// that passes all three face tests is taken. Every test passed on the way adds 1 to
// f.matchLevel. `signatures` is the part's layOutSignatures, `signature` f's own. Returns true
// when one was taken.
bool matchByTests(const FaceModel& reference, const ModelPart& rp, const double* signatures,
                  ModelFace& f, const double* signature) noexcept {
  f.matchedFace = -1;
  if (!rp.faces) return false;
  alignas(64) double angleDistances[kSignatureBlock];
  constexpr size_t kBlock = static_cast<size_t>(kSignatureBins) * kSignatureBlock;
  for (int32_t i0 = 0; i0 < rp.faceCount; i0 += kSignatureBlock) {
    signatureDistances(signature, signatures + kBlock * (i0 / kSignatureBlock), angleDistances);
    int32_t end = rp.faceCount - i0 < kSignatureBlock ? rp.faceCount : i0 + kSignatureBlock;
    for (int32_t i = i0; i < end; ++i) {
      int32_t g = rp.faces[i];
      int passed = faceTestsPassedWith(angleDistances[i - i0], f, reference.faces[g]);
      f.matchLevel += passed;
      if (passed < kFaceTests) continue;
      f.matchedFace = g;
      return true;
    }
  }
  return false;
}

// Faces handed to a worker at a time by the direct tests.
constexpr int32_t kTestChunk = 64;

// The direct tests of every face of target part `part` that is neither aligned nor coincident
// (those take their reference face), on all cores: each face's result depends on it alone.
// Returns how many faces of the part are matched, or -1 when memory failed.
int32_t matchPartFaces(const FaceModel& reference, const ModelPart& rp, FaceModel* target,
                       const ModelPart& part) noexcept {
  int32_t count = part.faces ? part.faceCount : 0;
  ScopedBlocks blocks;
  const double* signatures = layOutSignatures(reference, rp, blocks);
  if (!signatures) return -1;
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
        } else if (matchByTests(reference, rp, signatures, f, faceSignature(*target, f))) {
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
  return matchFacesWith(reference, target, nullptr);
}

namespace {

// The reference parts whose profiles target part t may read, each once: the part it is matched
// to, and the parts of the reference faces its faces are coincident with or aligned to (the
// propagation reads the profiles of those faces and of faces sharing their points, which lie in
// the same parts). None of this changes during face matching, so every call for t visits the
// same parts. `stamp` must differ from every stamp used before with `seen`.
template <typename Visit>
void forEachProfileSource(const FaceModel& reference, const FaceModel& target, int32_t t,
                          int32_t* seen, int32_t stamp, Visit&& visit) noexcept {
  const ModelPart& part = target.parts[t];
  auto once = [&](int32_t r) {
    if (r < 0 || r >= reference.partCount || seen[r] == stamp) return;
    seen[r] = stamp;
    visit(r);
  };
  once(part.matchedPart);
  for (int32_t i = 0; part.faces && i < part.faceCount; ++i) {
    const ModelFace& face = target.faces[part.faces[i]];
    once(partOfFace(reference, face.partnerFace));
    once(partOfFace(reference, face.alignedMatch ? face.matchedFace : -1));
  }
}

// Reference profiles are released once no target part left can read them: `readers` counts,
// per reference part, the target parts not yet handled that may.
struct ProfileReaders {
  int32_t* readers;
  int32_t* seen;
  int32_t stamp;
};

bool countProfileReaders(const FaceModel& reference, const FaceModel& target, ProfileReaders* r,
                         ScopedBlocks& blocks) noexcept {
  size_t parts = static_cast<size_t>(reference.partCount > 0 ? reference.partCount : 1);
  r->readers = blocks.zeroed<int32_t>(parts);
  r->seen = blocks.zeroed<int32_t>(parts);
  if (!r->readers || !r->seen) return false;
  r->stamp = 0;
  for (int32_t t = 0; t < target.partCount; ++t)
    forEachProfileSource(reference, target, t, r->seen, ++r->stamp,
                         [&](int32_t p) { ++r->readers[p]; });
  return true;
}

// Target part t is done: the reference parts it was the last reader of release their profiles.
void releaseProfilesReadBy(FaceModel* reference, const FaceModel& target, int32_t t,
                           ProfileReaders* r) noexcept {
  forEachProfileSource(*reference, target, t, r->seen, ++r->stamp, [&](int32_t p) {
    if (--r->readers[p] == 0) releasePartProfiles(reference, p);
  });
}

// Face tests, profiles and propagation of target part t. Returns 1, 0 when memory failed, or
// kRunCancelled.
int matchPartOfTarget(FaceModel* reference, FaceModel* target, int32_t t,
                      const ProgressSpan& progress, double faceShare, int64_t* facesDone) noexcept {
  ModelPart& part = target->parts[t];
  int32_t count = part.faces ? part.faceCount : 0;
  // Reported as the part starts: stage, part t + 1 of partCount, faces of earlier parts done.
  const double doneBefore = static_cast<double>(*facesDone) * faceShare;
  auto stage = [&](const char* name) {
    reportProgress(progress, name, t + 1, target->partCount, doneBefore);
    return !progressCancelled(progress);
  };
  if (!stage("face tests")) return kRunCancelled;
  *facesDone += count;
  bool matched = reference && part.matchedPart >= 0 && part.matchedPart < reference->partCount;
  if (!matched) {
    for (int32_t i = 0; i < count; ++i)
      target->faces[part.faces[i]].matchedFace = -1;
    return 1;
  }
  const ModelPart& rp = reference->parts[part.matchedPart];
  int32_t matchedCount = matchPartFaces(*reference, rp, target, part);
  if (matchedCount < 0) return 0;
  if (matchedCount == count) return 1;
  part.flags &= kPartMarked;
  // A part whose profiles cannot have the memory they need keeps what the tests gave.
  if (!stage("profiles")) return kRunCancelled;
  int computed = computePartProfiles(target, t);
  if (computed == kProfilesTooLarge) return 1;
  if (computed) computed = computePartProfiles(reference, part.matchedPart);
  if (!computed) return 0;
  if (computed == kProfilesTooLarge) return 1;
  // Faces matched through coincidence into other reference parts are scored by their
  // profiles too.
  for (int32_t i = 0; i < count; ++i) {
    int32_t other = partOfFace(*reference, target->faces[part.faces[i]].partnerFace);
    if (other >= 0 && !computePartProfiles(reference, other)) return 0;
  }
  if (!stage("propagation")) return kRunCancelled;
  if (!propagateMatches(reference, target, t)) return 0;
  // Nothing reads a target part's profiles once it is propagated; reference parts keep
  // theirs for the other target parts matched to them.
  releasePartProfiles(target, t);
  return 1;
}

}  // namespace

int matchFacesWith(FaceModel* reference, FaceModel* target, const ProgressSpan* span) noexcept {
  if (!target) return 1;
  const ProgressSpan none{};
  const ProgressSpan& progress = span ? *span : none;
  const double faceShare = target->faceCount > 0 ? 1.0 / target->faceCount : 0;
  int64_t facesDone = 0;
  ScopedBlocks blocks;
  ProfileReaders readers{};
  if (reference) {
    for (int32_t i = 0; i < reference->partCount; ++i)
      reference->parts[i].flags &= kPartMarked;
    if (!countProfileReaders(*reference, *target, &readers, blocks)) return 0;
  }
  for (int32_t t = 0; t < target->partCount; ++t) {
    int status = matchPartOfTarget(reference, target, t, progress, faceShare, &facesDone);
    if (status != 1) return status;
    if (reference) releaseProfilesReadBy(reference, *target, t, &readers);
  }
  return 1;
}
