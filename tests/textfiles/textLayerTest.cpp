// The text-file layer: the allocator, line lists and their files, progress lines, settings.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <random>

#include "app/controlIds.h"
#include "app/programPath.h"
#include "app/settingsDialog.h"
#include "reference/lineSplitReference.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"
#include "textfiles/fileBytes.h"
#include "textfiles/numberText.h"
#include "textfiles/orderedChunks.h"
#include "textfiles/settings.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// The allocator's failure reports, collected for the life of a Failures.
Lines failed;
struct Failures {
  static void record(const char* name) { failed.emplace_back(name); }
  Failures() { setAllocationFailureHandler(record); }
  ~Failures() { gfailAllocationAfter(0), setAllocationFailureHandler(nullptr); }
};

std::string crlfJoin(const Lines& lines) {
  return std::accumulate(lines.begin(), lines.end(), ""s,
                         [](const std::string& text, auto& line) { return text + line + "\r\n"; });
}

}  // namespace

// New blocks and the grown part read zero; each entry that fails (the injected next one, or a
// size no system serves) names itself to the handler and returns null, a block it was to grow
// staying owned; carved blocks are ordinary blocks (sized, aligned, grown, freed in any order).
TEST(Allocator, ZeroFillsReportsFailuresAndCarvesOrdinaryBlocks) {
  Failures failures;
  long live = gliveBlocks();
  gfree(std::memset(gmalloc(4096), 0xCD, 4096));  // used memory for the blocks below to reuse
  auto* grown = static_cast<char*>(gcrealloc(std::memset(gcalloc(16), 0xAB, 16), 4096));
  EXPECT_EQ(std::string(grown, 4096), std::string(16, '\xAB') + std::string(4080, '\0'));
  BlockCarver carver{256, nullptr, nullptr, nullptr, 0};  // small chunks, so several are used
  // clang-format off
  const void* none[] = {(gfailAllocationAfter(1), gcalloc(8)), (gfailAllocationAfter(1), gmalloc(8)),
      (gfailAllocationAfter(1), gcrealloc(grown, 8000)), (gfailAllocationAfter(1), gcrealloc(nullptr, 64)),
      (gfailAllocationAfter(1), gcarve(&carver, 8)), gcalloc(~size_t{0}), gmalloc(~size_t{0} / 2)};
  EXPECT_TRUE(std::count(none, none + 7, nullptr) == 7 &&
              failed == splitText("gcalloc gmalloc gcrealloc gcalloc gcrealloc gmalloc gcalloc gmalloc", ' '));
  // clang-format on
  std::vector<char*> blocks = {grown, static_cast<char*>(gcalloc(0))};  // a size 0 is served as 1
  for (int i = 2; i < 60; ++i)
    blocks.push_back(
        static_cast<char*>(std::memset(gcarve(&carver, i % 13 + 1), 'a' + i, i % 13 + 1)));
  gcarveDone(&carver);
  EXPECT_EQ(gliveBlocks(), live + 60);
  blocks[7] = static_cast<char*>(gcrealloc(blocks[7], 64));  // moves to a block of its own
  for (int i = 1; i < 60; ++i)  // the bytes of each block, then its address modulo 8
    EXPECT_EQ(std::string(blocks[i], gblockSize(blocks[i])) + char(uintptr_t(blocks[i]) % 8),
              i == 1   ? "\0\0"s
              : i == 7 ? "hhhhhhhh" + std::string(57, '\0')
                       : std::string(i % 13 + 1, 'a' + i) + '\0');
  std::reverse(blocks.begin() + 20, blocks.end());
  for (char* block : blocks)
    gfree(block);
  EXPECT_EQ(gliveBlocks(), live);
}

