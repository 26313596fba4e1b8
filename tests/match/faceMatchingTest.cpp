// Face matching: the three direct tests and matchLevel, coincident faces, unmatched parts, and
// partners in other reference parts.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "match/faceMatching.h"
#include "support/testSupport.h"
#include "textfiles/settings.h"

namespace {

SurfaceFace triangle(Vec3 a, Vec3 b, Vec3 c) {
  return {a, b, c, c};
}

struct SettingsReset {
  MatchSettings saved = matchSettings;
  SettingsReset() {
    matchSettings.faceAngleMatching = 0.5;
    matchSettings.vectorMatching = 0.1;
    matchSettings.facePositionMatching = 0.1;
    matchSettings.sameFaceAngleAdvantage = 0;
  }
  ~SettingsReset() { matchSettings = saved; }
};

}  // namespace

// The three tests in reference list order: the first face passing all three is taken, and
// matchLevel counts angle passes, normal passes among them, and 1 for the taken face. A face
// no reference face passes is left to the propagation (a one-face part takes its best-scored
// face); a part matched directly needs no profiles.
TEST(MatchFaces, DirectTestsAndMatchLevel) {
  SettingsReset settings;
  struct Case {
    const char* passes[3];  // tests each reference face passes: Angle, Normal, Position
    int level, matched;     // matched -1: no face passed (propagation decides)
  };
  const Case cases[] = {
      {{"A", "A", "ANP"}, 5, 2},     // two angle passes, then a full pass
      {{"ANP", "ANP", ""}, 3, 0},    // the earlier full pass wins
      {{"", "", ""}, 0, -1},         // nothing passes the angle test
      {{"AN", "ANP", "ANP"}, 5, 1},  // 2 + 3, the scan stops at the first full pass
      {{"AN", "A", ""}, 3, -1},      // passes counted without a face taken
      {{"", "P", "ANP"}, 3, 2},      // position alone counts nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "level " << c.level);
    ModelPtr reference = buildSurfaceModel({triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}),
                                            triangle({1, 0, 0}, {1, 1, 0}, {0, 1, 0}),
                                            triangle({1, 1, 0}, {0, 2, 0}, {0, 1, 0})});
    ModelPtr target = buildSurfaceModel({triangle({5, 0, 0}, {6, 0, 0}, {5, 1, 0})}, "Terget");
    ASSERT_TRUE(reference && target);
    // Each outcome against a target face with a zero signature, normal (0, 0, 1) and scaled
    // centre (0, 0, 0); an angle bin of 10 gives 10 / (2 pi), not below 0.5.
    for (int g = 0; g < 3; ++g) {
      ModelFace& face = reference->faces[g];
      for (double& bin : face.angleSignature)
        bin = 0;
      face.angleSignature[8] = std::strchr(c.passes[g], 'A') ? 0.0 : 10.0;
      face.normal = std::strchr(c.passes[g], 'N') ? Vec3{0, 0, 1} : Vec3{1, 0, 0};
      face.scaledCentre = std::strchr(c.passes[g], 'P') ? Vec3{0, 0, 0} : Vec3{1, 0, 0};
    }
    ModelFace& f = target->faces[0];
    f.scaledCentre = {0, 0, 0};
    target->parts[0].matchedPart = 0;
    ASSERT_EQ(matchFaces(reference.get(), target.get()), 1);
    EXPECT_EQ(f.matchLevel, c.level);
    EXPECT_EQ(f.profile == nullptr, c.matched >= 0);
    EXPECT_TRUE(c.matched < 0 || f.matchedFace == c.matched) << f.matchedFace;
    EXPECT_GE(f.matchedFace, 0);
  }
}

// Target part 0 (a moved copy of reference part 0, no face passing the angle test) has face 3
// coincident with a face of reference part 1: that part's profiles are computed before the
// propagation so the face's seed record can be scored, and the face keeps its partner with
// level 9. Part 1, all coincident, takes its partner with level 9 and needs no profiles; part
// 2 has no matched part and stays unmatched despite its partner.
TEST(MatchFaces, CoincidentFacesUnmatchedPartsAndPartnersInOtherReferenceParts) {
  SettingsReset settings;
  matchSettings.faceAngleMatching = -1e9;
  std::vector<SurfaceFace> surface = randomSurface(31, 4, 3, {0, 0, 0});
  std::vector<SurfaceFace> referenceFaces = surface, other = randomSurface(32, 2, 2, {50, 0, 0});
  referenceFaces.insert(referenceFaces.end(), other.begin(), other.end());
  std::vector<SurfaceFace> targetFaces = shuffledSurface(surface, 33, {0, 9, 0});
  const int n = static_cast<int>(targetFaces.size());
  targetFaces.push_back(triangle({90, 0, 0}, {91, 0, 0}, {90, 1, 0}));
  targetFaces.push_back(triangle({95, 0, 0}, {96, 0, 0}, {95, 1, 0}));
  ModelPtr reference = buildSurfaceModel(referenceFaces);
  ModelPtr target = buildSurfaceModel(targetFaces, "Terget");
  ASSERT_TRUE(reference && target);
  ASSERT_EQ(reference->partCount, 2);
  ASSERT_EQ(target->partCount, 3);
  int otherFace = reference->parts[1].faces[1];
  target->faces[3].partnerFace = otherFace;
  target->faces[n].partnerFace = 2;
  target->faces[n + 1].partnerFace = 1;
  target->parts[0].matchedPart = 0;
  target->parts[1].matchedPart = 0;
  target->parts[2].matchedPart = -1;
  ASSERT_EQ(matchFaces(reference.get(), target.get()), 1);
  EXPECT_EQ(reference->parts[1].flags & 1, 1);
  EXPECT_NE(reference->faces[otherFace].profile, nullptr);
  EXPECT_EQ(target->faces[3].matchedFace, otherFace);
  EXPECT_EQ(target->faces[3].matchLevel, 9);
  EXPECT_EQ(target->faces[n].matchedFace, 2);
  EXPECT_EQ(target->faces[n].matchLevel, 9);
  EXPECT_EQ(target->parts[1].flags, 0);
  EXPECT_EQ(target->faces[n].profile, nullptr);
  EXPECT_EQ(target->faces[n + 1].matchedFace, -1);
  EXPECT_EQ(target->faces[n + 1].matchLevel, 0);
  EXPECT_EQ(target->faces[n + 1].profile, nullptr);
}
