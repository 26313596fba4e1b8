#pragma once
// Influence profiles: where a face sits within its part, as 256 sorted influence samples.
struct FaceModel;

constexpr int kProfileSamples = 256;

// Computes influence, influenceSum and profile of every face of part `partIndex` and sets bit 0
// of its flags. Does nothing for an index out of range or a part already computed. Afterwards
// every face of the model outside the part has mark 0 and the part's faces mark 2.
// Returns 1, or 0 when memory failed.
int computePartProfiles(FaceModel* model, int partIndex) noexcept;
// Sets mark to 0 on every face of the model.
void clearFaceMarks(FaceModel* model) noexcept;
