#pragma once
// Inside the influence profiles, open to their tests: the plain statement of one spreading pass
// and the mark reset it starts from.
#include <cstdint>

struct FaceModel;

// Sets mark to kMarkUnreached on every face of the parts flagged kPartMarked, and clears the
// flag: every face of the model is then unmarked when marks are only set through setFaceMark
// or on parts so flagged.
void clearFaceMarks(FaceModel* model) noexcept;

// One spreading pass, the plain statement of what computePartProfiles computes with a queue:
// for each face f among the first `count` entries of `faceList`, in order, whose mark is kMarkFront
// when it is reached, v = values[f]; every face g != f in the face list of each corner point of f
// gets values[g] += v / sqrt(squaredDistance(normals) + squaredDistance(scaled centres))
// (0 when that root is 0) and mark kMarkFront when its mark was kMarkUnreached; then f's mark goes
// to kMarkSpread. `values` is indexed by face index (the model's faceCount entries). Returns true
// when a face spread.
bool spreadInfluence(FaceModel* model, double* values, int count, const int32_t* faceList) noexcept;

// The key that scrambles a part's slot order for a part whose spreading overflows: the
// SplitMix64 output for the state `slot` (the state plus 0x9E3779B97F4A7C15, then the two
// multiply-xorshift rounds). Slots are taken in ascending order of the key's upper 32 bits,
// ties by slot.
inline uint64_t scrambleKey(uint64_t slot) noexcept {
  uint64_t z = slot + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}
