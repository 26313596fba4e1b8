// What a run tells beside its own lines: the stages it reports, a request to stop between them,
// the detail lines naming a file and its reason, and the run state cut down for saving.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "match/matchingRun.h"
#include "match/runResult.h"
#include "output/dxfWriter.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"
#include "textfiles/runProgress.h"
#include "textfiles/settings.h"

namespace {

const std::string kExamples = testDataPath("../../examples/");

// Records the stages a run reports and asks it to stop at the first report of `stopAt`; at
// the first report of `starveAt` the next allocation fails instead.
struct StageRecorder {
  RunProgress sink{this, report, cancel};
  std::vector<std::string> stages;  // each stage once, in the order first reported
  std::vector<double> fractions;
  std::string stopAt, starveAt;
  bool stop = false;

  static StageRecorder& of(RunProgress* p) { return *static_cast<StageRecorder*>(p->context); }
  static void report(RunProgress* p, const char* stage, int32_t part, int32_t parts, double f) {
    StageRecorder& r = of(p);
    if (r.stages.empty() || r.stages.back() != stage) r.stages.push_back(stage);
    r.fractions.push_back(f);
    r.stop = r.stop || r.stopAt == stage;
    if (r.starveAt == stage) gfailAllocationAfter(1), r.starveAt.clear();
    EXPECT_TRUE(parts == 0 ? part == 0 : part >= 1 && part <= parts) << stage;
  }
  static int cancel(RunProgress* p) { return of(p).stop ? 1 : 0; }
};

struct ExampleRun {
  RecordingDialog dialog;
  int result = 0;
};

ExampleRun runExample(StageRecorder* recorder,
                      const std::string& reference = kExamples + "reference.dxf",
                      const std::string& target = kExamples + "target.dxf") {
  ExampleRun run;
  RunOptions options{};
  options.progress = recorder ? &recorder->sink : nullptr;
  run.result = runMatchingWith(&run.dialog.port, reference.c_str(), target.c_str(), &options);
  return run;
}

}  // namespace

// A sink sees every stage in order with the share done never going back; the run's lines are
// those of a run without one. Asked to stop at any stage, the run ends with "Cancelled", holds
// no model and leaves nothing allocated.
TEST(RunProgress, StagesInOrderAndAStopAtAnyOfThemReleasesEverything) {
  SettingsRestore reset;
  useDefaultSettings(), textureRotation = 0;
  const ExampleRun plain = runExample(nullptr);
  StageRecorder all;
  const ExampleRun reported = runExample(&all);
  EXPECT_EQ(reported.dialog.progress, plain.dialog.progress);
  EXPECT_EQ(all.stages, (Lines{"reading the reference", "reading the target", "angle signatures",
                               "pairing", "part matching", "face tests", "profiles", "propagation",
                               "face tests", "profiles", "propagation", "face tests"}));
  EXPECT_TRUE(std::is_sorted(all.fractions.begin(), all.fractions.end()) &&
              all.fractions.front() == 0 && all.fractions.back() < 1);
  releaseRunData();
  const long live = gliveBlocks();
  for (const char* stage : {"reading the reference", "reading the target", "angle signatures",
                            "pairing", "part matching", "face tests", "profiles", "propagation"}) {
    SCOPED_TRACE(stage);
    StageRecorder stopping;
    stopping.stopAt = stage;
    const ExampleRun run = runExample(&stopping);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.dialog.progress.back(), "Cancelled");
    EXPECT_EQ(std::count(run.dialog.progress.begin(), run.dialog.progress.end(), "Error Quit"), 0);
    EXPECT_TRUE(!referenceModel && !targetModel && !commentList && gliveBlocks() == live);
  }
}

// Detail lines name the file and the reason right where the run's own line says what failed;
// a reference or target without faces is named; out of memory names the stage, the models'
// sizes and what to try.
TEST(RunProgress, DetailLinesNameTheFileAndTheReason) {
  SettingsRestore reset;
  useDefaultSettings(), textureRotation = 0;
  QuietReports quiet;
  const std::string missing = quiet.file("missing.dxf"), empty = quiet.file("empty.dxf");
  writeFileBytes(empty, "0\r\nEOF\r\n");
  const std::string ref = kExamples + "reference.dxf", tgt = kExamples + "target.dxf";
  struct Case {
    std::string reference, target, starveAt;
    Lines details;
    int result;
  };
  const Case cases[] = {
      {missing, tgt, "", {"cannot read " + missing + ": No such file or directory"}, 1},
      {empty, tgt, "", {"no 3DFACE entities in " + empty}, 1},
      {ref, missing, "", {"cannot read " + missing + ": No such file or directory"}, 0},
      {ref, quiet.path, "", {"cannot read " + quiet.path + ": it is a folder"}, 0},
      {ref, empty, "", {"no 3DFACE entities in " + empty}, 0},
      {ref, "", "", {"no target file was given"}, 0},
      {"NULL", tgt, "", {}, 1},
      {ref,
       tgt,
       "profiles",
       {"out of memory while profiles (target: 43 faces, 44 points, largest part 18 faces; "
        "reference: 43 faces, 44 points, largest part 18 faces): close other programs or split "
        "the model into smaller files; a huge turned part needs no profiles when it is aligned: "
        "tick \"Align turned parts\" (morvane-match --align)"},
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reference + " | " + c.target);
    StageRecorder recorder;
    recorder.starveAt = c.starveAt;
    const ExampleRun run = runExample(&recorder, c.reference, c.target);
    gfailAllocationAfter(0);
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(run.dialog.details, c.details);
  }
  releaseRunData();
}

// Cut down for saving, the run state writes the same file; the profiles and the points' face
// lists are gone.
TEST(RunProgress, TheStateKeptForSavingWritesTheSameFile) {
  SettingsRestore reset;
  useDefaultSettings(), textureRotation = 0;
  ScratchFolder folder;
  ASSERT_EQ(runExample(nullptr).result, 1);
  const MatchTally before = tallyMatches(referenceModel, targetModel);
  ASSERT_EQ(saveTargetDxf(folder.file("whole.dxf").c_str()), 1);
  keepOnlyWhatSavingNeeds();
  ASSERT_EQ(saveTargetDxf(folder.file("kept.dxf").c_str()), 1);
  EXPECT_EQ(readFileBytes(folder.file("kept.dxf")), readFileBytes(folder.file("whole.dxf")));
  const MatchTally after = tallyMatches(referenceModel, targetModel);
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
  for (const FaceModel* model : {referenceModel, targetModel}) {
    for (int f = 0; f < model->faceCount; ++f)
      EXPECT_EQ(model->faces[f].profile, nullptr);
    for (int p = 0; p < model->pointCount; ++p)
      EXPECT_EQ(model->points[p].faces, nullptr);
  }
  releaseRunData();
}
