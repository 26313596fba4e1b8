// Hostile inputs and conditions: every allocation failing in turn, files that are no file,
// outputs that cannot be written, paths of any bytes, and inputs at the limits. The batch tool
// runs as a child process (no shell) with its limits set in the child and an alarm as deadline.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <mutex>
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
#include "textfiles/scopedBlocks.h"
#include "textfiles/settings.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using Faces = std::vector<DxfFace>;
const std::string kTool = MORVANE_MATCH_PATH, kSettings = testDataPath("hardening/param.txt");

// Runs args[0] with exactly `args` in `folder`, standard input a pipe kept open, limits of
// address space and file size when not 0. Gives its exit status (-1 when a signal ended it:
// SIGALRM after a minute when it blocked) and its standard output, then standard error.
int runProgram(Lines args, const std::string& folder, std::string* output, long memory = 0,
               long fileSize = 0) {
  FILE* log = tmpfile();
  int in[2], raw = 0;
  if (!log || pipe(in) != 0) return -1;
  std::vector<char*> argv;
  for (std::string& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  rlimit as{rlim_t(memory), rlim_t(memory)}, size{rlim_t(fileSize), rlim_t(fileSize)};
  pid_t child = fork();
  if (child == 0) {  // async-signal-safe calls only
    if (dup2(in[0], 0) == 0 && dup2(fileno(log), 1) == 1 && dup2(fileno(log), 2) == 2 &&
        !(memory && setrlimit(RLIMIT_AS, &as)) && !(fileSize && setrlimit(RLIMIT_FSIZE, &size)) &&
        chdir(folder.c_str()) == 0 && alarm(60) == 0)
      execv(argv[0], argv.data());
    _exit(127);
  }
  waitpid(child, &raw, 0);
  close(in[0]), close(in[1]);
  *output = readFileBytes("/proc/self/fd/" + std::to_string(fileno(log)));
  fclose(log);
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

Lines folderEntries(const std::string& folder) {
  Lines names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
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
  for (double y = 0; y < rows; ++y) {
    for (double x = 0; x < rows; ++x)
      faces.push_back({"g", {{x, y, 0}, {x + 1, y, 0}, {x + 1, y + 1, (int(x + y) % 2) * 0.5}}});
  }
  for (DxfFace& f : faces)
    f.corners.push_back({f.corners[0].x, f.corners[2].y, 0});
  return faces;
}

// Triangles round the origin, each sharing an edge with the next, on layers prefix + 0..4;
// rims without pattern, so that no turn maps the fan onto itself.
Faces fan(int count, const std::string& prefix) {
  auto rim = [count](int i) {
    double a = 2 * M_PI * (i % count) / count, r = 1 + (i * 104729 % 53) * 0.02;
    return Vec3{r * std::cos(a), r * std::sin(a), (i * 7919 % 101) * 0.01};
  };
  Faces faces;
  for (int i = 0; i < count; ++i)
    faces.push_back({prefix + char('0' + i % 5), {{0, 0, 0}, rim(i), rim(i + 1)}});
  return faces;
}

// Faces turned a quarter round z and moved by `by`, on `layer` ("" keeps theirs); every
// second face starts at its next corner.
Faces turned(Faces faces, Vec3 by, const std::string& layer) {
  for (size_t i = 0; i < faces.size(); ++i) {
    for (Vec3& c : faces[i].corners)
      c = {by.x - c.y, by.y + c.x, by.z + c.z};
    auto& corners = faces[i].corners;
    if (i % 2) std::rotate(corners.begin(), corners.begin() + 1, corners.end());
    if (!layer.empty()) faces[i].layer = layer;
  }
  return faces;
}

std::mutex reportsMutex;
Lines reports;  // what the error presenter was given
void recordReport(const char* message) {
  std::lock_guard<std::mutex> lock(reportsMutex);
  reports.emplace_back(message);
}

// Calls `step` with the k-th allocation from now failing; whether one failed.
template <class Step>
bool failingAllocation(long k, Step step) {
  reports.clear();
  long start = gallocationCount();
  gfailAllocationAfter(k);
  step();
  gfailAllocationAfter(0);
  return gallocationCount() - start >= k;
}

class Exhaustion : public ::testing::Test {
 protected:
  void SetUp() override {  // in memory when possible: the sweeps rename files many times
    std::string memory = "/dev/shm/morvane-test-XXXXXX";
    if (mkdtemp(memory.data())) fs::remove(folder.path), folder.path = memory;
    setProgramDirectoryTo(folder.path.c_str()), setErrorPresenter(recordReport);
  }
  void TearDown() override { setErrorPresenter(nullptr), setProgramDirectory(), releaseRunData(); }
  ScratchFolder folder;
};

// The batch tool's steps (settings file, run, save over an existing output) end cleanly for
// every allocation that fails: the entry is named to the presenter and in perr.txt, nothing
// leaks, and the output is whole or untouched, with no temporary file left.
TEST_F(Exhaustion, EveryAllocationFailingInTurnEndsTheBatchSequenceCleanly) {
  const std::string out = folder.file("out.dxf"), ref = folder.file("r.dxf"),
                    tgt = folder.file("t.dxf");
  Faces part = quadGrid(4), other = turned(fan(9, "f"), {30, 0, 0}, "");
  part.insert(part.end(), other.begin(), other.end());
  writeFileBytes(ref, dxfText(part));
  writeFileBytes(tgt, dxfText(turned(part, {100, 5, 1}, "t"), {"comment kept"}));
  RecordingDialog dialog;
  int saved = 0;  // -1 settings not read, 0 run failed, 1 not saved, 2 saved
  auto sequence = [&] {
    int status = 0;
    OwnedLineList lines(loadLineListAs(kSettings.c_str(), LineSplit::dropEmpty, &status));
    if ((saved = -1, status != kLoadRead || !lines)) return;
    parseSettings(lines.get());
    textureRotation = 0;
    saved =
        runMatching(&dialog.port, ref.c_str(), tgt.c_str()) ? 1 + saveTargetDxf(out.c_str()) : 0;
  };
  const long live = gliveBlocks();
  sequence();
  ASSERT_EQ(saved, 2);
  ASSERT_GT(tallyMatches(referenceModel, targetModel).byPropagation, 0) << "must reach profiles";
  const Lines undisturbed = dialog.progress;
  const std::string whole = readFileBytes(out);
  std::set<int> outcomes;
  for (long k = 1, failed = 1; failed; ++k) {
    SCOPED_TRACE("allocation " + std::to_string(k));
    releaseRunData();
    ASSERT_EQ(gliveBlocks(), live);
    writeFileBytes(out, "keep me");
    dialog.progress.clear();
    failed = failingAllocation(k, sequence);
    const Lines& p = dialog.progress;
    const bool lost = saved > 0 && p[1] == "Syntax Error : Reference DXF. continue...";
    const std::string written = readFileBytes(out);
    outcomes.insert(lost ? 3 : saved);
    EXPECT_TRUE(failed || (saved == 2 && !lost));
    EXPECT_EQ(saved > 0 && !lost ? p : undisturbed, undisturbed);  // stages that can do without
    EXPECT_EQ(p.empty() ? "" : p.back(), saved < 0 ? "" : saved ? "Done." : "Error Quit");
    EXPECT_EQ(written, saved < 2 ? "keep me" : lost ? written : whole);
    for (const std::string& layer : dxfLayers(lost ? written : ""))
      EXPECT_EQ(layer, "t");  // without a reference every face keeps its own layer
    EXPECT_EQ(folderEntries(folder.path), (Lines{"out.dxf", "perr.txt", "r.dxf", "t.dxf"}));
    ASSERT_EQ(reports.empty(), !failed);
    EXPECT_EQ(failed ? readFileBytes(folder.file("perr.txt")) : "",
              failed ? reports.back() + "\r\n" : "");
    for (const std::string& r : reports)
      EXPECT_TRUE(r == "gcalloc" || r == "gmalloc" || r == "gcrealloc") << r;
  }
  EXPECT_EQ(outcomes, (std::set<int>{-1, 0, 1, 2, 3}));
}

// The profiles of one part of about 150 faces on two threads: a failed computation reports
// once and leaves no array and the part not computed; a later one gives the undisturbed values.
TEST_F(Exhaustion, FailedProfileThreadsLeaveThePartAsItWas) {
  setProfileThreadCount(2);
  ModelPtr model = buildSurfaceModel(randomSurface(5, 10, 10, {0, 0, 0}));
  ASSERT_TRUE(model && model->partCount == 1 && model->faceCount >= 140);
  auto takeValues = [&] {  // every face's profile and influence, released
    std::vector<double> all;
    for (ModelFace* f = model->faces; f < model->faces + model->faceCount; ++f) {
      if (f->profile) all.insert(all.end(), f->profile, f->profile + kProfileSamples);
      if (f->influence) all.insert(all.end(), f->influence, f->influence + model->faceCount);
      gfree(f->influence), gfree(f->profile);
      f->influence = f->profile = nullptr;
    }
    return model->parts[0].flags = 0, all;
  };
  ASSERT_EQ(computePartProfiles(model.get(), 0), 1);
  const std::vector<double> expected = takeValues();
  const long live = gliveBlocks();
  int result = 0;
  for (long k = 1, failed = 1; failed; ++k) {
    failed = failingAllocation(k, [&] { result = computePartProfiles(model.get(), 0); });
    ASSERT_EQ(result, !failed) << k;
    EXPECT_EQ(failed ? reports.size() : 1, 1u) << k;
    EXPECT_TRUE(!failed || reports[0] == "gcalloc" || reports[0] == "gmalloc") << reports[0];
    EXPECT_EQ(model->parts[0].flags & 1, !failed) << k;
    EXPECT_EQ(takeValues(), failed ? std::vector<double>{} : expected) << k;
    EXPECT_EQ(gliveBlocks(), live) << k;
  }
  setProfileThreadCount(0);
}

// A fuzz finding: the rotation box rewrites the number of settings line 4, and a rest that
// continued the new digits ("0.0.5]" with rotation 2 became "2.5]") read back as another value.
TEST(FuzzFindings, RotationWrittenIntoLineFourReadsBackAsChosen) {
  const struct {
    const char *line, *written;
    int selection;
  } cases[] = {
      // "0x1p1" would read as hexadecimal; an exponent without digits continues nothing
      {"0.0.5] Advantage", "2 .5] Advantage", 2},
      {"5x1p1 ;2", "0 x1p1 ;2", 0},
      {"7e ;2", "1e ;2", 1},
      {"3e+x", "1e+x", 1},
      {"1.5.e5", "3 .e5", 3},
      {" 12 ;2;rotation", " 1 ;2;rotation", 1},  // the ordinary case keeps its form
  };
  for (const auto& c : cases) {
    LineListPtr lines = testLines({"3 ;sw", "0.25", "0.5", c.line, "0.01"});
    settingsLines = lines.get();
    textureRotation = 9;
    setTextureRotation(c.selection);
    settingsLines = nullptr;
    EXPECT_EQ(linesOf(lines.get())[3], c.written);
    matchSettings = MatchSettings{};
    parseSettings(lines.get());
    EXPECT_EQ(matchSettings.textureRotation, c.selection) << c.line;
  }
  useDefaultSettings();
  textureRotation = 0, saveSettingsOnExit = false;
}

// The batch tool in a scratch folder: a grid as reference, the same turned as target.
class BatchTool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(kTool.c_str(), X_OK) != 0) GTEST_SKIP() << "morvane-match is not built";
    writeFileBytes(reference, dxfText(quadGrid(3)));
    writeFileBytes(target, dxfText(turned(quadGrid(3), {9, 0, 0}, "t")));
  }
  int run(const std::string& ref, const std::string& tgt, const std::string& out, long size = 0) {
    return runProgram({kTool, "--settings", kSettings, "--", ref, tgt, out}, folder.path, &log, 0,
                      size);
  }
  ScratchFolder folder;
  const std::string reference = folder.file("r.dxf"), target = folder.file("t.dxf"),
                    out = folder.file("out.dxf");
  std::string log;
};

