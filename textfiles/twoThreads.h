#pragma once
// Work split in two ranges run at once: this thread takes the first, one more thread the
// second (this thread both when no thread can be started).

// Work on the items [begin, end) of a job; called on two threads at once for disjoint ranges.
using RangeWork = void (*)(int begin, int end, void* context);

// Runs work(0, split) here and work(split, count) on another thread, and returns when both
// are done. Ranges that are empty are not run.
void runInTwoRanges(RangeWork work, int split, int count, void* context) noexcept;
