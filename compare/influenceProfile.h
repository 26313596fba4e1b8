#pragma once
// Influence profiles: where a face sits within its part, as 256 sorted influence samples.
#include <cstdint>

struct FaceModel;

constexpr int kProfileSamples = 256;

// Computes influence, influenceSum and profile of every face of part `partIndex` and sets
// kPartProfilesComputed in its flags. Does nothing for an index out of range or a part already
// computed. Afterwards every face of the model outside the part has mark kMarkUnreached and the
// part's faces kMarkSpread. Returns 1, or 0 when memory failed.
//
// Every face of the part in turn is the seed: a unit of influence starts on it and spreads over
// the part through shared corner points (as spreadInfluence in compare/influenceInternal.h states
// it), then the values are normalised to sum 1. A face's `influence` has the part's faceCount
// entries, indexed by partSlot: entry g of face a's array is what face g received with a as the
// seed. Its `profile` samples the sorted influence the face received from every seed. A weight
// between two faces with equal normals and equal scaled centres (a face given twice) is 0, so such
// faces do not turn the part's profiles into NaN. Seeds are spread on all cores; the results do not
// depend on the number of threads. On failure the part's faces hold no influence or profile arrays
// and the part stays marked as not computed.
int computePartProfiles(FaceModel* model, int partIndex) noexcept;

// Threads used by computePartProfiles and by the seed scoring of propagateMatches: 0 (the
// default) means one per core. Results never depend on it.
void setProfileThreadCount(int count) noexcept;
