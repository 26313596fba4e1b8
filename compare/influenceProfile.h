#pragma once
// Influence profiles: where a face sits within its part, as 256 sorted influence samples.
#include <cstdint>

struct FaceModel;

constexpr int kProfileSamples = 256;

// computePartProfiles' result for a part whose computation needs more memory than the process
// can be given.
constexpr int kProfilesTooLarge = 2;

// Bytes the profiles of a part of `faceCount` faces need while they are computed (an estimate
// from above: the count x count influence values and the working arrays).
double profileMemoryNeed(int32_t faceCount) noexcept;
// The same when a pass keeps the values of `passColumns` columns (faces) only.
double profilePassMemoryNeed(int32_t faceCount, int32_t passColumns) noexcept;

// Most passes over a part's seeds when its values cannot all be kept at once.
constexpr int kMostProfilePasses = 8;

// Computes influenceSum and profile of every face of part `partIndex` and sets
// kPartProfilesComputed in its flags. Does nothing for an index out of range or a part already
// computed. Afterwards every face of the model outside the part has mark kMarkUnreached and the
// part's faces kMarkSpread. Returns 1, or 0 when memory failed. When profileMemoryNeed is more
// than availableMemoryBytes (textfiles/platform.h), the seeds are spread in up to
// kMostProfilePasses passes, each keeping the values of as many columns (faces) as fit, and the
// part's profilePasses says how many it took (kPartShortOfMemory set); the profiles are the
// same. The values of the later passes' columns are written to a scratch file while the seeds
// spread once, and read back pass by pass (kPartProfilesSpilled); without a file to be had,
// the seeds are spread again in every pass. A part whose values would take more than 1.75 GiB
// is profiled so, through the file, even when the memory is there. When even eight passes do
// not fit, nothing is computed or allocated: the part gets kPartTooLarge and the result is
// kProfilesTooLarge.
//
// Every face of the part in turn is the seed: a unit of influence starts on it and spreads over
// the part through shared corner points (as spreadInfluence in compare/influenceInternal.h states
// it), then the values are normalised to sum 1; influenceSum is the sum before. A face's
// `profile` samples the sorted influence the face received from every seed. A weight between two
// faces with equal normals and equal scaled centres (a face given twice) is 0, so such faces do
// not turn the part's profiles into NaN. The influence values kept (count x count, or the
// columns of one pass) live in one block while the profiles are made, and are released then.
//
// Overflow: a part whose faces are listed along its surface (as modellers write them) carries a
// chain of divisions by numbers below 1 across the part within one pass, and the values reach
// +inf. When any seed's sum is +inf, the whole part is spread again, and flagged
// kPartProfilesScrambled, with two changes: (1) every pass, the seeds' order and the sums take
// the faces in the scrambled order: slot s before slot t when the upper 32 bits of
// scrambleKey(s) are below those of scrambleKey(t), ties by slot (see influenceInternal.h);
// (2) when a face holding more than 2^512 is about to spread, every value of that seed is first
// multiplied by 2^-512 (exact, but for values becoming subnormal). Profiles are then finite
// unless a weight's denominator is below about 2^-500. Parts that do not overflow are computed
// exactly as before. Seeds are spread on all cores; the results do not depend on the number of
// threads. On failure the part's faces hold no profile arrays and the part stays marked as not
// computed.
int computePartProfiles(FaceModel* model, int partIndex) noexcept;

// Makes computePartProfiles take `bytes` as the memory it can have, for every part however
// small (0: ask the system, for parts needing over 64 MiB). For tests and benchmarks.
void setProfileMemoryBudget(double bytes) noexcept;

// Releases the profiles of the faces of part `partIndex` (nothing for an index out of range);
// the part keeps its flags.
void releasePartProfiles(FaceModel* model, int partIndex) noexcept;

// Threads used by computePartProfiles and by the seed scoring of propagateMatches: 0 (the
// default) means one per core. Results never depend on it.
void setProfileThreadCount(int count) noexcept;
