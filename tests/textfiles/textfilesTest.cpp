// The text-file layer: the allocator, line lists and their files, progress lines, settings.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "app/controlIds.h"
#include "app/programPath.h"
#include "app/settingsDialog.h"
#include "reference/lineSplitReference.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"
#include "textfiles/settings.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using Lines = std::vector<std::string>;

// The allocator's failure reports, collected for the life of a Failures.
Lines failed;
struct Failures {
  Failures() {
    setAllocationFailureHandler([](const char* name) { failed.emplace_back(name); });
  }
  ~Failures() { gfailAllocationAfter(0), setAllocationFailureHandler(nullptr); }
};

Lines filesIn(const std::string& folder) {
  Lines names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string crlfJoin(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line + "\r\n";
  return text;
}

}  // namespace

// New blocks and the grown part of a block read zero; carved blocks are ordinary blocks (sized,
// counted, grown, released in any order, each chunk with its last block).
TEST(Allocator, ZeroFillsAndCarvedBlocksAreOrdinaryBlocks) {
  long live = gliveBlocks();
  gfree(std::memset(gmalloc(4096), 0xCD, 4096));  // used memory for the blocks below to reuse
  auto* block = static_cast<char*>(std::memset(gcalloc(16), 0xAB, 16));
  block = static_cast<char*>(gcrealloc(block, 4096));
  EXPECT_EQ(std::string(block, 4096), std::string(16, '\xAB') + std::string(4080, '\0'));
  void* tiny = gcalloc(0);
  EXPECT_EQ(gblockSize(block) + gblockSize(tiny), 4097u);  // 0 is served as 1
  gfree(tiny);
  BlockCarver carver{256, nullptr, nullptr, nullptr, 0};  // small chunks, so that several are used
  auto sizeOf = [](int i) { return 1 + static_cast<size_t>(i % 13); };
  std::vector<char*> blocks = {block};
  for (int i = 1; i < 60; ++i) {
    blocks.push_back(static_cast<char*>(gcarve(&carver, sizeOf(i))));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(blocks[i]) % 8, 0u);
    std::memset(blocks[i], 'a' + i, sizeOf(i));
  }
  gcarveDone(&carver);
  EXPECT_EQ(gliveBlocks(), live + 60);
  for (int i = 1; i < 60; ++i)
    EXPECT_EQ(std::string(blocks[i], gblockSize(blocks[i])), std::string(sizeOf(i), 'a' + i));
  blocks[5] = static_cast<char*>(gcrealloc(blocks[5], 64));  // moves to a block of its own
  EXPECT_EQ(std::string(blocks[5], 64), std::string(6, 'f') + std::string(58, '\0'));
  std::reverse(blocks.begin() + 20, blocks.end());
  for (char* each : blocks)
    gfree(each);
  gfree(nullptr);
  EXPECT_EQ(gliveBlocks(), live);
}

// Injected failures (the next allocation), sizes no system can serve and a carver's failed
// chunk: each entry names itself to the handler, returns null and keeps nothing.
TEST(Allocator, FailedAllocationsReportTheEntryName) {
  Failures failures;
  failed.clear();
  long live = gliveBlocks();
  void* block = gcalloc(8);
  BlockCarver carver{};
  for (int entry = 0; entry < 5; ++entry) {
    gfailAllocationAfter(1);
    EXPECT_EQ(entry == 0   ? gcalloc(8)
              : entry == 1 ? gmalloc(8)
              : entry == 2 ? gcrealloc(block, 64)  // the old block stays valid and owned
              : entry == 3 ? gcrealloc(nullptr, 64)
                           : gcarve(&carver, 8),
              nullptr);
  }
  EXPECT_EQ(uintptr_t(gcalloc(~size_t{0})) + uintptr_t(gmalloc(~size_t{0} / 2)), 0u);
  gfree(block);
  gfree(block = gcarve(&carver, 8));  // the next chunk is had again
  gcarveDone(&carver);
  EXPECT_EQ(failed, (Lines{"gcalloc", "gmalloc", "gcrealloc", "gcalloc", "gcrealloc", "gmalloc",
                           "gcalloc", "gmalloc"}));
  EXPECT_EQ(gliveBlocks(), live);
}

