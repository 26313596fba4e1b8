// Hostile inputs and conditions: every allocation failing in turn, files that are no file or
// change while read, outputs that cannot be written, paths of any bytes, inputs at the limits.
// The batch tool runs as a child process (no shell) with its limits set in the child.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numeric>
#include <set>

#include "app/errorReport.h"
#include "app/programPath.h"
#include "compare/angleSignature.h"
#include "compare/influenceProfile.h"
#include "match/matchingRun.h"
#include "model/dxfReader.h"
#include "output/dxfWriter.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"
#include "textfiles/lineFilesInternal.h"
#include "textfiles/settings.h"

namespace {

namespace fs = std::filesystem;
using Faces = std::vector<DxfFace>;
const std::string kTool = MORVANE_MATCH_PATH, kSettings = testDataPath("hardening/param.txt");
#ifdef __SANITIZE_ADDRESS__
constexpr bool kSanitized = true;  // a block per line, and a shadow that needs address space
#else
constexpr bool kSanitized = false;
#endif

std::set<std::string> entriesOf(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.insert(entry.path().filename());
  return names;
}

// A tmpfs at `folder` in a mount namespace of this process's own, so that no mount reaches
// the rest of the system; false when that is not allowed.
bool privateTmpfs(const std::string& folder, const char* options, unsigned long flags = 0) {
  static bool own = geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
                    mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  return own && !mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV | flags, options);
}

// `rows` x `rows` quads on layer "g", one part, every second point raised.
Faces quadGrid(int rows) {
  Faces faces;
  for (double i = 0; i < rows * rows; ++i) {
    double x = std::fmod(i, rows), y = std::floor(i / rows), z = std::fmod(x + y, 2) / 2;
    faces.push_back({"g", {{x, y, 0}, {x + 1, y, 0}, {x + 1, y + 1, z}, {x, y + 1, 0}}});
  }
  return faces;
}

// Faces turned a quarter round z and moved by `by`, on layer "t"; every second face starts at
// its next corner.
Faces turned(Faces faces, Vec3 by) {
  for (size_t i = 0; i < faces.size(); ++i) {
    for (Vec3& c : faces[i].corners)
      c = {by.x - c.y, by.y + c.x, by.z + c.z};
    auto& corners = faces[i].corners;
    if (i % 2) std::rotate(corners.begin(), corners.begin() + 1, corners.end());
    faces[i].layer = "t";
  }
  return faces;
}

Lines reports;  // what the error presenter was given

// Calls `step` with the k-th allocation from now failing; whether an allocation failed. The
// entries that failed said their names to the presenter, the last one also in perr.txt.
template <class Step>
bool failingAllocation(long k, Step step) {
  reports.clear();
  long start = gallocationCount();
  gfailAllocationAfter(k);
  step();
  gfailAllocationAfter(0);
  const bool failed = gallocationCount() - start >= k;
  EXPECT_EQ(reports.empty(), !failed) << k;
  for (const std::string& r : reports)
    EXPECT_TRUE(r == "gcalloc" || r == "gmalloc" || r == "gcrealloc") << r;
  const std::string last = reports.empty() ? "" : reports.back() + "\r\n";
  EXPECT_EQ(last.empty() ? "" : readFileBytes(programPath("perr.txt")), last);
  return failed;
}

class Exhaustion : public ::testing::Test {
 protected:
  void SetUp() override {  // in memory when possible: the sweep replaces files many times
    std::string memory = "/dev/shm/morvane-test-XXXXXX";
    if (mkdtemp(memory.data())) fs::remove(folder.path), folder.path = memory;
    setProgramDirectoryTo(folder.path.c_str());
    setErrorPresenter([](const char* message) { reports.emplace_back(message); });
  }
  void TearDown() override { setErrorPresenter(nullptr), setProgramDirectory(), releaseRunData(); }
  ScratchFolder folder;
};

