#include "cli/liveLine.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "textfiles/platform.h"

namespace {

constexpr int64_t kRedrawNs = 100000000;  // a tenth of a second
constexpr const char* kClear = "\r\033[K";

int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void startLiveLine(LiveLine* live) noexcept {
  live->startNs = live->drawnNs = nowNs();
  live->shown = false;
  live->stage[0] = '\0';
  live->part = 0;
}

void showLiveLine(LiveLine* live, const char* stage, int32_t part, int32_t parts,
                  double fraction) noexcept {
  if (!live->enabled) return;
  const int64_t now = nowNs();
  const bool changed =
      std::strncmp(live->stage, stage, sizeof live->stage - 1) != 0 || part != live->part;
  if (live->shown && !changed && now - live->drawnNs < kRedrawNs) return;
  live->drawnNs = now;
  std::snprintf(live->stage, sizeof live->stage, "%s", stage);
  live->part = part;
  char partText[40] = "";
  if (parts > 0) std::snprintf(partText, sizeof partText, "  part %d of %d", part, parts);
  const long seconds = static_cast<long>((now - live->startNs) / 1000000000);
  char text[200];
  std::snprintf(text, sizeof text, "%s%s  %d%%  %ld:%02ld", stage, partText,
                static_cast<int>(fraction * 100), seconds / 60, seconds % 60);
  const int width = standardErrorColumns() - 1;
  std::fprintf(stderr, "%s%.*s", kClear, width > 0 ? width : 0, text);
  std::fflush(stderr);
  live->shown = true;
}

void clearLiveLine(LiveLine* live) noexcept {
  if (!live->shown) return;
  std::fputs(kClear, stderr);
  std::fflush(stderr);
  live->shown = false;
}