// Breaks, empty lines and NULs as the plain statement of the rules has them, in both modes, on
// the telling texts and on random ones.
TEST(SplitTextLines, BreaksAndEmptyLinesInBothModes) {
  Lines texts = {"A\r\nB",      "A\n\rB", "A\r\r\nB",   "\r\nA",   "A\r\r\r\nB", "A\n\r\nB",
                 "A\r\n\r\n",   "",       "A\0x\r\nB"s, "\0x\nB"s, " a \t\nb",   "A\n  \nB",
                 "\r\r\n\n\r\r"};
  std::mt19937 random(7);
  for (int i = 0; i < 5000; ++i, texts.emplace_back())
    for (int n = random() % 12; n > 0; --n)
      texts.back() += "A\r\n\0 "[random() % 5];
  for (const std::string& text : texts)
    for (LineSplit mode : {LineSplit::dropEmpty, LineSplit::keepEmpty})
      ASSERT_EQ(linesOf(LineListPtr(splitTextLines(text.data(), text.size(), mode)).get()),
                plainSplit(text.data(), text.size(), mode))
          << testing::PrintToString(text) << int(mode);
}

// Every allocation of a load, failed in turn (the first ones, then ever wider steps), ends with
// null, kLoadNoMemory and nothing left; the load that succeeds keeps every line, although they
// fill several chunks and one is longer than a chunk's part.
TEST(LoadLineList, EachFailedAllocationEndsCleanly) {
  Failures failures;
  ScratchFolder folder;
  std::string text;
  for (int i = 0; i < 300000; ++i)
    text += (i % 7 == 0 ? "" : std::to_string(i)) + "\r\n";
  writeFileBytes(folder.file("large.dxf"), text += std::string(400000, 'x'));
  for (long k = 1; !failed.empty() || k == 1; k = k < 16 ? k + 1 : k * 2) {
    long live = gliveBlocks();
    failed.clear();
    gfailAllocationAfter(k);
    int status = 99;
    LineListPtr list(
        loadLineListAs(folder.file("large.dxf").c_str(), LineSplit::keepEmpty, &status));
    gfailAllocationAfter(0);
    EXPECT_EQ(status, failed.empty() ? kLoadRead : kLoadNoMemory) << k;
    EXPECT_EQ(linesOf(list.get()), failed.empty()
                                       ? plainSplit(text.data(), text.size(), LineSplit::keepEmpty)
                                       : Lines{});
    EXPECT_TRUE(failed.empty() ? k >= 6 && gblockSize(list->items[1]) == 2 : !list);  // "1" + NUL
    list.reset();
    EXPECT_EQ(gliveBlocks(), live) << k;
  }
}

TEST(SaveLineList, WritesNonEmptyLinesWithCrLfKeepingModesLinksAndPaths) {
  ScratchFolder folder;
  const std::string path = folder.file("list.txt"), link = folder.file("link");
  const std::string odd = "C:\\path with spaces\\\xE9\xFF.dxf", big(70000, 'b');
  LineListPtr list = testLines({"a", "", big.c_str(), odd.c_str()});
  list->path = copyText(path.c_str());
  EXPECT_EQ(saveLineList(list.get()), 1);
  EXPECT_EQ(readFileBytes(path), crlfJoin({"a", big, odd}));
  // An existing file keeps its permission bits; a symbolic link is followed and stays.
  ASSERT_EQ(chmod(path.c_str(), 0600) + symlink("list.txt", link.c_str()), 0);
  EXPECT_EQ(saveLineListAs(testLines({"via link"}).get(), link.c_str()), 1);
  EXPECT_EQ(readFileBytes(path), "via link\r\n");
  EXPECT_TRUE(fs::is_symlink(link) && fs::status(path).permissions() == fs::perms(0600));
  // A new file gets 0666 less the umask; the list keeps its own path; no temporary file stays.
  mode_t oldMask = umask(022);
  EXPECT_EQ(saveLineListAs(list.get(), folder.file("new.txt").c_str()), 1);
  umask(oldMask);
  EXPECT_EQ(fs::status(folder.file("new.txt")).permissions(), fs::perms(0644));
  EXPECT_EQ(list->path, path);
  EXPECT_EQ(filesIn(folder.path), (Lines{"link", "list.txt", "new.txt"}));
  clearLines(list.get());  // an empty list writes an empty file, so a missing list is created
  EXPECT_EQ(saveLineList(list.get()), 1);
  EXPECT_EQ(readFileBytes(path), "");
  EXPECT_EQ(saveLineListAs(nullptr, path.c_str()) + saveLineListAs(list.get(), nullptr), 0);
}

