#pragma once
// A finished run cut down to what is read after it: both models' points and face corners,
// the layer each face is drawn and written under, how each target face was matched, the tally
// and the target's comments. Built from the run state once a run has ended, so that the run's
// models (hundreds of bytes a face) can be released; a later save writes the same bytes from
// it, the pictures draw the same pixels and the "Faces:" line reads the same counts.
#include <cstdint>

#include "match/howMatched.h"
#include "match/matchingRun.h"
#include "render/renderMesh.h"

struct LineList;

// KeptResult::how: the HowMatched of a target face, plus this bit when its layer is a guess.
constexpr uint8_t kKeptGuess = 0x80;

// Plain record, valid when zero-filled (no result). Owns every array.
struct KeptResult {
  int32_t hasReference;     // 1 when the run had a reference model
  RenderMesh reference;     // the reference model's points and faces
  RenderMesh target;        // the target model's points and faces, exact as written
  int32_t layerCount;       // distinct names below
  char** layerNames;        // names in byte order: reference faces' layers, target faces' written
                            // layers (outputLayer); texts in one block with the array
  int32_t* referenceLayer;  // per reference face, its layer's index in layerNames
  int32_t* outputLayer;     // per target face, its written layer's index in layerNames
  uint8_t* how;             // per target face, HowMatched (| kKeptGuess)
  LineList* comments;       // the target's 999 comments; null for none
  MatchTally tally;         // tallyMatches of the run
};

// How target face `f` was matched, and whether its layer is a guess.
inline HowMatched keptHow(const KeptResult& kept, int32_t f) {
  return static_cast<HowMatched>(kept.how[f] & ~kKeptGuess);
}
inline bool keptGuess(const KeptResult& kept, int32_t f) {
  return (kept.how[f] & kKeptGuess) != 0;
}

// Fills `kept` (releasing what it held) from the run state (referenceModel, targetModel) and
// moves commentList into it (the run state's list becomes null). Reads the settings the run
// used (matchSettings). Returns 1, or 0 when there is no target model or memory failed (`kept`
// is then empty and commentList where it was).
int keepRunResult(KeptResult* kept) noexcept;
// Releases everything the result owns and zeroes it; null does nothing.
void releaseKeptResult(KeptResult* kept) noexcept;

// The output DXF of the kept result under `path`, byte for byte the file saveTargetDxf writes
// from the run state the result was kept from, whole or not at all. Returns 1 when written, 0
// otherwise (nothing at `path` changed then).
int saveKeptResultDxf(const char* path, const KeptResult& kept) noexcept;

// Once a run has ended: keeps its result in `kept` (keepRunResult), then releases the run
// state, but for a target kept whole for writing back (its kept file bytes), which
// saveKeptTarget reads: the target model then stays without what only the matching needs
// (keepOnlyWhatSavingNeeds), and the reference model is replaced by one face on each of its
// layer names (in the same order), each matched target face's matchedFace naming the face of
// its layer (-1 for a face on no layer), so that the target is written back with the same
// bytes. Freed memory goes back to the system. Returns 1, or 0 when memory failed: the run state is
// then released all the same and `kept` is empty.
int keepResultAndReleaseRun(KeptResult* kept) noexcept;
