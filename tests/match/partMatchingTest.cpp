// Part matching: the size stage, the rejection limits, the claims and measures, and the
// normal-sum, signature and point-count passes.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "compare/angleSignature.h"
#include "match/partMatching.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"
#include "textfiles/settings.h"

namespace {

const double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kHalfPi = std::numbers::pi / 2;

// One part of a model built record by record, so that every measure is exactly as given.
struct PartShape {
  double size = 0.0;
  double radiusSum = 0.0;
  double centreX = 0.0;
  int faces = 1;
  int points = 3;
  double normalSum = 0.0;    // carried by the first face's normal (x component)
  int coincident = -1;       // coincidentPart and matchedPart as the pairing left them
  double bin8 = 0.0;         // the angle signature: this in bin 8, NaN in bin 3 when `noSignature`
  bool noSignature = false;  // every signature distance NaN: no signature-pass candidate
};

ModelPtr partModel(const std::vector<PartShape>& shapes) {
  ModelPtr model(createModel("M"));
  for (const PartShape& s : shapes) {
    model->faceCount += s.faces;
    model->pointCount += s.points;
  }
  model->faces = static_cast<ModelFace*>(gcalloc(sizeof(ModelFace) * model->faceCount));
  model->points = static_cast<ModelPoint*>(gcalloc(sizeof(ModelPoint) * model->pointCount));
  model->parts = static_cast<ModelPart*>(gcalloc(sizeof(ModelPart) * shapes.size()));
  model->faceCapacity = model->faceCount;
  model->pointCapacity = model->pointCount;
  model->partCount = static_cast<int32_t>(shapes.size());
  model->meanSize = 1.0;
  int face = 0, point = 0;
  for (size_t i = 0; i < shapes.size(); ++i) {
    const PartShape& s = shapes[i];
    ModelPart& part = model->parts[i];
    part.number = static_cast<int32_t>(i) + 1;
    part.size = s.size;
    part.radiusSum = s.radiusSum;
    part.centre = {s.centreX, 0, 0};
    part.coincidentPart = part.matchedPart = s.coincident;
    part.angleSignature[8] = s.bin8;
    part.angleSignature[3] = s.noSignature ? kNan : 0.0;
    part.faceCount = s.faces;
    part.faces = static_cast<int32_t*>(gmalloc(sizeof(int32_t) * (s.faces + 1)));
    for (int f = 0; f < s.faces; ++f, ++face) {
      part.faces[f] = face;
      model->faces[face].part = part.number;
      model->faces[face].normal = {f == 0 ? s.normalSum : 0.0, 0.0, 0.0};
    }
    for (int p = 0; p < s.points; ++p, ++point)
      model->points[point].part = part.number;
  }
  return model;
}

class MatchParts : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = matchSettings;
    matchSettings.groupMultipleMatching = matchSettings.groupSingleMatching = 1.0;
    matchSettings.faceCountMatching = 0.5;
    matchSettings.sameFaceAngleAdvantage = 0.25;
  }
  void TearDown() override { matchSettings = saved_; }
  // Every size match rejected: all unanchored target parts reach the passes open, and every
  // reference part no anchored part claims is free.
  void rejectAllSizeMatches() {
    matchSettings.groupMultipleMatching = matchSettings.groupSingleMatching = -1.0;
  }
  // The target's matched parts after matching `targets` against `references`; both models
  // stay in `ref` and `tgt`.
  std::vector<int> matched(const std::vector<PartShape>& references,
                           const std::vector<PartShape>& targets) {
    ref = partModel(references);
    tgt = partModel(targets);
    matchParts(ref.get(), tgt.get());
    std::vector<int> result;
    for (int i = 0; i < tgt->partCount; ++i)
      result.push_back(tgt->parts[i].matchedPart);
    return result;
  }
  MatchSettings saved_;
  ModelPtr ref, tgt;
};

