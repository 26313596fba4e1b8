#pragma once
// Angle signatures: how the surface bends around each face, as 17 angle bins.
#include "model/faceModel.h"

constexpr int kSignatureBins = kFaceSignatureBins;

// Links every point to the faces that use it, then gives every face (in faceSignatures, made
// here when the model has none) and every part its angle signature. Runs once on a freshly
// grouped model. A NaN normal makes no angle with its neighbours and adds nothing. Returns 1,
// or 0 when memory failed (face lists already grown stay with the model).
int computeAngleSignatures(FaceModel* model) noexcept;
// Distance of signature `a` to `b` (not symmetric: only bins `a` occupies earn the advantage),
// using matchSettings.sameFaceAngleAdvantage. May be negative.
double signatureDistance(const double a[kSignatureBins], const double b[kSignatureBins]) noexcept;

// Signatures compared side by side: kSignatureBlock of them laid out bin by bin.
constexpr int kSignatureBlock = 32;
// out[k] = signatureDistance(a, b_k) for k < kSignatureBlock, where bin i of b_k is
// layout[i * kSignatureBlock + k]: the same values, bit for bit, eight or four at a time where
// the processor can.
void signatureDistances(const double a[kSignatureBins], const double* layout, double* out) noexcept;
