#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/errorReport.h"
#include "app/programPath.h"
#include "match/matchingRun.h"
#include "output/dxfWriter.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"
#include "textfiles/settings.h"

namespace {

// Six outward quads of the box [x0, x0 + dx] x [y0, y0 + dy] x [z0, z0 + dz], on the layers
// prefix + bottom, top, south, east, north, west.
std::vector<DxfFace> boxFaces(const std::string& prefix, Vec3 o, Vec3 d) {
  auto p = [&](int i, int j, int k) { return Vec3{o.x + i * d.x, o.y + j * d.y, o.z + k * d.z}; };
  return {
      {prefix + "bottom", {p(0, 0, 0), p(0, 1, 0), p(1, 1, 0), p(1, 0, 0)}},
      {prefix + "top", {p(0, 0, 1), p(1, 0, 1), p(1, 1, 1), p(0, 1, 1)}},
      {prefix + "south", {p(0, 0, 0), p(1, 0, 0), p(1, 0, 1), p(0, 0, 1)}},
      {prefix + "east", {p(1, 0, 0), p(1, 1, 0), p(1, 1, 1), p(1, 0, 1)}},
      {prefix + "north", {p(1, 1, 0), p(0, 1, 0), p(0, 1, 1), p(1, 1, 1)}},
      {prefix + "west", {p(0, 1, 0), p(0, 0, 0), p(0, 0, 1), p(0, 1, 1)}},
  };
}

// A triangle fan: a four-sided pyramid over a square, tip above the centre.
std::vector<DxfFace> pyramidFaces(const std::string& prefix, Vec3 o) {
  Vec3 a{o.x, o.y, o.z}, b{o.x + 2, o.y, o.z}, c{o.x + 2, o.y + 2, o.z}, d{o.x, o.y + 2, o.z};
  Vec3 tip{o.x + 1, o.y + 1, o.z + 3};
  return {{prefix + "base", {a, d, c, b}},
          {prefix + "s", {a, b, tip}},
          {prefix + "e", {b, c, tip}},
          {prefix + "n", {c, d, tip}},
          {prefix + "w", {d, a, tip}}};
}

// The faces moved by `shift`, on layer `layer`, every second face started at its next corner.
std::vector<DxfFace> exported(std::vector<DxfFace> faces, Vec3 shift, const std::string& layer) {
  for (size_t i = 0; i < faces.size(); ++i) {
    for (Vec3& c : faces[i].corners)
      c = {c.x + shift.x, c.y + shift.y, c.z + shift.z};
    if (i % 2) {
      std::vector<Vec3>& c = faces[i].corners;
      c.push_back(c.front());
      c.erase(c.begin());
    }
    faces[i].layer = layer;
  }
  return faces;
}

std::vector<DxfFace> joined(std::vector<DxfFace> a, const std::vector<DxfFace>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<std::string> layersOf(const std::vector<DxfFace>& faces) {
  std::vector<std::string> layers;
  for (const DxfFace& f : faces)
    layers.push_back(f.layer);
  return layers;
}

void ignoreReport(const char*) {}

class MatchingRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setProgramDirectoryTo(folder.path.c_str());  // perr.txt of injected failures lands here
    setErrorPresenter(ignoreReport);
    useDefaultSettings();
    textureRotation = 0;
  }
  void TearDown() override {
    gfailAllocationAfter(0);
    releaseRunData();
    setErrorPresenter(nullptr);
    setProgramDirectory();
  }
  std::string write(const std::string& name, const std::vector<DxfFace>& faces,
                    const std::vector<std::string>& comments = {}) {
    std::string path = folder.file(name);
    writeFileBytes(path, dxfText(faces, comments));
    return path;
  }
  int run(const std::string& reference, const std::string& target) {
    return runMatching(&dialog.port, reference.c_str(), target.c_str());
  }
  // Layers of the file the writer makes from the run state.
  std::vector<std::string> writtenLayers() {
    std::string out = folder.file("out.dxf");
    EXPECT_EQ(saveTargetDxf(out.c_str()), 1);
    return dxfLayers(readFileBytes(out));
  }
  ScratchFolder folder;
  RecordingDialog dialog;
};

using Lines = std::vector<std::string>;

