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

struct FaceModel;
struct KeptTargetSummary;
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
                            // layers (outputLayer; keptTargetLayer when the target file was
                            // kept for writing it back whole); texts in one block with the array
  int32_t* referenceLayer;  // per reference face, its layer's index in layerNames
  int32_t* outputLayer;     // per target face, its written layer's index in layerNames
  uint8_t* how;             // per target face, HowMatched (| kKeptGuess)
  LineList* comments;       // the target's 999 comments; null for none
  MatchTally tally;         // tallyMatches of the run
  int32_t rotation;         // the corner rotation the run read the files with
  // Only when the run kept the target's file for writing it back whole (keepResultAndReleaseRun):
  int32_t* keptMatch;  // per target face, the face of `layers` whose layer it takes; -1 none
  FaceModel* layers;   // the reference's layer names, in its order, one face on each; or null
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

// Once a run has ended: keeps its result in `kept` (keepRunResult) and releases the run
// state. When the run kept the target's file for writing it back whole (RunOptions::keepTarget),
// the result also keeps what that write reads of the reference (keptMatch, layers); the file is
// read again when it is written. Freed memory goes back to the system. Returns 1, or 0 when
// memory failed: the run state is then released all the same and `kept` is empty.
int keepResultAndReleaseRun(KeptResult* kept) noexcept;

// The target written back whole under `path` from a result kept with keptMatch, byte for byte
// as saveKeptTarget writes it right after the run: the file `targetPath` is read again with
// the run's rotation and must give the faces the result holds (same corners, same positions),
// else nothing is written and errno is ESTALE. `referencePath` as for saveKeptTarget. The run
// state must be empty (the write borrows it). `written` 0 when nothing was written.
KeptTargetSummary saveKeptResultTarget(const char* path, const char* targetPath,
                                       const char* referencePath, const KeptResult& kept) noexcept;
