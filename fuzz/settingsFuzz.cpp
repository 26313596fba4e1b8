// The settings file on any bytes: a rotation chosen in the rotation box must rewrite line 4 so
// that it reads back as the rotation chosen, and leave every other line as it was. No leaks.
#include "fuzzSupport.h"
#include "textfiles/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzSetUp();
  settingsLines = splitTextLines(reinterpret_cast<const char*>(data), size, LineSplit::dropEmpty);
  matchSettings = MatchSettings{}, parseSettings(settingsLines);
  textureRotation = rotationFromSetting(matchSettings.textureRotation);
  std::vector<std::string> old(settingsLines->items, settingsLines->items + settingsLines->count);
  const int selection = static_cast<int>(fuzzHash(data, size) % 4);
  setTextureRotation(selection);
  std::vector<std::string> now(settingsLines->items, settingsLines->items + settingsLines->count);
  if (now.size() > 3) now[3] = old[3];
  parseSettings(settingsLines);
  FUZZ_CHECK(now == old &&
             (old.size() < 4 || rotationFromSetting(matchSettings.textureRotation) == selection));
  freeLineList(settingsLines), settingsLines = nullptr;
  return 0;
}
