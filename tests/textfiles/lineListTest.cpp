#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/controlIds.h"
#include "app/errorReport.h"
#include "app/programPath.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"
#include "textfiles/lineList.h"

namespace {

using Lines = std::vector<std::string>;

std::vector<std::string> reports;
void recordReport(const char* message) {
  reports.emplace_back(message);
}

// Sends error reports to `reports` and "perr.txt" into a scratch folder for the test's life.
struct ReportCapture {
  ScratchFolder folder;
  ReportCapture() {
    reports.clear();
    setProgramDirectoryTo(folder.path.c_str());
    setErrorPresenter(recordReport);
  }
  ~ReportCapture() {
    gfailAllocationAfter(0);
    setErrorPresenter(nullptr);
    setProgramDirectory();
  }
};

Lines split(const std::string& text, LineSplit mode) {
  LineListPtr list(splitTextLines(text.data(), text.size(), mode));
  EXPECT_NE(list, nullptr);
  return linesOf(list.get());
}

Lines filesIn(const std::string& folder) {
  Lines names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

struct SplitCase {
  const char* name;
  std::string text;
  Lines dropEmpty;
  Lines keepEmpty;
};

}  // namespace

TEST(SplitTextLines, BreaksAndEmptyLinesInBothModes) {
  using namespace std::string_literals;
  const SplitCase cases[] = {
      {"CR LF", "A\r\nB", {"A", "B"}, {"A", "B"}},
      {"lone CR", "A\rB", {"A", "B"}, {"A", "B"}},
      {"lone LF", "A\nB", {"A", "B"}, {"A", "B"}},
      {"LF CR", "A\n\rB", {"A", "B"}, {"A", "B"}},
      {"CR CR LF", "A\r\r\nB", {"A", "B"}, {"A", "B"}},
      {"leading break", "\r\nA", {"A"}, {"", "A"}},
      {"blank CR LF line", "A\r\n\r\nB", {"A", "B"}, {"A", "", "B"}},
      {"blank LF line", "A\n\nB", {"A", "B"}, {"A", "", "B"}},
      {"blank CR line", "A\r\rB", {"A", "B"}, {"A", "", "B"}},
      {"CR then CR CR LF", "A\r\r\r\nB", {"A", "B"}, {"A", "", "B"}},
      {"LF CR then LF", "A\n\r\nB", {"A", "B"}, {"A", "", "B"}},
      {"final break adds nothing", "A\r\n", {"A"}, {"A"}},
      {"final blank line kept", "A\r\n\r\n", {"A"}, {"A", ""}},
      {"only a break", "\r\n", {}, {""}},
      {"no final break", "A\r\nlast", {"A", "last"}, {"A", "last"}},
      {"empty text", "", {}, {}},
      {"NUL ends the line's text", "A\0x\r\nB"s, {"A", "B"}, {"A", "B"}},
      {"line of only NUL", "\0x\nB"s, {"B"}, {"", "B"}},
      {"empty group value", "  1\r\n\r\n  0\r\n", {"  1", "  0"}, {"  1", "", "  0"}},
      {"blanks and tabs kept", " a \t\nb", {" a \t", "b"}, {" a \t", "b"}},
  };
  for (const SplitCase& c : cases) {
    EXPECT_EQ(split(c.text, LineSplit::dropEmpty), c.dropEmpty) << c.name;
    EXPECT_EQ(split(c.text, LineSplit::keepEmpty), c.keepEmpty) << c.name;
  }
}

TEST(SplitTextLines, LongTextKeepsEveryLineAndCapacityStep) {
  std::string text;
  const int kLines = 300000;
  for (int i = 0; i < kLines; ++i)
    text += (i % 7 == 0 ? "" : std::to_string(i)) + "\r\n";
  text += std::string(400000, 'x');  // a line longer than a chunk part gets a block of its own
  LineListPtr list(splitTextLines(text.data(), text.size(), LineSplit::keepEmpty));
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->count, kLines + 1);
  EXPECT_EQ(list->capacity % 128, 0);
  EXPECT_GE(list->capacity, list->count);
  for (int i = 0; i < kLines; i += 997)
    ASSERT_STREQ(list->items[i], i % 7 == 0 ? "" : std::to_string(i).c_str());
  EXPECT_EQ(std::strlen(list->items[kLines]), 400000u);
  EXPECT_EQ(gblockSize(list->items[1]), 2u);  // "1" and its NUL
}