// Breaks, empty lines and NULs as the plain statement of the rules has them, in both modes, on
// the telling texts and on random ones.
TEST(SplitTextLines, BreaksAndEmptyLinesInBothModes) {
  // clang-format off
  Lines texts = {"A\r\nB", "A\n\rB", "A\r\r\nB", "\r\nA", "A\r\r\r\nB", "A\n\r\nB", "A\r\n\r\n", "",
                 "A\0x\r\nB"s, "\0x\nB"s, " a \t\nb", "A\n  \nB", "\r\r\n\n\r\r"};
  // clang-format on
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
  std::string text, path = folder.file("large.dxf");
  for (int i = 0; i < 300000; ++i)
    text += (i % 7 == 0 ? "" : std::to_string(i)) + "\r\n";
  writeFileBytes(path, text += std::string(400000, 'x'));
  const Lines lines = plainSplit(text.data(), text.size(), LineSplit::keepEmpty);
  for (long k = 1; k == 1 || !failed.empty(); k = k < 16 ? k + 1 : k * 2) {
    long live = gliveBlocks();
    int status = 99;
    failed.clear(), gfailAllocationAfter(k);
    LineListPtr list(loadLineListAs(path.c_str(), LineSplit::keepEmpty, &status));
    gfailAllocationAfter(0);
    EXPECT_EQ(status, failed.empty() ? kLoadRead : kLoadNoMemory) << k;
    EXPECT_TRUE(failed.empty()
                    ? k > 5 && gblockSize(list->items[1]) == 2 && linesOf(list.get()) == lines
                    : !list);  // "1" and its NUL
    list.reset();
    EXPECT_EQ(gliveBlocks(), live) << k;
  }
}

// Non-empty lines, each with CR LF (also past the write buffer), whole or not at all: an
// existing file keeps its permission bits, a link is followed and stays, a new file gets 0666
// less the umask, the list keeps its path, no temporary file stays, an empty list writes an
// empty file. A path that names no regular file is never replaced; a save whose memory fails
// leaves the old file whole. (Loads and saves of hostile paths: the hardening tests.)
TEST(LineFiles, SavesWithCrLfKeepingModesAndLinksAndFailuresLeaveFilesAsTheyWere) {
  Failures failures;
  ScratchFolder folder;
  const std::string path = folder.file("list"), fifo = folder.file("pipe"),
                    dir = folder.file("dir");
  const std::string odd = "C:\\path with spaces\\\xE9\xFF.dxf", big(2200000, 'b');
  LineListPtr list = testLines({"a", "", big.c_str(), odd.c_str()});
  list->path = copyText(path.c_str());
  EXPECT_TRUE(saveLineList(list.get()) == 1 && readFileBytes(path) == crlfJoin({"a", big, odd}));
  ASSERT_EQ(chmod(path.c_str(), 0600) + symlink("list", folder.file("link").c_str()) +
                mkfifo(fifo.c_str(), 0644) + mkdir(dir.c_str(), 0755),
            0);
  mode_t oldMask = umask(022);
  EXPECT_EQ(saveLineListAs(testLines({"via link"}).get(), folder.file("link").c_str()) +
                saveLineListAs(list.get(), folder.file("new").c_str()),
            2);
  umask(oldMask);
  EXPECT_TRUE(fs::is_symlink(folder.file("link")) && list->path == path &&
              fs::status(path).permissions() == fs::perms(0600) &&
              fs::status(folder.file("new")).permissions() == fs::perms(0644));
  EXPECT_EQ(saveLineListAs(list.get(), fifo.c_str()) + saveLineListAs(list.get(), dir.c_str()), 0);
  long live = gliveBlocks();
  failed.clear(), gfailAllocationAfter(1);
  EXPECT_EQ(saveLineListAs(list.get(), path.c_str()), 0);
  EXPECT_TRUE(failed == Lines{"gmalloc"} && gliveBlocks() == live && fs::is_fifo(fifo) &&
              fs::is_directory(dir) && readFileBytes(path) == "via link\r\n");
  clearLines(list.get());
  EXPECT_TRUE(saveLineList(list.get()) == 1 && readFileBytes(path).empty());
  size_t entries = std::distance(fs::directory_iterator(folder.path), fs::directory_iterator());
  EXPECT_EQ(entries, 5u);  // dir link list new pipe: no temporary file
}