// The batch tool's steps (settings file, run, save over an existing output) end cleanly for
// every allocation that fails: the entry is named to the presenter and in perr.txt, nothing
// leaks, and the output is whole or untouched, with no temporary file left.
TEST_F(Exhaustion, EveryAllocationFailingInTurnEndsTheBatchSequenceCleanly) {
  // A 4 x 4 grid and a fan of 9 as one reference, the same turned and moved as the target.
  const std::string out = folder.file("o.dxf"), ref = testDataPath("hardening/run-r.dxf"),
                    tgt = testDataPath("hardening/run-t.dxf");
  RecordingDialog dialog;
  int saved = 0;  // -1 settings not read, 0 run failed, 1 not saved, 2 saved
  auto sequence = [&] {
    releaseRunData(), dialog.progress.clear();
    writeFileBytes(out, "keep me");
    int status = 0;
    LineListPtr lines(loadLineListAs(kSettings.c_str(), LineSplit::dropEmpty, &status));
    if ((saved = -1, status != kLoadRead || !lines)) return;
    parseSettings(lines.get()), textureRotation = 0;
    saved =
        runMatching(&dialog.port, ref.c_str(), tgt.c_str()) ? 1 + saveTargetDxf(out.c_str()) : 0;
  };
  sequence();
  ASSERT_EQ(saved, 2);
  ASSERT_GT(tallyMatches(referenceModel, targetModel).byPropagation, 0) << "must reach profiles";
  const Lines undisturbed = dialog.progress;
  const std::string whole = readFileBytes(out);
  releaseRunData();
  const long live = gliveBlocks();
  std::set<int> outcomes;
  for (long k = 1, failed = 1; failed; ++k) {
    SCOPED_TRACE("allocation " + std::to_string(k));
    failed = failingAllocation(k, sequence);
    const Lines& p = dialog.progress;
    const bool lost = saved > 0 && p[1] == "Syntax Error : Reference DXF. continue...";
    const std::string written = readFileBytes(out);
    outcomes.insert(lost ? 3 : saved);
    EXPECT_TRUE(failed || (saved == 2 && !lost));
    EXPECT_EQ(saved > 0 && !lost ? p : undisturbed, undisturbed);  // stages that can do without
    EXPECT_EQ(p.empty() ? "" : p.back(), saved < 0 ? "" : saved ? "Done." : "Error Quit");
    EXPECT_EQ(written, saved < 2 ? "keep me" : lost ? written : whole);
    // Without a reference every one of the 25 faces keeps its own layer.
    EXPECT_EQ(dxfLayers(lost ? written : ""), Lines(lost ? 25 : 0, "t"));
    EXPECT_EQ(entriesOf(folder.path), (std::set<std::string>{"o.dxf", "perr.txt"}));
    releaseRunData();
    ASSERT_EQ(gliveBlocks(), live);
  }
  EXPECT_EQ(outcomes, (std::set<int>{-1, 0, 1, 2, 3}));
}

// The profiles of one part of about 150 faces on two threads: a failed computation reports
// once and leaves no array and the part not computed; a later one gives the undisturbed values.
TEST_F(Exhaustion, FailedProfileThreadsLeaveThePartAsItWas) {
  setProfileThreadCount(2);
  ModelPtr model = buildSurfaceModel(randomSurface(5, 10, 10, {0, 0, 0}));
  ASSERT_TRUE(model && model->partCount == 1 && model->faceCount >= 140);
  auto takeValues = [&] {  // every face's profile and sum, released
    std::vector<double> all;
    for (ModelFace* f = model->faces; f < model->faces + model->faceCount; ++f) {
      if (f->profile) all.insert(all.end(), f->profile, f->profile + kProfileSamples);
      if (f->profile) all.push_back(f->influenceSum);
      gfree(f->profile), f->profile = nullptr;
    }
    return model->parts[0].flags = 0, all;
  };
  ASSERT_EQ(computePartProfiles(model.get(), 0), 1);
  const std::vector<double> expected = takeValues();
  const long live = gliveBlocks();
  int result = 0;
  for (long k = 1, failed = 1; failed; ++k) {
    failed = failingAllocation(k, [&] { result = computePartProfiles(model.get(), 0); });
    ASSERT_TRUE(result == !failed && reports.size() <= 1 && (model->parts[0].flags & 1) == !failed)
        << k;
    EXPECT_EQ(takeValues(), failed ? std::vector<double>{} : expected) << k;
    EXPECT_EQ(gliveBlocks(), live) << k;
  }
  setProfileThreadCount(0);
}