TEST_F(MatchParts, SizeStageTakesClearlySmallerDifferencesThenRadiusThenCentre) {
  // The target has size, radius sum and centre 0, so a reference part's dSize, dRadius and
  // dCentre are its own size, radius sum and centre x.
  struct Case {
    const char* name;
    std::vector<std::array<double, 3>> references;  // size, radius sum, centre x
    int expected;
  };
  const Case cases[] = {
      {"worked example 0.4, 0.1, 0.3", {{0.4, 0, 0}, {0.1, 0, 0}, {0.3, 0, 0}}, 1},
      {"below half the size taken: taken", {{0.4, 0, 0}, {0.19, 0, 0}}, 1},
      {"between the size bounds, same radius and centre: kept", {{0.4, 0, 0}, {0.21, 0, 0}}, 0},
      {"within 1.25 times, radius below half: taken", {{0.4, 0.5, 0}, {0.49, 0.2, 0}}, 1},
      {"beyond 1.25 times: passed over", {{0.4, 0.5, 0}, {0.51, 0, 0}}, 0},
      {"radius beyond 1.25 times: passed over", {{0.4, 0.5, 0}, {0.3, 0.7, 0}}, 0},
      {"equal size and radius, nearer centre", {{0.2, 0.3, 1}, {0.2, 0.3, 0.5}}, 1},
      {"equal size and radius, equal centre distance", {{0.2, 0.3, 1}, {0.2, 0.3, -1}}, 0},
      {"equal size and radius, farther centre", {{0.2, 0.3, 1}, {0.2, 0.3, 2}}, 0},
      {"radius clearly closer, far centre", {{0.2, 0.3, 1}, {0.2, 0.1, 5}}, 1},
      {"radius clearly farther, equal centre", {{0.2, 0.3, 1}, {0.2, 0.4, 0}}, 0},
  };
  for (const Case& c : cases) {
    std::vector<PartShape> refs;
    for (const auto& [size, radius, x] : c.references)
      refs.push_back({.size = size, .radiusSum = radius, .centreX = x});
    EXPECT_EQ(matched(refs, {PartShape{}}), std::vector<int>{c.expected}) << c.name;
    const auto& [size, radius, x] = c.references[c.expected];
    EXPECT_EQ(tgt->parts[0].sizeDeviation, size) << c.name;
    EXPECT_EQ(tgt->parts[0].radiusDeviation, radius) << c.name;
    EXPECT_EQ(tgt->parts[0].centreDeviation, std::fabs(x)) << c.name;
    EXPECT_EQ(ref->parts[c.expected].matchCount, 1) << c.name;
  }
}

TEST_F(MatchParts, RejectionLimitDependsOnHowManyPartsTookTheReference) {
  // Reference 0 is close in size; reference 1 is far in size but has the targets' signature,
  // so a rejected target moves there in the signature pass. The point counts differ from the
  // targets', so there is no normal-sum candidate.
  struct Case {
    const char* name;
    int targets;
    double single, multiple;
    std::vector<int> expected, matchCounts;
  };
  const Case cases[] = {
      {"one target within the single limit", 1, 0.3, 0.0, {0}, {1, 0}},
      {"one target beyond the single limit", 1, 0.29, 1.0, {1}, {0, 1}},
      // Both survive and are open; the first moves to reference 1. Reference 0 keeps its count
      // of 2, so the second stays open and reference 0 is still its best free part.
      {"two targets within the multiple limit", 2, 0.0, 0.3, {1, 0}, {2, 1}},
      // Both rejected: the first takes reference 1 by signature, which is then claimed once
      // and no longer free, so the second takes reference 0.
      {"two targets beyond the multiple limit", 2, 1.0, 0.29, {1, 0}, {1, 1}},
  };
  for (const Case& c : cases) {
    matchSettings.groupSingleMatching = c.single;
    matchSettings.groupMultipleMatching = c.multiple;
    std::vector<PartShape> targets(c.targets, PartShape{.bin8 = kHalfPi});
    EXPECT_EQ(
        matched({{.size = 0.3, .points = 4}, {.size = 5.0, .points = 4, .bin8 = kHalfPi}}, targets),
        c.expected)
        << c.name;
    EXPECT_EQ((std::vector<int>{ref->parts[0].matchCount, ref->parts[1].matchCount}), c.matchCounts)
        << c.name;
    EXPECT_EQ(tgt->parts[0].sizeDeviation, 0.3) << c.name;
  }
}

