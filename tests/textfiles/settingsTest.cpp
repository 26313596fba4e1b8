#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "app/controlIds.h"
#include "app/errorReport.h"
#include "app/programPath.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"
#include "textfiles/lineList.h"
#include "textfiles/settings.h"

namespace {

using Lines = std::vector<std::string>;

std::string crlfJoin(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line + "\r\n";
  return text;
}

Lines defaultLines() {
  return Lines(kDefaultSettingsLines, kDefaultSettingsLines + 9);
}

// The default lines with line `index` (from 0) replaced.
Lines defaultsWith(int index, const std::string& line) {
  Lines lines = defaultLines();
  lines[index] = line;
  return lines;
}

std::vector<std::string> reports;
void recordReport(const char* message) {
  reports.emplace_back(message);
}

// Runs each test in a scratch program folder and leaves the settings state as at start.
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setProgramDirectoryTo(folder_.path.c_str());
    reset();
  }
  void TearDown() override {
    reset();
    setProgramDirectory();
  }
  static void reset() {
    freeLineList(referenceList);
    freeLineList(targetList);
    freeLineList(settingsLines);
    referenceList = targetList = settingsLines = nullptr;
    matchSettings = MatchSettings{};
    textureRotation = 0;
    saveSettingsOnExit = false;
  }
  std::string file(const char* name) const { return folder_.file(name); }
  bool exists(const char* name) const { return std::filesystem::exists(file(name)); }
  ScratchFolder folder_;
  RecordingDialog dialog_;
};

}  // namespace

TEST_F(SettingsTest, FirstStartShowsNotesAndWritesDefaultsOnExit) {
  writeFileBytes(file("readme.txt"), "Note one\r\n\r\nNote two\r\n");
  loadSettings(&dialog_.port);
  EXPECT_EQ(dialog_.progress, (Lines{"Note one", "Note two"}));
  EXPECT_TRUE(dialog_.shown.empty());  // rotation box stays hidden
  EXPECT_TRUE(dialog_.comboItems[kReferenceBoxId].empty());
  EXPECT_TRUE(dialog_.comboItems[kTargetBoxId].empty());
  EXPECT_EQ(matchSettings.sw, 0);  // line 1 says 1; bit 0 cleared for this first start
  EXPECT_EQ(matchSettings.groupMultipleMatching, 0.25);
  EXPECT_EQ(matchSettings.groupSingleMatching, 0.5);
  EXPECT_EQ(matchSettings.textureRotation, 0.0);
  EXPECT_EQ(matchSettings.vectorMatching, 0.01);
  EXPECT_EQ(matchSettings.facePositionMatching, 0.2);
  EXPECT_EQ(matchSettings.faceCountMatching, 0.90);
  EXPECT_EQ(matchSettings.faceAngleMatching, 0.5);
  EXPECT_EQ(matchSettings.sameFaceAngleAdvantage, 0.25);
  EXPECT_TRUE(saveSettingsOnExit);
  saveSettingsAndLists();
  EXPECT_EQ(readFileBytes(file("param.txt")), crlfJoin(defaultLines()));
  EXPECT_EQ(std::string(kDefaultSettingsLines[5]).substr(0, 6), "0.2  ;");
  EXPECT_TRUE(exists("reflist.txt"));
  EXPECT_EQ(readFileBytes(file("tergetlist.txt")), "");
  EXPECT_EQ(referenceList, nullptr);
  EXPECT_EQ(settingsLines, nullptr);

  // Second start with that file: sw is 1, so the notes stay hidden and nothing is rewritten.
  writeFileBytes(file("param.txt"), "1\n0.25\n0.5\n0\n0.01\n0.2\n0.9\n0.5\n0.25\n");
  RecordingDialog second;
  loadSettings(&second.port);
  EXPECT_EQ(matchSettings.sw, 1);
  EXPECT_TRUE(second.progress.empty());
  saveSettingsAndLists();
  EXPECT_EQ(readFileBytes(file("param.txt")), "1\n0.25\n0.5\n0\n0.01\n0.2\n0.9\n0.5\n0.25\n");
}

