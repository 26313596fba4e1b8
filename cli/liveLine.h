#pragma once
// The batch tool's live progress line: one line on standard error, redrawn in place while the
// run goes on ("profiles  part 3 of 40  57%  0:12") and cleared before anything else is
// printed and at the end. Only for a terminal; zero-filled it shows nothing.
#include <cstdint>

struct LiveLine {
  bool enabled;     // standard error is a terminal and --quiet was not given
  bool shown;       // the line is on the screen now
  int64_t startNs;  // steady clock at the run's start
  int64_t drawnNs;  // steady clock when the line was last drawn
  char stage[48];   // the stage last drawn
  int32_t part;     // the part last drawn
};

// Starts the clock.
void startLiveLine(LiveLine* live) noexcept;
// Draws the line: `stage`, "part k of n" when `parts` > 0, the share done, the time since the
// start, cut to the terminal's width. Redrawn at most ten times a second unless the stage or
// the part changed.
void showLiveLine(LiveLine* live, const char* stage, int32_t part, int32_t parts,
                  double fraction) noexcept;
// Removes the line from the screen, when it is shown.
void clearLiveLine(LiveLine* live) noexcept;