// A path replaced between the check that it names a regular file and its opening: the load
// gives the whole file then standing there, or nothing, and never waits on a FIFO.
TEST(LoadingFiles, PathReplacedWhileLoadingGivesOneWholeFileOrNothing) {
  static ScratchFolder folder;
  static int replacement;  // 0 removed, 1 FIFO, 2 folder, 3 link to a device, 4 another file
  beforeOpeningCheckedFile = [](const char* p) {
    (void)(unlink(p), replacement == 1   ? mkfifo(p, 0600)
                      : replacement == 2 ? mkdir(p, 0700)
                      : replacement == 3 ? symlink("/dev/null", p)
                      : replacement == 4 ? rename(folder.file("other").c_str(), p)
                                         : 0);
  };
  alarm(60);  // a load that waits on the FIFO ends the test
  for (replacement = 0; replacement < 5; ++replacement) {
    writeFileBytes(folder.file("moving"), "0\r\nEOF\r\n");
    writeFileBytes(folder.file("other"), "999\r\nanother file, longer than the first\r\n");
    int status = 99;
    LineListPtr lines(loadLineListAs(folder.file("moving").c_str(), LineSplit::keepEmpty, &status));
    EXPECT_EQ(linesOf(lines.get()),
              (replacement == 4 ? Lines{"999", "another file, longer than the first"} : Lines{}));
    EXPECT_EQ(status, replacement == 4 ? kLoadRead : kLoadNotOpened) << replacement;
    fs::remove(folder.file("moving"));
  }
  alarm(0), beforeOpeningCheckedFile = nullptr;
}

