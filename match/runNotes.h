#pragma once
// The detail lines of a run (DialogPort::addDetailLine): why a file could not be read, a file
// that gave no faces, and what ran out of memory with what to try.
struct DialogPort;
struct FaceModel;

// After the reference was read from `path`: "cannot read PATH: REASON" when it names no
// readable regular file; the out-of-memory line when no model could be made; "no 3DFACE
// entities in PATH" when the model has no face.
void noteReferenceRead(DialogPort* dialog, const char* path) noexcept;
// The same for the target, after a read that ended the run; an empty path is said so.
void noteTargetRead(DialogPort* dialog, const char* path) noexcept;
// "out of memory while STAGE (...)": the stage, the sizes of both models (either may be null)
// and what to try; the alignment option is suggested when `aligning` is 0 and the stage works
// part by part.
void noteOutOfMemory(DialogPort* dialog, const char* stage, const FaceModel* reference,
                     const FaceModel* target, int aligning) noexcept;