// A path that names no regular file is never read, waited on or replaced; a save that fails on
// the way (the disk refuses bytes, memory fails) leaves the old file whole and no temporary one.
TEST(LineFiles, FailuresLeaveEveryFileAsItWas) {
  Failures failures;
  ScratchFolder folder;
  const std::string fifo = folder.file("pipe"), dir = folder.file("dir"), file = folder.file("f");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644) + mkdir(dir.c_str(), 0755), 0);
  writeFileBytes(file, "old\r\n");
  alarm(20);  // a blocking open would otherwise hang the test
  for (const std::string& path : {folder.file("no"), dir, fifo, file + "/in", "/dev/null"s}) {
    int status = 99;
    LineListPtr list(loadLineListAs(path.c_str(), LineSplit::keepEmpty, &status));
    EXPECT_TRUE(status == kLoadNotOpened && list->count == 0 && list->path == path) << path;
  }
  alarm(0);
  LineListPtr lines = testLines({std::string(100000, 'n').c_str(), "tail"});
  long live = gliveBlocks();
  for (const std::string& path : {dir, fifo, file + "/in"})
    EXPECT_EQ(saveLineListAs(lines.get(), path.c_str()), 0) << path;
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit limit = {1000, saved.rlim_max};
  auto previous = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &limit);
  int written = saveLineListAs(lines.get(), file.c_str());  // the disk refuses bytes
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  failed.clear();
  gfailAllocationAfter(1);
  EXPECT_EQ(written + saveLineListAs(lines.get(), file.c_str()), 0);
  EXPECT_EQ(failed, Lines{"gmalloc"});
  EXPECT_EQ(gliveBlocks(), live);
  EXPECT_EQ(readFileBytes(file), "old\r\n");
  EXPECT_EQ(filesIn(folder.path), (Lines{"dir", "f", "pipe"}));
  EXPECT_TRUE(fs::is_fifo(fifo));
}

// Capacity in steps of 128, inserting, the result codes, trimming blanks (not tabs), and a used
// path moved to the front of its recent list (inserted when absent, empty lines dropped).
TEST(LineList, EditsAndResultCodes) {
  LineListPtr list(newLineList());
  for (int i = 0; i < 20000; ++i) {
    ASSERT_EQ(appendLine(list.get(), "x"), i);
    ASSERT_TRUE(list->capacity % 128 == 0 && list->capacity >= list->count) << i;
    ASSERT_TRUE(i > 128 || list->capacity == (i < 128 ? 128 : 256));
  }
  list = testLines({"a", "b"});
  Failures failures;
  gfailAllocationAfter(1);
  EXPECT_EQ((std::vector<int>{appendLine(list.get(), "lost"), insertLine(list.get(), "c", 5),
                              insertLine(list.get(), "d", -1), insertLine(list.get(), "e", 1),
                              appendLine(nullptr, "x"), insertLine(nullptr, "x", 0),
                              findLine(nullptr, "x"), findLine(list.get(), nullptr),
                              moveLineToFront(nullptr, "a"), moveLineToFront(list.get(), nullptr),
                              moveLineToFront(list.get(), "")}),
            (std::vector<int>{-4, 2, 3, 4, -1, -1, -2, -3, -1, -3, -2}));
  EXPECT_EQ(linesOf(list.get()), (Lines{"a", "e", "b", "c", "d"}));
  for (auto [text, trimmed] : {std::pair{" 1 2\t   ", " 1 2\t"}, {"   ", ""}}) {
    std::string copy = text;
    trimTrailingBlanks(copy.data());
    EXPECT_STREQ(copy.c_str(), trimmed);
  }
  const std::tuple<Lines, const char*, int, Lines> moves[] = {
      {{"a", "b", "c"}, "c", 2, {"c", "a", "b"}},
      {{"a", "b"}, "a", 0, {"a", "b"}},
      {{"a", "B"}, "b", 2, {"b", "a", "B"}},
      {{}, "n", 0, {"n"}},
      {{"a", "", "b"}, "b", 1, {"b", "a"}}};
  for (const auto& [before, text, result, after] : moves) {
    list = testLines(before);
    EXPECT_EQ(moveLineToFront(list.get(), text), result) << text;
    EXPECT_EQ(linesOf(list.get()), after);
  }
}

// Lines are formatted and appended, a null format empties the list; the format is cut at 255
// characters (dropping a conversion the cut falls into) and the line at 511.
TEST(AddProgressLine, FormatsAppendsClearsAndCuts) {
  RecordingDialog dialog;
  EXPECT_EQ(addProgressLine(&dialog.port, "Start..."), 0);
  EXPECT_EQ(addProgressLine(&dialog.port, "%d Parts / %d Faces", 2, 10), 1);
  EXPECT_EQ(dialog.progress, (Lines{"Start...", "2 Parts / 10 Faces"}));
  addProgressLine(&dialog.port, nullptr);
  addProgressLine(&dialog.port, "%s", std::string(600, 'b').c_str());
  addProgressLine(&dialog.port, std::string(300, 'a').c_str());
  addProgressLine(&dialog.port, (std::string(254, 'c') + "%d").c_str(), 5);
  EXPECT_EQ(dialog.progress,
            (Lines{std::string(511, 'b'), std::string(255, 'a'), std::string(254, 'c')}));
  DialogPort noList{};
  EXPECT_EQ(addProgressLine(nullptr, "x") + addProgressLine(&noList, "x"), 0);
}

