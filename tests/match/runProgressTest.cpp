// What a run tells beside its own lines: the stages it reports, a request to stop between them,
// the detail lines naming a file and its reason, and the run state cut down for saving.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "match/matchingRun.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"
#include "textfiles/runProgress.h"

namespace {

const std::string kRef = testDataPath("../../examples/reference.dxf"),
                  kTgt = testDataPath("../../examples/target.dxf");

// Records each stage as first reported and the shares done; at the first report of `stopAt`
// it asks the run to stop, at that of `starveAt` the next allocation fails.
struct Recorder {
  RunProgress sink{this, report, [](RunProgress* p) { return int(of(p).stop); }};
  Lines stages;
  std::vector<double> shares;
  std::string stopAt, starveAt;
  bool stop = false;
  RecordingDialog dialog;

  explicit Recorder(std::string stop = "", std::string starve = "")
      : stopAt(stop), starveAt(starve) {}
  static Recorder& of(RunProgress* p) { return *static_cast<Recorder*>(p->context); }
  static void report(RunProgress* p, const char* stage, int32_t, int32_t, double share) {
    Recorder& r = of(p);
    if (r.stages.empty() || r.stages.back() != stage) r.stages.push_back(stage);
    r.shares.push_back(share), r.stop = r.stop || r.stopAt == stage;
    if (r.starveAt == stage) gfailAllocationAfter(1), r.starveAt.clear();
  }
  int run(const std::string& reference = kRef, const std::string& target = kTgt) {
    RunOptions options{0, 0, &sink};
    int result = runMatchingWith(&dialog.port, reference.c_str(), target.c_str(), &options);
    return gfailAllocationAfter(0), result;
  }
};

}  // namespace

// Every stage in order, the share done never going back, the run's lines those of a run
// without a sink; cut down for saving (no profiles, no point face lists), the state writes the
// same file. Asked to stop at any stage, the run ends with "Cancelled" and nothing left.
TEST(RunProgress, StagesInOrderAndAStopAtAnyOfThemReleasesEverything) {
  SettingsRestore reset;
  useDefaultSettings(), textureRotation = 0;
  RecordingDialog plain;
  runMatching(&plain.port, kRef.c_str(), kTgt.c_str());
  Recorder all;
  ASSERT_EQ(all.run(), 1);
  EXPECT_EQ(all.dialog.progress, plain.progress);
  const Lines stages = {
      "reading the reference", "reading the target", "angle signatures", "pairing",
      "part matching",         "face tests",         "profiles",         "propagation"};
  EXPECT_EQ(Lines(all.stages.begin(), all.stages.begin() + 8), stages);
  EXPECT_TRUE(std::is_sorted(all.shares.begin(), all.shares.end()) && all.shares.back() < 1);
  releaseRunData();
  const long live = gliveBlocks();
  for (const std::string& stage : stages) {
    Recorder stopping(stage);
    const Lines& lines = stopping.dialog.progress;
    EXPECT_TRUE(stopping.run() == 0 && lines.back() == "Cancelled" &&
                stopping.stages.back() == stage &&
                std::count(lines.begin(), lines.end(), "Error Quit") == 0)
        << stage;
    EXPECT_TRUE(!referenceModel && !targetModel && !commentList && gliveBlocks() == live) << stage;
  }
}

// Detail lines name the file and the reason; a file without faces is named; out of memory names
// the stage, the models' sizes and what to try.
TEST(RunProgress, DetailLinesNameTheFileAndTheReason) {
  SettingsRestore reset;
  useDefaultSettings(), textureRotation = 0;
  QuietReports quiet;
  const std::string none = quiet.file("none.dxf"), empty = quiet.file("empty.dxf"),
                    sizes = "43 faces, 44 points, largest part 18 faces";
  writeFileBytes(empty, "0\r\nEOF\r\n");
  const std::string oom = "out of memory while profiles (target: " + sizes +
                          "; reference: " + sizes +
                          "): close other programs or split the model into smaller "
                          "files; a huge turned part needs no profiles when it is aligned: "
                          "tick \"Align turned parts\" (morvane-match --align)";
  // Reference, target, the stage where memory runs out, the detail lines.
  const std::tuple<std::string, std::string, std::string, Lines> cases[] = {
      {none, kTgt, "", {"cannot read " + none + ": No such file or directory"}},
      {empty, kTgt, "", {"no 3DFACE entities in " + empty}},
      {kRef, none, "", {"cannot read " + none + ": No such file or directory"}},
      {kRef, quiet.path, "", {"cannot read " + quiet.path + ": it is a folder"}},
      {kRef, empty, "", {"no 3DFACE entities in " + empty}},
      {kRef, "", "", {"no target file was given"}},
      {kRef, kTgt, "profiles", {oom}},
  };
  for (const auto& [reference, target, starveAt, details] : cases) {
    Recorder recorder("", starveAt);
    recorder.run(reference, target);
    EXPECT_EQ(recorder.dialog.details, details);
  }
}