// Paths that name no readable regular file never block: as target they end the run, as
// reference they are reported and the run goes on, every face keeping its own layer. Files
// that are read but hold no face (empty, a kernel file whose size reads 0, binary bytes)
// give "Empty Data".
TEST_F(BatchTool, TargetOrReferenceThatIsNoReadableFileNeverBlocks) {
  const std::string dir = folder.path + "/";
  fs::create_directory(dir + "a folder");
  writeFileBytes(dir + "empty", "");
  writeFileBytes(dir + "binary", std::string("\x7f"
                                             "ELF\0\0\xff\r\n\0",
                                             10));
  writeFileBytes(dir + "locked", "0\r\nEOF\r\n");  // root reads it whatever its permission bits
  ASSERT_FALSE(mkfifo((dir + "fifo").c_str(), 0600) ||
               symlink("none", (dir + "dangling").c_str()) ||
               symlink("loop", (dir + "loop").c_str()) || chmod((dir + "locked").c_str(), 0));
  Lines paths = {dir + "missing",      dir + "a folder", dir + "fifo",  dir + "dangling",
                 dir + "loop",         "/dev/zero",      "/dev/null",   "/dev/stdin",
                 reference + "/x.dxf", dir + "locked",   dir + "empty", "/proc/self/status",
                 dir + "binary"};
  const size_t notFiles = geteuid() == 0 ? 9 : 10;
  for (size_t i = 0; i < paths.size(); ++i) {
    const std::string word = i < notFiles ? "Read Error" : "Empty Data", path = paths[i];
    EXPECT_EQ(run(reference, path, out), 1) << path;
    EXPECT_EQ(log, "Start...\n" + word +
                       " : Terget DXF\nError Quit\nmorvane-match: the matching run failed; " + out +
                       " was not written\n");
    EXPECT_EQ(run(path, target, out), 0) << path;
    EXPECT_EQ(log.find("Read Error : Reference DXF. continue...\n"),
              i < notFiles ? 9 : std::string::npos);
    EXPECT_EQ(dxfLayers(readFileBytes(out)), Lines(9, "t")) << path;
    fs::remove(out);
  }
}

