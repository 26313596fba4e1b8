#pragma once
// Inside the influence profiles, open to their tests: the plain statement of one spreading pass
// and the mark reset it starts from.
#include <cstdint>

struct FaceModel;

// Sets mark to kMarkUnreached on every face of the model.
void clearFaceMarks(FaceModel* model) noexcept;

// One spreading pass, the plain statement of what computePartProfiles computes with a queue:
// for each face f among the first `count` entries of `faceList`, in order, whose mark is kMarkFront
// when it is reached, v = values[f]; every face g != f in the face list of each corner point of f
// gets values[g] += v / sqrt(squaredDistance(normals) + squaredDistance(scaled centres))
// (0 when that root is 0) and mark kMarkFront when its mark was kMarkUnreached; then f's mark goes
// to kMarkSpread. `values` is indexed by face index (the model's faceCount entries). Returns true
// when a face spread.
bool spreadInfluence(FaceModel* model, double* values, int count, const int32_t* faceList) noexcept;