namespace {

// The nine default lines, line `index` (from 0) replaced by `line` when given.
Lines defaultsWith(int index = -1, const std::string& line = "") {
  Lines lines(kDefaultSettingsLines, kDefaultSettingsLines + 9);
  if (index >= 0) lines[index] = line;
  return lines;
}

// The nine values in file order (the switch word, then the eight tolerances), exactly.
std::string valuesOf(const MatchSettings& s) {
  char text[512];
  std::snprintf(text, sizeof text, "%d %a %a %a %a %a %a %a %a", s.sw, s.groupMultipleMatching,
                s.groupSingleMatching, s.textureRotation, s.vectorMatching, s.facePositionMatching,
                s.faceCountMatching, s.faceAngleMatching, s.sameFaceAngleAdvantage);
  return text;
}

// Each test in a scratch program folder, the settings state as at start before and after.
class Settings : public ::testing::Test {
 protected:
  void SetUp() override { setProgramDirectoryTo(folder.path.c_str()), reset(); }
  void TearDown() override { setProgramDirectory(), reset(); }
  static void reset() {
    freeLineList(referenceList), freeLineList(targetList), freeLineList(settingsLines);
    referenceList = targetList = settingsLines = nullptr;
    matchSettings = MatchSettings{}, textureRotation = 0, saveSettingsOnExit = false;
  }
  std::string file(const char* name) const { return folder.file(name); }
  ScratchFolder folder;
};

}  // namespace

// A missing or short settings file is replaced whole by the defaults, written on exit, and the
// notes are shown that first time although line 1 hides them (bit 0 cleared). A full file, its
// empty lines skipped whatever their line ends, then hides the notes and is not rewritten.
TEST_F(Settings, MissingOrShortFileGetsTheDefaults) {
  writeFileBytes(file("readme.txt"), "Note one\r\n\r\nNote two\r\n");
  Lines eight = defaultsWith(1, "0.75 ;0;changed");
  eight.pop_back();
  const std::string full = "\r\n1\n\n0.25\r\n\r\n0.5\r\r0\n0.01\n0.2\n0.9\n0.5\n0.25\n\r\n";
  for (const std::string& before : {""s, crlfJoin(eight), full}) {
    if (!before.empty()) writeFileBytes(file("param.txt"), before);
    RecordingDialog shown;
    loadSettings(&shown.port);
    EXPECT_EQ(shown.progress, (before == full ? Lines{} : Lines{"Note one", "Note two"}));
    EXPECT_TRUE(shown.shown.empty());  // rotation box stays hidden
    EXPECT_EQ(valuesOf(matchSettings),
              valuesOf({before == full, 0.25, 0.5, 0, 0.01, 0.2, 0.90, 0.5, 0.25}));
    EXPECT_EQ(saveSettingsOnExit, before != full);
    saveSettingsAndLists();
    EXPECT_EQ(readFileBytes(file("param.txt")), before == full ? full : crlfJoin(defaultsWith()));
    EXPECT_EQ(readFileBytes(file("tergetlist.txt")), "");  // created
  }
}

// Bit 0 of line 1 hides the notes, bit 1 shows the rotation box with the rotation in force
// selected: line 4 truncated toward zero, 0 when negative or not a finite number below 2^31. A
// choice replaces the number at the start of line 4 (after its white space) and marks the file;
// lines after the ninth are written back as they were. Cases in textfiles/rotation.txt.
TEST_F(Settings, RotationFollowsLineFourAndAChoiceRewritesItsNumber) {
  std::ifstream data(testDataPath("textfiles/rotation.txt"));
  writeFileBytes(file("readme.txt"), "note\r\n");
  for (std::string row; std::getline(data, row);) {
    Lines c(1);  // switch word, line 4, rotation, selected, choice, written
    for (char ch : row)
      ch == '|' ? c.emplace_back() : c.back() += ch;
    if (row[0] == '#') continue;
    SCOPED_TRACE(row);
    Lines lines = defaultsWith(3, c[1]);
    lines[0] = c[0];
    lines.insert(lines.end(), {"tenth line kept", "0.125 eleventh"});
    writeFileBytes(file("param.txt"), crlfJoin(lines));
    RecordingDialog shown;
    loadSettings(&shown.port);
    EXPECT_EQ(textureRotation, std::stoi(c[2]));
    EXPECT_EQ(shown.progress, (c[0] == "2" ? Lines{"note"} : Lines{}));
    EXPECT_EQ(shown.shown.empty() ? "h" : std::to_string(shown.selection[kRotationBoxId]), c[3]);
    EXPECT_EQ(shown.comboItems[kRotationBoxId],
              (c[3] == "h" ? Lines{} : Lines{"0", "1", "2", "3"}));
    setTextureRotation(std::stoi(c[4]));
    EXPECT_EQ(textureRotation, std::stoi(c[c[5] == "=" ? 2 : 4]));
    EXPECT_EQ(saveSettingsOnExit, c[5] != "=");
    saveSettingsAndLists();
    if (c[5] != "=") lines[3] = c[5];
    EXPECT_EQ(readFileBytes(file("param.txt")), crlfJoin(lines));
  }
}

