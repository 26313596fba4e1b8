// The batch tool given paths that are no readable file, outputs that cannot be written, and
// paths made of any bytes. Each case runs the built tool as its own process (no shell) with a
// deadline, so a run that blocks fails instead of hanging the suite.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "hardening/hardeningSupport.h"
#include "model/faceModel.h"
#include "textfiles/lineList.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class HostileFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    tool = batchToolPath();
    if (tool.empty()) GTEST_SKIP() << "morvane-match is not built";
    settings = folder.file("param.txt");
    writeFileBytes(settings, defaultSettingsText());
    reference = folder.file("reference.dxf");
    target = folder.file("target.dxf");
    writeFileBytes(reference, dxfText(boxFaces("r_", {0, 0, 0}, {2, 1, 1})));
    writeFileBytes(target,
                   dxfText(turnedFaces(boxFaces("", {0, 0, 0}, {2, 1, 1}), {9, 0, 0}, "t")));
  }
  ToolRun run(const std::string& ref, const std::string& tgt, const std::string& out,
              const ChildLimits& limits = {}) {
    return runProgram(tool, {"--settings", settings, "--", ref, tgt, out}, folder.path, limits, 60);
  }
  std::string tool, settings, reference, target;
  ScratchFolder folder;
};

// A path of each kind that names no readable regular file, made in `dir`.
struct NotAFile {
  const char* kind;
  std::string path;
  bool stdinPipe;  // standard input stays an open pipe (for /dev/stdin)
};

std::vector<NotAFile> pathsThatAreNoFile(const std::string& dir) {
  fs::create_directory(dir + "/a folder");
  mkfifo((dir + "/fifo").c_str(), 0600);
  symlink((dir + "/nothing here").c_str(), (dir + "/dangling").c_str());
  symlink((dir + "/loop").c_str(), (dir + "/loop").c_str());
  std::vector<NotAFile> paths = {
      {"missing", dir + "/missing.dxf", false},
      {"folder", dir + "/a folder", false},
      {"fifo without writer", dir + "/fifo", false},
      {"dangling symbolic link", dir + "/dangling", false},
      {"symbolic link loop", dir + "/loop", false},
      {"endless device", "/dev/zero", false},
      {"empty device", "/dev/null", false},
      {"standard input, a pipe never closed", "/dev/stdin", true},
      {"inside a file", dir + "/reference.dxf/x.dxf", false},
  };
  if (geteuid() != 0) {  // root reads any file whatever its permission bits
    writeFileBytes(dir + "/locked.dxf", "0\r\nEOF\r\n");
    chmod((dir + "/locked.dxf").c_str(), 0);
    paths.push_back({"unreadable", dir + "/locked.dxf", false});
  }
  return paths;
}

TEST_F(HostileFiles, TargetThatIsNoReadableFileEndsTheRunWithoutBlocking) {
  for (const NotAFile& p : pathsThatAreNoFile(folder.path)) {
    SCOPED_TRACE(p.kind);
    ChildLimits limits;
    limits.stdinFromOpenPipe = p.stdinPipe;
    ToolRun r = run(reference, p.path, folder.file("out.dxf"), limits);
    EXPECT_FALSE(r.hung);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.lines, (Lines{"Start...", "Read Error : Terget DXF", "Error Quit"}));
    EXPECT_NE(r.err.find("not written"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(folder.file("out.dxf")));
  }
}

TEST_F(HostileFiles, ReferenceThatIsNoReadableFileIsReportedAndTheRunGoesOn) {
  for (const NotAFile& p : pathsThatAreNoFile(folder.path)) {
    SCOPED_TRACE(p.kind);
    ChildLimits limits;
    limits.stdinFromOpenPipe = p.stdinPipe;
    ToolRun r = run(p.path, target, folder.file("out.dxf"), limits);
    EXPECT_FALSE(r.hung);
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_GE(r.lines.size(), 3u);
    EXPECT_EQ(r.lines[1], "Read Error : Reference DXF. continue...");
    EXPECT_EQ(dxfLayers(readFileBytes(folder.file("out.dxf"))), Lines(6, "t"));
    fs::remove(folder.file("out.dxf"));
  }
}

