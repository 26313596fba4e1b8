#pragma once
// Face correspondence propagation: spreading matches over a matched pair of parts from one
// trusted seed pair.
#include <cstdint>

struct FaceModel;

// Spreads matches over target part `targetPartIndex` and its matched reference part. Does
// nothing when the part has no matched part. Returns 1, or 0 when memory failed.
//
// Every face t of the target part proposes a reference face: its own matchedFace when it has
// one (score halved), else the face of the matched part with the smallest profile difference
// plus 0.01 x signature distance. The seed is the best proposal (see chooseSeed in
// compare/propagationInternal.h); when no face found a reference face the part is left as it is.
// From the seed the first phase spreads over faces whose matchLevel is not 0, with the faces
// matched before as walls; the second spreads from every matched face of the part over the rest. A
// face's matchedFace, once set, is never changed, except the seed's, which takes its proposal.
// Reads the profiles of the target part, of the matched reference part and of every reference face
// a target face is matched to; a record whose profiles are missing gets the score 1e308 (matched)
// or proposes no face from them (unmatched). `reference` and `target` are different models.
int propagateMatches(FaceModel* reference, FaceModel* target, int targetPartIndex) noexcept;
