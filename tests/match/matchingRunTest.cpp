// Whole matching runs on small models written as DXF files: the progress lines, the run state,
// the layers written, the tally, awkward models, and every allocation failing in turn.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
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

using Lines = std::vector<std::string>;
using Faces = std::vector<DxfFace>;

// Six outward quads of the box [o, o + d], on the layers prefix + bottom, top, south, east,
// north, west.
Faces boxFaces(const std::string& prefix, Vec3 o, Vec3 d) {
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

// The faces moved by `shift` (after turning a quarter about the vertical axis when `turn`), on
// layer `layer`, every second face started at its next corner.
Faces exported(Faces faces, Vec3 shift, const std::string& layer, bool turn = false) {
  for (size_t i = 0; i < faces.size(); ++i) {
    for (Vec3& c : faces[i].corners)
      c = {(turn ? -c.y : c.x) + shift.x, (turn ? c.x : c.y) + shift.y, c.z + shift.z};
    if (i % 2)
      std::rotate(faces[i].corners.begin(), faces[i].corners.begin() + 1, faces[i].corners.end());
    faces[i].layer = layer;
  }
  return faces;
}

Faces operator+(Faces a, const Faces& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Lines layersOf(const Faces& faces) {
  Lines layers;
  for (const DxfFace& f : faces)
    layers.push_back(f.layer);
  return layers;
}

std::array<int, 4> tally() {
  MatchTally t = tallyMatches(referenceModel, targetModel);
  return {t.coincident, t.byTests, t.byPropagation, t.unmatched};
}

// A box kept in place and a box turned a quarter and moved: its top and bottom keep their
// normal and centre, its walls do not.
const Faces kKept = boxFaces("k_", {0, 0, 0}, {1, 1, 1}),
            kTurned = boxFaces("t_", {10, 0, 0}, {4, 2, 1});
const Faces kKeptAndTurned = exported(kKept, {}, "a") + exported(kTurned, {30, 0, 0}, "b", true);

class MatchingRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setProgramDirectoryTo(folder.path.c_str());  // perr.txt of injected failures lands here
    setErrorPresenter([](const char*) {});
    useDefaultSettings();
    textureRotation = 0;
  }
  void TearDown() override {
    gfailAllocationAfter(0);
    releaseRunData();
    setErrorPresenter(nullptr);
    setProgramDirectory();
  }
  std::string write(const std::string& name, const Faces& faces, const Lines& comments = {}) {
    writeFileBytes(folder.file(name), dxfText(faces, comments));
    return folder.file(name);
  }
  int run(const std::string& reference, const std::string& target) {
    return runMatching(&dialog.port, reference.c_str(), target.c_str());
  }
  // Layers of the file the writer makes from the run state.
  Lines writtenLayers() {
    EXPECT_EQ(saveTargetDxf(folder.file("out.dxf").c_str()), 1);
    return dxfLayers(readFileBytes(folder.file("out.dxf")));
  }
  ScratchFolder folder;
  RecordingDialog dialog;
};

// Each run also releases what the run before it left.
TEST_F(MatchingRunTest, ReferenceNamedAsNoneOrUnreadableLeavesEveryFaceItsOwnLayer) {
  long before = gliveBlocks();
  Faces faces = boxFaces("own_", {0, 0, 0}, {2, 1, 1});
  std::string target = write("t.dxf", faces);
  // Only the whole name means none: "NULL ", "No Use.dxf" and "nul" are missing files.
  const Lines names[2] = {{"", "NULL", "null", "No Use", "NO USE", "no use"},
                          {"NULL ", "No Use.dxf", "nul", folder.file("missing.dxf"), folder.path}};
  const Lines lines[2] = {{"Start...", "Done."},
                          {"Start...", "Read Error : Reference DXF. continue...",
                           "1 Parts / 6 Faces / 8 Points", "Done."}};
  for (int unreadable = 0; unreadable < 2; ++unreadable) {
    for (const std::string& reference : names[unreadable]) {
      SCOPED_TRACE(reference);
      EXPECT_EQ(run(reference, target), 1);
      EXPECT_EQ(dialog.progress, lines[unreadable]);
      EXPECT_EQ(referenceModel != nullptr, unreadable);
      EXPECT_EQ(writtenLayers(), layersOf(faces));
      EXPECT_EQ(tally(), (std::array<int, 4>{0, 0, 0, 6}));
    }
  }
  EXPECT_EQ(run("", ""), 0);
  EXPECT_EQ(referenceModel, nullptr);
  EXPECT_EQ(targetModel, nullptr);
  EXPECT_EQ(commentList, nullptr);
  EXPECT_EQ(gliveBlocks(), before);
}

TEST_F(MatchingRunTest, TargetThatCannotBeReadEndsTheRun) {
  std::string reference = write("r.dxf", boxFaces("r_", {0, 0, 0}, {2, 1, 1}));
  mkfifo(folder.file("fifo").c_str(), 0600);  // must not block the run
  writeFileBytes(folder.file("empty.dxf"), "");
  writeFileBytes(folder.file("lines.dxf"),
                 "0\r\nSECTION\r\n2\r\nENTITIES\r\n0\r\nLINE\r\n0\r\nEOF\r\n");
  const Lines targets[2] = {{"", folder.file("missing.dxf"), folder.path, folder.file("fifo")},
                            {folder.file("empty.dxf"), folder.file("lines.dxf")}};
  const Lines lines[2] = {{"Start...", "Read Error : Terget DXF", "Error Quit"},
                          {"Start...", "Empty Data : Terget DXF", "Error Quit"}};
  for (int empty = 0; empty < 2; ++empty) {
    for (const std::string& target : targets[empty]) {
      SCOPED_TRACE(target);
      EXPECT_EQ(run(reference, target), 0);
      EXPECT_EQ(dialog.progress, lines[empty]);
    }
  }
}

