#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "app/controlIds.h"
#include "app/settingsDialog.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"
#include "textfiles/lineList.h"
#include "textfiles/reportCapture.h"
#include "textfiles/settings.h"

namespace {

std::string crlfJoin(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line + "\r\n";
  return text;
}

// The nine default lines, line `index` (from 0) replaced by `line` when given.
Lines defaultsWith(int index = -1, const std::string& line = "") {
  Lines lines(kDefaultSettingsLines, kDefaultSettingsLines + 9);
  if (index >= 0) lines[index] = line;
  return lines;
}

// The nine values in file order: the switch word, then the eight tolerances.
std::vector<double> valuesOf(const MatchSettings& s) {
  return {double(s.sw),        s.groupMultipleMatching, s.groupSingleMatching,
          s.textureRotation,   s.vectorMatching,        s.facePositionMatching,
          s.faceCountMatching, s.faceAngleMatching,     s.sameFaceAngleAdvantage};
}
const std::vector<double> kDefaultValues = {1, 0.25, 0.5, 0, 0.01, 0.2, 0.90, 0.5, 0.25};

// Runs each test in a scratch program folder, reports collected, and leaves the settings state
// as at start.
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  static void reset() {
    freeLineList(referenceList);
    freeLineList(targetList);
    freeLineList(settingsLines);
    referenceList = targetList = settingsLines = nullptr;
    matchSettings = MatchSettings{};
    textureRotation = 0;
    saveSettingsOnExit = false;
  }
  std::string file(const char* name) const { return capture_.folder.file(name); }
  void writeSettings(const Lines& lines) { writeFileBytes(file("param.txt"), crlfJoin(lines)); }
  ReportCapture capture_;
  RecordingDialog dialog_;
};

}  // namespace

// A missing or short settings file is replaced whole by the defaults, written on exit, and the
// notes are shown that first time although line 1 hides them. A full file then hides the
// notes and is not rewritten.
TEST_F(SettingsTest, MissingOrShortFileGetsTheDefaults) {
  writeFileBytes(file("readme.txt"), "Note one\r\n\r\nNote two\r\n");
  Lines eight = defaultsWith(1, "0.75 ;0;changed");
  eight.pop_back();
  std::vector<double> firstStart = kDefaultValues;
  firstStart[0] = 0;  // bit 0 cleared
  for (bool present : {false, true}) {
    if (present) writeSettings(eight);
    RecordingDialog dialog;
    loadSettings(&dialog.port);
    EXPECT_EQ(dialog.progress, (Lines{"Note one", "Note two"}));
    EXPECT_TRUE(dialog.shown.empty());  // rotation box stays hidden
    EXPECT_EQ(valuesOf(matchSettings), firstStart);
    EXPECT_TRUE(saveSettingsOnExit);
    saveSettingsAndLists();
    EXPECT_EQ(readFileBytes(file("param.txt")), crlfJoin(defaultsWith()));
    EXPECT_EQ(readFileBytes(file("tergetlist.txt")), "");  // created
  }
  EXPECT_EQ(std::string(kDefaultSettingsLines[5]).substr(0, 6), "0.2  ;");

  // Empty lines are skipped, whatever their line ends.
  const std::string full = "\r\n1\n\n0.25\r\n\r\n0.5\r\r0\n0.01\n0.2\n0.9\n0.5\n0.25\n\r\n";
  writeFileBytes(file("param.txt"), full);
  loadSettings(&dialog_.port);
  EXPECT_EQ(valuesOf(matchSettings), kDefaultValues);
  EXPECT_TRUE(dialog_.progress.empty());
  saveSettingsAndLists();
  EXPECT_EQ(readFileBytes(file("param.txt")), full);
}