// Inserting, the result codes, trimming blanks (not tabs), and a used path moved to the front
// of its recent list (inserted when absent, empty lines dropped).
TEST(LineList, EditsAndResultCodes) {
  LineListPtr list = testLines({"a", "b"});
  Failures failures;
  gfailAllocationAfter(1);
  // clang-format off
  EXPECT_EQ((std::vector<int>{appendLine(list.get(), "lost"), insertLine(list.get(), "c", 5),
      insertLine(list.get(), "d", -1), insertLine(list.get(), "e", 1), appendLine(nullptr, "x"),
      insertLine(nullptr, "x", 0), findLine(nullptr, "x"), findLine(list.get(), nullptr),
      moveLineToFront(nullptr, "a"), moveLineToFront(list.get(), nullptr), moveLineToFront(list.get(), "")}),
      (std::vector<int>{-4, 2, 3, 4, -1, -1, -2, -3, -1, -3, -2}));
  // clang-format on
  EXPECT_EQ(linesOf(list.get()), splitText("a e b c d", ' '));
  std::string blanks = " 1 2\t   ", onlyBlanks = "   ";
  trimTrailingBlanks(blanks.data()), trimTrailingBlanks(onlyBlanks.data());
  EXPECT_EQ(blanks.c_str() + ("|"s + onlyBlanks.c_str()), " 1 2\t|");
  // before, moved text, result, after
  for (const char* row :
       {"a b c|c|2|c a b", "a b|a|0|a b", "a B|b|2|b a B", "|n|0|n", "a  b|b|1|b a"}) {
    Lines c = splitText(row, '|');
    list = testLines(splitText(c[0], ' '));
    EXPECT_EQ(moveLineToFront(list.get(), c[1].c_str()), std::stoi(c[2])) << row;
    EXPECT_EQ(linesOf(list.get()), splitText(c[3], ' ')) << row;
  }
}

// Lines are formatted and appended, a null format empties the list; the format is cut at 255
// characters (dropping a conversion the cut falls into) and the line at 511.
TEST(AddProgressLine, FormatsAppendsClearsAndCuts) {
  RecordingDialog dialog;
  addProgressLine(&dialog.port, "Start..."), addProgressLine(&dialog.port, "%d/%d", 2, 10);
  EXPECT_EQ(dialog.progress, (Lines{"Start...", "2/10"}));
  addProgressLine(&dialog.port, nullptr);
  addProgressLine(&dialog.port, "%s", std::string(600, 'b').c_str());
  addProgressLine(&dialog.port, std::string(300, 'a').c_str());
  addProgressLine(&dialog.port, (std::string(254, 'c') + "%d").c_str(), 5);
  EXPECT_EQ(dialog.progress,
            (Lines{std::string(511, 'b'), std::string(255, 'a'), std::string(254, 'c')}));
}