TEST_F(MatchParts, NormalSumPassPrefersClearlySmallerSumsThenNearerCentresAmongEqualCounts) {
  rejectAllSizeMatches();
  matchSettings.faceCountMatching = 1.0;  // no point-count candidates
  struct Case {
    double dA, dB;  // of the second candidate; the first has dA 0.50 and dB 0.2
    int faces, points;
    int expected;
  };
  const Case cases[] = {
      {0.485, 0.9, 2, 5, 1}, {0.495, 0.1, 2, 5, 1}, {0.495, 0.3, 2, 5, 0}, {0.505, 0.1, 2, 5, 1},
      {0.505, 0.3, 2, 5, 0}, {0.51, 0.0, 2, 5, 0},  {0.6, 0.0, 2, 5, 0},   {0.495, 0.2, 2, 5, 0},
      {0.0, 0.0, 2, 4, 0},  // exact sums, but another point count
      {0.0, 0.0, 3, 5, 0},  // exact sums, but another face count
  };
  for (const Case& c : cases) {
    PartShape first{.centreX = 0.2, .faces = 2, .points = 5, .normalSum = 0.5};
    PartShape second{.centreX = c.dB, .faces = c.faces, .points = c.points, .normalSum = c.dA};
    PartShape target{.faces = 2, .points = 5, .noSignature = true};
    EXPECT_EQ(matched({first, second}, {target}), std::vector<int>{c.expected})
        << "dA " << c.dA << " dB " << c.dB << " counts " << c.faces << " " << c.points;
  }
}

