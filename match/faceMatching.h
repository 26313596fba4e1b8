#pragma once
// Face matching: every target face gets its reference face by coincidence, by the three direct
// tests, or by propagation.
struct FaceModel;

// Returns 1, or 0 when memory failed.
int matchFaces(FaceModel* reference, FaceModel* target) noexcept;
