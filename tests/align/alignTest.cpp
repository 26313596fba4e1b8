// Part alignment: generated pairs whose parts are turned, mirrored, rescaled, split or copied,
// run with and without the option; the least-squares fit; broken and awkward input.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>
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
  benchgen::GeneratorOptions o;
  o.faces = 2400;
  o.minPartFaces = 150;
  o.maxPartFaces = 500;
  o.turn = false;
  o.movement = benchgen::Movement::none;
  return o;
}

TEST(PartAlignment, EveryFaceNotCountedAsAGuessGetsItsLayer) {
  using benchgen::Movement;
  struct Case {
    const char* name;
    void (*change)(benchgen::GeneratorOptions&);
    bool noGuesses;  // one motion (or none) decides every part
  };
  const Case cases[] = {
      {"whole model turned once, copies",
       [](auto& o) {
         o.swapAxes = true;
         o.copies = 2;
       },
       true},
      {"scaled and turned", [](auto& o) { o.scale = 0.1, o.swapAxes = true; }, true},
      {"quads split, nothing moved", [](auto& o) { o.splitShare = 0.3; }, true},
      {"parts turned any way, mirrored, wound back",
       [](auto& o) {
         o.movement = Movement::all, o.anyAngle = true, o.mirror = true;
         o.reverseWinding = true;
       },
       false},
      // Every part turned alike: the turn the other parts share settles the symmetric ones.
      {"split, moved and turned alike",
       [](auto& o) { o.movement = Movement::all, o.turn = true, o.splitShare = 0.3; }, true},
      {"assemblies and copies",
       [](auto& o) {
         o.movement = Movement::all, o.anyAngle = true, o.assemblies = 2, o.copies = 2;
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    benchgen::GeneratorOptions options = smallPair();
    c.change(options);
    benchgen::GeneratedPair pair = benchgen::generatePair(options);
    RunResult aligned = runPair(pair, true);
    ASSERT_TRUE(aligned.ok);
    EXPECT_EQ(aligned.right + aligned.guessedWrong, aligned.faces);
    EXPECT_GT(aligned.tally.aligned, 0);
    if (c.noGuesses) {
      EXPECT_EQ(aligned.tally.guesses, 0);
    }
    EXPECT_EQ(aligned.tally.coincident + aligned.tally.aligned + aligned.tally.byTests +
                  aligned.tally.byPropagation + aligned.tally.unmatched,
              aligned.faces);
    RunResult plain = runPair(pair, false);
    ASSERT_TRUE(plain.ok);
    EXPECT_GE(aligned.right, plain.right);
    EXPECT_EQ(plain.tally.aligned + plain.tally.guesses, 0);
  }
}

TEST(PartAlignment, OnlyTheOptionAddsItsProgressLine) {
  benchgen::GeneratorOptions options = smallPair();
  options.movement = benchgen::Movement::some;
  options.turn = true;
  benchgen::GeneratedPair pair = benchgen::generatePair(options);
  RunResult plain = runPair(pair, false), aligned = runPair(pair, true);
  ASSERT_TRUE(plain.ok && aligned.ok);
  std::vector<std::string> withoutAlign;
  for (const std::string& line : aligned.progress) {
    if (line.rfind("Align: ", 0) != 0) withoutAlign.push_back(line);
  }
  EXPECT_EQ(withoutAlign, plain.progress);
  EXPECT_EQ(aligned.progress.size(), plain.progress.size() + 1);
}

TEST(PartAlignment, FitRecoversTurnsMirrorsAndScales) {
  const Vec3 points[5] = {{0, 0, 0}, {1, 0, 0}, {0, 2, 0}, {0, 0, 3}, {1, 1, 1}};
  struct Case {
    double rotation[9];
    double scale;
    bool mirror;
  };
  const double c = std::cos(0.7), s = std::sin(0.7);
  const Case cases[] = {{{c, -s, 0, s, c, 0, 0, 0, 1}, 2.5, false},
                        {{-1, 0, 0, 0, 1, 0, 0, 0, 1}, 0.1, true},
                        {{0, 0, 1, 1, 0, 0, 0, 1, 0}, 1.0, false}};
  for (const Case& k : cases) {
    Similarity truth{};
    std::copy(k.rotation, k.rotation + 9, truth.rotation);
    truth.scale = k.scale;
    truth.to = {5, -7, 1e4};
    Vec3 moved[5];
    for (int i = 0; i < 5; ++i)
      moved[i] = applySimilarity(truth, points[i]);
    Similarity fitted{};
    ASSERT_TRUE(fitSimilarity(points, moved, 5, k.mirror, &fitted));
    EXPECT_EQ(isMirroring(fitted), k.mirror);
    for (int i = 0; i < 5; ++i)
      EXPECT_LT(distance(applySimilarity(fitted, points[i]), moved[i]), 1e-9);
    EXPECT_FALSE(fitSimilarity(points, moved, 5, !k.mirror, &fitted) &&
                 distance(applySimilarity(fitted, points[4]), moved[4]) < 1e-6);
  }
}

std::string boltLayer(int i) {
  std::string name(1, 'B');
  name.append(std::to_string(i));
  return name;
}

TEST(PartAlignment, BrokenAndAwkwardModelsFallBack) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  auto square = [](const std::string& layer, double x) {
    return DxfFace{layer, {{x, 0, 0}, {x + 1, 0, 0}, {x + 1, 1, 0}, {x, 1, 0}}};
  };
  std::vector<DxfFace> bolts;  // many copies of one small box, each on its own layer
  for (int i = 0; i < 300; ++i) {
    double x = 3.0 * i;
    const double q[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 2, 0}, {0, 2, 0},
                            {0, 0, 3}, {1, 0, 3}, {1, 2, 3}, {0, 2, 3}};
    auto v = [&](int k) { return Vec3{q[k][0] + x, q[k][1], q[k][2]}; };
    std::string layer = boltLayer(i);
    for (auto f : {std::array<int, 4>{0, 3, 2, 1},
                   {4, 5, 6, 7},
                   {0, 1, 5, 4},
                   {1, 2, 6, 5},
                   {2, 3, 7, 6},
                   {3, 0, 4, 7}}) {
      bolts.push_back({layer, {v(f[0]), v(f[1]), v(f[2]), v(f[3])}});
    }
  }
  std::vector<DxfFace> turnedBolts = bolts;
  for (DxfFace& face : turnedBolts) {
    for (Vec3& p : face.corners)
      p = {-p.y, p.x, p.z + 50};
  }
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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder folder;
    setProgramDirectoryTo(folder.path.c_str());
    useDefaultSettings();
    writeFileBytes(folder.file("r.dxf"), dxfText(c.reference));
    writeFileBytes(folder.file("t.dxf"), dxfText(c.target));
    RunOptions options{1};
    ASSERT_EQ(runMatchingWith(nullptr, folder.file("r.dxf").c_str(), folder.file("t.dxf").c_str(),
                              &options),
              1);
    MatchTally tally = tallyMatches(referenceModel, targetModel);
    if (c.expectAligned >= 0) {
      EXPECT_EQ(tally.aligned, c.expectAligned);
    }
    if (c.expectAligned > 0) {
      // every copy sits where the one turn of the whole set puts it: its own layer, no guess
      EXPECT_EQ(tally.guesses, 0);
      for (int32_t i = 0; i < targetModel->faceCount; ++i) {
        const ModelFace& face = targetModel->faces[i];
        ASSERT_GE(face.matchedFace, 0);
        EXPECT_STREQ(faceLayer(referenceModel->faces[face.matchedFace]), boltLayer(i / 6).c_str());
      }
    }
    releaseRunData();
  }
}

// The check box's bit lives in the number that starts settings line 1; the rest stays.
TEST(AlignOption, SwitchWordBitRewritesTheFirstSettingsLine) {
  const struct {
    const char* line;
    bool on;
    const char* written;
    bool marked;
  } cases[] = {{"1 ;sw;bit 1", true, "5 ;sw;bit 1", true},
               {"  7;x", false, "  3;x", true},
               {"sw", true, "4 sw", true},
               {"6 ;", true, "6 ;", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    LineListPtr lines = testLines({c.line, "0.25"});
    settingsLines = lines.get();
    saveSettingsOnExit = false;
    matchSettings = MatchSettings{};
    parseSettings(lines.get());
    setAlignParts(c.on);
    EXPECT_EQ(linesOf(lines.get())[0], c.written);
    EXPECT_EQ(saveSettingsOnExit, c.marked);
    EXPECT_EQ((matchSettings.sw & kSwitchAlignParts) != 0, c.on);
    settingsLines = nullptr;
  }
}

}  // namespace
