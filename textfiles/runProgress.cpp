#include "textfiles/runProgress.h"

void reportProgress(const ProgressSpan& span, const char* stage, int32_t part, int32_t parts,
                    double done) noexcept {
  if (!span.sink || !span.sink->report) return;
  if (!(done >= 0)) done = 0;  // NaN too
  if (done > 1) done = 1;
  span.sink->report(span.sink, stage, part, parts, span.from + (span.to - span.from) * done);
}

bool progressCancelled(const ProgressSpan& span) noexcept {
  return span.sink && span.sink->cancelRequested && span.sink->cancelRequested(span.sink) != 0;
}