// Files that are read but hold no face: an empty file, a kernel file whose size reads 0 (read
// to its end all the same), and binary bytes.
TEST_F(HostileFiles, ReadableFilesWithoutFacesGiveEmptyData) {
  writeFileBytes(folder.file("empty.dxf"), "");
  writeFileBytes(folder.file("binary.dxf"), std::string("\x7f"
                                                        "ELF\0\0\xff\r\n\0",
                                                        10));
  for (const std::string& path :
       {folder.file("empty.dxf"), std::string("/proc/self/status"), folder.file("binary.dxf")}) {
    SCOPED_TRACE(path);
    ToolRun r = run("", path, folder.file("out.dxf"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.lines, (Lines{"Start...", "Empty Data : Terget DXF", "Error Quit"}));
  }
  EXPECT_FALSE(fs::exists(folder.file("out.dxf")));
}

// A path that turns into something else (or disappears) between being chosen and being read:
// every load gives the lines of one of the two files that stood there, or nothing at all, and
// none waits on a FIFO.
TEST(PathReplacedWhileLoading, GivesOneWholeFileOrNothing) {
  ScratchFolder folder;
  std::string path = folder.file("moving.dxf");
  std::string longText, shortText = "0\r\nEOF\r\n";
  for (int i = 0; i < 2000; ++i)
    longText += "999\r\ncomment " + std::to_string(i) + "\r\n";
  writeFileBytes(folder.file("long"), longText);
  writeFileBytes(folder.file("short"), shortText);
  LineListPtr longLines(splitTextLines(longText.data(), longText.size(), LineSplit::keepEmpty));
  LineListPtr shortLines(splitTextLines(shortText.data(), shortText.size(), LineSplit::keepEmpty));

  std::atomic<bool> stop{false};
  std::thread mover([&] {
    std::string staged = path + ".staged";
    for (int round = 0; !stop; ++round) {
      std::error_code ignored;
      fs::copy_file(folder.file(round % 2 ? "long" : "short"), staged,
                    fs::copy_options::overwrite_existing, ignored);
      rename(staged.c_str(), path.c_str());  // a whole file replaces another
      unlink(path.c_str());
      mkfifo(path.c_str(), 0600);
      unlink(path.c_str());
      mkdir(path.c_str(), 0700);
      rmdir(path.c_str());
      symlink(folder.file("long").c_str(), path.c_str());
      unlink(path.c_str());
    }
  });
  int read = 0, notOpened = 0;
  for (int i = 0; i < 200000 && (read < 50 || notOpened < 50); ++i) {
    int status = 0;
    LineListPtr lines(loadLineListAs(path.c_str(), LineSplit::keepEmpty, &status));
    ASSERT_TRUE(lines);
    if (status == kLoadNotOpened) {
      ++notOpened;
      EXPECT_EQ(lines->count, 0);
      continue;
    }
    ASSERT_EQ(status, kLoadRead);
    ++read;
    Lines got = linesOf(lines.get());
    EXPECT_TRUE(got == linesOf(longLines.get()) || got == linesOf(shortLines.get()))
        << got.size() << " lines";
  }
  stop = true;
  mover.join();
  EXPECT_GT(read, 0);
  EXPECT_GT(notOpened, 0);
}

// Outputs that cannot be written: the tool says so, and whatever was at the output path (and
// the target, when it is the same file) is untouched, with no temporary file left beside it.
class UnwritableOutput : public HostileFiles {
 protected:
  void expectNothingChanged(const ToolRun& r, const std::string& dir, const std::string& old,
                            const Lines& entries) {
    EXPECT_FALSE(r.hung);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 3) << r.err;
    ASSERT_FALSE(r.lines.empty());
    EXPECT_EQ(r.lines.back(), "Write Error : Terget DXF");
    EXPECT_NE(r.err.find("was not written"), std::string::npos) << r.err;
    EXPECT_EQ(readFileBytes(dir + "/out.dxf"), old);
    EXPECT_EQ(folderEntries(dir), entries);
  }
};

TEST_F(UnwritableOutput, FileSizeLimitBelowTheOutput) {
  writeFileBytes(folder.file("out.dxf"), "keep me");
  ChildLimits limits;
  limits.fileSizeLimit = 1024;
  limits.ignoreFileSizeSignal = false;  // the tool itself turns the signal into a failed write
  ToolRun r = run(reference, target, folder.file("out.dxf"), limits);
  expectNothingChanged(r, folder.path, "keep me",
                       {"out.dxf", "param.txt", "reference.dxf", "target.dxf"});
}