// Bit 0 of line 1 hides the notes, bit 1 shows the rotation box with the rotation in force
// selected (none for 4 and more): line 4 truncated toward zero, 0 when negative or not a finite
// number below 2^31. A chosen rotation replaces the number at the start of line 4 (after its
// white space), marks the file, and reads back as chosen; lines after the ninth are written
// back as they were. The rotation already in force, or no choice, changes nothing.
TEST_F(SettingsTest, RotationFollowsLineFourAndAChoiceRewritesItsNumber) {
  const struct {
    const char* sw;
    const char* line4;
    int32_t rotation;
    int selected;  // -2: box not shown
    int selection;
    const char* written;  // null: unchanged, file not marked
  } cases[] = {
      // clang-format off
      {"3", kDefaultSettingsLines[3], 0, 0, 2, "2 ;2;[0,1,2 or 3] Texture Rotation"},
      {"2", " 2 ;2;x", 2, 2, 1, " 1 ;2;x"},     {"2", "12 ;2;x", 12, -1, 1, "1 ;2;x"},
      {"3", "2.9;x", 2, 2, 1, "1;x"},           {"2", "\t-1e5 ;2", 0, 0, 3, "\t3 ;2"},
      {"2", "0x1p2;r", 4, -1, 1, "1;r"},        {"2", "1e;r", 1, 1, 3, "3e;r"},
      {"2", "abc", 0, 0, 1, "1 abc"},           {"2", "e5", 0, 0, 1, "1 e5"},
      {"2", "2 ;2;x", 2, 2, 2, nullptr},        {"2", "7", 7, -1, -1, nullptr},
      {"2", "-1", 0, 0, -1, nullptr},           {"1", "3", 0, -2, -1, nullptr},
      {"-1", "3", 3, 3, -1, nullptr},           {"2", "-0.9", 0, 0, -1, nullptr},
      {"2", "-1e300", 0, 0, -1, nullptr},       {"2", "nan", 0, 0, -1, nullptr},
      {"2", "inf", 0, 0, -1, nullptr},          {"2", "2147483648", 0, 0, -1, nullptr},
      {"2", "2147483647.5", INT32_MAX, -1, -1, nullptr}
      // clang-format on
  };
  writeFileBytes(file("readme.txt"), "note\r\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.sw) + " / " + c.line4);
    Lines lines = defaultsWith(3, c.line4);
    lines[0] = c.sw;
    lines.insert(lines.end(), {"tenth line kept", "0.125 eleventh"});
    writeSettings(lines);
    RecordingDialog dialog;
    loadSettings(&dialog.port);
    EXPECT_EQ(textureRotation, c.rotation);
    EXPECT_EQ(dialog.progress, std::string(c.sw) == "2" ? Lines{"note"} : Lines{});
    bool boxShown = c.selected != -2;
    EXPECT_EQ(dialog.shown,
              (boxShown ? std::vector<int>{kRotationBoxId, kRotationGroupId} : std::vector<int>{}));
    if (boxShown) {
      EXPECT_EQ(dialog.comboItems[kRotationBoxId], (Lines{"0", "1", "2", "3"}));
      EXPECT_EQ(dialog.selection[kRotationBoxId], c.selected);
    }
    setTextureRotation(c.selection);
    EXPECT_EQ(textureRotation, c.written ? c.selection : c.rotation);
    EXPECT_EQ(saveSettingsOnExit, c.written != nullptr);
    saveSettingsAndLists();
    if (c.written) lines[3] = c.written;
    EXPECT_EQ(readFileBytes(file("param.txt")), crlfJoin(lines));
    if (c.written) {
      EXPECT_EQ(matchSettings.textureRotation, c.selection);
      parseSettings(LineListPtr(loadLineList(file("param.txt").c_str())).get());
      EXPECT_EQ(matchSettings.textureRotation, c.selection);  // reads back as chosen
    }
  }
}

