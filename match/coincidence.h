#pragma once
// Coincidence pairing: points within 0.001 on each axis, faces on the same paired points, and
// target parts anchored by two paired faces in one reference part.
struct FaceModel;

// Sets partner, partnerFace, coincidentPart and matchedPart. Returns 1, or 0 when memory failed.
int pairCoincidentGeometry(FaceModel* reference, FaceModel* target) noexcept;