TEST_F(UnwritableOutput, OutputOverTheTargetUnderAFileSizeLimit) {
  std::string before = readFileBytes(target);
  ChildLimits limits;
  limits.fileSizeLimit = 1024;
  limits.ignoreFileSizeSignal = true;
  ToolRun r = run(reference, target, target, limits);
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(readFileBytes(target), before);
  EXPECT_EQ(folderEntries(folder.path), (Lines{"param.txt", "reference.dxf", "target.dxf"}));
}

TEST_F(UnwritableOutput, FolderOnAFullFileSystem) {
  std::string dir = folder.file("full");
  fs::create_directory(dir);
  TmpfsMount disk(dir, "size=64k");
  if (!disk.mounted()) GTEST_SKIP() << "no private tmpfs (needs root and mount rights)";
  // The target itself sits there and fills most of it; the output must fit beside it.
  std::string big = dxfText(surfaceFaces(randomSurface(3, 20, 8, {0, 0, 0}), "s"));
  ASSERT_GT(big.size(), 32u * 1024);
  ASSERT_LT(big.size(), 56u * 1024);
  writeFileBytes(dir + "/out.dxf", big);
  ASSERT_EQ(readFileBytes(dir + "/out.dxf"), big);
  ToolRun r = run("", dir + "/out.dxf", dir + "/out.dxf");
  expectNothingChanged(r, dir, big, {"out.dxf"});
}

TEST_F(UnwritableOutput, ReadOnlyFolder) {
  std::string dir = folder.file("ro");
  fs::create_directory(dir);
  TmpfsMount disk(dir, "size=1m");
  if (disk.mounted()) {
    writeFileBytes(dir + "/out.dxf", "keep me");
    ASSERT_TRUE(disk.makeReadOnly());
  } else if (geteuid() != 0) {
    writeFileBytes(dir + "/out.dxf", "keep me");
    chmod(dir.c_str(), 0555);
  } else {
    GTEST_SKIP() << "root writes into any folder, and no private mount was possible";
  }
  ToolRun r = run(reference, target, dir + "/out.dxf");
  expectNothingChanged(r, dir, "keep me", {"out.dxf"});
}

TEST_F(UnwritableOutput, FifoAtTheOutputPathStaysAFifo) {
  std::string fifo = folder.file("out.dxf");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ToolRun r = run(reference, target, fifo);
  EXPECT_FALSE(r.hung);
  EXPECT_EQ(r.status, 3) << r.err;
  struct stat info {};
  ASSERT_EQ(lstat(fifo.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  EXPECT_EQ(folderEntries(folder.path),
            (Lines{"out.dxf", "param.txt", "reference.dxf", "target.dxf"}));
}

// Paths are bytes: blanks, quotes, a newline, bytes that are not UTF-8, a leading dash, and a
// path longer than any fixed buffer of 260 characters, for all three files at once (given
// relative to the tool's current folder, so the dash leads the argument).
TEST_F(HostileFiles, PathsOfAnyBytesAreTakenAsGiven) {
  std::string deep = "deep";
  while (deep.size() < 1500)
    deep += "/" + std::string(60, 'd');
  fs::create_directories(folder.file(deep));
  const std::vector<std::string> names = {"with  blanks .dxf",
                                          "quote ' and \" marks.dxf",
                                          "new\nline\r.dxf",
                                          "\xff\xfe not utf-8 \xe9\x80.dxf",
                                          "-leading-dash.dxf",
                                          "tab\tand\\backslash.dxf",
                                          deep + "/" + std::string(200, 'n') + ".dxf"};
  ChildLimits inFolder;
  inFolder.workingFolder = folder.path;
  for (const std::string& out : names) {
    SCOPED_TRACE(out);
    std::string ref = out + ".reference", tgt = out + ".target";
    writeFileBytes(folder.file(ref), readFileBytes(reference));
    writeFileBytes(folder.file(tgt), readFileBytes(target));
    ToolRun r = run(ref, tgt, out, inFolder);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dxfLayers(readFileBytes(folder.file(out))),
              layersOf(boxFaces("r_", {0, 0, 0}, {2, 1, 1})));
    for (const std::string& name : {out, ref, tgt})
      EXPECT_TRUE(fs::remove(folder.file(name)));
  }
  EXPECT_EQ(folderEntries(folder.path),
            (Lines{"deep", "param.txt", "reference.dxf", "target.dxf"}));
}

}  // namespace
