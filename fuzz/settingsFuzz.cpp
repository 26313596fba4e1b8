// The settings file on any bytes: parsed into the rotation in force, then given a new rotation
// through the rotation box's rule, which must rewrite line 4 so that it reads back as the
// rotation chosen and leave every other line as it was. No leaks.
#include <cmath>
#include <utility>

#include "fuzzSupport.h"
#include "textfiles/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzSetUp();
  const long before = gliveBlocks();
  settingsLines = splitTextLines(reinterpret_cast<const char*>(data), size, LineSplit::dropEmpty);
  matchSettings = MatchSettings{};
  parseSettings(settingsLines);
  const double value = matchSettings.textureRotation;
  const int32_t rotation = textureRotation = rotationFromSetting(value);
  FUZZ_CHECK(rotation == (value >= 0.0 && value < 2147483648.0 ? std::trunc(value) : 0));
  const std::vector<std::string> old(settingsLines->items,
                                     settingsLines->items + settingsLines->count);
  const int selection = static_cast<int>(fuzzHash(data, size) % 5) - 1;  // -1 (none) .. 3
  const bool changed = selection >= 0 && selection != rotation;
  saveSettingsOnExit = false;
  setTextureRotation(selection);
  FUZZ_CHECK(saveSettingsOnExit == changed && textureRotation == (changed ? selection : rotation));
  std::vector<std::string> now(settingsLines->items, settingsLines->items + settingsLines->count);
  if (changed && now.size() > 3) now[3] = old[3];
  FUZZ_CHECK(now == old);
  parseSettings(settingsLines);
  FUZZ_CHECK(!changed || old.size() < 4 || matchSettings.textureRotation == selection);
  freeLineList(std::exchange(settingsLines, nullptr));
  FUZZ_CHECK(gliveBlocks() == before);
  return 0;
}