// Line 1 reads as strtol (base 10) saturated to 32 bits, lines 2..9 as strtod, both as in the C
// locale whatever the locale; a line that does not start with a number leaves its value, and
// lines after the ninth are not read.
TEST_F(Settings, NumbersReadAsCFormatsWithoutLocale) {
  // clang-format off
  const char* texts[] = {"3 ;sw;x", "  -1", "+7;", "1.9", "0x10", "x", "- 2", "--2", "+-1",
      "99999999999", "-99999999999999999999999", "  -3.5e2;", "+.5", "1e", "1e+;", "7.", "\v\f 7",
      "1,5", "inf", "-Infinity;", "nan(0x7)", "0x1.8p3", "-0X.8", "0x;", "1e999", "-1e999",
      "0x1p99999", "1e-999", "1e-310", "abc", "", ";", ".e1", "e5", "0.90 ;5;"};
  // clang-format on
  for (int line = 0; line < 10; ++line) {
    for (const char* text : texts) {
      Lines lines(10, "");
      lines[line] = text;
      MatchSettings expected = {42, 42, 42, 42, 42, 42, 42, 42, 42};
      matchSettings = expected;
      parseSettings(testLines(lines).get());
      char* end = nullptr;
      long word = std::strtol(text, &end, 10);
      double value = line == 0 ? std::clamp<long>(word, INT32_MIN, INT32_MAX) : strtod(text, &end);
      if (end != text && line == 0) expected.sw = int32_t(value);
      if (end != text && line > 0 && line < 9) (&expected.groupMultipleMatching)[line - 1] = value;
      EXPECT_EQ(valuesOf(matchSettings), valuesOf(expected)) << line << ": " << text;
    }
  }
}

// Every allocation from opening to closing, failed in turn: nothing left allocated, and the
// remembered files are never damaged (at worst a rotation choice is not written). Recent lists
// of thousands of long and raw paths fill the box and are written back unchanged.
TEST_F(Settings, EachFailedAllocationLeavesFilesWhole) {
  Lines paths = {"/" + std::string(5000, 'd') + "/long.dxf", "/m\xC3\xBCller/\xFF\xFE raw/f.dxf",
                 "C:\\Program Files\\x.DXF"};
  for (int i = 0; i < 3000; ++i)
    paths.push_back("/data/model " + std::to_string(i) + ".dxf");
  const std::string recent = crlfJoin(paths), settings = crlfJoin(defaultsWith(0, "2"));
  Lines rotated = defaultsWith(0, "2");
  rotated[3] = "1 ;2;[0,1,2 or 3] Texture Rotation";
  writeFileBytes(file("reflist.txt"), recent);
  writeFileBytes(file("tergetlist.txt"), recent);
  writeFileBytes(file("readme.txt"), "notes\r\n");
  Failures failures;
  for (long k = 1; k == 1 || !failed.empty(); ++k) {
    writeFileBytes(file("param.txt"), settings);
    failed.clear();
    long live = gliveBlocks();
    RecordingDialog dialog;
    gfailAllocationAfter(k);
    loadSettings(&dialog.port);
    setTextureRotation(1);
    saveSettingsAndLists();
    gfailAllocationAfter(0);
    EXPECT_EQ(gliveBlocks(), live) << k;
    EXPECT_EQ(readFileBytes(file("reflist.txt")) + readFileBytes(file("tergetlist.txt")),
              recent + recent)
        << k;
    std::string written = readFileBytes(file("param.txt"));
    EXPECT_TRUE(written == crlfJoin(rotated) || (written == settings && !failed.empty())) << k;
    EXPECT_TRUE(!failed.empty() || (k > 10 && dialog.comboItems[kTargetBoxId] == paths));
    reset();
  }
}