// Line 1 reads as "%ld;" (saturating at the int32 limits), lines 2..9 as "%lf;", both without
// regard to the locale; a line that does not start with a number leaves its value, and lines
// after the ninth are not read.
TEST_F(SettingsTest, NumbersReadAsCFormatsWithoutLocale) {
  constexpr double kKept = 42.0, kInf = std::numeric_limits<double>::infinity();
  const struct {
    int line;  // from 0
    const char* text;
    double value;
  } cases[] = {
      // clang-format off
      {0, "3 ;sw;x", 3}, {0, "  -1", -1}, {0, "+7;", 7}, {0, "1.9", 1}, {0, "0x10", 0},
      {0, "x", kKept}, {0, "", kKept}, {0, "- 2", kKept}, {0, "99999999999", INT32_MAX},
      {0, "-99999999999999999999999", INT32_MIN}, {1, "0.25 ;0;[x]", 0.25}, {2, "  -3.5e2;", -350},
      {3, "+.5", 0.5}, {4, "1e", 1}, {5, "1e+;", 1}, {6, "7.", 7}, {7, "\v\f 7", 7}, {8, "1,5", 1},
      {1, "inf", kInf}, {2, "-Infinity;", -kInf}, {3, "0x1.8p3", 12}, {4, "-0X.8", -0.5},
      {5, "0x;", 0}, {6, "1e999", kInf}, {7, "-1e999", -kInf}, {8, "0x1p99999", kInf},
      {1, "1e-999", 0}, {2, "0.0000e-999", 0}, {3, "1e-310", 1e-310}, {4, "abc", kKept},
      {5, "", kKept}, {6, ";", kKept}, {7, "- 1", kKept}, {8, "+-1", kKept}, {1, ".e1", kKept},
      {2, "e5", kKept}, {6, "0.90 ;5;", 0.90}, {9, "0.75", kKept}
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "line " << c.line + 1 << ": " << c.text);
    Lines lines(10, "");
    lines[c.line] = c.text;
    matchSettings = MatchSettings{42, kKept, kKept, kKept, kKept, kKept, kKept, kKept, kKept};
    parseSettings(testLines(lines).get());
    std::vector<double> expected(9, kKept);
    if (c.line < 9) expected[c.line] = c.value;
    EXPECT_EQ(valuesOf(matchSettings), expected);
  }
  parseSettings(testLines({"1", "nan(0x7)"}).get());
  EXPECT_TRUE(std::isnan(matchSettings.groupMultipleMatching));
  parseSettings(nullptr);
  useDefaultSettings();
  EXPECT_EQ(valuesOf(matchSettings), kDefaultValues);
}

TEST_F(SettingsTest, RecentListsOfThousandsOfLongAndRawPathsRoundTripUnchanged) {
  Lines paths;
  for (int i = 0; i < 3000; ++i)
    paths.push_back("/data/model " + std::to_string(i) + ".dxf");
  paths[1] = "/" + std::string(5000, 'd') + "/long.dxf";
  paths[2] = "/m\xC3\xBCller/\xFF\xFE raw bytes/f.dxf";
  paths[3] = "C:\\Program Files\\x.DXF";
  writeFileBytes(file("reflist.txt"), crlfJoin(paths));
  loadSettings(&dialog_.port);
  EXPECT_EQ(dialog_.comboItems[kReferenceBoxId], paths);
  EXPECT_EQ(dialog_.controlText[kReferenceBoxId], paths[0]);
  saveSettingsAndLists();
  EXPECT_EQ(readFileBytes(file("reflist.txt")), crlfJoin(paths));
}

// Every allocation from opening to closing, failed in turn: no crash, nothing left allocated,
// and the remembered files are never damaged (at worst a rotation choice is not written).
TEST_F(SettingsTest, EachFailedAllocationLeavesFilesWhole) {
  const std::string recent = "/a/one.dxf\r\n/b/two.dxf\r\n";
  const std::string settings = crlfJoin(defaultsWith(0, "2"));
  Lines rotated = defaultsWith(0, "2");
  rotated[3] = "1 ;2;[0,1,2 or 3] Texture Rotation";
  writeFileBytes(file("reflist.txt"), recent);
  writeFileBytes(file("tergetlist.txt"), recent);
  writeFileBytes(file("readme.txt"), "notes\r\n");
  int failures = 0;
  for (long k = 1;; ++k) {
    ASSERT_LT(k, 200);
    writeFileBytes(file("param.txt"), settings);
    reports.clear();
    long live = gliveBlocks();
    RecordingDialog dialog;
    gfailAllocationAfter(k);
    loadSettings(&dialog.port);
    setTextureRotation(1);
    saveSettingsAndLists();
    gfailAllocationAfter(0);
    EXPECT_EQ(gliveBlocks(), live) << k;
    EXPECT_EQ(readFileBytes(file("reflist.txt")), recent) << k;
    EXPECT_EQ(readFileBytes(file("tergetlist.txt")), recent) << k;
    std::string written = readFileBytes(file("param.txt"));
    EXPECT_TRUE(written == settings || written == crlfJoin(rotated)) << k;
    reset();
    if (reports.empty()) {
      EXPECT_EQ(written, crlfJoin(rotated));
      break;
    }
    ++failures;
  }
  EXPECT_GE(failures, 10);
}