TEST_F(SettingsTest, ShortFileIsReplacedWholeByDefaults) {
  Lines eight = defaultLines();
  eight.pop_back();
  eight[1] = "0.75 ;0;changed";
  writeFileBytes(file("param.txt"), crlfJoin(eight));
  loadSettings(&dialog_.port);
  EXPECT_EQ(matchSettings.groupMultipleMatching, 0.25);
  saveSettingsAndLists();
  EXPECT_EQ(readFileBytes(file("param.txt")), crlfJoin(defaultLines()));
}

TEST_F(SettingsTest, BlankLinesInTheFileAreSkipped) {
  Lines lines = defaultsWith(1, "0.75");
  std::string text = "\r\n" + crlfJoin(lines) + "\r\n";
  text.insert(text.find("0.75"), "\n\n  \r\n");  // a line of blanks is a line, not a blank one
  writeFileBytes(file("param.txt"), text);
  loadSettings(&dialog_.port);
  // The blank-only line is now line 2: not a number, so that value stays 0; the rest shifts.
  EXPECT_EQ(matchSettings.groupMultipleMatching, 0.0);
  EXPECT_EQ(matchSettings.groupSingleMatching, 0.75);
  EXPECT_EQ(matchSettings.sameFaceAngleAdvantage, 0.5);
  EXPECT_FALSE(saveSettingsOnExit);
}

TEST_F(SettingsTest, RotationInForceAndBoxFollowLineFourAndSwitchWord) {
  struct Case {
    const char* sw;
    const char* line4;
    int32_t rotation;
    int selected;  // -2: box not shown
  };
  const Case cases[] = {
      {"3 ;sw", "1 ;2;", 1, 1},
      {"2", "2.9 ;2;", 2, 2},
      {"2", "7", 7, -1},
      {"2", "-1", 0, 0},
      {"2", "-0.5", 0, 0},
      {"1", "3", 0, -2},
      {"2", "nan", 0, 0},
      {"2", "inf", 0, 0},
      {"2", "1e999", 0, 0},
      {"2", "3e9", 0, 0},
      {"2", "2147483647", INT32_MAX, -1},
      {"2", "text", 0, 0},
      {"2", " \t2 ;x", 2, 2},
      {"-1", "3", 3, 3},
  };
  writeFileBytes(file("readme.txt"), "note\r\n");
  for (const Case& c : cases) {
    Lines lines = defaultsWith(3, c.line4);
    lines[0] = c.sw;
    writeFileBytes(file("param.txt"), crlfJoin(lines));
    RecordingDialog dialog;
    loadSettings(&dialog.port);
    SCOPED_TRACE(std::string(c.sw) + " / " + c.line4);
    EXPECT_EQ(textureRotation, c.rotation);
    if (c.selected == -2) {
      EXPECT_TRUE(dialog.shown.empty());
      EXPECT_EQ(dialog.comboItems.count(kRotationBoxId), 0u);
      continue;
    }
    EXPECT_EQ(dialog.comboItems[kRotationBoxId], (Lines{"0", "1", "2", "3"}));
    EXPECT_EQ(dialog.selection[kRotationBoxId], c.selected);
    EXPECT_EQ(dialog.shown, (std::vector<int>{kRotationBoxId, kRotationGroupId}));
    bool notesShown = std::string(c.sw) == "2";  // bit 0 clear
    EXPECT_EQ(dialog.progress, notesShown ? Lines{"note"} : Lines{});
  }
}

TEST_F(SettingsTest, ChosenRotationRewritesTheNumberOfLineFour) {
  struct Case {
    const char* line4;
    int selection;
    const char* written;
  };
  const Case cases[] = {
      {"0 ;2;[0,1,2 or 3] Texture Rotation", 2, "2 ;2;[0,1,2 or 3] Texture Rotation"},
      {" 2 ;2;x", 1, " 1 ;2;x"},
      {"12 ;2;x", 1, "1 ;2;x"},
      {"2.9;x", 1, "1;x"},
      {"\t-1e5 ;2", 3, "\t3 ;2"},
      {"0x1p2;r", 1, "1;r"},
      {"1e;r", 3, "3e;r"},
      {"abc", 1, "1 abc"},
      {"e5", 1, "1 e5"},
  };
  for (const Case& c : cases) {
    Lines lines = defaultsWith(3, c.line4);
    lines[0] = "3";
    lines.push_back("tenth line kept");
    lines.push_back("0.125 eleventh");
    writeFileBytes(file("param.txt"), crlfJoin(lines));
    loadSettings(&dialog_.port);
    saveSettingsOnExit = false;
    textureRotation = 0;
    setTextureRotation(c.selection);
    EXPECT_EQ(textureRotation, c.selection);
    EXPECT_EQ(matchSettings.textureRotation, c.selection);
    EXPECT_TRUE(saveSettingsOnExit);
    saveSettingsAndLists();
    lines[3] = c.written;
    EXPECT_EQ(readFileBytes(file("param.txt")), crlfJoin(lines)) << c.line4;
    // What was written reads back as the chosen rotation.
    LineListPtr back(loadLineList(file("param.txt").c_str()));
    parseSettings(back.get());
    EXPECT_EQ(matchSettings.textureRotation, c.selection) << c.written;
  }
}

