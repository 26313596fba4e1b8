// The settings file on any bytes: split as a settings file, parsed, turned into the rotation
// in force, and given a new rotation through the rotation box's rule, which must rewrite line
// 4 so that it reads back as the rotation chosen and leave every other line as it was.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "fuzzSupport.h"
#include "textfiles/allocator.h"
#include "textfiles/lineList.h"
#include "textfiles/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzSetUp();
  uint64_t hash = fuzzHash(data, size);
  long before = gliveBlocks();
  LineList* lines = splitTextLines(reinterpret_cast<const char*>(data), size, LineSplit::dropEmpty);
  FUZZ_CHECK(lines != nullptr);

  matchSettings = MatchSettings{};
  parseSettings(lines);
  int32_t rotation = rotationFromSetting(matchSettings.textureRotation);
  double value = matchSettings.textureRotation;
  FUZZ_CHECK(rotation >= 0);
  if (value >= 0.0 && value < 2147483648.0) {
    FUZZ_CHECK(rotation == static_cast<int32_t>(std::trunc(value)));
  } else {
    FUZZ_CHECK(rotation == 0);
  }

  std::vector<std::string> old;
  for (int32_t i = 0; i < lines->count; ++i)
    old.emplace_back(lines->items[i]);
  settingsLines = lines;
  textureRotation = rotation;
  saveSettingsOnExit = false;
  int selection = static_cast<int>(hash % 5) - 1;  // -1 (none chosen) .. 3
  setTextureRotation(selection);
  settingsLines = nullptr;
  bool changed = selection >= 0 && selection != rotation;
  FUZZ_CHECK(saveSettingsOnExit == changed);
  FUZZ_CHECK(textureRotation == (changed ? selection : rotation));
  FUZZ_CHECK(static_cast<size_t>(lines->count) == old.size());
  for (int32_t i = 0; i < lines->count; ++i) {
    if (i == 3 && changed) continue;
    FUZZ_CHECK(old[i] == lines->items[i]);
  }
  if (changed && lines->count > 3) {
    // Line 4 now reads as the rotation chosen, and keeps its leading white space.
    const std::string& was = old[3];
    const char* now = lines->items[3];
    size_t lead = was.find_first_not_of(" \t\n\v\f\r");
    FUZZ_CHECK(std::strncmp(now, was.c_str(), lead == std::string::npos ? was.size() : lead) == 0);
    matchSettings = MatchSettings{};
    parseSettings(lines);
    FUZZ_CHECK(matchSettings.textureRotation == selection);
  }
  freeLineList(lines);
  FUZZ_CHECK(gliveBlocks() == before);
  return 0;
}
