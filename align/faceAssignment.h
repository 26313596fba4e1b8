#pragma once
// The faces of an aligned part: each target face finds the reference face it lies on once the
// part's points are mapped onto reference points.
#include <cstdint>

#include "align/similarity.h"

struct FaceModel;
struct PointTree;

// Reference face for face `f` of the target, whose corners are mapped by `pointMap` (target
// point -> reference point), within reference part `r`: the face on the same corners (in any
// order), else a face holding all its corners (a triangle cut from a quad), else the first face
// whose corners all lie among its corners (a quad cut into triangles); -1 when none.
int32_t faceOnMappedCorners(const FaceModel& reference, const FaceModel& target, int32_t f,
                            const int32_t* pointMap, int32_t r) noexcept;
// Reference face of part `r` whose centre is nearest to the centre of target face `f` moved by
// `motion`, when that is within a quarter of the moved face's size; -1 otherwise.
// `centres` indexes the centres of every reference face (face index order).
int32_t faceByCentre(const FaceModel& reference, const FaceModel& target, int32_t f,
                     const Similarity& motion, const PointTree* centres, int32_t r) noexcept;
// Mean corner position of face `f`.
Vec3 faceCentre(const FaceModel& model, int32_t f) noexcept;
// A tree over the centres of every face of `model`; null when memory failed or no faces.
PointTree* buildFaceCentreTree(const FaceModel& model) noexcept;
