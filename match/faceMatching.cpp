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
    const double* signature = reference.faces[rp.faces[i]].angleSignature;
    for (int b = 0; b < kSignatureBins; ++b)
      block[b * kSignatureBlock + i % kSignatureBlock] = signature[b];
  }
  return layout;
}

// Tests target face f against the faces of reference part `rp` in list order; the first face
// that passes all three face tests is taken. Every test passed on the way adds 1 to
// f.matchLevel. `signatures` is the part's layOutSignatures. Returns true when one was taken.
bool matchByTests(const FaceModel& reference, const ModelPart& rp, const double* signatures,
                  ModelFace& f) noexcept {
  f.matchedFace = -1;
  if (!rp.faces) return false;
  alignas(64) double angleDistances[kSignatureBlock];
  constexpr size_t kBlock = static_cast<size_t>(kSignatureBins) * kSignatureBlock;
  for (int32_t i0 = 0; i0 < rp.faceCount; i0 += kSignatureBlock) {
    signatureDistances(f.angleSignature, signatures + kBlock * (i0 / kSignatureBlock),
                       angleDistances);
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
        } else if (matchByTests(reference, rp, signatures, f)) {
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

int matchFacesWith(FaceModel* reference, FaceModel* target, const ProgressSpan* span) noexcept {
  if (!target) return 1;
  const ProgressSpan none{};
  const ProgressSpan& progress = span ? *span : none;
  const double faceShare = target->faceCount > 0 ? 1.0 / target->faceCount : 0;
  int64_t facesDone = 0;
  if (reference) {
    for (int32_t i = 0; i < reference->partCount; ++i)
      reference->parts[i].flags &= kPartMarked;
  }
  for (int32_t t = 0; t < target->partCount; ++t) {
    ModelPart& part = target->parts[t];
    int32_t count = part.faces ? part.faceCount : 0;
    // Reported as the part starts: stage, part t + 1 of partCount, faces of earlier parts done.
    const double doneBefore = static_cast<double>(facesDone) * faceShare;
    auto stage = [&](const char* name) {
      reportProgress(progress, name, t + 1, target->partCount, doneBefore);
      return !progressCancelled(progress);
    };
    if (!stage("face tests")) return kRunCancelled;
    facesDone += count;
    bool matched = reference && part.matchedPart >= 0 && part.matchedPart < reference->partCount;
    if (!matched) {
      for (int32_t i = 0; i < count; ++i)
        target->faces[part.faces[i]].matchedFace = -1;
      continue;
    }
    const ModelPart& rp = reference->parts[part.matchedPart];
    int32_t matchedCount = matchPartFaces(*reference, rp, target, part);
    if (matchedCount < 0) return 0;
    if (matchedCount == count) continue;
    part.flags &= kPartMarked;
    // A part whose profiles cannot have the memory they need keeps what the tests gave.
    if (!stage("profiles")) return kRunCancelled;
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
    if (!stage("propagation")) return kRunCancelled;
    if (!propagateMatches(reference, target, t)) return 0;
    // Nothing reads a target part's profiles once it is propagated; reference parts keep
    // theirs for the other target parts matched to them.
    releasePartProfiles(target, t);
  }
  return 1;
}
