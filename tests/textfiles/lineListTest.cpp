#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/controlIds.h"
#include "app/dialogBoxes.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"
#include "textfiles/lineFilesInternal.h"
#include "textfiles/lineList.h"
#include "textfiles/reportCapture.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

Lines split(const std::string& text, LineSplit mode) {
  LineListPtr list(splitTextLines(text.data(), text.size(), mode));
  EXPECT_NE(list, nullptr);
  return linesOf(list.get());
}

Lines filesIn(const std::string& folder) {
  Lines names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(SplitTextLines, BreaksAndEmptyLinesInBothModes) {
  const Lines ab = {"A", "B"}, a_b = {"A", "", "B"};
  const struct {
    std::string text;
    Lines dropEmpty, keepEmpty;
  } cases[] = {
      // clang-format off
      {"A\r\nB", ab, ab},                 {"A\rB", ab, ab},            {"A\nB", ab, ab},
      {"A\n\rB", ab, ab},                 {"A\r\r\nB", ab, ab},        {"\r\nA", {"A"}, {"", "A"}},
      {"A\r\n\r\nB", ab, a_b},            {"A\n\nB", ab, a_b},         {"A\r\rB", ab, a_b},
      {"A\r\r\r\nB", ab, a_b},            {"A\n\r\nB", ab, a_b},       {"A\r\n", {"A"}, {"A"}},
      {"A\r\n\r\n", {"A"}, {"A", ""}},    {"\r\n", {}, {""}},          {"", {}, {}},
      {"A\0x\r\nB"s, ab, ab},             {"\0x\nB"s, {"B"}, {"", "B"}},  // NUL ends a line's text
      {" a \t\nb", {" a \t", "b"}, {" a \t", "b"}},
      {"A\n  \nB", {"A", "  ", "B"}, {"A", "  ", "B"}}
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(split(c.text, LineSplit::dropEmpty), c.dropEmpty);
    EXPECT_EQ(split(c.text, LineSplit::keepEmpty), c.keepEmpty);
  }
}

// Every allocation of a load, failed in turn, ends cleanly: the entry's name is reported, the
// answer is null with kLoadNoMemory, and no block is left behind. The load that succeeds keeps
// every line, although they need several chunks and one is longer than a chunk's part.
TEST(LoadLineList, EachFailedAllocationEndsCleanly) {
  ReportCapture capture;
  const std::string path = capture.folder.file("large.dxf");
  const int kLines = 300000;
  std::string text;
  for (int i = 0; i < kLines; ++i)
    text += (i % 7 == 0 ? "" : std::to_string(i)) + "\r\n";
  writeFileBytes(path, text + std::string(400000, 'x'));
  int failures = 0;
  // Every one of the first allocations, then ever wider steps (a load that allocated its lines
  // one by one would make hundreds of thousands).
  for (long k = 1;; k = k < 16 ? k + 1 : k * 2) {
    ASSERT_LT(k, 1L << 24);
    long live = gliveBlocks();
    reports.clear();
    gfailAllocationAfter(k);
    int status = 99;
    LineList* list = loadLineListAs(path.c_str(), LineSplit::keepEmpty, &status);
    gfailAllocationAfter(0);
    if (!reports.empty()) {
      ++failures;
      EXPECT_EQ(list, nullptr) << k;
      EXPECT_EQ(status, kLoadNoMemory) << k;
      EXPECT_TRUE(reports[0] == "gcalloc" || reports[0] == "gmalloc") << reports[0];
      EXPECT_EQ(gliveBlocks(), live) << k;
      continue;
    }
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(status, kLoadRead);
    EXPECT_EQ(list->capacity % 128, 0);
    EXPECT_EQ(list->count, kLines + 1);
    for (int i = 0; i < kLines; i += 997)
      EXPECT_STREQ(list->items[i], i % 7 == 0 ? "" : std::to_string(i).c_str());
    EXPECT_EQ(std::strlen(list->items[kLines]), 400000u);
    EXPECT_EQ(gblockSize(list->items[1]), 2u);  // "1" and its NUL
    freeLineList(list);
    EXPECT_EQ(gliveBlocks(), live);
    break;
  }
  EXPECT_GE(failures, 5);  // record, path, read buffer, item array, a chunk of lines
}

TEST(SaveLineList, WritesNonEmptyLinesWithCrLfKeepingModesLinksAndPaths) {
  ScratchFolder folder;
  const std::string path = folder.file("list.txt"), link = folder.file("link");
  const std::string odd = "C:\\path with spaces\\\xE9\xFF.dxf";
  LineListPtr list = testLines({"a", "", "b", odd.c_str()});
  list->path = copyText(path.c_str());
  char* ownPath = list->path;
  EXPECT_EQ(saveLineList(list.get()), 1);
  EXPECT_EQ(readFileBytes(path), "a\r\nb\r\n" + odd + "\r\n");
  EXPECT_EQ(linesOf(LineListPtr(loadLineList(path.c_str())).get()), (Lines{"a", "b", odd}));

  // An existing file keeps its permission bits; a symbolic link is followed and stays.
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  ASSERT_EQ(symlink("list.txt", link.c_str()), 0);
  LineListPtr other = testLines({"via link"});
  EXPECT_EQ(saveLineListAs(other.get(), link.c_str()), 1);
  EXPECT_EQ(readFileBytes(path), "via link\r\n");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::status(path).permissions(), fs::perms(0600));
  // A new file gets 0666 less the umask; the list keeps its own path.
  mode_t oldMask = umask(022);
  EXPECT_EQ(saveLineListAs(list.get(), folder.file("new.txt").c_str()), 1);
  umask(oldMask);
  EXPECT_EQ(fs::status(folder.file("new.txt")).permissions(), fs::perms(0644));
  EXPECT_EQ(list->path, ownPath);
  EXPECT_EQ(filesIn(folder.path), (Lines{"link", "list.txt", "new.txt"}));  // no temporary file

  // An empty list writes an empty file (so that a missing list is created), which reads.
  clearLines(list.get());
  EXPECT_EQ(saveLineList(list.get()), 1);
  EXPECT_EQ(readFileBytes(path), "");
  int status = 99;
  EXPECT_EQ(LineListPtr(loadLineListAs(path.c_str(), LineSplit::keepEmpty, &status))->count, 0);
  EXPECT_EQ(status, kLoadRead);
  EXPECT_EQ(saveLineListAs(nullptr, path.c_str()), 0);
  EXPECT_EQ(saveLineListAs(list.get(), nullptr), 0);
}