TEST(LoadLineList, FilesThatAreNotReadGiveAnEmptyListWithPath) {
  ScratchFolder folder;
  std::string fifo = folder.file("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  std::string empty = folder.file("empty.txt");
  writeFileBytes(empty, "");
  struct Case {
    std::string path;
    int status;
  };
  const Case cases[] = {{folder.file("missing.txt"), kLoadNotOpened},
                        {folder.path, kLoadNotOpened},
                        {fifo, kLoadNotOpened},  // no writer: opening must not wait for one
                        {"/dev/null", kLoadNotOpened},
                        {folder.file("empty.txt/below"), kLoadNotOpened},
                        {empty, kLoadRead}};
  alarm(20);  // a blocking open would otherwise hang the test
  for (const Case& c : cases) {
    int status = 99;
    LineListPtr list(loadLineListAs(c.path.c_str(), LineSplit::keepEmpty, &status));
    ASSERT_NE(list, nullptr) << c.path;
    EXPECT_EQ(status, c.status) << c.path;
    EXPECT_EQ(list->count, 0) << c.path;
    EXPECT_STREQ(list->path, c.path.c_str());
  }
  alarm(0);
}

TEST(LoadLineList, ReadsFileWithSettingsSplitting) {
  ScratchFolder folder;
  std::string path = folder.file("notes.txt");
  writeFileBytes(path, "one\r\n\r\ntwo\rthree\n");
  LineListPtr list(loadLineList(path.c_str()));
  EXPECT_EQ(linesOf(list.get()), (Lines{"one", "two", "three"}));
  EXPECT_EQ(list->capacity, 128);
}

TEST(SaveLineList, WritesNonEmptyLinesWithCrLfAndReadsBack) {
  ScratchFolder folder;
  std::string path = folder.file("list.txt");
  LineListPtr list = testLines({"a", "", "b", "C:\\path with spaces\\\xE9\xFF.dxf"});
  list->path = copyText(path.c_str());
  EXPECT_EQ(saveLineList(list.get()), 1);
  EXPECT_EQ(readFileBytes(path), "a\r\nb\r\nC:\\path with spaces\\\xE9\xFF.dxf\r\n");
  LineListPtr back(loadLineList(path.c_str()));
  EXPECT_EQ(linesOf(back.get()), (Lines{"a", "b", "C:\\path with spaces\\\xE9\xFF.dxf"}));
  EXPECT_EQ(filesIn(folder.path), (Lines{"list.txt"}));  // no temporary file left

  // An empty list writes an empty file, so that a missing list is created.
  clearLines(list.get());
  EXPECT_EQ(saveLineList(list.get()), 1);
  EXPECT_EQ(readFileBytes(path), "");
}

TEST(SaveLineList, KeepsPermissionsAndUsesUmaskForNewFiles) {
  ScratchFolder folder;
  std::string path = folder.file("kept.txt");
  writeFileBytes(path, "old\r\n");
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  LineListPtr list = testLines({"new"});
  EXPECT_EQ(saveLineListAs(list.get(), path.c_str()), 1);
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  mode_t old = umask(022);
  std::string fresh = folder.file("fresh.txt");
  EXPECT_EQ(saveLineListAs(list.get(), fresh.c_str()), 1);
  umask(old);
  ASSERT_EQ(stat(fresh.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST(SaveLineListAs, BorrowsThePathAndRestoresBothFields) {
  ScratchFolder folder;
  LineListPtr list = testLines({"x"});
  list->path = copyText("/nonexistent-folder/own.txt");
  list->spareText = copyText("spare");
  char* ownPath = list->path;
  char* spare = list->spareText;
  std::string other = folder.file("other.txt");
  EXPECT_EQ(saveLineListAs(list.get(), other.c_str()), 1);
  EXPECT_EQ(readFileBytes(other), "x\r\n");
  EXPECT_EQ(list->path, ownPath);
  EXPECT_EQ(list->spareText, spare);
  EXPECT_EQ(saveLineList(list.get()), 0);  // its own folder does not exist
  EXPECT_EQ(saveLineListAs(nullptr, other.c_str()), 0);
  EXPECT_EQ(saveLineListAs(list.get(), nullptr), 0);
}

TEST(SaveLineList, FailedSaveLeavesTheOldFileWhole) {
  ScratchFolder folder;
  std::string path = folder.file("target.txt");
  writeFileBytes(path, "old\r\n");
  LineListPtr list = testLines({std::string(100000, 'n').c_str(), "tail"});

  // The folder is a regular file: nothing can be created in it.
  std::string below = path + "/inner.txt";
  EXPECT_EQ(saveLineListAs(list.get(), below.c_str()), 0);

  // The destination is a folder: writing works, the rename fails.
  std::string folderPath = folder.file("folder");
  ASSERT_TRUE(std::filesystem::create_directory(folderPath));
  EXPECT_EQ(saveLineListAs(list.get(), folderPath.c_str()), 0);
  EXPECT_TRUE(std::filesystem::is_directory(folderPath));

  // Writing fails part way: a child process whose file size limit is 1000 bytes saves.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {1000, 1000};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(saveLineListAs(list.get(), path.c_str()) == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the save under a size limit must fail";
  EXPECT_EQ(readFileBytes(path), "old\r\n");
  EXPECT_EQ(filesIn(folder.path), (Lines{"folder", "target.txt"}));
}

TEST(AppendLine, CapacityGrowsInStepsOf128) {
  LineListPtr list(newLineList());
  EXPECT_EQ(list->capacity, 0);
  EXPECT_EQ(appendLine(list.get(), "first"), 0);
  EXPECT_EQ(list->capacity, 128);
  for (int i = 1; i < 128; ++i)
    appendLine(list.get(), "x");
  EXPECT_EQ(list->capacity, 128);
  EXPECT_EQ(appendLine(list.get(), "129th"), 128);
  EXPECT_EQ(list->capacity, 256);
  for (int i = 0; i < 20000; ++i) {
    appendLine(list.get(), "y");
    ASSERT_EQ(list->capacity % 128, 0);
    ASSERT_LE(list->count, list->capacity);
  }
  EXPECT_EQ(appendLine(nullptr, "x"), -1);
}

TEST(LineListOperations, InsertFindAndTrim) {
  LineListPtr list = testLines({"a", "b"});
  EXPECT_EQ(insertLine(list.get(), "c", 5), 2);
  EXPECT_EQ(insertLine(list.get(), "d", -1), 3);
  EXPECT_EQ(insertLine(list.get(), "e", 1), 4);
  EXPECT_EQ(linesOf(list.get()), (Lines{"a", "e", "b", "c", "d"}));
  EXPECT_EQ(insertLine(nullptr, "x", 0), -1);

  LineListPtr paths = testLines({"c:\\x.dxf", "C:\\x.dxf"});
  EXPECT_EQ(findLine(paths.get(), "C:\\x.dxf"), 1);
  EXPECT_EQ(findLine(paths.get(), "C:\\y.dxf"), -1);
  EXPECT_EQ(findLine(nullptr, "x"), -2);
  EXPECT_EQ(findLine(paths.get(), nullptr), -3);

  char number[] = "12   ", blanks[] = "  ", tab[] = "x\t";
  trimTrailingBlanks(number);
  trimTrailingBlanks(blanks);
  trimTrailingBlanks(tab);
  EXPECT_STREQ(number, "12");
  EXPECT_STREQ(blanks, "");
  EXPECT_STREQ(tab, "x\t");
}

TEST(MoveLineToFront, RecentListOrder) {
  struct Case {
    const char* name;
    Lines before;
    const char* text;
    int result;
    Lines after;
  };
  const Case cases[] = {
      {"third of three", {"a", "b", "c"}, "c", 2, {"c", "a", "b"}},
      {"already first", {"a", "b"}, "a", 0, {"a", "b"}},
      {"absent", {"a", "b"}, "n", 2, {"n", "a", "b"}},
      {"into empty", {}, "n", 0, {"n"}},
      {"empty lines dropped", {"a", "", "b"}, "b", 1, {"b", "a"}},
      {"empty text", {"a"}, "", -2, {"a"}},
  };
  for (const Case& c : cases) {
    LineListPtr list = testLines(c.before);
    EXPECT_EQ(moveLineToFront(list.get(), c.text), c.result) << c.name;
    EXPECT_EQ(linesOf(list.get()), c.after) << c.name;
  }
  LineListPtr list = testLines({"a"});
  EXPECT_EQ(moveLineToFront(nullptr, "a"), -1);
  EXPECT_EQ(moveLineToFront(list.get(), nullptr), -3);

  // Reference paths A, B, then A again leave A then B.
  LineListPtr recent(newLineList());
  for (const char* path : {"A", "B", "A"})
    moveLineToFront(recent.get(), path);
  EXPECT_EQ(linesOf(recent.get()), (Lines{"A", "B"}));
}

TEST(FillBoxes, ComboSkipsEmptyLinesListKeepsThem) {
  RecordingDialog dialog;
  LineListPtr list = testLines({"", "first", "", "second"});
  dialog.comboItems[kReferenceBoxId] = {"stale"};
  fillComboBox(list.get(), &dialog.port, kReferenceBoxId);
  EXPECT_EQ(dialog.comboItems[kReferenceBoxId], (Lines{"first", "second"}));
  EXPECT_EQ(dialog.controlText[kReferenceBoxId], "first");

  LineListPtr none = testLines({""});
  dialog.controlText.clear();
  fillComboBox(none.get(), &dialog.port, kReferenceBoxId);
  EXPECT_TRUE(dialog.comboItems[kReferenceBoxId].empty());
  EXPECT_EQ(dialog.controlText.count(kReferenceBoxId), 0u);  // edit text left alone

  dialog.progress = {"old"};
  EXPECT_EQ(fillListBox(list.get(), &dialog.port), 4);
  EXPECT_EQ(dialog.progress, (Lines{"", "first", "", "second"}));
  fillComboBox(list.get(), nullptr, kReferenceBoxId);  // no dialog: nothing happens
  EXPECT_EQ(fillListBox(list.get(), nullptr), 4);
}

// Every allocation of a load, failed in turn, ends cleanly: the entry's name is reported,
// the answer is null with kLoadNoMemory, and no block is left behind.
TEST(LoadLineList, EachFailedAllocationEndsCleanly) {
  ReportCapture capture;
  std::string small = capture.folder.file("small.dxf");
  writeFileBytes(small, "  0\r\n3DFACE\r\n\r\n  8\r\nWALL\r\n");
  std::string large = capture.folder.file("large.dxf");  // its lines need several chunks
  std::string text;
  for (int i = 0; i < 200000; ++i)
    text += std::to_string(i) + "\r\n";
  writeFileBytes(large, text);
  for (const std::string& path : {small, large}) {
    int failures = 0;
    // Every one of the first allocations, then ever wider steps (a build whose lines are
    // allocated one by one makes hundreds of thousands).
    for (long k = 1;; k = k < 16 ? k + 1 : k * 2) {
      long live = gliveBlocks();
      reports.clear();
      gfailAllocationAfter(k);
      int status = 99;
      LineList* list = loadLineListAs(path.c_str(), LineSplit::keepEmpty, &status);
      bool injected = !reports.empty();
      gfailAllocationAfter(0);
      if (!injected) {
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(status, kLoadRead);
        EXPECT_GT(list->count, 3);
        freeLineList(list);
        EXPECT_EQ(gliveBlocks(), live);
        break;
      }
      ++failures;
      EXPECT_EQ(list, nullptr) << path << " k=" << k;
      EXPECT_EQ(status, kLoadNoMemory) << k;
      ASSERT_FALSE(reports.empty());
      EXPECT_TRUE(reports[0] == "gcalloc" || reports[0] == "gmalloc") << reports[0];
      EXPECT_EQ(gliveBlocks(), live) << path << " k=" << k;
      ASSERT_LT(k, 1L << 24);
    }
    EXPECT_GE(failures, 4) << path;  // record, path, read buffer, item array, lines
  }
}

TEST(SaveLineList, FailedAllocationWritesNothing) {
  ReportCapture capture;
  std::string path = capture.folder.file("keep.txt");
  writeFileBytes(path, "old\r\n");
  LineListPtr list = testLines({"new"});
  long live = gliveBlocks();
  gfailAllocationAfter(1);
  EXPECT_EQ(saveLineListAs(list.get(), path.c_str()), 0);
  EXPECT_EQ(reports, (Lines{"gmalloc"}));
  EXPECT_EQ(readFileBytes(path), "old\r\n");
  EXPECT_EQ(gliveBlocks(), live);
}
