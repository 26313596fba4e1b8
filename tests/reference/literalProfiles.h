#pragma once
// Influence profiles computed as plainly stated: whole-model value arrays, every mark cleared
// at every seed, passes in part-list order, a plain stable sort and the sampling formula.
struct FaceModel;

// Gives the faces of part `partIndex` the influence, influenceSum and profile (allocator
// blocks the model owns) and the marks that computePartProfiles must give, bit for bit.
void literalPartProfiles(FaceModel* model, int partIndex);
