#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/errorReport.h"
#include "app/programPath.h"
#include "match/faceMatching.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"
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

// A fan of three triangles: one reference part.
ModelPtr fanModel() {
  return buildSurfaceModel({triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}),
                            triangle({1, 0, 0}, {1, 1, 0}, {0, 1, 0}),
                            triangle({1, 1, 0}, {0, 2, 0}, {0, 1, 0})});
}

// Gives reference face `face` the outcome of the three tests against a target face with a zero
// signature, normal (0, 0, 1) and scaled centre (0, 0, 0).
void setOutcome(ModelFace& face, bool angle, bool normal, bool position) {
  for (double& bin : face.angleSignature)
    bin = 0;
  face.angleSignature[8] = angle ? 0.0 : 10.0;  // 10 / (2 pi) is not below 0.5
  face.normal = normal ? Vec3{0, 0, 1} : Vec3{1, 0, 0};
  face.scaledCentre = position ? Vec3{0, 0, 0} : Vec3{1, 0, 0};
}

}  // namespace

// The three tests in reference list order: the first face passing all three is taken, and
// matchLevel counts angle passes, normal passes among them, and 1 for the taken face.
TEST(MatchFaces, DirectTestsAndMatchLevel) {
  SettingsReset settings;
  struct Outcome {
    bool angle, normal, position;
  };
  const Outcome none{false, false, false}, angle{true, false, false},
      angleNormal{true, true, false}, position{false, false, true}, all{true, true, true};
  struct Case {
    Outcome faces[3];
    int level, matched;  // matched -1: no face passed (propagation decides)
  };
  const Case cases[] = {
      {{angle, angle, all}, 5, 2},          // two angle passes, then a full pass
      {{all, all, none}, 3, 0},             // the earlier full pass wins
      {{none, none, none}, 0, -1},          // nothing passes the angle test
      {{angleNormal, all, all}, 5, 1},      // 2 + 3, the scan stops at the first full pass
      {{angleNormal, angle, none}, 3, -1},  // passes counted without a face taken
      {{none, position, all}, 3, 2},        // position alone counts nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "level " << c.level);
    ModelPtr reference = fanModel();
    ModelPtr target = buildSurfaceModel({triangle({5, 0, 0}, {6, 0, 0}, {5, 1, 0})}, "Terget");
    ASSERT_TRUE(reference && target);
    for (int g = 0; g < 3; ++g) {
      setOutcome(reference->faces[g], c.faces[g].angle, c.faces[g].normal, c.faces[g].position);
    }
    ModelFace& f = target->faces[0];
    f.scaledCentre = {0, 0, 0};
    target->parts[0].matchedPart = 0;
    ASSERT_EQ(matchFaces(reference.get(), target.get()), 1);
    EXPECT_EQ(f.matchLevel, c.level);
    if (c.matched >= 0) {
      EXPECT_EQ(f.matchedFace, c.matched);
      EXPECT_EQ(f.profile, nullptr);  // matched directly: no propagation
    } else {
      EXPECT_NE(f.profile, nullptr);  // left to the propagation, which gives a one-face part
      EXPECT_GE(f.matchedFace, 0);    // its best-scored face
    }
  }
}

// Coincident faces take their partner face with level 9, and a part matched that way needs
// no profiles; without a matched part the faces stay unmatched even with partners.
TEST(MatchFaces, CoincidentFacesAndUnmatchedParts) {
  SettingsReset settings;
  ModelPtr reference = fanModel();
  ModelPtr target = buildSurfaceModel(
      {triangle({5, 0, 0}, {6, 0, 0}, {5, 1, 0}), triangle({6, 0, 0}, {6, 1, 0}, {5, 1, 0}),
       triangle({9, 0, 0}, {10, 0, 0}, {9, 1, 0})},
      "Terget");
  ASSERT_TRUE(reference && target);
  ASSERT_EQ(target->partCount, 2);
  target->faces[0].partnerFace = 2;
  target->faces[1].partnerFace = 0;
  target->faces[2].partnerFace = 1;
  target->parts[0].matchedPart = 0;
  target->parts[1].matchedPart = -1;
  ASSERT_EQ(matchFaces(reference.get(), target.get()), 1);
  EXPECT_EQ(target->faces[0].matchedFace, 2);
  EXPECT_EQ(target->faces[1].matchedFace, 0);
  EXPECT_EQ(target->faces[0].matchLevel, 9);
  EXPECT_EQ(target->faces[2].matchedFace, -1);
  EXPECT_EQ(target->faces[2].matchLevel, 0);
  EXPECT_EQ(target->parts[0].flags, 0);
  EXPECT_EQ(reference->parts[0].flags, 0);
  for (int f = 0; f < 3; ++f)
    EXPECT_EQ(reference->faces[f].profile, nullptr);
}