// Paths are bytes: blanks, quotes, newline, not UTF-8, a leading dash (relative to the tool's
// folder, so that the dash leads the argument) and longer than a buffer of 260, for all three.
TEST_F(BatchTool, PathsOfAnyBytesAreTakenAsGiven) {
  const std::string deep(250, 'd');
  fs::create_directory(folder.file(deep));
  for (const std::string& name :
       Lines{"with  blanks .dxf", "quote ' and \" marks.dxf", "new\nline\r.dxf",
             "\xff\xfe not utf-8 \xe9\x80.dxf", "-leading-dash.dxf", "tab\tand\\backslash.dxf",
             deep + "/" + std::string(200, 'n')}) {
    fs::copy_file(reference, folder.file(name + ".r"));
    fs::copy_file(target, folder.file(name + ".t"));
    EXPECT_EQ(run(name + ".r", name + ".t", name), 0) << name;
    EXPECT_EQ(dxfLayers(readFileBytes(folder.file(name))), Lines(9, "g")) << name;
    for (const char* suffix : {"", ".r", ".t"})
      EXPECT_TRUE(fs::remove(folder.file(name + suffix))) << name;
  }
  EXPECT_EQ(folderEntries(folder.path), (Lines{deep, "r.dxf", "t.dxf"}));
}

