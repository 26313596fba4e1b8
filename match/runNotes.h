#pragma once
// The detail lines of a run (DialogPort::addDetailLine): why a file could not be read, a file
// that gave no faces, and what ran out of memory with what to try.
struct DialogPort;
struct FaceModel;

// "cannot read PATH: REASON": the system's reason why `path` names no readable regular file.
void noteUnreadable(DialogPort* dialog, const char* path) noexcept;
// "no 3DFACE entities in PATH", for a file that was read and gave no faces.
void noteNoFaces(DialogPort* dialog, const char* path) noexcept;
// "out of memory while reading PATH (N MiB): ..." when a file's model could not be made.
void noteOutOfMemoryReading(DialogPort* dialog, const char* path) noexcept;
// "out of memory while STAGE (...)": the stage, the sizes of both models (either may be null)
// and what to try; the alignment option is suggested when `aligning` is 0 and the stage works
// part by part.
void noteOutOfMemory(DialogPort* dialog, const char* stage, const FaceModel* reference,
                     const FaceModel* target, int aligning) noexcept;
