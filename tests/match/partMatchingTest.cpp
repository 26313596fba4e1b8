// Part matching: the size stage, the rejection limits, the claims and measures, and the
// normal-sum, signature and point-count passes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "compare/angleSignature.h"
#include "match/partMatching.h"
#include "model/partGrouping.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"
#include "textfiles/settings.h"

namespace {

constexpr double kHalfPi = 1.5707963267948966;

// One part of a model built record by record, so that every measure is exactly as given.
struct PartShape {
  double size = 0.0;
  double radiusSum = 0.0;
  Vec3 centre{0, 0, 0};
  int faces = 1;
  int points = 3;
  double normalSum = 0.0;  // carried by the first face's normal (x component)
  int coincident = -1;     // coincidentPart and matchedPart as the pairing left them
  std::vector<double> signature = std::vector<double>(kSignatureBins, 0.0);
};

ModelPtr partModel(const std::vector<PartShape>& shapes) {
  ModelPtr model(createModel("M"));
  int faceTotal = 0, pointTotal = 0;
  for (const PartShape& s : shapes) {
    faceTotal += s.faces;
    pointTotal += s.points;
  }
  model->faces = static_cast<ModelFace*>(gcalloc(sizeof(ModelFace) * faceTotal));
  model->points = static_cast<ModelPoint*>(gcalloc(sizeof(ModelPoint) * pointTotal));
  model->parts = static_cast<ModelPart*>(gcalloc(sizeof(ModelPart) * shapes.size()));
  model->faceCount = model->faceCapacity = faceTotal;
  model->pointCount = model->pointCapacity = pointTotal;
  model->partCount = static_cast<int32_t>(shapes.size());
  model->meanSize = 1.0;
  int face = 0, point = 0;
  for (size_t i = 0; i < shapes.size(); ++i) {
    const PartShape& s = shapes[i];
    ModelPart& part = model->parts[i];
    part.number = static_cast<int32_t>(i) + 1;
    part.size = s.size;
    part.radiusSum = s.radiusSum;
    part.centre = s.centre;
    part.coincidentPart = part.matchedPart = s.coincident;
    part.faceCount = s.faces;
    part.faces = static_cast<int32_t*>(gmalloc(sizeof(int32_t) * (s.faces + 1)));
    for (int k = 0; k < kSignatureBins; ++k)
      part.angleSignature[k] = s.signature[k];
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

std::vector<int> matchedParts(const FaceModel* target) {
  std::vector<int> matched;
  for (int i = 0; i < target->partCount; ++i)
    matched.push_back(target->parts[i].matchedPart);
  return matched;
}

std::vector<double> rightAngle() {
  std::vector<double> bins(kSignatureBins, 0.0);
  bins[8] = kHalfPi;
  return bins;
}

class MatchParts : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = matchSettings;
    matchSettings.groupMultipleMatching = 1.0;
    matchSettings.groupSingleMatching = 1.0;
    matchSettings.faceCountMatching = 0.5;
    matchSettings.sameFaceAngleAdvantage = 0.25;
  }
  void TearDown() override { matchSettings = saved_; }
  // Every size match rejected: all unanchored target parts reach the passes open, and every
  // reference part no anchored part claims is free.
  void rejectAllSizeMatches() {
    matchSettings.groupMultipleMatching = -1.0;
    matchSettings.groupSingleMatching = -1.0;
  }
  MatchSettings saved_;
};

TEST_F(MatchParts, SizeStageTakesClearlySmallerSizeDifferences) {
  // The target has size 0 and radius sum 0, so each reference part's dSize and dRadius are its
  // own size and radius sum; all centres coincide, so dCentre never decides.
  struct Case {
    const char* name;
    std::vector<std::pair<double, double>> sizeAndRadius;
    int expected;
    double sizeDeviation;
  };
  const Case cases[] = {
      {"worked example 0.4, 0.1, 0.3", {{0.4, 0}, {0.1, 0}, {0.3, 0}}, 1, 0.1},
      {"below half the size taken: taken", {{0.4, 0}, {0.19, 0}}, 1, 0.19},
      {"between the size bounds, same radius: kept", {{0.4, 0}, {0.21, 0}}, 0, 0.4},
      {"within 1.25 times, radius below half: taken", {{0.4, 0.5}, {0.49, 0.2}}, 1, 0.49},
      {"beyond 1.25 times: passed over however close the radius", {{0.4, 0.5}, {0.51, 0}}, 0, 0.4},
      {"within the size bounds, radius beyond 1.25 times", {{0.4, 0.5}, {0.3, 0.7}}, 0, 0.4},
  };
  for (const Case& c : cases) {
    std::vector<PartShape> refs;
    for (const auto& [size, radius] : c.sizeAndRadius) {
      refs.emplace_back();
      refs.back().size = size;
      refs.back().radiusSum = radius;
    }
    ModelPtr ref = partModel(refs);
    ModelPtr tgt = partModel({PartShape{}});
    matchParts(ref.get(), tgt.get());
    EXPECT_EQ(tgt->parts[0].matchedPart, c.expected) << c.name;
    EXPECT_EQ(tgt->parts[0].sizeDeviation, c.sizeDeviation) << c.name;
    EXPECT_EQ(tgt->parts[0].radiusDeviation, c.sizeAndRadius[c.expected].second) << c.name;
    EXPECT_EQ(ref->parts[c.expected].matchCount, 1) << c.name;
  }
}

TEST_F(MatchParts, SizeStageTieBreaksByRadiusThenCentre) {
  struct Case {
    const char* name;
    double radiusSum, centreX;  // of the second reference part
    int expected;
  };
  // The target has size 0, radius sum 0 and centre 0; the first reference part has size 0.2,
  // radius sum 0.3 and its centre at x = 1, so the bounds become 0.25/0.1 and 0.375/0.15.
  const Case cases[] = {
      {"same radius, nearer centre", 0.3, 0.5, 1},
      {"same radius, equal centre distance", 0.3, -1.0, 0},
      {"same radius, farther centre", 0.3, 2.0, 0},
      {"radius clearly closer", 0.1, 5.0, 1},
      {"radius clearly farther", 0.4, 0.0, 0},
  };
  for (const Case& c : cases) {
    PartShape first, second;
    first.size = second.size = 0.2;
    first.radiusSum = 0.3;
    first.centre = {1, 0, 0};
    second.radiusSum = c.radiusSum;
    second.centre = {c.centreX, 0, 0};
    ModelPtr ref = partModel({first, second});
    ModelPtr tgt = partModel({PartShape{}});
    matchParts(ref.get(), tgt.get());
    EXPECT_EQ(tgt->parts[0].matchedPart, c.expected) << c.name;
    EXPECT_EQ(tgt->parts[0].centreDeviation, std::fabs(c.expected ? c.centreX : 1.0)) << c.name;
  }
}

TEST_F(MatchParts, RejectionLimitDependsOnHowManyPartsTookTheReference) {
  // Reference 0 is close in size; reference 1 is far in size but has the targets' signature,
  // so a rejected target moves there in the signature pass.
  struct Case {
    const char* name;
    int targets;
    double single, multiple;
    std::vector<int> expected, matchCounts;
  };
  const Case cases[] = {
      {"one target within the single limit", 1, 0.3, 0.0, {0}, {1, 0}},
      {"one target beyond the single limit", 1, 0.29, 1.0, {1}, {0, 1}},
      // Both survive: both open, the first moves to reference 1; reference 0 keeps its count
      // of 2, so the second stays open but reference 0 is still the best free part for it.
      {"two targets within the multiple limit", 2, 0.0, 0.3, {1, 0}, {2, 1}},
      // Both rejected: the first takes reference 1 by signature; reference 1 is then claimed
      // once and no longer free, so the second takes reference 0.
      {"two targets beyond the multiple limit", 2, 1.0, 0.29, {1, 0}, {1, 1}},
  };
  for (const Case& c : cases) {
    matchSettings.groupSingleMatching = c.single;
    matchSettings.groupMultipleMatching = c.multiple;
    PartShape near, far, target;
    near.size = 0.3;
    near.points = 4;  // no normal-sum candidate: the point counts differ from the targets'
    far.size = 5.0;
    far.points = 4;
    far.signature = target.signature = rightAngle();
    ModelPtr ref = partModel({near, far});
    ModelPtr tgt = partModel(std::vector<PartShape>(c.targets, target));
    matchParts(ref.get(), tgt.get());
    EXPECT_EQ(matchedParts(tgt.get()), c.expected) << c.name;
    EXPECT_EQ((std::vector<int>{ref->parts[0].matchCount, ref->parts[1].matchCount}), c.matchCounts)
        << c.name;
    EXPECT_EQ(tgt->parts[0].sizeDeviation, 0.3) << c.name;
  }
}

TEST_F(MatchParts, NormalSumPassPrefersClearlySmallerSumsThenNearerCentres) {
  struct Case {
    double dA, dB;  // of the second candidate; the first has dA 0.50 and dB 0.2
    int expected;
  };
  const Case cases[] = {
      {0.485, 0.9, 1}, {0.495, 0.1, 1}, {0.495, 0.3, 0}, {0.505, 0.1, 1},
      {0.505, 0.3, 0}, {0.51, 0.0, 0},  {0.6, 0.0, 0},   {0.495, 0.2, 0},
  };
  rejectAllSizeMatches();
  matchSettings.faceCountMatching = 1.0;  // no point-count candidates
  for (const Case& c : cases) {
    PartShape first, second, target;
    target.signature[3] = std::numeric_limits<double>::quiet_NaN();  // no signature candidate
    first.normalSum = 0.5;
    first.centre = {0.2, 0, 0};
    second.normalSum = c.dA;
    second.centre = {c.dB, 0, 0};
    first.faces = second.faces = target.faces = 2;
    first.points = second.points = target.points = 5;
    ModelPtr ref = partModel({first, second});
    ModelPtr tgt = partModel({target});
    matchParts(ref.get(), tgt.get());
    EXPECT_EQ(tgt->parts[0].matchedPart, c.expected) << "dA " << c.dA << " dB " << c.dB;
  }
}

TEST_F(MatchParts, NormalSumPassNeedsEqualFaceAndPointCounts) {
  rejectAllSizeMatches();
  matchSettings.faceCountMatching = 1.0;  // no point-count candidates
  PartShape otherPoints, otherFaces, fitting, target;
  otherPoints.points = 4;   // exact normal sum, wrong point count
  otherFaces.faces = 2;     // exact normal sum, wrong face count
  fitting.normalSum = 0.7;  // the only candidate, however far its sum
  target.signature[3] = std::numeric_limits<double>::quiet_NaN();  // no signature candidate
  ModelPtr ref = partModel({otherPoints, otherFaces, fitting});
  ModelPtr tgt = partModel({target});
  matchParts(ref.get(), tgt.get());
  EXPECT_EQ(tgt->parts[0].matchedPart, 2);
}

TEST_F(MatchParts, SignaturePassTakesTheLowestOfEqualFreeParts) {
  rejectAllSizeMatches();
  struct Case {
    const char* name;
    bool anchorOnFirstEqual;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {"tie goes to the lower index", false, {1}},
      {"a part claimed once is not free", true, {2, 1}},
  };
  for (const Case& c : cases) {
    PartShape plain, equalA, equalB, target, anchored;
    plain.faces = equalA.faces = equalB.faces = 2;  // no normal-sum candidates
    equalA.signature = equalB.signature = target.signature = rightAngle();
    anchored.coincident = 1;
    anchored.size = 1e6;  // measures that would never lead to reference 1
    std::vector<PartShape> targets = {target};
    if (c.anchorOnFirstEqual) targets.push_back(anchored);
    ModelPtr ref = partModel({plain, equalA, equalB});
    ModelPtr tgt = partModel(targets);
    matchParts(ref.get(), tgt.get());
    EXPECT_EQ(matchedParts(tgt.get()), c.expected) << c.name;
    if (c.anchorOnFirstEqual) {
      EXPECT_EQ(tgt->parts[1].coincidentPart, 1);
      EXPECT_EQ(tgt->parts[1].sizeDeviation, 0.0) << "the size stage passes anchored parts by";
      EXPECT_EQ(ref->parts[1].pointCount, 0) << "claimed once: never free, never measured";
      EXPECT_EQ(ref->parts[2].pointCount, 3);
    }
  }
}

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
    std::vector<PartShape> refs(5);
    const int counts[] = {30, 14, 6, 9, 11};
    for (int i = 0; i < 5; ++i) {
      refs[i].points = counts[i];
      refs[i].faces = 2;  // no normal-sum candidates
    }
    refs[3].normalSum = c.normalSum9;
    refs[4].normalSum = c.normalSum11;
    PartShape target;
    target.points = c.targetPoints;
    // A NaN bin makes every signature distance NaN, so the signature pass finds nothing and
    // the part is still open for the point-count pass.
    target.signature[0] = std::numeric_limits<double>::quiet_NaN();
    ModelPtr ref = partModel(refs);
    ModelPtr tgt = partModel({target});
    matchParts(ref.get(), tgt.get());
    EXPECT_EQ(tgt->parts[0].matchedPart, c.expected) << c.name;
  }
}