TEST_F(MatchingRunTest, MatchedFacesTakeTheLayersOfTheirReferenceFaces) {
  Faces box = boxFaces("box_", {0, 0, 0}, {4, 2, 1}),
        slab = boxFaces("slab_", {10, 0, 0}, {3, 3, 1});
  Faces same = boxFaces("b_", {0, 0, 0}, {3, 1, 1}) + slab;
  same.push_back({"lone", {{20, 0, 0}, {21, 0, 0}, {20, 1, 0}}});
  Lines turnedLayers = layersOf(kKept + kTurned);
  for (int wall = 8; wall < 12; ++wall)
    turnedLayers[wall] = "t_";  // any wall: half a turn gives the same box
  struct Case {
    const char* name;
    Faces reference, target;
    const char* counts;
    Lines layers;
    std::array<int, 4> tally;  // coincident, by tests, by propagation, unmatched
  };
  // clang-format off
  const Case cases[] = {
      // The lone face anchors no part, but its part is matched by size to its own reference.
      {"same faces", same, same, "3 Parts / 13 Faces / 19 Points", layersOf(same), {13, 0, 0, 0}},
      {"parts moved and listed the other way", box + slab,
       exported(slab, {0, 7, 2}, "obj2") + exported(box, {-5, 5, 0}, "obj1"),
       "2 Parts / 12 Faces / 16 Points", layersOf(slab + box), {0, 12, 0, 0}},
      {"one part kept, one turned", kKept + kTurned, kKeptAndTurned,
       "2 Parts / 12 Faces / 16 Points", turnedLayers, {6, 2, 4, 0}}};
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string target = write("t.dxf", c.target, {"made by the test", "2"});
    ASSERT_EQ(run(write("r.dxf", c.reference), target), 1);
    EXPECT_EQ(dialog.progress, (Lines{"Start...", c.counts, "Done."}));
    EXPECT_EQ(tally(), c.tally);
    Lines layers = writtenLayers();
    ASSERT_EQ(layers.size(), c.layers.size());
    for (size_t i = 0; i < layers.size(); ++i)
      EXPECT_EQ(c.layers[i] == "t_" ? layers[i].substr(0, 2) : layers[i], c.layers[i]);
    std::string head = "0\r\nSECTION\r\n2\r\nENTITIES\r\n999\r\nmade by the test\r\n999\r\n2\r\n";
    EXPECT_EQ(readFileBytes(folder.file("out.dxf")).rfind(head, 0), 0u);
  }
}

TEST_F(MatchingRunTest, AwkwardModelsRunToTheEndWithEveryFaceWritten) {
  Faces box = boxFaces("b_", {0, 0, 0}, {4, 2, 1});
  Faces twice = box + Faces{box[1]};  // the top given twice
  Faces degenerate = box + Faces{{"point", {{4, 2, 1}, {4, 2, 1}, {4, 2, 1}, {4, 2, 1}}}};
  Faces notANumber = box + Faces{{"nan", {{4, 2, 1}, {std::nan(""), 0, 0}, {5, 3, 1}}}};
  const std::pair<Faces, Faces> cases[] = {
      {twice, exported(twice, {0, 9, 0}, "x")},
      {twice, exported(twice, {0, 0, 0}, "x")},
      {degenerate, exported(degenerate, {7, 0, 0}, "x")},
      {notANumber, exported(notANumber, {0, 9, 0}, "x")},
      {{}, exported(box, {0, 9, 0}, "x")},  // a reference without faces
      {{box[0], box[3]}, exported({box[3], box[0], box[5]}, {0, 9, 0}, "x")},  // single faces
  };
  int row = 0;
  for (const auto& [reference, target] : cases) {
    SCOPED_TRACE(row++);
    ASSERT_EQ(run(write("r.dxf", reference), write("t.dxf", target)), 1);
    EXPECT_EQ(dialog.progress.back(), "Done.");
    Lines layers = writtenLayers();
    EXPECT_EQ(layers.size(), target.size());
    for (const std::string& layer : layers)
      EXPECT_FALSE(layer.empty());
    std::array<int, 4> t = tally();
    EXPECT_EQ(t[0] + t[1] + t[2] + t[3], targetModel->faceCount);
  }
}

// Every allocation of a whole run fails once in turn. A failure in loading or reading the
// reference lets the run go on without it; a stage that can do without the memory (part
// matching counts by scanning instead) must give the undisturbed run's results; any other
// failure ends the run with "Error Quit". Nothing leaks and nothing crashes.
TEST_F(MatchingRunTest, AllocationFailureAnywhereEndsTheRunCleanly) {
  std::string reference = write("r.dxf", kKept + kTurned);
  std::string target = write("t.dxf", kKeptAndTurned, {"note"});
  long before = gliveBlocks();
  ASSERT_EQ(run(reference, target), 1);
  const Lines undisturbed = dialog.progress, undisturbedLayers = writtenLayers();
  const std::array<int, 4> undisturbedTally = tally();
  releaseRunData();
  int completed = 0;
  for (long k = 1; k < 100000 && !completed; ++k) {
    SCOPED_TRACE("allocation " + std::to_string(k));
    long start = gallocationCount();
    gfailAllocationAfter(k);
    int result = run(reference, target);
    bool failed = gallocationCount() - start >= k;
    gfailAllocationAfter(0);
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
      EXPECT_EQ(tally(), undisturbedTally);
      completed = !failed;
    }
    releaseRunData();
    ASSERT_EQ(gliveBlocks(), before);
  }
  EXPECT_EQ(completed, 1);
}

}  // namespace