TEST_F(MatchParts, SignaturePassTakesTheLowestOfEqualPartsClaimedOnceByNoneOrSeveral) {
  rejectAllSizeMatches();
  // Two faces: no normal-sum candidates. References 1 and 2 have the target's signature.
  std::vector<PartShape> refs = {
      {.faces = 2}, {.faces = 2, .bin8 = kHalfPi}, {.faces = 2, .bin8 = kHalfPi}};
  PartShape target{.bin8 = kHalfPi};
  EXPECT_EQ(matched(refs, {target}), std::vector<int>{1});
  // Reference 1 claimed once by an anchored part (whose measures would never lead there): not
  // free, so not measured either.
  EXPECT_EQ(matched(refs, {target, {.size = 1e6, .coincident = 1}}), (std::vector<int>{2, 1}));
  EXPECT_EQ(tgt->parts[1].sizeDeviation, 0.0) << "the size stage passes anchored parts by";
  EXPECT_EQ(ref->parts[1].pointCount, 0);
  EXPECT_EQ(ref->parts[2].pointCount, 3);
  // Reference 0 claimed by two parts is free: the third target, rejected from reference 1
  // (dSize 1/9 above the single limit), takes it by signature.
  matchSettings.groupSingleMatching = 0.1;
  matchSettings.groupMultipleMatching = 1.0;
  PartShape shared{.size = 1, .bin8 = kHalfPi};
  EXPECT_EQ(matched({{.size = 1, .faces = 2, .bin8 = kHalfPi}, {.size = 10, .faces = 2}},
                    {shared, shared, {.size = 9, .bin8 = kHalfPi}}),
            (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(ref->parts[0].matchCount, 3);
}

// The agreement rule replaces "differs by more than the fraction": a candidate needs
// 1 - diff / n above faceCountMatching.
TEST_F(MatchParts, PointCountPassTakesOnlyAgreeingCounts) {
  rejectAllSizeMatches();
  struct Case {
    const char* name;
    double faceCountMatching;
    int targetPoints;
    double normalSum9, normalSum11;  // of the reference parts with 9 and 11 points
    int expected;
  };
  // Reference parts with 30, 14, 6, 9 and 11 points. With faceCountMatching 0.5 and 10 points
  // the counts within 4 agree (diff 5 gives 1 - 0.5, not above 0.5); 30 never does.
  const Case cases[] = {
      {"closest counts tie: lower index", 0.5, 10, 0.2, 0.2, 3},
      {"closest counts tie: nearer normal sum", 0.5, 10, 0.2, 0.1, 4},
      {"closest counts tie: nearer normal sum first", 0.5, 10, 0.1, 0.2, 3},
      {"only equal counts agree at 0.9", 0.9, 10, 0.0, 0.0, -1},
      {"equal count at 0.9", 0.9, 9, 0.3, 0.0, 3},
      {"closest agreeing count", 0.5, 16, 0.0, 0.0, 1},
      {"half the count apart is not enough", 0.5, 60, 0.0, 0.0, -1},
      {"a part without points has no candidate", 0.5, 0, 0.0, 0.0, -1},
  };
  for (const Case& c : cases) {
    matchSettings.faceCountMatching = c.faceCountMatching;
    std::vector<PartShape> refs;
    for (int points : {30, 14, 6, 9, 11})
      refs.push_back({.faces = 2, .points = points});
    refs[3].normalSum = c.normalSum9;
    refs[4].normalSum = c.normalSum11;
    PartShape target{.points = c.targetPoints, .noSignature = true};
    EXPECT_EQ(matched(refs, {target}), std::vector<int>{c.expected}) << c.name;
  }
}

TEST_F(MatchParts, AnchoredPartsAndEmptyReferenceKeepTheirMatches) {
  // The anchored part keeps reference 0 and claims it; the other, matched by size, shares it.
  PartShape anchored{.size = 50.0, .coincident = 0};
  EXPECT_EQ(matched({PartShape{}}, {anchored, {}}), (std::vector<int>{0, 0}));
  EXPECT_EQ(ref->parts[0].matchCount, 2);
  EXPECT_EQ(matched({}, {{}, anchored}), (std::vector<int>{-1, 0}));
}

TEST_F(MatchParts, MeasuresAreThePlainSumsOverTheModel) {
  // Five bumpy surfaces of different sizes, their faces shuffled: parts of interleaved faces.
  auto randomModel = [](uint32_t seed) {
    std::vector<SurfaceFace> faces;
    for (int i = 0; i < 5; ++i) {
      std::vector<SurfaceFace> s = randomSurface(seed + i, 1 + i, 1 + i % 2, {5.0 * i, 0, 0});
      faces.insert(faces.end(), s.begin(), s.end());
    }
    return buildSurfaceModel(shuffledSurface(faces, seed, {0.5, 0.25, 0}), "M");
  };
  rejectAllSizeMatches();  // no claims: every reference part is measured too
  ModelPtr ref = randomModel(1), tgt = randomModel(7);
  ASSERT_EQ(tgt->partCount, 5);
  matchParts(ref.get(), tgt.get());
  int checked = 0;
  for (FaceModel* model : {tgt.get(), ref.get()}) {
    for (int p = 0; p < model->partCount; ++p) {
      const ModelPart& part = model->parts[p];
      int points = 0;
      double normalSum = 0.0;
      for (int i = 0; i < model->pointCount; ++i)
        points += model->points[i].part == part.number;
      for (int f = 0; f < model->faceCount; ++f) {
        const Vec3& n = model->faces[f].normal;
        if (model->faces[f].part == part.number) normalSum += n.x + n.y + n.z;
      }
      SCOPED_TRACE("part " + std::to_string(p));
      EXPECT_EQ(part.pointCount, points);
      EXPECT_EQ(part.normalSum, normalSum);
      EXPECT_EQ(part.centreDistance, vectorLength(part.centre) / model->meanSize);
      checked += part.pointCount > 0;
    }
  }
  EXPECT_EQ(checked, 10);
}

}  // namespace
