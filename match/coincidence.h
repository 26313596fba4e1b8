#pragma once
// Coincidence pairing: points within 0.001 on each axis, faces on the same paired points, and
// target parts anchored by two paired faces in one reference part.
struct FaceModel;

// Sets partner, partnerFace, coincidentPart and matchedPart, exactly as scans of the reference
// model in index order would. Returns 1, or 0 when memory failed (both models then unchanged).
int pairCoincidentGeometry(FaceModel* reference, FaceModel* target) noexcept;