// An output that cannot be written is reported, and what stood at its path (the target too,
// when it is that file) stays as it was, with no temporary file left beside it.
TEST_F(BatchTool, UnwritableOutputChangesNothing) {
  const std::string full = folder.file("full"), readOnly = folder.file("ro"),
                    fifo = folder.file("fifo");
  fs::create_directory(full), fs::create_directory(readOnly);
  const bool mounts = privateTmpfs(full, "size=64k") && privateTmpfs(readOnly, "size=1m");
  // On the full file system the target fills most of it, and the output must fit beside it.
  writeFileBytes(full + "/t.dxf",
                 dxfText(turned(quadGrid(3), {}, "t"), Lines(1200, std::string(30, 'c'))));
  writeFileBytes(readOnly + "/out.dxf", "keep me");
  writeFileBytes(out, "keep me");
  ASSERT_TRUE(mounts ? privateTmpfs(readOnly, "size=1m", MS_REMOUNT | MS_RDONLY)
                     : !chmod(readOnly.c_str(), 0555));
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string ref, tgt, out;
    long fileSize;
    bool possible;  // root writes into a folder whatever its permission bits
  } cases[] = {{reference, target, out, 1024, true},  // the tool turns SIGXFSZ into a failure
               {reference, target, target, 1024, true},
               {"", full + "/t.dxf", full + "/t.dxf", 0, mounts},
               {reference, target, readOnly + "/out.dxf", 0, mounts || geteuid() != 0},
               {reference, target, fifo, 0, true}};  // a FIFO stays a FIFO
  for (const auto& c : cases) {
    if (!c.possible) continue;
    const std::string dir = fs::path(c.out).parent_path(),
                      before = c.out == fifo ? "" : readFileBytes(c.out);
    const Lines entries = folderEntries(dir);
    EXPECT_EQ(run(c.ref, c.tgt, c.out, c.fileSize), 3) << c.out;
    EXPECT_NE(log.find("Write Error : Terget DXF\nmorvane-match: " + c.out + " was not written"),
              std::string::npos)
        << log;
    EXPECT_EQ(folderEntries(dir), entries);
    struct stat info {};
    EXPECT_TRUE(c.out == fifo ? !lstat(fifo.c_str(), &info) && S_ISFIFO(info.st_mode)
                              : readFileBytes(c.out) == before)
        << c.out;
  }
  if (mounts) umount2(full.c_str(), MNT_DETACH), umount2(readOnly.c_str(), MNT_DETACH);
}