TEST_F(SettingsTest, RotationAlreadyInForceOrNoneChosenChangesNothing) {
  writeFileBytes(file("param.txt"), crlfJoin(defaultsWith(0, "3")));
  loadSettings(&dialog_.port);
  EXPECT_EQ(textureRotation, 0);
  setTextureRotation(0);
  setTextureRotation(-1);
  EXPECT_FALSE(saveSettingsOnExit);
  EXPECT_STREQ(settingsLines->items[3], kDefaultSettingsLines[3]);

  // Without settings lines the rotation still changes and the mark is set.
  reset();
  setTextureRotation(3);
  EXPECT_EQ(textureRotation, 3);
  EXPECT_TRUE(saveSettingsOnExit);
  saveSettingsAndLists();
  EXPECT_EQ(readFileBytes(file("param.txt")), crlfJoin(defaultsWith(0, "3")));
}

TEST(ParseSettings, NumbersReadAsCFormatsWithoutLocale) {
  constexpr double kKept = 42.0;
  constexpr double kInf = std::numeric_limits<double>::infinity();
  struct RealCase {
    const char* line;
    double value;
  };
  const RealCase reals[] = {
      {"0.25 ;0;[x]", 0.25}, {"  -3.5e2;", -350.0}, {"+.5", 0.5},       {"1e", 1.0},
      {"1e+;", 1.0},         {"7.", 7.0},           {"\v\f 7", 7.0},    {"1,5", 1.0},
      {"inf", kInf},         {"-Infinity;", -kInf}, {"0x1.8p3", 12.0},  {"-0X.8", -0.5},
      {"0x;", 0.0},          {"1e999", kInf},       {"-1e999", -kInf},  {"0x1p99999", kInf},
      {"1e-999", 0.0},       {"0.0000e-999", 0.0},  {"1e-310", 1e-310}, {"abc", kKept},
      {"", kKept},           {";", kKept},          {"- 1", kKept},     {"+-1", kKept},
      {".e1", kKept},        {"e5", kKept},         {"0.90 ;5;", 0.90},
  };
  for (const RealCase& c : reals) {
    matchSettings = MatchSettings{};
    matchSettings.groupSingleMatching = kKept;
    LineListPtr lines = testLines({"1", "0.5", c.line});
    parseSettings(lines.get());
    EXPECT_EQ(matchSettings.groupSingleMatching, c.value) << c.line;
    EXPECT_EQ(matchSettings.groupMultipleMatching, 0.5);
  }
  LineListPtr nanLine = testLines({"1", "nan(0x7)"});
  parseSettings(nanLine.get());
  EXPECT_TRUE(std::isnan(matchSettings.groupMultipleMatching));

  struct IntegerCase {
    const char* line;
    int32_t value;
  };
  const IntegerCase integers[] = {
      {"3 ;sw;x", 3},
      {"  -1", -1},
      {"+7;", 7},
      {"99999999999", INT32_MAX},
      {"-99999999999999999999999", INT32_MIN},
      {"1.9", 1},
      {"0x10", 0},
      {"x", 77},
      {"", 77},
      {"- 2", 77},
  };
  for (const IntegerCase& c : integers) {
    matchSettings.sw = 77;
    LineListPtr lines = testLines({c.line});
    parseSettings(lines.get());
    EXPECT_EQ(matchSettings.sw, c.value) << c.line;
  }
  matchSettings = MatchSettings{};
}

