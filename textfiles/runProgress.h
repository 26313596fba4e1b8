#pragma once
// How far a matching run has come, and whether the user asked it to stop. The front end fills
// a RunProgress; the run reports to it and polls it between stages and parts. Lower layers
// know only this record, never the dialog or the terminal.
#include <cstdint>

// A stage's result when the run was asked to stop: nothing more was done.
constexpr int kRunCancelled = -2;

struct RunProgress {
  void* context;  // the front end's own object
  // The run entered `stage` (a short name: "reading", "pairing", "profiles", ...), part `part`
  // of `parts` (0 of 0 when the stage is not split into parts); `fraction` of the whole run is
  // done (0 to 1). Called on the run's thread; may be called often.
  void (*report)(RunProgress* self, const char* stage, int32_t part, int32_t parts,
                 double fraction);
  // Not 0 once the run should stop. Called on the run's thread.
  int (*cancelRequested)(RunProgress* self);
};

// The share [from, to] of the whole run that one stage covers, and where it reports.
struct ProgressSpan {
  RunProgress* sink;  // null: nothing reported, never cancelled
  double from;
  double to;
};

// Reports `stage`, part `part` of `parts`, `done` (0 to 1) of the span through; nothing
// without a sink or a report function.
void reportProgress(const ProgressSpan& span, const char* stage, int32_t part, int32_t parts,
                    double done) noexcept;
// Whether the span's sink asks the run to stop (false without one).
bool progressCancelled(const ProgressSpan& span) noexcept;
