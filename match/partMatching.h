#pragma once
// Part matching: every unanchored target part gets a reference part by size, then three passes
// re-examine the open ones.
struct FaceModel;

void matchParts(FaceModel* reference, FaceModel* target) noexcept;