// A path that names no regular file is never read, waited on or replaced; a save that fails on
// the way (the disk refuses bytes, memory fails) leaves the old file whole and no temporary one.
TEST(LineFiles, FailuresLeaveEveryFileAsItWas) {
  ReportCapture capture;
  ScratchFolder folder;
  const std::string fifo = folder.file("pipe"), dir = folder.file("dir"), file = folder.file("f");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  ASSERT_TRUE(fs::create_directory(dir));
  writeFileBytes(file, "old\r\n");
  alarm(20);  // a blocking open would otherwise hang the test
  for (const std::string& path : {folder.file("missing"), dir, fifo, file + "/in", "/dev/null"s}) {
    int status = 99;
    LineListPtr list(loadLineListAs(path.c_str(), LineSplit::keepEmpty, &status));
    ASSERT_NE(list, nullptr) << path;
    EXPECT_EQ(status, kLoadNotOpened) << path;
    EXPECT_EQ(list->count, 0) << path;
    EXPECT_STREQ(list->path, path.c_str());
  }
  // A regular file swapped for a FIFO between the check and the open is refused all the same.
  const std::string swapped = folder.file("swapped");
  writeFileBytes(swapped, "text\r\n");
  beforeOpeningCheckedFile = [](const char* path) {
    unlink(path);
    mkfifo(path, 0644);
  };
  int swappedStatus = 99;
  LineListPtr swappedList(loadLineListAs(swapped.c_str(), LineSplit::keepEmpty, &swappedStatus));
  beforeOpeningCheckedFile = nullptr;
  EXPECT_EQ(swappedStatus, kLoadNotOpened);
  EXPECT_TRUE(fs::is_fifo(swapped));
  unlink(swapped.c_str());
  alarm(0);
  LineListPtr lines = testLines({std::string(100000, 'n').c_str(), "tail"});
  long live = gliveBlocks();
  for (const std::string& path : {dir, fifo, file + "/in"})
    EXPECT_EQ(saveLineListAs(lines.get(), path.c_str()), 0) << path;
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto previous = signal(SIGXFSZ, SIG_IGN);
  rlimit limit = saved;
  limit.rlim_cur = 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  int written = saveLineListAs(lines.get(), file.c_str());
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  EXPECT_EQ(written, 0);
  gfailAllocationAfter(1);
  EXPECT_EQ(saveLineListAs(lines.get(), file.c_str()), 0);
  gfailAllocationAfter(0);
  EXPECT_EQ(reports, (Lines{"gmalloc"}));
  EXPECT_EQ(gliveBlocks(), live);
  EXPECT_EQ(readFileBytes(file), "old\r\n");
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_EQ(filesIn(folder.path), (Lines{"dir", "f", "pipe"}));
}

