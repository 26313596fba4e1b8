#pragma once
// The three direct face tests of face matching, in order: angle signature, normal, scaled
// centre, each a strict comparison with its tolerance in matchSettings.
#include "compare/angleSignature.h"
#include "model/faceModel.h"
#include "model/vectors.h"
#include "textfiles/settings.h"

constexpr int kFaceTests = 3;

// How many of the tests target face `face` passes against reference face `candidate` before
// the first it fails, given their signature distance `angleDistance`: 0..kFaceTests
// (kFaceTests: a match). A NaN fails its test.
inline int faceTestsPassedWith(double angleDistance, const ModelFace& face,
                               const ModelFace& candidate) noexcept {
  if (!(angleDistance < matchSettings.faceAngleMatching)) return 0;
  if (!(distance(face.normal, candidate.normal) < matchSettings.vectorMatching)) return 1;
  if (!(distance(face.scaledCentre, candidate.scaledCentre) < matchSettings.facePositionMatching))
    return 2;
  return kFaceTests;
}

// The same for `face` of `target` and `candidate` of `reference`, the signature distance
// computed here.
inline int faceTestsPassed(const FaceModel& target, const ModelFace& face,
                           const FaceModel& reference, const ModelFace& candidate) noexcept {
  return faceTestsPassedWith(
      signatureDistance(faceSignature(target, face), faceSignature(reference, candidate)), face,
      candidate);
}
