#pragma once
// Face correspondence propagation: spreading matches over a matched pair of parts from one
// trusted seed pair.
#include <cstdint>

struct FaceModel;

struct SeedCandidate {
  double score;           // lower is better; NaN sorts last
  int32_t targetFace;
  int32_t referenceFace;  // -1 when no reference face was found
};

// Spreads matches over target part `targetPartIndex` and its matched reference part. Does
// nothing when the part has no matched part. Returns 1, or 0 when memory failed.
int propagateMatches(FaceModel* reference, FaceModel* target, int targetPartIndex) noexcept;
// Sets mark to 0 on every face of one part.
void clearPartMarks(FaceModel* model, int partIndex) noexcept;