#ifdef __SANITIZE_ADDRESS__
constexpr bool kSanitized = true;  // a block per line, and a shadow that needs address space
#else
constexpr bool kSanitized = false;
#endif

// Reading allocates once per face (its layer) and a few times per model, growing its arrays by
// a quarter: 64 times the faces cost only the ~19 more growth steps of each of the face, point
// and index arrays beyond one allocation per face, and no array holds much unused room.
// Splitting cuts lines from 1 MiB chunks: a million lines cost the list, its item array and
// one chunk per MiB of lines (16 bytes a line here).
TEST(Limits, ReadingAndSplittingAllocatePerFaceAndPerChunk) {
  long overhead[2] = {};
  for (int i : {0, 1}) {
    const int rows = i ? 320 : 40;
    std::string text = dxfText(quadGrid(rows));
    LineListPtr lines(splitTextLines(text.data(), text.size(), LineSplit::keepEmpty));
    long start = gallocationCount();
    ModelPtr model(readDxfFaces(lines.get(), "Terget", nullptr, 0));
    overhead[i] = gallocationCount() - start - rows * rows;
    ASSERT_TRUE(model);
    EXPECT_LE(model->faceCapacity, model->faceCount * 5 / 4 + 256);
    EXPECT_LE(model->pointCapacity, model->pointCount * 5 / 4 + 512);
  }
  EXPECT_GE(overhead[0], 0);
  EXPECT_LE(overhead[1] - overhead[0], 3 * 19 + 3);
  std::string text;
  for (int i = 0; i < 1000000; ++i)
    text += i % 3 ? "10\r\n" : "\r\n";
  long start = gallocationCount();
  LineListPtr lines(splitTextLines(text.data(), text.size(), LineSplit::keepEmpty));
  EXPECT_LE(gallocationCount() - start, kSanitized ? 1L << 30 : 2 + 16 + 1);
  EXPECT_EQ(lines ? lines->count : 0, 1000000);
}

