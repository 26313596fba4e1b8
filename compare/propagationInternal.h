#pragma once
// Inside the propagation, open to its tests: the seed choice and one spreading step.
#include <cstdint>

struct FaceModel;

struct SeedCandidate {
  double score;  // lower is better; NaN sorts last
  int32_t targetFace;
  int32_t referenceFace;  // -1 when no reference face was found
};

// Sets mark to kMarkUnreached on every face of one part.
void clearPartMarks(FaceModel* model, int partIndex) noexcept;

// One step of spreading from the current front (target marks kMarkFront and kMarkSpread): pass 1
// pairs edge neighbours of each front face with edge neighbours of its reference face, pass 2 faces
// that meet it at a single corner. `seedFace` is the seed target face (its matchedFace is set);
// with `requireMatchLevel` only target faces whose matchLevel is not 0 may be matched.
// Returns true when a front face was handled in either pass (false also when memory failed).
bool propagationStep(FaceModel* reference, FaceModel* target, int targetPartIndex, int seedFace,
                     bool requireMatchLevel) noexcept;

// Index of the seed among `count` records: the first record of a stable ascending sort by
// score (NaN after every number) whose referenceFace is 0 or more; -1 when none has one.
int chooseSeed(const SeedCandidate* records, int count) noexcept;
