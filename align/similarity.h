#pragma once
// Similarity transforms (rotation or reflection, uniform scale, translation) between the parts
// of two models, and their least-squares estimate from corresponding points.
#include <cstdint>

#include "model/vectors.h"

// x -> scale * rotation * (x - from) + to. `rotation` is row-major and orthonormal; its
// determinant is -1 for a mirror image. Zero-filled it maps everything onto `to`.
struct Similarity {
  double rotation[9];
  double scale;
  Vec3 from;
  Vec3 to;
};

// The transform applied to a point.
Vec3 applySimilarity(const Similarity& s, const Vec3& p) noexcept;
// True when the rotation part is a reflection (determinant below zero).
bool isMirroring(const Similarity& s) noexcept;
// The transform that takes the orthonormal frame `source` (three row vectors at `sourceOrigin`)
// onto `target` at `targetOrigin`, scaling by `scale`.
Similarity similarityFromFrames(const Vec3 source[3], const Vec3& sourceOrigin,
                                const Vec3 target[3], const Vec3& targetOrigin,
                                double scale) noexcept;
// Least-squares similarity taking the `count` positions `source` onto `target` (Umeyama), with
// a reflection when `mirror` is set. Returns false when the points do not fix one (fewer than
// three, or all on a line) or memory failed.
bool fitSimilarity(const Vec3* source, const Vec3* target, int32_t count, bool mirror,
                   Similarity* out) noexcept;
