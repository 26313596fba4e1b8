#pragma once
// The matching run: loads both files, reads, pairs and matches them, with progress lines.
#include <cstdint>

struct DialogPort;
struct FaceModel;
struct RunProgress;

// Runs the whole matching. `referencePath` may be empty, "NULL" or "No Use" (any case) for none.
// Fills the run state (referenceModel, targetModel, commentList). Returns 1 when the target gave
// a model with at least one part and the matching completed, 0 otherwise (with "Error Quit").
//
// Progress lines, in order: "Start..."; "Read Error : Reference DXF. continue..." when a
// reference path was given that names no readable regular file (the run then goes on with an
// empty reference model); "Syntax Error : Reference DXF. continue..." when memory ran out while
// the reference was loaded or read (the run goes on without a reference); then for the target
// "Read Error : Terget DXF" (no path, or not a readable regular file), "Syntax Error : Terget
// DXF" (memory ran out while it was loaded or read) or "Empty Data : Terget DXF" (no 3DFACE);
// with a reference model the counts line "%d Parts / %d Faces / %d Points" of the target;
// "Done."; "Error Quit" after every failure, including a matching stage that ran out of memory.
// A file with faces in other forms than 3DFACE, or that the reader had notes on, adds the lines
// of addReadLines (match/readReport.h) after its reading. A binary DXF in either file stops the
// run with "binary DXF is not read: save PATH as ASCII DXF" (then "Read Error : Terget DXF" for
// the target); a target with faces that could not be read stops it with "PATH would lose faces:
// not written (--keep-target keeps them)" unless RunOptions::keepTarget is set.
int runMatching(DialogPort* dialog, const char* referencePath, const char* targetPath) noexcept;

// Choices of a run beyond the settings file. Zero-filled: the run runMatching makes.
struct RunOptions {
  int32_t alignParts;  // not 0: align turned, mirrored and rescaled parts before face matching
  int32_t keepTarget;  // not 0: the target model keeps its file's bytes and its faces' origins
                       // (saveKeptTarget writes it back whole), so faces it could not read do
                       // not stop the run
  RunProgress* progress;  // null: nothing reported; else told each stage and part, and polled
                          // between them for a request to stop
};

// runMatching with `options` (null: all zero). With alignParts set, the line "Align: %d of %d
// parts, %d faces" (parts aligned, parts tried, faces matched through them) follows the counts
// line, and faces of aligned parts keep their reference faces through face matching.
// Detail lines (DialogPort::addDetailLine) follow a failure line: the file and the system's
// reason when a file cannot be read, "no 3DFACE entities in PATH" for a file without faces (the
// reference's run goes on), and after a stage that ran out of memory, the stage, the models'
// sizes and what to try. When the progress record asks the run to stop, it releases the run
// state, adds "Cancelled" instead of "Error Quit" and returns 0.
int runMatchingWith(DialogPort* dialog, const char* referencePath, const char* targetPath,
                    const RunOptions* options) noexcept;

// How the target faces of a finished run found their reference faces.
struct MatchTally {
  int32_t coincident;     // taken from the coincident reference face (kMatchLevelCoincident)
  int32_t byTests;        // taken by the three direct face tests
  int32_t byPropagation;  // reached by the correspondence propagation
  int32_t unmatched;      // matchedFace -1: the face keeps its own layer
  int32_t aligned;        // taken through the alignment of its part (0 unless aligning)
  int32_t guesses;        // of the aligned, faces of symmetric parts whose layer is a guess
};

// Counts the faces of `target` after a run with `reference` (either may be null) by how each
// was matched (howMatched in match/howMatched.h states the rule). Reads the settings the run
// used (matchSettings).
MatchTally tallyMatches(const FaceModel* reference, const FaceModel* target) noexcept;
