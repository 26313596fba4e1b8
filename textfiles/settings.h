#pragma once
// The settings file "param.txt" (switch word and eight matching tolerances) and the recent-file
// lists "reflist.txt" and "tergetlist.txt" (app/ says where they live and shows them).
#include <cstdint>

struct LineList;

// Bits of the switch word (settings line 1).
constexpr int32_t kSwitchHideNotes = 1;        // do not show readme.txt
constexpr int32_t kSwitchShowRotationBox = 2;  // show the rotation box; line 4 is the rotation
constexpr int32_t kSwitchAlignParts = 4;       // align turned parts ("Align turned parts")
constexpr int32_t kSwitchKeepTarget = 8;       // write the target back whole ("Keep the rest...")

struct MatchSettings {
  int32_t sw;                     // kSwitch... bits
  double groupMultipleMatching;   // line 2
  double groupSingleMatching;     // line 3
  double textureRotation;         // line 4
  double vectorMatching;          // line 5
  double facePositionMatching;    // line 6
  double faceCountMatching;       // line 7
  double faceAngleMatching;       // line 8
  double sameFaceAngleAdvantage;  // line 9
};

extern MatchSettings matchSettings;  // zero at start
extern int32_t textureRotation;      // the rotation in force, never negative
extern bool saveSettingsOnExit;      // write "param.txt" back when the dialog closes
extern LineList* referenceList;      // recent reference paths, most recent first
extern LineList* targetList;         // recent target paths, most recent first
extern LineList* settingsLines;      // the settings file's lines while the dialog is open

// The nine default lines of the settings file, byte for byte.
extern const char* const kDefaultSettingsLines[9];

// Loads the recent lists from `referencePath` and `targetPath` and the settings file from
// `settingsPath`, in that order; writes the defaults into a settings file of fewer than nine
// lines (marking it, and clearing kSwitchHideNotes so the notes show this first time); sets
// the rotation in force from line 4 when kSwitchShowRotationBox is on, else 0. Lists left
// from an earlier call are released unwritten.
void loadSettingsFiles(const char* settingsPath, const char* referencePath,
                       const char* targetPath) noexcept;
// Fills matchSettings from the lines: line 1 as "%ld;", lines 2..9 as "%lf;", read without
// regard to the locale; a line that does not start with a number leaves its value. Line 1
// saturates at the int32 limits; lines 2..9 take what strtod would (decimal, "inf", "nan",
// "0x1.8p3"; beyond a double's range an infinity or a zero); lines after the ninth are not read.
void parseSettings(const LineList* lines) noexcept;
// The rotation box's selection before a run: a new non-negative index becomes the rotation
// in force and marks the file; in settings line 4 it replaces the number after the leading
// white space (" 2 ;2;..." becomes " 1 ;2;...", "12 ;2;..." becomes "1 ;2;..."; a line
// without number gets the digit and a blank in front of its text).
void setTextureRotation(int selection) noexcept;
// The "Align turned parts" choice before a run and on exit: when it differs from the switch
// word's kSwitchAlignParts bit, the bit is flipped in matchSettings.sw and in the number that
// starts settings line 1 (the digits and a blank go in front of a line without one), and the
// file is marked.
void setAlignParts(bool on) noexcept;
// The "Keep the rest of the target file" choice, kept as kSwitchKeepTarget the same way.
void setKeepTarget(bool on) noexcept;
// Writes both recent lists (and the settings file when marked), then releases the three lists.
void saveSettingsAndLists() noexcept;
// Restores matchSettings to the defaults (as parsed from the default lines) without files.
void useDefaultSettings() noexcept;
// The rotation in force for a line-4 value (when bit 1 of `sw` shows the rotation box): the
// value truncated toward zero; 0 for a negative value and for anything that is not a finite
// number below 2^31. Values of 4 and more are kept (the reader applies their remainder).
int32_t rotationFromSetting(double value) noexcept;
