#pragma once
// Face matching: every target face gets its reference face by coincidence, by the three direct
// tests, or by propagation. Faces matched by their part's alignment (alignedMatch) keep their
// match, and a part whose faces all have one needs no influence profiles. A target part whose
// profiles, or its matched reference part's, would need more memory than the process can be
// given is not propagated (its faces keep what the tests gave); that part gets kPartTooLarge.
// A target part's profiles are released once it is propagated.
struct FaceModel;

struct ProgressSpan;

// Returns 1, or 0 when memory failed.
int matchFaces(FaceModel* reference, FaceModel* target) noexcept;
// The same, reporting each target part ("face tests", "profiles", "propagation", part k of n,
// by the share of faces done) to `span` (may be null) and stopping between parts when it asks:
// kRunCancelled then, with the parts done so far matched.
int matchFacesWith(FaceModel* reference, FaceModel* target, const ProgressSpan* span) noexcept;