// Two target parts matched to one reference part, no face passing all the direct tests. The second
// part is the first mirrored (x negated, same face and corner order), which leaves every
// profile, signature and normal distance the same bit for bit. Both propagations clear the
// reference part's marks first, so both parts end with the same reference faces.
TEST(MatchFaces, TwoTargetPartsShareTheirReferencePart) {
  SettingsReset settings;
  matchSettings.faceAngleMatching = 1e9;  // every angle test passes, every normal test fails
  matchSettings.vectorMatching = -1;
  std::vector<SurfaceFace> surface = randomSurface(21, 5, 4, {0, 0, 0});
  ModelPtr reference = buildSurfaceModel(shuffledSurface(surface, 22, {0, 0, 0}));
  std::vector<SurfaceFace> copy = shuffledSurface(surface, 23, {10, 0, 0});
  std::vector<SurfaceFace> twice = copy;
  for (SurfaceFace face : copy) {
    for (Vec3& corner : face)
      corner.x = -corner.x;
    twice.push_back(face);
  }
  ModelPtr target = buildSurfaceModel(twice, "Terget");
  ASSERT_TRUE(reference && target);
  ASSERT_EQ(target->partCount, 2);
  target->parts[0].matchedPart = 0;
  target->parts[1].matchedPart = 0;
  ASSERT_EQ(matchFaces(reference.get(), target.get()), 1);
  int n = static_cast<int>(copy.size());
  int matched = 0;
  for (int f = 0; f < n; ++f) {
    EXPECT_EQ(target->faces[f].matchLevel, reference->faceCount);
    EXPECT_EQ(target->faces[f].matchedFace, target->faces[n + f].matchedFace) << f;
    matched += target->faces[f].matchedFace >= 0;
  }
  EXPECT_GT(matched, n / 2);
  EXPECT_EQ(reference->parts[0].flags & 1, 1);
}

// A target face coincident with a face of another reference part: that part's profiles are
// computed before the propagation so the face's seed record can be scored, and its match stays.
TEST(MatchFaces, PartnerInAnotherReferencePartGetsItsProfilesComputed) {
  SettingsReset settings;
  matchSettings.faceAngleMatching = -1e9;
  std::vector<SurfaceFace> surface = randomSurface(31, 4, 3, {0, 0, 0});
  std::vector<SurfaceFace> referenceFaces = surface;
  std::vector<SurfaceFace> other = randomSurface(32, 2, 2, {50, 0, 0});
  referenceFaces.insert(referenceFaces.end(), other.begin(), other.end());
  ModelPtr reference = buildSurfaceModel(referenceFaces);
  ModelPtr target = buildSurfaceModel(shuffledSurface(surface, 33, {0, 9, 0}), "Terget");
  ASSERT_TRUE(reference && target);
  ASSERT_EQ(reference->partCount, 2);
  int otherFace = reference->parts[1].faces[1];
  target->faces[3].partnerFace = otherFace;
  target->parts[0].matchedPart = 0;
  ASSERT_EQ(matchFaces(reference.get(), target.get()), 1);
  EXPECT_EQ(reference->parts[1].flags & 1, 1);
  EXPECT_NE(reference->faces[otherFace].profile, nullptr);
  EXPECT_EQ(target->faces[3].matchedFace, otherFace);
  EXPECT_EQ(target->faces[3].matchLevel, 9);
}

// Every allocation of a face matching (profiles of both parts and the propagation) failing in
// turn: the call answers 0 and, once the models are released, nothing is left.
TEST(MatchFaces, AllocationFailuresFailCleanly) {
  SettingsReset settings;
  matchSettings.faceAngleMatching = -1e9;  // every face is left to the propagation
  ScratchFolder folder;
  setProgramDirectoryTo(folder.path.c_str());
  setErrorPresenter([](const char*) {});
  std::vector<SurfaceFace> surface = randomSurface(41, 4, 3, {0, 0, 0});
  int failures = 0;
  for (long n = 1;; ++n) {
    long live = gliveBlocks();
    int result;
    {
      ModelPtr reference = buildSurfaceModel(surface);
      ModelPtr target = buildSurfaceModel(shuffledSurface(surface, 42, {3, 0, 0}), "Terget");
      ASSERT_TRUE(reference && target);
      target->parts[0].matchedPart = 0;
      gfailAllocationAfter(n);
      result = matchFaces(reference.get(), target.get());
      gfailAllocationAfter(0);
    }
    EXPECT_EQ(gliveBlocks(), live);
    if (result == 1) break;
    ++failures;
  }
  setErrorPresenter(nullptr);
  setProgramDirectory();
  EXPECT_GE(failures, 20);
}