// The batch tool (a copy in a scratch folder, so its perr.txt is written there) on a grid and
// the same grid turned. Each case gives the exit status and a piece of the log; a written
// output has every face on the layer given (and is then removed), and after every case the
// output's folder and whatever stood at the output path are as they were before it: no
// temporary file left, an unwritable output untouched, a FIFO still a FIFO.
TEST(BatchTool, HostilePathsAndOutputs) {
  if (access(kTool.c_str(), X_OK) != 0) GTEST_SKIP() << "morvane-match is not built";
  ScratchFolder folder;
  const std::string dir = folder.path + "/", ref = dir + "r.dxf", tgt = dir + "t.dxf",
                    out = dir + "o.dxf";
  fs::copy_file(kTool, dir + "morvane-match"), writeFileBytes(ref, dxfText(quadGrid(3)));
  writeFileBytes(tgt, dxfText(turned(quadGrid(3), {9, 0, 0})));
  struct Case {
    std::string ref, tgt, out;
    int status;
    std::string log = "", layer = "";
    long memory = 0, size = 0;
  };
  std::vector<Case> cases;
  // Paths that name no readable regular file never block: as target they end the run, as
  // reference they are reported and the run goes on. Files that are read but hold no face
  // (empty, a kernel file whose size reads 0, binary bytes) give "Empty Data".
  fs::create_directory(dir + "a folder");
  writeFileBytes(dir + "empty", ""),
      writeFileBytes(dir + "binary", std::string("\177ELF\0\0\xff\r\n\0", 10));
  writeFileBytes(dir + "locked", "0\r\nEOF\r\n");  // root reads it whatever its permission bits
  ASSERT_FALSE(mkfifo((dir + "fifo").c_str(), 0600) ||
               symlink("none", (dir + "dangling").c_str()) ||
               symlink("loop", (dir + "loop").c_str()) || chmod((dir + "locked").c_str(), 0));
  // clang-format off
  const Lines paths = {dir + "missing", dir + "a folder", dir + "fifo", dir + "dangling", dir + "loop",
      "/dev/zero", "/dev/null", "/dev/stdin", ref + "/x", dir + "locked", dir + "empty", "/proc/self/status", dir + "binary"};
  const size_t notFiles = geteuid() == 0 ? 9 : 10;
  const std::string failed = " : Terget DXF\nError Quit\nmorvane-match: the matching run failed; " + out;
  for (size_t i = 0; i < paths.size(); ++i)
    cases.push_back({ref, paths[i], out, 1, (i >= notFiles ? "Start...\nEmpty Data" : "Start...\nRead Error") + failed}),
    cases.push_back({paths[i], tgt, out, 0, i >= notFiles ? "Start...\n1 Parts" : "Start...\nRead Error : Reference DXF. continue...\n1 Parts", "t"});
  // clang-format on
  // A binary DXF stops the run in either file; so does a target that would lose a face (a face
  // record naming no vertex).
  const std::string bin = dir + "bin.dxf", lossy = dir + "lossy.dxf";
  writeFileBytes(bin, std::string("AutoCAD Binary DXF\r\n\x1a\0", 22) + dxfText(quadGrid(3)));
  writeFileBytes(lossy, dxfText(quadGrid(3)) + "0\nPOLYLINE\n70\n64\n0\nVERTEX\n70\n128\n71\n1\n");
  const std::string binary = "Start...\nbinary DXF is not read: save " + bin + " as ASCII DXF\n";
  cases.push_back({ref, bin, out, 1, binary + "Read Error : Terget DXF\nError Quit\n"});
  cases.push_back({bin, tgt, out, 1, binary + "Error Quit\n"});
  cases.push_back({ref, lossy, out, 1,
                   lossy + ": 1 faces could not be read\n" + lossy +
                       " would lose faces: not written (--keep-target keeps them)\nError Quit\n"});
  // Paths are bytes: blanks, quotes, newline, not UTF-8, a leading dash (relative to the
  // tool's folder, so that the dash leads the argument), longer than a buffer of 260.
  fs::create_directory(dir + std::string(250, 'd'));
  // clang-format off
  for (const std::string& name : Lines{"with  blanks .dxf", "quote ' and \" marks.dxf", "new\nline\r.dxf",
      "\xff\xfe not utf-8 \xe9\x80.dxf", "-leading-dash.dxf", "tab\tand\\backslash.dxf", std::string(250, 'd') + "/" + std::string(200, 'n')}) {
    // clang-format on
    fs::copy_file(ref, dir + name + ".r"), fs::copy_file(tgt, dir + name + ".t");
    cases.push_back({name + ".r", name + ".t", name, 0, "\nDone.\n", "g"});
  }
  // Outputs that cannot be written: under a file-size limit (the tool turns SIGXFSZ into a
  // failed write), over the target under that limit, on a full file system where the target
  // fills most of it, in a read-only folder, and a FIFO.
  const std::string full = dir + "full", readOnly = dir + "ro", fifo = dir + "fifo";
  fs::create_directory(full), fs::create_directory(readOnly);
  const bool mounts = privateTmpfs(full, "size=64k") && privateTmpfs(readOnly, "size=1m");
  writeFileBytes(full + "/t.dxf",
                 dxfText(turned(quadGrid(3), {}), Lines(1200, std::string(30, 'c'))));
  writeFileBytes(readOnly + "/o.dxf", "keep me"), writeFileBytes(dir + "kept.dxf", "keep me");
  ASSERT_TRUE(mounts ? privateTmpfs(readOnly, "size=1m", MS_REMOUNT | MS_RDONLY)
                     : !chmod(readOnly.c_str(), 0555));
  for (const std::string& output : {dir + "kept.dxf", tgt})
    cases.push_back({ref, tgt, output, 3, "", "", 0, 1024});
  if (mounts) cases.push_back({"", full + "/t.dxf", full + "/t.dxf", 3});
  if (mounts || geteuid() != 0) cases.push_back({ref, tgt, readOnly + "/o.dxf", 3});
  cases.push_back({ref, tgt, fifo, 3});
  writeFileBytes(dir + "perr.txt", "");  // the tool's own report
  for (const Case& c : cases) {
    const fs::path path = fs::path(folder.path) / c.out;
    const bool wasFifo = fs::is_fifo(path);
    const std::string before = wasFifo ? "" : readFileBytes(path);
    const std::set<std::string> entries = entriesOf(path.parent_path());
    std::string log;
    EXPECT_EQ(
        runProgram({dir + "morvane-match", "--settings", kSettings, "--", c.ref, c.tgt, c.out},
                   folder.path, &log, c.memory, c.size),
        c.status)
        << c.tgt;
    const std::string written = "Write Error : Terget DXF\nmorvane-match: " + c.out + " was not";
    EXPECT_NE(log.find(c.status == 3 ? written : c.log), std::string::npos) << log;
    EXPECT_EQ(c.status ? Lines(9, c.layer) : dxfLayers(readFileBytes(path)), Lines(9, c.layer))
        << log;
    if (c.status == 0) fs::remove(path);
    EXPECT_EQ(entriesOf(path.parent_path()), entries) << path;
    EXPECT_EQ(fs::is_fifo(path), wasFifo);
    EXPECT_EQ(wasFifo ? "" : readFileBytes(path), before) << path;
  }
  // A part whose profiles need more than the address space allows even in eight passes
  // (3.9 GiB for 22,500 faces, 0.6 GiB a pass, against 400 MiB): a line says so and the run
  // goes on with the face tests alone.
  writeFileBytes(dir + "big.r", dxfText(quadGrid(150)));
  writeFileBytes(dir + "big.t", dxfText(turned(quadGrid(150), {500, 0, 0})));
  if (!kSanitized) {
    std::string log;
    EXPECT_EQ(
        runProgram({dir + "morvane-match", "--settings", kSettings, "big.r", "big.t", "big.o"},
                   folder.path, &log, 400L << 20, 0),
        0);
    EXPECT_NE(log.find("Terget part 1: 22500 faces need 3951 MiB to profile"), std::string::npos)
        << log;
    EXPECT_TRUE(fs::exists(dir + "big.o"));
  }
  EXPECT_EQ(readFileBytes(dir + "perr.txt"), "");
  if (mounts) umount2(full.c_str(), MNT_DETACH), umount2(readOnly.c_str(), MNT_DETACH);
}

