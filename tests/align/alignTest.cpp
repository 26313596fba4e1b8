// Part alignment: generated pairs whose parts are turned, mirrored, rescaled, split or copied,
// run with and without the option; the least-squares fit; broken and awkward input.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "align/alignParts.h"
#include "align/similarity.h"
#include "app/programPath.h"
#include "bench/modelGenerator.h"
#include "match/matchingRun.h"
#include "support/testSupport.h"
#include "textfiles/settings.h"

namespace {

struct RunResult {
  bool ok = false;
  std::vector<std::string> progress;
  long right = 0, guessedWrong = 0, faces = 0;
  MatchTally tally{};
};

// Writes the pair, runs it (aligning or not) and scores the layers against the truth.
RunResult runPair(const benchgen::GeneratedPair& pair, bool align) {
  ScratchFolder folder;
  RecordingDialog dialog;
  setProgramDirectoryTo(folder.path.c_str());
  useDefaultSettings();
  textureRotation = 0;
  EXPECT_TRUE(benchgen::writeReferenceDxf(pair, folder.file("r.dxf")));
  EXPECT_TRUE(benchgen::writeTargetDxf(pair, folder.file("t.dxf")));
  RunOptions options{};
  options.alignParts = align ? 1 : 0;
  RunResult result;
  result.ok = runMatchingWith(&dialog.port, folder.file("r.dxf").c_str(),
                              folder.file("t.dxf").c_str(), &options) == 1;
  result.progress = dialog.progress;
  if (!result.ok) return result;
  result.faces = targetModel->faceCount;
  for (int32_t i = 0; i < targetModel->faceCount; ++i) {
    const ModelFace& face = targetModel->faces[i];
    const char* layer = face.matchedFace >= 0 ? faceLayer(referenceModel->faces[face.matchedFace])
                                              : faceLayer(face);
    bool right = pair.layers[pair.faces[pair.targetOrder[i]].layer] == layer;
    result.right += right;
    result.guessedWrong += !right && face.alignedMatch == kGuessedFace;
  }
  result.tally = tallyMatches(referenceModel, targetModel);
  releaseRunData();
  return result;
}

benchgen::GeneratorOptions smallPair() {
  return {.faces = 2400,
          .minPartFaces = 150,
          .maxPartFaces = 500,
          .movement = benchgen::Movement::none,
          .turn = false};
}

TEST(PartAlignment, EveryFaceNotCountedAsAGuessGetsItsLayer) {
  using benchgen::Movement;
  using Change = void (*)(benchgen::GeneratorOptions&);
  // noGuesses: one motion (or none) decides every part. When every part is turned alike, the
  // turn the other parts share settles the symmetric ones.
  const std::tuple<const char*, bool, Change> cases[] = {
      {"whole model turned once, copies", true, [](auto& o) { o.swapAxes = true, o.copies = 2; }},
      {"scaled and turned", true, [](auto& o) { o.scale = 0.1, o.swapAxes = true; }},
      {"quads split, nothing moved", true, [](auto& o) { o.splitShare = 0.3; }},
      {"parts turned any way, mirrored, wound back", false,
       [](auto& o) {
         o.movement = Movement::all, o.anyAngle = o.mirror = o.reverseWinding = true;
       }},
      {"split, moved and turned alike", true,
       [](auto& o) { o.movement = Movement::all, o.turn = true, o.splitShare = 0.3; }},
      {"assemblies and copies", false,
       [](auto& o) { o.movement = Movement::all, o.anyAngle = true, o.assemblies = o.copies = 2; }},
  };
  for (const auto& [name, noGuesses, change] : cases) {
    SCOPED_TRACE(name);
    benchgen::GeneratorOptions options = smallPair();
    change(options);
    benchgen::GeneratedPair pair = benchgen::generatePair(options);
    RunResult aligned = runPair(pair, true), plain = runPair(pair, false);
    ASSERT_TRUE(aligned.ok && plain.ok);
    const MatchTally& t = aligned.tally;
    EXPECT_EQ(aligned.right + aligned.guessedWrong, aligned.faces);
    EXPECT_TRUE(t.aligned > 0 && (!noGuesses || t.guesses == 0)) << t.aligned << " " << t.guesses;
    EXPECT_EQ(t.coincident + t.aligned + t.byTests + t.byPropagation + t.unmatched, aligned.faces);
    EXPECT_GE(aligned.right, plain.right);
    EXPECT_EQ(plain.tally.aligned + plain.tally.guesses, 0);
  }
}

TEST(PartAlignment, OnlyTheOptionAddsItsProgressLine) {
  benchgen::GeneratorOptions options = smallPair();
  options.movement = benchgen::Movement::some, options.turn = true;
  benchgen::GeneratedPair pair = benchgen::generatePair(options);
  RunResult plain = runPair(pair, false), aligned = runPair(pair, true);
  ASSERT_TRUE(plain.ok && aligned.ok);
  std::vector<std::string> withoutAlign;
  for (const std::string& line : aligned.progress)
    if (!line.starts_with("Align: ")) withoutAlign.push_back(line);
  EXPECT_TRUE(withoutAlign == plain.progress &&
              aligned.progress.size() == plain.progress.size() + 1);
}

TEST(PartAlignment, FitRecoversTurnsMirrorsAndScales) {
  const Vec3 points[5] = {{0, 0, 0}, {1, 0, 0}, {0, 2, 0}, {0, 0, 3}, {1, 1, 1}};
  const double c = std::cos(0.7), s = std::sin(0.7);
  const std::pair<Similarity, bool> cases[] = {
      // the motion, whether it mirrors
      {{{c, -s, 0, s, c, 0, 0, 0, 1}, 2.5, {}, {5, -7, 1e4}}, false},
      {{{-1, 0, 0, 0, 1, 0, 0, 0, 1}, 0.1, {}, {5, -7, 1e4}}, true},
      {{{0, 0, 1, 1, 0, 0, 0, 1, 0}, 1.0, {}, {5, -7, 1e4}}, false}};
  for (const auto& [truth, mirror] : cases) {
    Vec3 moved[5];
    for (int i = 0; i < 5; ++i)
      moved[i] = applySimilarity(truth, points[i]);
    Similarity fitted{};
    ASSERT_TRUE(fitSimilarity(points, moved, 5, mirror, &fitted));
    EXPECT_EQ(isMirroring(fitted), mirror);
    for (int i = 0; i < 5; ++i)
      EXPECT_LT(distance(applySimilarity(fitted, points[i]), moved[i]), 1e-9);
    EXPECT_FALSE(fitSimilarity(points, moved, 5, !mirror, &fitted) &&
                 distance(applySimilarity(fitted, points[4]), moved[4]) < 1e-6);
  }
}

TEST(PartAlignment, BrokenAndAwkwardModelsFallBack) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  auto square = [](const std::string& layer, double x) {
    return DxfFace{layer, {{x, 0, 0}, {x + 1, 0, 0}, {x + 1, 1, 0}, {x, 1, 0}}};
  };
  std::vector<DxfFace> bolts;  // many copies of a 1 x 2 x 3 box, each on its layer "B<copy>"
  for (int i = 0; i < 300; ++i) {
    auto v = [&](char digit) {  // corners 0-3 round the bottom, 4-7 above them
      const int k = digit - '0';
      return Vec3{3.0 * i + (k % 4 == 1 || k % 4 == 2), k % 4 >= 2 ? 2.0 : 0, k >= 4 ? 3.0 : 0};
    };
    for (const char* f : {"0321", "4567", "0154", "1265", "2376", "3047"})
      bolts.push_back({"B" + std::to_string(i), {v(f[0]), v(f[1]), v(f[2]), v(f[3])}});
  }
  std::vector<DxfFace> turnedBolts = bolts;
  for (DxfFace& face : turnedBolts)
    for (Vec3& p : face.corners)
      p = {-p.y, p.x, p.z + 50};
  std::vector<DxfFace> turnedInPlace = bolts;  // each copy turned about its own corner
  for (size_t f = 0; f < turnedInPlace.size(); ++f)
    for (Vec3& p : turnedInPlace[f].corners)
      p = {3.0 * double(f / 6) - p.y, p.x - 3.0 * double(f / 6), p.z + 50};
  struct Case {
    const char* name;
    std::vector<DxfFace> reference, target;
    int expectAligned;  // -1: any
  };
  const Case cases[] = {
      {"on a line",
       {{"L", {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}}},
       {{"t", {{5, 5, 5}, {7, 5, 5}, {6, 5, 5}}}},
       0},
      {"one face", {square("A", 0)}, {square("t", 9)}, -1},
      {"NaN and huge",
       {square("A", 0), square("B", 1e300)},
       {{"t", {{nan, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}}, square("u", 1e300)},
       -1},
      {"no reference faces", {}, {square("t", 0)}, 0},
      {"three hundred copies of one bolt", bolts, turnedBolts, 1800},
      {"three hundred copies, each turned in its place", bolts, turnedInPlace, 1800},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder folder;
    setProgramDirectoryTo(folder.path.c_str());
    useDefaultSettings();
    writeFileBytes(folder.file("r.dxf"), dxfText(c.reference));
    writeFileBytes(folder.file("t.dxf"), dxfText(c.target));
    RunOptions options{.alignParts = 1, .keepTarget = 0, .progress = nullptr};
    ASSERT_EQ(runMatchingWith(nullptr, folder.file("r.dxf").c_str(), folder.file("t.dxf").c_str(),
                              &options),
              1);
    MatchTally tally = tallyMatches(referenceModel, targetModel);
    EXPECT_TRUE(c.expectAligned < 0 || tally.aligned == c.expectAligned) << tally.aligned;
    // every copy takes the layer of the copy in its place (the set turned as one, or each copy
    // turned alike where it stands), with no guess
    EXPECT_TRUE(c.expectAligned <= 0 || tally.guesses == 0) << tally.guesses;
    for (int32_t i = 0; c.expectAligned > 0 && i < targetModel->faceCount; ++i) {
      const ModelFace& face = targetModel->faces[i];
      ASSERT_GE(face.matchedFace, 0);
      EXPECT_EQ(faceLayer(referenceModel->faces[face.matchedFace]), "B" + std::to_string(i / 6));
    }
    releaseRunData();
  }
}

// The check box's bit lives in the number that starts settings line 1; the rest stays.
TEST(AlignOption, SwitchWordBitRewritesTheFirstSettingsLine) {
  // The line, the box's state, the line then, whether the settings are to be saved.
  const std::tuple<const char*, bool, const char*, bool> cases[] = {
      {"1 ;sw;bit 1", true, "5 ;sw;bit 1", true},
      {"  7;x", false, "  3;x", true},
      {"sw", true, "4 sw", true},
      {"6 ;", true, "6 ;", false}};
  for (const auto& [line, on, written, marked] : cases) {
    SCOPED_TRACE(line);
    LineListPtr lines = testLines({line, "0.25"});
    settingsLines = lines.get(), saveSettingsOnExit = false, matchSettings = MatchSettings{};
    parseSettings(lines.get());
    setAlignParts(on);
    EXPECT_TRUE(linesOf(lines.get())[0] == written && saveSettingsOnExit == marked &&
                ((matchSettings.sw & kSwitchAlignParts) != 0) == on)
        << linesOf(lines.get())[0];
    settingsLines = nullptr;
  }
}

}  // namespace