TEST_F(MatchParts, AnchoredPartsAndEmptyReferenceKeepTheirMatches) {
  PartShape anchored, open;
  anchored.coincident = 0;
  anchored.size = 50.0;
  ModelPtr ref = partModel({PartShape{}});
  ModelPtr tgt = partModel({anchored, open});
  matchParts(ref.get(), tgt.get());
  // The anchored part keeps reference 0 and claims it; the other, matched by size, shares it.
  EXPECT_EQ(matchedParts(tgt.get()), (std::vector<int>{0, 0}));
  EXPECT_EQ(ref->parts[0].matchCount, 2);

  ModelPtr empty = partModel({});
  ModelPtr lone = partModel({open, anchored});
  matchParts(empty.get(), lone.get());
  EXPECT_EQ(matchedParts(lone.get()), (std::vector<int>{-1, 0}));
}

TEST_F(MatchParts, MeasuresAreThePlainSumsOverTheModel) {
  // Random triangles over a few shared points make parts of many sizes.
  auto randomModel = [](unsigned seed) {
    std::mt19937 rng(seed);
    ModelPtr model(createModel(seed == 1 ? "Ref" : "Terget"));
    for (int f = 0; f < 60; ++f) {
      Vec3 c[4];
      for (int k = 0; k < 3; ++k) {
        unsigned p = rng() % 150;
        c[k] = {static_cast<double>(p % 7), static_cast<double>(p / 7) * 0.37, (p % 3) * 1.1};
      }
      c[3] = c[2];
      addFace(model.get(), "L", c);
    }
    groupParts(model.get());
    measureParts(model.get());
    return model;
  };
  rejectAllSizeMatches();  // no claims: every reference part is measured too
  ModelPtr ref = randomModel(1), tgt = randomModel(2);
  ASSERT_GT(tgt->partCount, 3);
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
      EXPECT_EQ(part.pointCount, points) << model->sourceName << " part " << p;
      EXPECT_EQ(part.normalSum, normalSum) << model->sourceName << " part " << p;
      checked += part.pointCount > 0;
      EXPECT_EQ(part.centreDistance, vectorLength(part.centre) / model->meanSize);
    }
  }
  EXPECT_GT(checked, 6);
}

}  // namespace
