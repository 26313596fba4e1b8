#pragma once
// Part alignment: target parts that the other modeller turned, mirrored, rescaled or whose
// quads it split are aligned onto reference parts of the same shape by a similarity transform,
// and their faces take the reference faces they land on.
#include <cstdint>

struct FaceModel;

// Values of ModelFace::alignedMatch.
constexpr int32_t kAlignedFace = 1;  // matched through its part's alignment
constexpr int32_t kGuessedFace = 2;  // as 1, but other alignments of a symmetric part (or of a
                                     // copy on other layers) would give another layer

struct AlignSummary {
  int32_t candidateParts;  // target parts tried: alignable, with faces not coincident
  int32_t alignedParts;    // of them, aligned onto a reference part
  int32_t alignedFaces;    // target faces matched through an alignment
  int32_t guessedFaces;    // of them, faces whose layer is a guess
  int32_t sharedMotions;   // motions that moved more than one part
};

// Aligns the target parts onto reference parts after coincidence pairing and part matching
// (angle signatures computed: points know their faces). An aligned target part gets
// matchedPart; each of its faces that finds a reference face gets matchedFace, matchLevel 3 and
// alignedMatch; faces with a coincident partner are left alone. Parts that cannot be aligned
// (too few points, all on a line, broken coordinates, no reference part of their shape) are
// left as they were. Fills `summary` when not null. Returns 1, or 0 when memory failed.
int alignParts(FaceModel* reference, FaceModel* target, AlignSummary* summary) noexcept;