// Runs the faces against themselves turned and moved; the written file's layers.
Lines runAndWrite(const Faces& reference) {
  ScratchFolder folder;
  RecordingDialog dialog;
  writeFileBytes(folder.file("r.dxf"), dxfText(reference));
  writeFileBytes(folder.file("t.dxf"), dxfText(turned(reference, {0, 40, 0}, "t")));
  useDefaultSettings(), textureRotation = 0;
  EXPECT_EQ(runMatching(&dialog.port, folder.file("r.dxf").c_str(), folder.file("t.dxf").c_str()),
            1);
  EXPECT_EQ(dialog.progress.back(), "Done.");
  EXPECT_EQ(saveTargetDxf(folder.file("out.dxf").c_str()), 1);
  return dxfLayers(readFileBytes(folder.file("out.dxf")));
}

// Every face shares one point, so all are each other's neighbours: the run ends normally and
// writes every face, nearly all on a layer the reference has.
TEST(Limits, FacesThatAllShareOnePoint) {
  Lines layers = runAndWrite(fan(240, "fan"));
  ASSERT_EQ(layers.size(), 240u);
  EXPECT_EQ(targetModel->partCount, 1);
  EXPECT_EQ(targetModel->points[0].faceCount, 240);
  EXPECT_GT(std::count_if(layers.begin(), layers.end(), [](auto& l) { return l[0] == 'f'; }), 200);
  releaseRunData();
}

// Faces of 1e-150 beside faces of 1: weights near 1e150 overflow the influence to infinity, the
// profiles become NaN, the propagation orders NaN scores last, and the run writes every face.
TEST(Limits, InfluenceThatOverflowsToInfinity) {
  const double e = 1e-150;
  Faces faces;
  for (double i = 0; i < 10; ++i)
    faces.push_back(
        {"tiny", {{i * e, 0, 0}, {(i + 1) * e, 0, 0}, {(i + 1) * e, e, 0}, {i * e, e, 0}}});
  // Two large faces balance the part's centre on the origin, so the tiny faces keep their size.
  faces.push_back({"bigA", {{10 * e, 0, 0}, {1, -1, 0}, {1, 1, 0}}});
  faces.push_back({"bigB", {{0, 0, 0}, {-1, 1, 0}, {-1, -1, 0}}});
  ModelPtr model = readDxfText(dxfText(faces));
  ASSERT_TRUE(model && computeAngleSignatures(model.get()) && model->partCount == 1);
  ASSERT_EQ(computePartProfiles(model.get(), 0), 1);
  double sum = 0;  // not finite when any term is not
  for (ModelFace* f = model->faces; f < model->faces + model->faceCount; ++f)
    sum = std::accumulate(f->profile, f->profile + kProfileSamples, sum + f->influenceSum);
  EXPECT_FALSE(std::isfinite(sum)) << "the case must reach infinity";
  EXPECT_EQ(runAndWrite(faces).size(), faces.size());
  releaseRunData();
}

// A part whose influence arrays need more than the address space allowed (800 MB for 10,000
// faces against 400 MiB): the allocator reports, nothing is written, the tool exits with 1.
TEST(Limits, PartLargerThanTheMemoryAllowedEndsTheRun) {
  if (kSanitized || access(kTool.c_str(), X_OK) != 0) GTEST_SKIP() << "not built, or sanitized";
  ScratchFolder folder;  // a copy of the tool, so that its perr.txt is written here
  fs::copy_file(kTool, folder.file("morvane-match"));
  writeFileBytes(folder.file("r.dxf"), dxfText(quadGrid(100)));
  writeFileBytes(folder.file("t.dxf"), dxfText(turned(quadGrid(100), {500, 0, 0}, "t")));
  std::string log;
  EXPECT_EQ(runProgram({folder.file("morvane-match"), "r.dxf", "t.dxf", "o.dxf"}, folder.path, &log,
                       400L << 20),
            1);
  EXPECT_NE(log.find("Morvane Error: gcalloc\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\nError Quit\n"), std::string::npos) << log;
  EXPECT_EQ(readFileBytes(folder.file("perr.txt")), "gcalloc\r\n");
  EXPECT_FALSE(fs::exists(folder.file("o.dxf")));
}

}  // namespace
