#pragma once
// The settings file "param.txt" (switch word and eight matching tolerances) and the recent-file
// lists "reflist.txt" and "tergetlist.txt", all in the program directory (programPath).
#include <cstdint>

struct DialogPort;
struct LineList;

struct MatchSettings {
  int32_t sw;                     // bit 0: do not show readme.txt; bit 1: show the rotation box
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

// Loads the settings file and both recent lists; writes the defaults into a settings file of
// fewer than nine lines; shows the notes ("readme.txt") and the rotation box as `sw` says;
// fills both path boxes.
void loadSettings(DialogPort* dialog) noexcept;
// Fills matchSettings from the lines: line 1 as "%ld;", lines 2..9 as "%lf;", read without
// regard to the locale; a line that does not start with a number leaves its value.
void parseSettings(const LineList* lines) noexcept;
// The rotation box's selection before a run: a new non-negative index becomes the rotation
// in force, is written as the digit at the start of settings line 4, and marks the file.
void setTextureRotation(int selection) noexcept;
// Fills the reference and target path boxes from their recent lists.
void fillPathBoxes(DialogPort* dialog) noexcept;
// Writes both recent lists (and the settings file when marked), then releases the three lists.
void saveSettingsAndLists() noexcept;
// Restores matchSettings to the defaults (as parsed from the default lines) without files.
void useDefaultSettings() noexcept;