namespace {

// The nine default lines with the switch word `sw`, and line 4 as `line4` when given.
Lines defaultsWith(const std::string& sw, const std::string& line4 = "") {
  Lines lines(kDefaultSettingsLines, kDefaultSettingsLines + 9);
  lines[0] = sw.empty() ? lines[0] : sw, lines[3] = line4.empty() ? lines[3] : line4;
  return lines;
}

// The nine values in file order (the switch word, then the eight tolerances), exactly.
std::string valuesOf(const MatchSettings& s) {
  std::string text = std::to_string(s.sw);
  char value[40];
  for (const double* v = &s.groupMultipleMatching; v <= &s.sameFaceAngleAdvantage; ++v)
    text += (std::snprintf(value, sizeof value, " %a", *v), value);
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
// notes are shown that first time although line 1 hides them (bit 0 cleared).
TEST_F(Settings, MissingOrShortFileGetsTheDefaults) {
  writeFileBytes(file("readme.txt"), "Note one\r\n\r\nNote two\r\n");
  const Lines nine = defaultsWith("", "7 ;2"), eight(nine.begin(), nine.end() - 1);
  for (const std::string& before : {""s, crlfJoin(eight)}) {
    if (!before.empty()) writeFileBytes(file("param.txt"), before);
    RecordingDialog shown;
    loadSettings(&shown.port);
    EXPECT_TRUE(shown.progress == Lines({"Note one", "Note two"}) && shown.shown.empty() &&
                saveSettingsOnExit);
    saveSettingsAndLists();
    EXPECT_EQ(readFileBytes(file("param.txt")), crlfJoin(defaultsWith("")));
    EXPECT_EQ(readFileBytes(file("tergetlist.txt")), "");  // created
  }
}

// Bit 0 of line 1 hides the notes, bit 1 shows the rotation box with the rotation in force
// selected: line 4 truncated toward zero, 0 when negative or not a finite number below 2^31. A
// choice replaces the number at the start of line 4 (after its white space) and marks the file;
// lines after the ninth are written back as they were. Cases in textfiles/rotation.txt.
TEST_F(Settings, RotationFollowsLineFourAndAChoiceRewritesItsNumber) {
  writeFileBytes(file("readme.txt"), "note\r\n");
  for (const std::string& row :
       splitText(readFileBytes(testDataPath("textfiles/rotation.txt")), '\n')) {
    if (row.empty() || row[0] == '#') continue;
    const Lines c =
        splitText(row, '|');  // switch word, line 4, rotation, selected, choice, written
    Lines lines = defaultsWith(c[0], c[1]);
    lines.insert(lines.end(), {"tenth line kept", "0.125 eleventh"});
    writeFileBytes(file("param.txt"), crlfJoin(lines));
    RecordingDialog shown;
    loadSettings(&shown.port);
    EXPECT_EQ(textureRotation, std::stoi(c[2])) << row;
    EXPECT_EQ(shown.progress, (c[0] == "2" ? Lines{"note"} : Lines{})) << row;
    EXPECT_EQ(shown.shown.empty() ? "h" : std::to_string(shown.selection[kRotationBoxId]), c[3]);
    setTextureRotation(std::stoi(c[4]));
    EXPECT_EQ(textureRotation, std::stoi(c[c[5] == "=" ? 2 : 4])) << row;
    EXPECT_EQ(saveSettingsOnExit, c[5] != "=") << row;
    saveSettingsAndLists();
    lines[3] = c[5] == "=" ? lines[3] : c[5];
    EXPECT_EQ(readFileBytes(file("param.txt")), crlfJoin(lines)) << row;
  }
}

// Line 1 reads as strtol (base 10) saturated to 32 bits, lines 2..9 as strtod, both as in the C
// locale whatever the locale; a line that does not start with a number leaves its value, and
// lines after the ninth are not read. Texts in textfiles/numbers.txt.
TEST_F(Settings, NumbersReadAsCFormatsWithoutLocale) {
  const std::string data = readFileBytes(testDataPath("textfiles/numbers.txt"));
  for (int line = 0; line < 10; ++line)
    for (const std::string& text : splitText(data, '\n')) {
      if (text[0] == '#') continue;
      Lines lines(10, "");
      lines[line] = text;
      MatchSettings expected = {42, 42, 42, 42, 42, 42, 42, 42, 42};
      matchSettings = expected;
      parseSettings(testLines(lines).get());
      char* end = nullptr;
      long word = std::strtol(text.c_str(), &end, 10);
      double value =
          line ? strtod(text.c_str(), &end) : std::clamp<long>(word, INT32_MIN, INT32_MAX);
      if (end != text.c_str() && line < 9)
        line ? void((&expected.groupMultipleMatching)[line - 1] = value)
             : void(expected.sw = int32_t(value));
      EXPECT_EQ(valuesOf(matchSettings), valuesOf(expected)) << line << ": " << text;
    }
}

// Every allocation from opening to closing, failed in turn: nothing left allocated, and the
// remembered files are never damaged (at worst a rotation choice is not written). Recent lists
// of long and raw paths are written back unchanged.
TEST_F(Settings, EachFailedAllocationLeavesFilesWhole) {
  const std::string recent =
      crlfJoin({"/" + std::string(5000, 'd') + "/long.dxf", "/m\xC3\xBCller/\xFF\xFE raw/f.dxf",
                "C:\\Program Files\\x.DXF"});
  const std::string settings = crlfJoin(defaultsWith("2"));
  const std::string rotated = crlfJoin(defaultsWith("2", "1 ;2;[0,1,2 or 3] Texture Rotation"));
  writeFileBytes(file("reflist.txt"), recent), writeFileBytes(file("tergetlist.txt"), recent);
  Failures failures;
  for (long k = 1; k == 1 || !failed.empty(); ++k) {
    writeFileBytes(file("param.txt"), settings), failed.clear();
    long live = gliveBlocks();
    RecordingDialog dialog;
    gfailAllocationAfter(k), loadSettings(&dialog.port), setTextureRotation(1);
    saveSettingsAndLists(), gfailAllocationAfter(0);
    EXPECT_EQ(readFileBytes(file("reflist.txt")) + readFileBytes(file("tergetlist.txt")),
              recent + recent);
    std::string written = readFileBytes(file("param.txt"));
    EXPECT_TRUE(failed.empty() ? k > 10 && written == rotated
                               : written == rotated || written == settings)
        << k;
    reset();
    EXPECT_EQ(gliveBlocks(), live) << k;
  }
}

// Plain decimals of every length around the exact limits (2^53, 22 decimals), signed, with and
// without what may follow a number: value bits and end as strtod gives them.
TEST(ReadRealNumber, PlainDecimalsAsStrtod) {
  std::mt19937 random(11);
  const char* const kAfter[] = {"", " 7", "x", "e3", "E-2", ".", "..5"};
  for (int trial = 0; trial < 200000 && !HasFailure(); ++trial) {
    std::string text = trial % 3 == 0 ? "-" : trial % 7 == 0 ? " +" : "";
    const int whole = random() % 18, decimals = random() % 26;
    for (int i = 0; i < whole; ++i)
      text += static_cast<char>('0' + random() % 10);
    if (decimals > 0 || trial % 5 == 0) text += '.';
    for (int i = 0; i < decimals; ++i)
      text += static_cast<char>('0' + (trial % 11 == 0 ? 9 : random() % 10));
    text += kAfter[random() % 7];
    char* expectedEnd = nullptr;
    const double expected = std::strtod(text.c_str(), &expectedEnd);
    double value = 42.0;
    const char* end = readRealNumber(text.c_str(), &value, RealForms::decimal);
    if (expectedEnd == text.c_str()) {
      EXPECT_EQ(end, nullptr) << text;
    } else {
      EXPECT_TRUE(end == expectedEnd && std::memcmp(&value, &expected, sizeof value) == 0) << text;
    }
  }
}

namespace {

// Chunk i of the ordered-chunk tests: i + 1 lines naming it; chunk `failAt` is abandoned.
struct ChunkText {
  int failAt;
};
bool chunkLines(ByteSink* chunk, int32_t index, const void* context) {
  if (index == static_cast<const ChunkText*>(context)->failAt) return false;
  for (int32_t line = 0; line <= index % 50; ++line)
    if (!sinkLine(chunk, ("chunk " + std::to_string(index)).c_str())) return false;
  return true;
}

}  // namespace

// Chunks formatted on two threads come out in order, as one thread writes them; an abandoned
// chunk ends the output before it.
TEST(OrderedChunks, InOrderAndStopAtTheFirstFailure) {
  const struct {
    int32_t count;
    int failAt;
  } cases[] = {{0, -1}, {1, -1}, {2, -1}, {7, -1}, {400, -1}, {400, 0}, {400, 3}, {400, 399}};
  for (const auto& c : cases) {
    ChunkText context{c.failAt};
    ByteSink expected{}, got{};
    expected.fd = got.fd = -1;
    for (int32_t i = 0; i < c.count && i != c.failAt; ++i)
      chunkLines(&expected, i, &context);
    EXPECT_EQ(writeChunksInOrder(&got, c.count, chunkLines, &context), c.failAt < 0);
    EXPECT_EQ(std::string(got.data ? got.data : "", got.used),
              std::string(expected.data ? expected.data : "", expected.used))
        << c.count << " " << c.failAt;
    gfree(expected.data);
    gfree(got.data);
  }
}
