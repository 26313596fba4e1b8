#include "textfiles/settings.h"

#include <charconv>
#include <climits>
#include <cstring>

#include "textfiles/allocator.h"
#include "textfiles/lineList.h"
#include "textfiles/numberText.h"

MatchSettings matchSettings;
int32_t textureRotation;
bool saveSettingsOnExit;
LineList* referenceList;
LineList* targetList;
LineList* settingsLines;

const char* const kDefaultSettingsLines[9] = {
    "1 ;sw;bit 1:Mask display readme.txt 2:Display RotCombo",
    "0.25 ;0;[Severe 0.001 to Loose 1.0] Group Multiple Matching",
    "0.5 ;1;[Severe 0.001 to Loose 1.0] Group Single Matching",
    "0 ;2;[0,1,2 or 3] Texture Rotation",
    "0.01 ;3;[Severe 0.001 to Loose 0.1] Vector Matching",
    "0.2  ;4;[Severe 0.01 to Loose 0.5] Face position Matching",
    "0.90 ;5;[Severe 1.00 to Loose 0.50] Matching of Face Count",
    "0.5 ;6;[Severe 0.1 to Loose 2.0] Matching of Face Angle",
    "0.25 ;7;[0.01 to 0.5] Advantage Of Same Face Angle",
};

namespace {

constexpr int kSettingsLines = 9;
constexpr int kRotationLine = 3;  // index of line 4

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// A decimal integer as "%ld" reads it: white space, an optional sign, digits. Values beyond
// 32 bits saturate at the nearest limit. Returns the end of the number, or null when the text
// does not start with one (`*value` unchanged).
const char* readInteger(const char* text, int32_t* value) {
  const char* s = skipWhiteSpace(text);
  bool negative = *s == '-';
  if (*s == '+' || *s == '-') ++s;
  if (!isDigit(*s)) return nullptr;
  int64_t magnitude = 0;
  for (; isDigit(*s); ++s) {
    if (magnitude <= INT64_C(1) << 32) magnitude = magnitude * 10 + (*s - '0');
  }
  int64_t signedValue = negative ? -magnitude : magnitude;
  if (signedValue > INT32_MAX) signedValue = INT32_MAX;
  if (signedValue < INT32_MIN) signedValue = INT32_MIN;
  *value = static_cast<int32_t>(signedValue);
  return s;
}

// Fills matchSettings from `count` lines as parseSettings describes.
void parseLines(char* const* lines, int count) {
  double* reals[kSettingsLines - 1] = {
      &matchSettings.groupMultipleMatching, &matchSettings.groupSingleMatching,
      &matchSettings.textureRotation,       &matchSettings.vectorMatching,
      &matchSettings.facePositionMatching,  &matchSettings.faceCountMatching,
      &matchSettings.faceAngleMatching,     &matchSettings.sameFaceAngleAdvantage};
  if (count > kSettingsLines) count = kSettingsLines;
  for (int k = 0; k < count; ++k) {
    const char* line = lines[k] ? lines[k] : "";
    if (k == 0) {
      readInteger(line, &matchSettings.sw);
    } else {
      readRealNumber(line, reals[k - 1], RealForms::decimalOrHex);
    }
  }
}

// A new line: `line` up to `start`, the `count` characters of `digits`, then `rest` (a tail
// of `line`). Null when memory failed.
char* spliceLine(const char* line, const char* start, const char* digits, size_t count,
                 const char* rest) {
  size_t lead = static_cast<size_t>(start - line);
  size_t tail = std::strlen(rest);
  auto* out = static_cast<char*>(gcalloc(lead + count + tail + 1));
  if (!out) return nullptr;
  std::memcpy(out, line, lead);
  std::memcpy(out + lead, digits, count);
  std::memcpy(out + lead + count, rest, tail);
  return out;
}

// Replaces the number at the start of `line` (after its white space) by the decimal digits of
// `rotation`; with no number there, puts the digits and a blank in front of the rest. A rest
// that would read as part of the new number ("0.0.5" would become "2.5", "5x1p1" "0x1p1") is
// kept apart by a blank too. Returns a new line, or null when memory failed.
char* lineWithRotation(const char* line, int rotation) {
  const char* start = skipWhiteSpace(line);
  double ignored = 0.0;
  const char* numberEnd = readRealNumber(line, &ignored, RealForms::decimalOrHex);
  const char* rest = numberEnd ? numberEnd : start;
  char digits[16];
  char* digitsEnd = std::to_chars(digits, digits + sizeof digits, rotation).ptr;
  if (numberEnd) {
    char joined[24] = {};
    std::memcpy(joined, digits, static_cast<size_t>(digitsEnd - digits));
    std::strncat(joined, rest, 4);  // a number's continuation shows within four characters
    double reread = 0.0;
    const char* end = readRealNumber(joined, &reread, RealForms::decimalOrHex);
    if (reread != rotation || end != joined + (digitsEnd - digits)) numberEnd = nullptr;
  }
  if (!numberEnd) *digitsEnd++ = ' ';
  return spliceLine(line, start, digits, static_cast<size_t>(digitsEnd - digits), rest);
}

// `line` with the integer at its start (after its white space, as readInteger reads it)
// replaced by `value`; with no integer there, the digits and a blank go in front of the rest.
// Returns a new line, or null when memory failed.
char* lineWithSwitchWord(const char* line, int32_t value) {
  const char* start = skipWhiteSpace(line);
  int32_t ignored = 0;
  const char* numberEnd = readInteger(line, &ignored);
  const char* rest = numberEnd ? numberEnd : start;
  char digits[16];
  char* digitsEnd = std::to_chars(digits, digits + sizeof digits, value).ptr;
  if (!numberEnd) *digitsEnd++ = ' ';
  return spliceLine(line, start, digits, static_cast<size_t>(digitsEnd - digits), rest);
}

// Fills the settings lines with the nine defaults. False when memory failed (the list is
// then left empty).
bool writeDefaultLines(LineList* lines) {
  clearLines(lines);
  for (const char* line : kDefaultSettingsLines) {
    if (appendLine(lines, line) < 0) {
      clearLines(lines);
      return false;
    }
  }
  return true;
}

}  // namespace