// Reading allocates a few times per model, not per face (a layer name is stored once): the face
// array is sized once, the point and index arrays grow by a quarter, so 64 times the faces cost
// only their ~19 more growth steps each, and no array holds much unused room.
// Splitting cuts lines from 1 MiB chunks: a million lines cost the list, its item array and
// one chunk per MiB of lines (16 bytes a line here).
TEST(Limits, ReadingAndSplittingAllocatePerFaceAndPerChunk) {
  long overhead[2] = {};
  for (int i : {0, 1}) {
    const int rows = i ? 320 : 40;
    std::string text = dxfText(quadGrid(rows));
    long start = gallocationCount();
    ModelPtr model(readDxfText(text));
    overhead[i] = gallocationCount() - start;
    ASSERT_TRUE(model);
    EXPECT_LE(model->faceCapacity, model->faceCount * 5 / 4 + 256);
    EXPECT_LE(model->pointCapacity, model->pointCount * 5 / 4 + 512);
  }
  EXPECT_TRUE(overhead[0] > 0 && overhead[1] - overhead[0] <= 2 * 19 + 3) << overhead[1];
  std::string text;
  for (int i = 0; i < 1000000; ++i)
    text += i % 3 ? "10\r\n" : "\r\n";
  long start = gallocationCount();
  LineListPtr lines(splitTextLines(text.data(), text.size(), LineSplit::keepEmpty));
  EXPECT_LE(gallocationCount() - start, kSanitized ? 1L << 30 : 2 + 16 + 1);
  EXPECT_EQ(lines ? lines->count : 0, 1000000);
}

// Parts at the limits run to the end and write every face: 240 faces that all share one point
// (all each other's neighbours; nearly all take a layer of the reference), and faces of 1e-150
// beside faces of 1, whose weights near 1e150 overflow the influence to infinity (the profiles
// become NaN, which the propagation orders last).
TEST(Limits, FacesSharingOnePointAndInfluenceOverflowingRunToTheEnd) {
  // hardening/overflow-r.dxf: ten faces of 1e-150 in a row and two large faces that balance the
  // part's centre on the origin, so the tiny faces keep their size; -t.dxf: the same turned.
  const std::string r = testDataPath("hardening/overflow-r.dxf"),
                    t = testDataPath("hardening/overflow-t.dxf");
  ModelPtr model = readDxfText(readFileBytes(r));
  ASSERT_TRUE(model && computeAngleSignatures(model.get()) && model->partCount == 1);
  ASSERT_EQ(computePartProfiles(model.get(), 0), 1);
  double sum = 0;  // not finite when any term is not
  for (ModelFace* f = model->faces; f < model->faces + model->faceCount; ++f)
    sum = std::accumulate(f->profile, f->profile + kProfileSamples, sum + f->influenceSum);
  EXPECT_FALSE(std::isfinite(sum)) << "the case must reach infinity";
  ScratchFolder folder;
  auto runTurned = [&](const std::string& reference, const std::string& target) {
    RecordingDialog dialog;  // gives the written layers
    useDefaultSettings(), textureRotation = 0;
    EXPECT_TRUE(runMatching(&dialog.port, reference.c_str(), target.c_str()) &&
                dialog.progress.back() == "Done." && saveTargetDxf(folder.file("o.dxf").c_str()));
    return dxfLayers(readFileBytes(folder.file("o.dxf")));
  };
  // hardening/fan-r.dxf: triangles round the origin, each sharing an edge with the next, on
  // layers "fan0".."fan4", rims without pattern so that no turn maps the fan onto itself; -t.dxf:
  // the same turned a quarter round z and moved, every second face starting at its next corner.
  Lines layers =
      runTurned(testDataPath("hardening/fan-r.dxf"), testDataPath("hardening/fan-t.dxf"));
  EXPECT_TRUE(layers.size() == 240 && targetModel->partCount == 1 &&
              targetModel->points[0].faceCount == 240);
  EXPECT_GT(std::count_if(layers.begin(), layers.end(), [](auto& l) { return l[0] == 'f'; }), 200);
  EXPECT_EQ(runTurned(r, t).size(), 12u);
  releaseRunData();
}

}  // namespace