TEST_F(MatchingRunTest, ReferenceNamedAsNoneRunsWithoutMatching) {
  std::string target = write("t.dxf", boxFaces("own_", {0, 0, 0}, {2, 1, 1}));
  for (const char* none : {"", "NULL", "null", "No Use", "NO USE", "no use"}) {
    SCOPED_TRACE(none);
    EXPECT_EQ(run(none, target), 1);
    EXPECT_EQ(dialog.progress, (Lines{"Start...", "Done."}));
    EXPECT_EQ(referenceModel, nullptr);
    EXPECT_EQ(writtenLayers(), layersOf(boxFaces("own_", {0, 0, 0}, {2, 1, 1})));
  }
  // Only the whole name counts: these are paths of files that do not exist.
  for (const char* path : {"NULL ", "No Use.dxf", "nul"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(run(path, target), 1);
    EXPECT_EQ(dialog.progress[1], "Read Error : Reference DXF. continue...");
  }
}

TEST_F(MatchingRunTest, TargetThatCannotBeReadEndsTheRun) {
  std::string reference = write("r.dxf", boxFaces("r_", {0, 0, 0}, {2, 1, 1}));
  mkfifo(folder.file("fifo").c_str(), 0600);  // must not block the run
  const Lines readError{"Start...", "Read Error : Terget DXF", "Error Quit"};
  const Lines empty{"Start...", "Empty Data : Terget DXF", "Error Quit"};
  writeFileBytes(folder.file("empty.dxf"), "");
  writeFileBytes(folder.file("lines.dxf"),
                 "0\r\nSECTION\r\n2\r\nENTITIES\r\n0\r\nLINE\r\n0\r\nEOF\r\n");
  struct Case {
    std::string target;
    Lines lines;
  } cases[] = {
      {"", readError},
      {folder.file("missing.dxf"), readError},
      {folder.path, readError},
      {folder.file("fifo"), readError},
      {folder.file("empty.dxf"), empty},
      {folder.file("lines.dxf"), empty},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    EXPECT_EQ(run(reference, c.target), 0);
    EXPECT_EQ(dialog.progress, c.lines);
  }
}

TEST_F(MatchingRunTest, UnreadableReferenceIsReportedAndLeavesEveryFaceItsOwnLayer) {
  std::vector<DxfFace> faces = boxFaces("own_", {0, 0, 0}, {2, 1, 1});
  std::string target = write("t.dxf", faces);
  for (const std::string& reference : {folder.file("missing.dxf"), folder.path}) {
    SCOPED_TRACE(reference);
    EXPECT_EQ(run(reference, target), 1);
    EXPECT_EQ(dialog.progress, (Lines{"Start...", "Read Error : Reference DXF. continue...",
                                      "1 Parts / 6 Faces / 8 Points", "Done."}));
    EXPECT_EQ(writtenLayers(), layersOf(faces));
    EXPECT_EQ(tallyMatches(referenceModel, targetModel).unmatched, 6);
  }
}

TEST_F(MatchingRunTest, SameFileForBothGivesEveryFaceItsOwnLayerBack) {
  std::vector<DxfFace> faces =
      joined(boxFaces("box_", {0, 0, 0}, {3, 1, 1}), pyramidFaces("pyr_", {10, 0, 0}));
  faces.push_back({"lone", {{20, 0, 0}, {21, 0, 0}, {20, 1, 0}}});
  std::string file = write("same.dxf", faces);
  EXPECT_EQ(run(file, file), 1);
  EXPECT_EQ(dialog.progress, (Lines{"Start...", "3 Parts / 12 Faces / 16 Points", "Done."}));
  ASSERT_NE(targetModel, nullptr);
  EXPECT_EQ(targetModel->parts[0].coincidentPart, 0);
  EXPECT_EQ(targetModel->parts[1].coincidentPart, 1);
  EXPECT_EQ(targetModel->parts[2].coincidentPart, -1);  // a single face anchors nothing
  EXPECT_EQ(writtenLayers(), layersOf(faces));
  // The lone face's part is matched by size to its own reference part, and the face then
  // takes its coincident partner like every other face.
  EXPECT_EQ(tallyMatches(referenceModel, targetModel).coincident, 12);
}

TEST_F(MatchingRunTest, MovedPartsTakeTheLayersOfTheirReferenceFaces) {
  std::vector<DxfFace> box = boxFaces("box_", {0, 0, 0}, {4, 2, 1});
  std::vector<DxfFace> pyramid = pyramidFaces("pyr_", {10, 0, 0});
  std::string reference = write("r.dxf", joined(box, pyramid));
  // The target lists the pyramid first, moves both and starts some faces at other corners.
  std::vector<DxfFace> target =
      joined(exported(pyramid, {0, 7, 2}, "obj2"), exported(box, {-5, 5, 0}, "obj1"));
  std::string targetPath = write("t.dxf", target, {"made by the test", "second comment"});
  ASSERT_EQ(run(reference, targetPath), 1);
  EXPECT_EQ(dialog.progress, (Lines{"Start...", "2 Parts / 11 Faces / 13 Points", "Done."}));
  EXPECT_EQ(writtenLayers(), layersOf(joined(pyramid, box)));
  std::string written = readFileBytes(folder.file("out.dxf"));
  EXPECT_EQ(written.rfind("0\r\nSECTION\r\n2\r\nENTITIES\r\n999\r\nmade by the test\r\n999\r\n", 0),
            0u);
  MatchTally tally = tallyMatches(referenceModel, targetModel);
  EXPECT_EQ(tally.byTests, 11);
  EXPECT_EQ(tally.coincident + tally.byPropagation + tally.unmatched, 0);
}

TEST_F(MatchingRunTest, TallySeparatesCoincidenceTestsAndPropagation) {
  // Kept in place: coincident. Turned a quarter about its vertical axis and moved: the top and
  // bottom keep their normal and centre, the walls do not.
  std::vector<DxfFace> kept = boxFaces("k_", {0, 0, 0}, {1, 1, 1});
  std::vector<DxfFace> turned = boxFaces("t_", {10, 0, 0}, {4, 2, 1});
  std::string reference = write("r.dxf", joined(kept, turned));
  std::vector<DxfFace> target = exported(kept, {0, 0, 0}, "a");
  for (DxfFace face : turned) {
    for (Vec3& c : face.corners)
      c = {30 - c.y, c.x, c.z};  // (x, y) -> (-y, x), then moved
    face.layer = "b";
    target.push_back(face);
  }
  ASSERT_EQ(run(reference, write("t.dxf", target)), 1);
  MatchTally tally = tallyMatches(referenceModel, targetModel);
  EXPECT_EQ(tally.coincident, 6);
  EXPECT_EQ(tally.byTests, 2);
  EXPECT_EQ(tally.byPropagation, 4);
  EXPECT_EQ(tally.unmatched, 0);
  std::vector<std::string> layers = writtenLayers();
  ASSERT_EQ(layers.size(), 12u);
  EXPECT_EQ(layers[6], "t_bottom");
  EXPECT_EQ(layers[7], "t_top");
  for (int i = 8; i < 12; ++i)
    EXPECT_EQ(layers[i].rfind("t_", 0), 0u) << layers[i];
}

TEST_F(MatchingRunTest, EveryRunReleasesThePreviousRunState) {
  long before = gliveBlocks();
  std::string reference = write("r.dxf", boxFaces("r_", {0, 0, 0}, {2, 1, 1}));
  std::string target =
      write("t.dxf", exported(boxFaces("r_", {0, 0, 0}, {2, 1, 1}), {5, 0, 0}, "x"));
  ASSERT_EQ(run(reference, target), 1);
  EXPECT_NE(referenceModel, nullptr);
  EXPECT_EQ(run("", ""), 0);
  EXPECT_EQ(referenceModel, nullptr);
  EXPECT_EQ(targetModel, nullptr);
  EXPECT_EQ(commentList, nullptr);
  EXPECT_EQ(gliveBlocks(), before);
  // A failed run keeps what it built until the next run.
  writeFileBytes(folder.file("empty.dxf"), "");
  EXPECT_EQ(run(reference, folder.file("empty.dxf")), 0);
  EXPECT_NE(targetModel, nullptr);
  EXPECT_NE(referenceModel, nullptr);
  releaseRunData();
  EXPECT_EQ(gliveBlocks(), before);
}

// Awkward models run to their end: every face is written, with a layer.
TEST_F(MatchingRunTest, AwkwardModelsRunToTheEnd) {
  const double nan = std::nan("");
  std::vector<DxfFace> box = boxFaces("b_", {0, 0, 0}, {4, 2, 1});
  std::vector<DxfFace> twice = joined(box, {box[1]});  // the top given twice
  std::vector<DxfFace> degenerate = box;
  degenerate.push_back({"point", {{4, 2, 1}, {4, 2, 1}, {4, 2, 1}, {4, 2, 1}}});
  std::vector<DxfFace> notANumber = box;
  notANumber.push_back({"nan", {{4, 2, 1}, {nan, 0, 0}, {5, 3, 1}}});
  struct Case {
    const char* name;
    std::vector<DxfFace> reference;
    std::vector<DxfFace> target;
  } cases[] = {
      {"face given twice, moved", twice, exported(twice, {0, 9, 0}, "x")},
      {"face given twice, in place", twice, exported(twice, {0, 0, 0}, "x")},
      {"degenerate face, moved", degenerate, exported(degenerate, {7, 0, 0}, "x")},
      {"coordinate not a number", notANumber, exported(notANumber, {0, 9, 0}, "x")},
      {"reference without faces", {}, exported(box, {0, 9, 0}, "x")},
      {"single faces", {box[0], box[3]}, exported({box[3], box[0], box[5]}, {0, 9, 0}, "x")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string reference = write("r.dxf", c.reference);
    ASSERT_EQ(run(reference, write("t.dxf", c.target)), 1);
    EXPECT_EQ(dialog.progress.back(), "Done.");
    std::vector<std::string> layers = writtenLayers();
    EXPECT_EQ(layers.size(), c.target.size());
    for (const std::string& layer : layers)
      EXPECT_FALSE(layer.empty());
    MatchTally tally = tallyMatches(referenceModel, targetModel);
    EXPECT_EQ(tally.coincident + tally.byTests + tally.byPropagation + tally.unmatched,
              targetModel->faceCount);
  }
}

// Every allocation of a whole run fails once in turn. A failure in loading or reading the
// reference lets the run go on without it; a stage that can do without the memory (part
// matching counts by scanning instead) must give the undisturbed run's results; any other
// failure ends the run with "Error Quit". Nothing leaks and nothing crashes.
TEST_F(MatchingRunTest, AllocationFailureAnywhereEndsTheRunCleanly) {
  std::vector<DxfFace> kept = boxFaces("k_", {0, 0, 0}, {1, 1, 1});
  std::vector<DxfFace> turned = boxFaces("t_", {10, 0, 0}, {4, 2, 1});
  std::string reference = write("r.dxf", joined(kept, turned));
  std::vector<DxfFace> target = exported(kept, {0, 0, 0}, "a");
  for (DxfFace face : turned) {
    for (Vec3& c : face.corners)
      c = {30 - c.y, c.x, c.z};
    target.push_back(face);
  }
  std::string targetPath = write("t.dxf", target, {"note"});
  long before = gliveBlocks();
  ASSERT_EQ(run(reference, targetPath), 1);
  const Lines undisturbed = dialog.progress;
  const Lines undisturbedLayers = writtenLayers();
  releaseRunData();
  int completed = 0;
  for (long k = 1; k < 100000 && !completed; ++k) {
    long start = gallocationCount();
    gfailAllocationAfter(k);
    int result = run(reference, targetPath);
    bool failed = gallocationCount() - start >= k;
    gfailAllocationAfter(0);
    SCOPED_TRACE("allocation " + std::to_string(k));
    ASSERT_GE(dialog.progress.size(), 2u);
    if (result == 0) {
      EXPECT_TRUE(failed);
      EXPECT_EQ(dialog.progress.back(), "Error Quit");
    } else if (dialog.progress[1] == "Syntax Error : Reference DXF. continue...") {
      EXPECT_TRUE(failed);
      EXPECT_EQ(referenceModel, nullptr);
      EXPECT_EQ(dialog.progress.back(), "Done.");
    } else {
      EXPECT_EQ(dialog.progress, undisturbed);
      EXPECT_EQ(writtenLayers(), undisturbedLayers);
      completed = !failed;
    }
    releaseRunData();
    ASSERT_EQ(gliveBlocks(), before);
  }
  EXPECT_EQ(completed, 1);
}

}  // namespace