TEST(ParseSettings, ReadsNineLinesAtMost) {
  Lines lines = defaultLines();
  lines.push_back("0.75 ;8;a tenth value is not read");
  LineListPtr list = testLines(lines);
  matchSettings = MatchSettings{};
  parseSettings(list.get());
  EXPECT_EQ(matchSettings.sw, 1);
  EXPECT_EQ(matchSettings.sameFaceAngleAdvantage, 0.25);
  parseSettings(nullptr);
  MatchSettings parsed = matchSettings;
  matchSettings.groupMultipleMatching = 9.0;
  useDefaultSettings();
  EXPECT_EQ(std::memcmp(&parsed, &matchSettings, sizeof parsed), 0);
  matchSettings = MatchSettings{};
}

TEST_F(SettingsTest, RecentListsRoundTripUnchanged) {
  Lines paths;
  for (int i = 0; i < 3000; ++i)
    paths.push_back("/data/model " + std::to_string(i) + ".dxf");
  paths[1] = "/" + std::string(5000, 'd') + "/long.dxf";
  paths[2] =
      "/m\xC3\xBC"
      "ller/\xFF\xFE raw bytes/f.dxf";
  paths[3] = "C:\\Program Files\\x.DXF";
  writeFileBytes(file("reflist.txt"), crlfJoin(paths));
  writeFileBytes(file("tergetlist.txt"), "only\r\n");
  writeFileBytes(file("param.txt"), crlfJoin(defaultLines()));
  loadSettings(&dialog_.port);
  EXPECT_EQ(dialog_.comboItems[kReferenceBoxId], paths);
  EXPECT_EQ(dialog_.controlText[kReferenceBoxId], paths[0]);
  EXPECT_EQ(dialog_.controlText[kTargetBoxId], "only");
  saveSettingsAndLists();
  EXPECT_EQ(readFileBytes(file("reflist.txt")), crlfJoin(paths));
  EXPECT_EQ(readFileBytes(file("tergetlist.txt")), "only\r\n");
}

TEST_F(SettingsTest, UsedPathsMoveToTheFrontOfTheRecentList) {
  writeFileBytes(file("param.txt"), crlfJoin(defaultLines()));
  loadSettings(&dialog_.port);
  for (const char* path : {"A", "B", "A"})
    moveLineToFront(referenceList, path);
  fillPathBoxes(&dialog_.port);
  EXPECT_EQ(dialog_.comboItems[kReferenceBoxId], (Lines{"A", "B"}));
  EXPECT_EQ(dialog_.controlText[kReferenceBoxId], "A");
  saveSettingsAndLists();
  EXPECT_EQ(readFileBytes(file("reflist.txt")), "A\r\nB\r\n");
}

TEST(RotationFromSetting, TruncatesAndBoundsToNonNegative) {
  const std::pair<double, int32_t> cases[] = {
      {0.0, 0},
      {2.9, 2},
      {3.0, 3},
      {7.0, 7},
      {-1.0, 0},
      {-0.9, 0},
      {-1e300, 0},
      {2147483647.5, INT32_MAX},
      {2147483648.0, 0},
      {std::numeric_limits<double>::quiet_NaN(), 0},
      {std::numeric_limits<double>::infinity(), 0},
  };
  for (const auto& [value, rotation] : cases)
    EXPECT_EQ(rotationFromSetting(value), rotation) << value;
}

// Every allocation from opening to closing, failed in turn: no crash, nothing left allocated,
// and the remembered files are never damaged (at worst a rotation choice is not written).
TEST_F(SettingsTest, EachFailedAllocationLeavesFilesWhole) {
  const std::string recent = crlfJoin({"/a/one.dxf", "/b/two.dxf"});
  Lines settings = defaultsWith(0, "2");
  Lines rotated = settings;
  rotated[3] = "1 ;2;[0,1,2 or 3] Texture Rotation";
  writeFileBytes(file("reflist.txt"), recent);
  writeFileBytes(file("tergetlist.txt"), recent);
  writeFileBytes(file("param.txt"), crlfJoin(settings));
  writeFileBytes(file("readme.txt"), "notes\r\n");
  setErrorPresenter(recordReport);
  int failures = 0;
  for (long k = 1; k < 200; ++k) {
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
    EXPECT_TRUE(written == crlfJoin(settings) || written == crlfJoin(rotated)) << k;
    writeFileBytes(file("param.txt"), crlfJoin(settings));
    reset();
    if (reports.empty()) break;
    ++failures;
  }
  setErrorPresenter(nullptr);
  EXPECT_GE(failures, 10);
}
