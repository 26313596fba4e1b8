#pragma once
// Influence profiles computed as plainly stated: whole-model value arrays, every mark cleared
// at every seed, passes in part-list order (or the scrambled order when that overflows), a
// plain stable sort and the sampling formula.
struct FaceModel;

// Gives the faces of part `partIndex` the influenceSum and profile (allocator blocks the model
// owns), the part its flags and the marks that computePartProfiles must give, bit for bit.
void literalPartProfiles(FaceModel* model, int partIndex);
