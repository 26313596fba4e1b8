#pragma once
// The matching run: loads both files, reads, pairs and matches them, with progress lines.
struct DialogPort;

// Runs the whole matching. `referencePath` may be empty, "NULL" or "No Use" (any case) for none.
// Fills the run state (referenceModel, targetModel, commentList). Returns 1 when the target gave
// a model with at least one part and the matching completed, 0 otherwise (with "Error Quit").
int runMatching(DialogPort* dialog, const char* referencePath, const char* targetPath) noexcept;