int32_t rotationFromSetting(double value) noexcept {
  // Truncation toward zero, defined only for values an int32 can hold; a negative rotation
  // cannot be applied and counts as 0, as does anything that is not a finite number in range.
  if (!(value > -1.0 && value < 2147483648.0)) return 0;
  return static_cast<int32_t>(value);
}

void parseSettings(const LineList* lines) noexcept {
  if (!lines || !lines->items) return;
  parseLines(lines->items, lines->count);
}

void useDefaultSettings() noexcept {
  matchSettings = MatchSettings{};
  parseLines(const_cast<char* const*>(kDefaultSettingsLines), kSettingsLines);
}

void loadSettingsFiles(const char* settingsPath, const char* referencePath,
                       const char* targetPath) noexcept {
  // A fresh start: lists an earlier opening left are released unwritten.
  freeLineList(referenceList);
  freeLineList(targetList);
  freeLineList(settingsLines);
  matchSettings = MatchSettings{};
  textureRotation = 0;
  saveSettingsOnExit = false;
  referenceList = loadLineList(referencePath);
  targetList = loadLineList(targetPath);
  settingsLines = loadLineList(settingsPath);
  if (!settingsLines) {
    useDefaultSettings();  // out of memory: the defaults, and nothing to write back
  } else {
    if (settingsLines->count < kSettingsLines && writeDefaultLines(settingsLines)) {
      saveSettingsOnExit = true;
    }
    if (settingsLines->count < kSettingsLines) {
      useDefaultSettings();  // the defaults could not be stored: use them, write nothing
    } else {
      parseSettings(settingsLines);
    }
  }
  // Defaults just written: show the notes this first time, although line 1 hides them.
  if (saveSettingsOnExit) matchSettings.sw &= ~kSwitchHideNotes;
  if (matchSettings.sw & kSwitchShowRotationBox)
    textureRotation = rotationFromSetting(matchSettings.textureRotation);
}

void setTextureRotation(int selection) noexcept {
  if (selection < 0 || selection == textureRotation) return;
  textureRotation = selection;
  matchSettings.textureRotation = selection;
  if (settingsLines && settingsLines->count > kRotationLine) {
    char*& line = settingsLines->items[kRotationLine];
    char* changed = lineWithRotation(line ? line : "", selection);
    if (changed) {
      gfree(line);
      line = changed;
    }
  }
  saveSettingsOnExit = true;
}

namespace {

// Sets one bit of the switch word in matchSettings.sw and in settings line 1, marking the file.
void setSwitchBit(int32_t bit, bool on) noexcept {
  if (on == ((matchSettings.sw & bit) != 0)) return;
  matchSettings.sw ^= bit;
  if (settingsLines && settingsLines->count > 0) {
    char*& line = settingsLines->items[0];
    // The file's own word: in memory the notes bit may be cleared for a first showing.
    int32_t word = 0;
    readInteger(line ? line : "", &word);
    char* changed = lineWithSwitchWord(line ? line : "", on ? word | bit : word & ~bit);
    if (changed) {
      gfree(line);
      line = changed;
    }
  }
  saveSettingsOnExit = true;
}

}  // namespace

void setAlignParts(bool on) noexcept {
  setSwitchBit(kSwitchAlignParts, on);
}

void setKeepTarget(bool on) noexcept {
  setSwitchBit(kSwitchKeepTarget, on);
}

void saveSettingsAndLists() noexcept {
  saveLineList(referenceList);
  freeLineList(referenceList);
  referenceList = nullptr;
  saveLineList(targetList);
  freeLineList(targetList);
  targetList = nullptr;
  if (saveSettingsOnExit) saveLineList(settingsLines);
  freeLineList(settingsLines);
  settingsLines = nullptr;
  saveSettingsOnExit = false;
}
