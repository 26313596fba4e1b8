// Memory exhaustion. Every allocation fails once in turn, until one pass needs no more
// allocations than were counted: over the batch tool's whole sequence in one process (the
// settings file loaded and parsed, the run, the result saved over an existing file), and over
// the influence profiles of a part large enough to be spread on two threads.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "app/errorReport.h"
#include "app/programPath.h"
#include "compare/influenceProfile.h"
#include "hardening/hardeningSupport.h"
#include "match/matchingRun.h"
#include "model/faceModel.h"
#include "output/dxfWriter.h"
#include "textfiles/allocator.h"
#include "textfiles/scopedBlocks.h"
#include "textfiles/settings.h"

namespace {

using Lines = std::vector<std::string>;

std::mutex reportsMutex;
Lines reports;

void recordReport(const char* message) {
  std::lock_guard<std::mutex> lock(reportsMutex);
  reports.emplace_back(message);
}

struct Outcome {
  bool settingsRead = false;
  int result = 0;
  int saved = 0;
};

class BatchSequenceExhaustion : public ::testing::Test {
 protected:
  void SetUp() override {
    setProgramDirectoryTo(folder.path.c_str());
    setErrorPresenter(recordReport);
    settingsPath = folder.file("param.txt");
    writeFileBytes(settingsPath, defaultSettingsText());
    // A small surface part and a box, both turned and moved in the target, so that their
    // faces need the profiles and the propagation.
    std::vector<DxfFace> surface = surfaceFaces(randomSurface(11, 3, 2, {0, 0, 0}), "row");
    std::vector<DxfFace> box = boxFaces("box_", {30, 0, 0}, {2, 1, 3});
    reference = folder.file("reference.dxf");
    target = folder.file("target.dxf");
    output = folder.file("output.dxf");
    writeFileBytes(reference, dxfText(surface + box));
    writeFileBytes(
        target, dxfText(turnedFaces(surface, {100, 5, 1}, "t") + turnedFaces(box, {0, 60, 0}, "t"),
                        {"comment kept"}));
  }
  void TearDown() override {
    gfailAllocationAfter(0);
    releaseRunData();
    setErrorPresenter(nullptr);
    setProgramDirectory();
  }
  // The batch tool's steps, as cli/ takes them.
  Outcome sequence() {
    Outcome o;
    int status = kLoadNotOpened;
    OwnedLineList lines(loadLineListAs(settingsPath.c_str(), LineSplit::dropEmpty, &status));
    if (status != kLoadRead || !lines) return o;
    o.settingsRead = true;
    parseSettings(lines.get());
    textureRotation = 0;
    o.result = runMatching(&dialog.port, reference.c_str(), target.c_str());
    if (o.result) o.saved = saveTargetDxf(output.c_str());
    return o;
  }
  MemoryFolder folder;
  RecordingDialog dialog;
  std::string settingsPath, reference, target, output;
};

TEST_F(BatchSequenceExhaustion, EveryAllocationFailingInTurnEndsCleanlyAndSaysWhich) {
  long before = gliveBlocks();
  Outcome whole = sequence();
  ASSERT_EQ(whole.result, 1);
  ASSERT_EQ(whole.saved, 1);
  MatchTally tally = tallyMatches(referenceModel, targetModel);
  ASSERT_GT(tally.byPropagation, 0) << "the sweep must reach the profiles";
  const Lines undisturbed = dialog.progress;
  const std::string undisturbedOutput = readFileBytes(output);
  releaseRunData();
  ASSERT_EQ(gliveBlocks(), before);
  const Lines files = {"output.dxf", "param.txt", "perr.txt", "reference.dxf", "target.dxf"};

  bool completed = false;
  int endedByError = 0, referenceLost = 0, saveFailed = 0;
  for (long k = 1; k < 200000 && !completed; ++k) {
    SCOPED_TRACE("allocation " + std::to_string(k));
    writeFileBytes(output, "keep me");
    reports.clear();
    dialog.progress.clear();
    long start = gallocationCount();
    gfailAllocationAfter(k);
    Outcome o = sequence();
    bool failed = gallocationCount() - start >= k;
    gfailAllocationAfter(0);

    if (!failed) {
      completed = true;
      EXPECT_EQ(dialog.progress, undisturbed);
      EXPECT_EQ(o.saved, 1);
      EXPECT_EQ(readFileBytes(output), undisturbedOutput);
    } else {
      // The entry that failed said its name, on the presenter and in perr.txt.
      ASSERT_FALSE(reports.empty());
      for (const std::string& r : reports) {
        EXPECT_TRUE(r == "gcalloc" || r == "gmalloc" || r == "gcrealloc") << r;
      }
      EXPECT_EQ(readFileBytes(folder.file("perr.txt")), reports.back() + "\r\n");
      if (!o.settingsRead) {
        EXPECT_TRUE(dialog.progress.empty());  // the tool stops before the run
      } else if (o.result == 0) {
        ++endedByError;
        ASSERT_FALSE(dialog.progress.empty());
        EXPECT_EQ(dialog.progress.back(), "Error Quit");
      } else if (dialog.progress[1] == "Syntax Error : Reference DXF. continue...") {
        ++referenceLost;
        EXPECT_EQ(dialog.progress.back(), "Done.");
        if (o.saved) {  // without a reference every face keeps its own layer
          for (const std::string& layer : dxfLayers(readFileBytes(output)))
            EXPECT_EQ(layer, "t");
        }
      } else {
        EXPECT_EQ(dialog.progress, undisturbed);  // a stage that could do without it
        if (o.saved) {
          EXPECT_EQ(readFileBytes(output), undisturbedOutput);
        } else {
          ++saveFailed;
        }
      }
      if (!o.saved) {
        EXPECT_EQ(readFileBytes(output), "keep me");  // a failed save changes nothing there
      }
      EXPECT_EQ(folderEntries(folder.path), files);  // and leaves no temporary file
    }
    releaseRunData();
    ASSERT_EQ(gliveBlocks(), before);
  }
  EXPECT_TRUE(completed);
  EXPECT_GT(endedByError, 0);
  EXPECT_GT(referenceLost, 0);
  EXPECT_GT(saveFailed, 0);
}

// The profiles of one part of about 150 faces, spread on two threads: a failed computation
// leaves no influence or profile array and the part marked as not computed, and a later one
// gives the very values of an undisturbed computation.
TEST(ProfileThreadsExhaustion, FailedComputationLeavesThePartAsItWas) {
  MemoryFolder folder;
  setProgramDirectoryTo(folder.path.c_str());
  setErrorPresenter(recordReport);
  setProfileThreadCount(2);
  ModelPtr model = buildSurfaceModel(randomSurface(5, 10, 10, {0, 0, 0}));
  ASSERT_TRUE(model);
  ASSERT_EQ(model->partCount, 1);
  ASSERT_GE(model->faceCount, 140);
  const int n = model->faceCount;
  ASSERT_EQ(computePartProfiles(model.get(), 0), 1);
  std::vector<double> expected;
  for (int f = 0; f < n; ++f) {
    const ModelFace& face = model->faces[f];
    expected.insert(expected.end(), face.profile, face.profile + kProfileSamples);
    expected.insert(expected.end(), face.influence, face.influence + n);
  }
  auto reset = [&] {
    for (int f = 0; f < n; ++f) {
      gfree(model->faces[f].influence);
      gfree(model->faces[f].profile);
      model->faces[f].influence = model->faces[f].profile = nullptr;
    }
    model->parts[0].flags = 0;
  };
  reset();
  long before = gliveBlocks();
  bool completed = false;
  for (long k = 1; k < 100000 && !completed; ++k) {
    SCOPED_TRACE("allocation " + std::to_string(k));
    reports.clear();
    long start = gallocationCount();
    gfailAllocationAfter(k);
    int result = computePartProfiles(model.get(), 0);
    completed = gallocationCount() - start < k;
    gfailAllocationAfter(0);
    if (completed) {
      ASSERT_EQ(result, 1);
      std::vector<double> got;
      for (int f = 0; f < n; ++f) {
        const ModelFace& face = model->faces[f];
        got.insert(got.end(), face.profile, face.profile + kProfileSamples);
        got.insert(got.end(), face.influence, face.influence + n);
      }
      EXPECT_EQ(got, expected);
    } else {
      ASSERT_EQ(result, 0);
      ASSERT_EQ(reports.size(), 1u);
      EXPECT_TRUE(reports[0] == "gcalloc" || reports[0] == "gmalloc") << reports[0];
      EXPECT_EQ(model->parts[0].flags & 1, 0);
      for (int f = 0; f < n; ++f) {
        EXPECT_EQ(model->faces[f].influence, nullptr);
        EXPECT_EQ(model->faces[f].profile, nullptr);
      }
      EXPECT_EQ(gliveBlocks(), before);
    }
    reset();
  }
  EXPECT_TRUE(completed);
  setProfileThreadCount(0);
  setErrorPresenter(nullptr);
  setProgramDirectory();
}

}  // namespace