TEST(LineList, EditsAndResultCodes) {
  LineListPtr list(newLineList());
  for (int i = 0; i < 20000; ++i) {  // 128 entries first, then more, always in steps of 128
    ASSERT_EQ(appendLine(list.get(), "x"), i);
    ASSERT_EQ(list->capacity % 128, 0);
    ASSERT_GE(list->capacity, list->count);
    if (i <= 128) {
      ASSERT_EQ(list->capacity, i < 128 ? 128 : 256);
    }
  }
  list = testLines({"a", "b"});
  EXPECT_EQ(insertLine(list.get(), "c", 5), 2);   // past the end: appended
  EXPECT_EQ(insertLine(list.get(), "d", -1), 3);  // negative: appended
  EXPECT_EQ(insertLine(list.get(), "e", 1), 4);
  EXPECT_EQ(linesOf(list.get()), (Lines{"a", "e", "b", "c", "d"}));
  EXPECT_EQ((std::vector<int>{appendLine(nullptr, "x"), insertLine(nullptr, "x", 0),
                              findLine(nullptr, "x"), findLine(list.get(), nullptr),
                              moveLineToFront(nullptr, "a"), moveLineToFront(list.get(), nullptr),
                              moveLineToFront(list.get(), "")}),
            (std::vector<int>{-1, -1, -2, -3, -1, -3, -2}));
  char text[] = " 1 2\t   ";  // blanks only, not tabs
  trimTrailingBlanks(text);
  EXPECT_STREQ(text, " 1 2\t");
}

// A used path moves to the front of its recent list (compared byte for byte), inserted when
// absent; empty lines are dropped on the way.
TEST(MoveLineToFront, RecentListOrder) {
  const struct {
    Lines before;
    const char* text;
    int result;
    Lines after;
  } cases[] = {{{"a", "b", "c"}, "c", 2, {"c", "a", "b"}},
               {{"a", "b"}, "a", 0, {"a", "b"}},
               {{"a", "B"}, "b", 2, {"b", "a", "B"}},
               {{}, "n", 0, {"n"}},
               {{"a", "", "b"}, "b", 1, {"b", "a"}}};
  for (const auto& c : cases) {
    LineListPtr list = testLines(c.before);
    EXPECT_EQ(moveLineToFront(list.get(), c.text), c.result) << c.text;
    EXPECT_EQ(linesOf(list.get()), c.after);
  }
}

TEST(FillBoxes, ComboSkipsEmptyLinesListKeepsThem) {
  RecordingDialog dialog;
  LineListPtr list = testLines({"", "first", "", "second"});
  dialog.comboItems[kReferenceBoxId] = {"stale"};
  fillComboBox(list.get(), &dialog.port, kReferenceBoxId);
  EXPECT_EQ(dialog.comboItems[kReferenceBoxId], (Lines{"first", "second"}));
  EXPECT_EQ(dialog.controlText[kReferenceBoxId], "first");
  dialog.controlText.clear();
  fillComboBox(testLines({""}).get(), &dialog.port, kReferenceBoxId);
  EXPECT_TRUE(dialog.comboItems[kReferenceBoxId].empty());
  EXPECT_EQ(dialog.controlText.count(kReferenceBoxId), 0u);  // edit text left alone

  dialog.progress = {"old"};
  EXPECT_EQ(fillListBox(list.get(), &dialog.port), 4);
  EXPECT_EQ(dialog.progress, (Lines{"", "first", "", "second"}));
  fillComboBox(list.get(), nullptr, kReferenceBoxId);  // no dialog: nothing happens
  EXPECT_EQ(fillListBox(list.get(), nullptr), 4);
}
