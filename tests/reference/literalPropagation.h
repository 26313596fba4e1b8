#pragma once
// Propagation written as plainly stated: both passes of each step scan the whole part list,
// the considered-flags cover the whole target model and are cleared at every pass.
#include <vector>

#include "compare/propagationInternal.h"

// Index of the first record with a reference face in a stable ascending sort by score with
// NaN after every number; -1 when no record has one.
int literalChooseSeed(const std::vector<SeedCandidate>& records);
// Does what propagateMatches(reference, target, partIndex) must do, matches and marks alike,
// for a target part with a matched part whose faces (and their matched faces) have profiles.
void literalPropagateMatches(FaceModel* reference, FaceModel* target, int partIndex);
