#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "app/errorReport.h"
#include "app/programPath.h"
#include "compare/angleSignature.h"
#include "compare/influenceProfile.h"
#include "compare/propagation.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"
#include "textfiles/settings.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

bool listsFace(const ModelPoint& point, int face) {
  for (int k = 0; k < point.faceCount; ++k) {
    if (point.faces[k] == face) return true;
  }
  return false;
}

double profileDifference(const ModelFace& t, const ModelFace& r) {
  double sum = 0;
  for (int j = 0; j < kProfileSamples; ++j)
    sum += std::fabs(t.profile[j] - r.profile[j]);
  return sum;
}

// One step as plainly stated: both passes scan the whole part list, the considered-flags cover
// the whole target model and are cleared at each pass.
bool literalStep(FaceModel* reference, FaceModel* target, int partIndex, int seedFace,
                 bool requireMatchLevel) {
  const ModelPart& tp = target->parts[partIndex];
  const ModelFace& seed = target->faces[seedFace];
  const ModelFace& seedReference = reference->faces[seed.matchedFace];
  std::vector<int> considered(target->faceCount);
  bool handled = false;
  for (int k = 1; k <= 2; ++k) {
    std::fill(considered.begin(), considered.end(), 0);
    for (int i = 0; i < tp.faceCount; ++i) {
      int a = tp.faces[i];
      ModelFace& faceA = target->faces[a];
      if (faceA.mark != k) continue;
      handled = true;
      considered[a] = 1;
      const ModelFace& faceAR = reference->faces[faceA.matchedFace];
      for (int m = 0; m < faceA.cornerCount; ++m) {
        const ModelPoint& point = target->points[faceA.corners[m]];
        const ModelPoint& next = target->points[faceA.corners[(m + 1) % faceA.cornerCount]];
        for (int q = 0; q < point.faceCount; ++q) {
          int b = point.faces[q];
          ModelFace& faceB = target->faces[b];
          if (considered[b]) continue;
          if (faceB.mark != 0) {
            considered[b] = 1;
            continue;
          }
          if (requireMatchLevel && faceB.matchLevel == 0) continue;
          if (listsFace(next, b) != (k == 1)) continue;
          double dT = distance(faceA.normal, seed.normal) - distance(faceB.normal, seed.normal);
          double sT = signatureDistance(faceA.angleSignature, faceB.angleSignature);
          considered[b] = 1;
          double best = 1e308;
          int winner = -1;
          for (int l = 0; l < faceAR.cornerCount; ++l) {
            const ModelPoint& pointR = reference->points[faceAR.corners[l]];
            const ModelPoint& nextR =
                reference->points[faceAR.corners[(l + 1) % faceAR.cornerCount]];
            for (int s = 0; s < pointR.faceCount; ++s) {
              int c = pointR.faces[s];
              const ModelFace& faceC = reference->faces[c];
              if (faceC.mark != 0) continue;
              if (listsFace(nextR, c) != (k == 1)) continue;
              double dR = distance(faceAR.normal, seedReference.normal) -
                          distance(faceC.normal, seedReference.normal);
              double sR = signatureDistance(faceAR.angleSignature, faceC.angleSignature);
              double score = std::fabs(sR - sT) + std::fabs(dR - dT);
              if (score < best) {
                best = score;
                winner = c;
              }
            }
          }
          if (winner >= 0) {
            reference->faces[winner].mark = 1;
            faceB.mark = 1;
            if (faceB.matchedFace == -1) faceB.matchedFace = winner;
          }
        }
      }
      faceA.mark += 1;
    }
  }
  return handled;
}

// The whole propagation as plainly stated, with a stable sort of the records.
void literalPropagate(FaceModel* reference, FaceModel* target, int partIndex) {
  const ModelPart& tp = target->parts[partIndex];
  if (tp.matchedPart < 0) return;
  const ModelPart& rp = reference->parts[tp.matchedPart];
  std::vector<SeedCandidate> records;
  for (int i = 0; i < tp.faceCount; ++i) {
    const ModelFace& t = target->faces[tp.faces[i]];
    SeedCandidate record{1e308, tp.faces[i], -1};
    if (t.matchedFace >= 0) {
      const ModelFace& r = reference->faces[t.matchedFace];
      record.referenceFace = t.matchedFace;
      record.score = 0.5 * (profileDifference(t, r) +
                            0.01 * signatureDistance(t.angleSignature, r.angleSignature));
    } else {
      for (int j = 0; j < rp.faceCount; ++j) {
        const ModelFace& r = reference->faces[rp.faces[j]];
        double s =
            profileDifference(t, r) + 0.01 * signatureDistance(t.angleSignature, r.angleSignature);
        if (s < record.score) {
          record.score = s;
          record.referenceFace = rp.faces[j];
        }
      }
    }
    records.push_back(record);
  }
  std::stable_sort(records.begin(), records.end(), [](const auto& a, const auto& b) {
    if (std::isnan(a.score)) return false;
    if (std::isnan(b.score)) return true;
    return a.score < b.score;
  });
  auto seed = std::find_if(records.begin(), records.end(),
                           [](const SeedCandidate& r) { return r.referenceFace >= 0; });
  if (seed == records.end()) return;
  auto markPairs = [&](int mark) {
    for (int i = 0; i < tp.faceCount; ++i) {
      ModelFace& t = target->faces[tp.faces[i]];
      if (t.matchedFace < 0) continue;
      t.mark = mark;
      reference->faces[t.matchedFace].mark = mark;
    }
  };
  for (int i = 0; i < tp.faceCount; ++i)
    target->faces[tp.faces[i]].mark = 0;
  for (int i = 0; i < rp.faceCount; ++i)
    reference->faces[rp.faces[i]].mark = 0;
  markPairs(3);
  target->faces[seed->targetFace].matchedFace = seed->referenceFace;
  target->faces[seed->targetFace].mark = 1;
  reference->faces[seed->referenceFace].mark = 1;
  while (literalStep(reference, target, partIndex, seed->targetFace, true)) {
  }
  for (int i = 0; i < tp.faceCount; ++i)
    target->faces[tp.faces[i]].mark = 0;
  for (int i = 0; i < rp.faceCount; ++i)
    reference->faces[rp.faces[i]].mark = 0;
  markPairs(1);
  while (literalStep(reference, target, partIndex, seed->targetFace, false)) {
  }
}

struct ModelPair {
  ModelPtr reference, target;
};

// A reference of a random surface (part 0) and a small second surface (part 1); a target of
// the same first surface reordered and moved, matched to part 0, with random match levels, some
// faces matched beforehand (a few into part 1) and, with `nanProfiles`, some profiles not a
// number. Reproducible from `seed`.
ModelPair randomPair(uint32_t seed, int columns, int rows, bool nanProfiles) {
  std::mt19937 random(seed);
  std::vector<SurfaceFace> surface = randomSurface(seed, columns, rows, {0, 0, 0}, seed % 3);
  std::vector<SurfaceFace> referenceFaces = surface;
  std::vector<SurfaceFace> second = randomSurface(seed + 1, 3, 2, {50, 0, 0});
  referenceFaces.insert(referenceFaces.end(), second.begin(), second.end());
  ModelPair pair{buildSurfaceModel(referenceFaces, "Ref"),
                 buildSurfaceModel(shuffledSurface(surface, seed + 2, {7, 3, 1}), "Terget")};
  if (!pair.reference || !pair.target) return pair;
  FaceModel* reference = pair.reference.get();
  FaceModel* target = pair.target.get();
  target->parts[0].matchedPart = 0;
  const ModelPart& rp0 = reference->parts[0];
  const ModelPart& rp1 = reference->parts[1];
  for (int f = 0; f < target->faceCount; ++f) {
    ModelFace& face = target->faces[f];
    face.matchLevel = random() % 4 == 0 ? 0 : 1 + static_cast<int>(random() % 5);
    int roll = static_cast<int>(random() % 20);
    if (roll < 3) face.matchedFace = rp0.faces[random() % rp0.faceCount];
    if (roll == 3) face.matchedFace = rp1.faces[random() % rp1.faceCount];
  }
  computePartProfiles(target, 0);
  computePartProfiles(reference, 1);
  computePartProfiles(reference, 0);
  if (nanProfiles) {
    for (int f = 0; f < target->faceCount; f += 3)
      target->faces[f].profile[random() % 256] = kNaN;
    for (int f = 0; f < rp0.faceCount; f += 4) {
      reference->faces[rp0.faces[f]].profile[random() % 256] = kNaN;
    }
  }
  return pair;
}

struct SettingsReset {
  MatchSettings saved = matchSettings;
  ~SettingsReset() { matchSettings = saved; }
};

// Triangle corners; the fourth repeats the third.
SurfaceFace triangle(Vec3 a, Vec3 b, Vec3 c) {
  return {a, b, c, c};
}

}  // namespace

// Random part pairs: the propagation with its ordered fronts and touched-list flags matches
// the same faces as the plain passes and leaves the same marks on both models.
TEST(PropagateMatches, MatchesThePlainPassesOnRandomParts) {
  SettingsReset settings;
  matchSettings.sameFaceAngleAdvantage = 0.25;
  int propagated = 0;
  for (uint32_t seed = 1; seed <= 24; ++seed) {
    SCOPED_TRACE(seed);
    int columns = 2 + static_cast<int>(seed % 7) * 2, rows = 1 + static_cast<int>(seed % 5) * 3;
    bool nan = seed % 4 == 0;
    ModelPair fast = randomPair(seed, columns, rows, nan);
    ModelPair plain = randomPair(seed, columns, rows, nan);
    ASSERT_TRUE(fast.reference && fast.target && plain.reference && plain.target);
    ASSERT_EQ(propagateMatches(fast.reference.get(), fast.target.get(), 0), 1);
    literalPropagate(plain.reference.get(), plain.target.get(), 0);
    for (int f = 0; f < fast.target->faceCount; ++f) {
      ASSERT_EQ(fast.target->faces[f].matchedFace, plain.target->faces[f].matchedFace) << f;
      ASSERT_EQ(fast.target->faces[f].mark, plain.target->faces[f].mark) << f;
      propagated += plain.target->faces[f].mark == 3;
    }
    for (int f = 0; f < fast.reference->faceCount; ++f) {
      ASSERT_EQ(fast.reference->faces[f].mark, plain.reference->faces[f].mark) << f;
    }
  }
  EXPECT_GT(propagated, 500);  // the cases do spread
}

// The seed is the first record with a reference face in a stable ascending sort with NaN last.
TEST(ChooseSeed, FirstValidRecordOfTheStableSort) {
  std::mt19937 random(8);
  const double scores[] = {kNaN, -kNaN, 0.5, 0.5, -1.0, 1e308, 2.0, 0.0, -0.0};
  for (int round = 0; round < 400; ++round) {
    int count = static_cast<int>(random() % 9);
    std::vector<SeedCandidate> records;
    for (int i = 0; i < count; ++i) {
      records.push_back({scores[random() % 9], i, random() % 3 == 0 ? -1 : i});
    }
    std::vector<SeedCandidate> sorted = records;
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
      if (std::isnan(a.score)) return false;
      if (std::isnan(b.score)) return true;
      return a.score < b.score;
    });
    auto first = std::find_if(sorted.begin(), sorted.end(),
                              [](const SeedCandidate& r) { return r.referenceFace >= 0; });
    int expected = first == sorted.end() ? -1 : first->targetFace;
    EXPECT_EQ(chooseSeed(records.data(), count), expected) << round;
  }
}

// One unmatched target face: it takes the reference face with the lowest profile and signature
// score, and nothing else changes.
TEST(PropagateMatches, OneFacePartTakesTheBestScoredFace) {
  ModelPtr reference = buildSurfaceModel(randomSurface(3, 3, 2, {0, 0, 0}));
  ModelPtr target = buildSurfaceModel({triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0.3})}, "Terget");
  ASSERT_TRUE(reference && target);
  target->parts[0].matchedPart = 0;
  ASSERT_EQ(computePartProfiles(target.get(), 0), 1);
  ASSERT_EQ(computePartProfiles(reference.get(), 0), 1);
  const ModelFace& t = target->faces[0];
  double best = 1e308;
  int expected = -1;
  for (int r = 0; r < reference->faceCount; ++r) {
    double s = profileDifference(t, reference->faces[r]) +
               0.01 * signatureDistance(t.angleSignature, reference->faces[r].angleSignature);
    if (s < best) best = s, expected = r;
  }
  ASSERT_EQ(propagateMatches(reference.get(), target.get(), 0), 1);
  EXPECT_EQ(t.matchedFace, expected);
  EXPECT_EQ(t.mark, 3);
}

// A part whose faces are all matched keeps every pairing, whatever the seed.
TEST(PropagateMatches, AllMatchedPartKeepsItsMatches) {
  ModelPair pair = randomPair(5, 6, 4, false);
  ASSERT_TRUE(pair.reference && pair.target);
  std::vector<int> before;
  for (int f = 0; f < pair.target->faceCount; ++f) {
    ModelFace& face = pair.target->faces[f];
    if (face.matchedFace < 0) face.matchedFace = (f * 7) % pair.reference->parts[0].faceCount;
    before.push_back(face.matchedFace);
  }
  ASSERT_EQ(propagateMatches(pair.reference.get(), pair.target.get(), 0), 1);
  for (int f = 0; f < pair.target->faceCount; ++f) {
    EXPECT_EQ(pair.target->faces[f].matchedFace, before[f]);
  }
}

// When no record finds a reference face (every score NaN) the part is left as it was.
TEST(PropagateMatches, NoValidRecordLeavesThePartAlone) {
  ModelPair pair = randomPair(6, 4, 3, false);
  ASSERT_TRUE(pair.reference && pair.target);
  FaceModel* reference = pair.reference.get();
  FaceModel* target = pair.target.get();
  for (int f = 0; f < target->faceCount; ++f)
    target->faces[f].matchedFace = -1;
  for (int f = 0; f < reference->faceCount; ++f) {
    if (reference->faces[f].profile) reference->faces[f].profile[17] = kNaN;
    reference->faces[f].mark = 7;
  }
  for (int f = 0; f < target->faceCount; ++f)
    target->faces[f].mark = 7;
  ASSERT_EQ(propagateMatches(reference, target, 0), 1);
  for (int f = 0; f < target->faceCount; ++f) {
    EXPECT_EQ(target->faces[f].matchedFace, -1);
    EXPECT_EQ(target->faces[f].mark, 7);
  }
  EXPECT_EQ(reference->faces[0].mark, 7);
}

// A NaN score on the best-looking record does not stop a valid seed from being chosen: the
// seed is a record with a number score.
TEST(PropagateMatches, NaNScoresDoNotBreakTheSeedChoice) {
  ModelPair pair = randomPair(7, 5, 4, false);
  ASSERT_TRUE(pair.reference && pair.target);
  FaceModel* target = pair.target.get();
  for (int f = 0; f < target->faceCount; ++f) {
    ModelFace& face = target->faces[f];
    face.matchedFace = -1;
    if (f != 4) face.profile[0] = kNaN;  // only face 4 can be scored
  }
  ASSERT_EQ(propagateMatches(pair.reference.get(), target, 0), 1);
  EXPECT_GE(target->faces[4].matchedFace, 0);
  int matched = 0;
  for (int f = 0; f < target->faceCount; ++f)
    matched += target->faces[f].matchedFace >= 0;
  EXPECT_GT(matched, 1);  // spread from face 4
}

// Sets up one step from seed T0 = R0: marks cleared, T0 and R0 the front, match levels 1.
void startFromSeed(FaceModel* reference, FaceModel* target) {
  for (int f = 0; f < target->faceCount; ++f) {
    target->faces[f].matchedFace = -1;
    target->faces[f].mark = 0;
    target->faces[f].matchLevel = 1;
  }
  for (int f = 0; f < reference->faceCount; ++f)
    reference->faces[f].mark = 0;
  target->faces[0].matchedFace = 0;
  target->faces[0].mark = 1;
  reference->faces[0].mark = 1;
}

// A flat fan where every candidate scores the same: the reference face met first in the walk
// (lowest corner of the front face's reference face, then point list order) wins over a
// lower-indexed face that ties. A face with matchLevel 0 is not matched while match levels
// are required, and is when they are not.
TEST(PropagationStep, FirstMetWinsTiesAndMatchLevelZeroWaitsForPhaseTwo) {
  SettingsReset settings;
  matchSettings.sameFaceAngleAdvantage = 0;
  // R0 with corner 0 at (0,1,0); RB below its edge from corner 1 (index 1); RL left of its
  // edge from corner 0 (index 2).
  ModelPtr reference = buildSurfaceModel({triangle({0, 1, 0}, {0, 0, 0}, {1, 0, 0}),
                                          triangle({0, 0, 0}, {0.5, -1, 0}, {1, 0, 0}),
                                          triangle({0, 0, 0}, {0, 1, 0}, {-1, 0.5, 0})});
  ModelPtr target = buildSurfaceModel(
      {triangle({5, 0, 0}, {6, 0, 0}, {5, 1, 0}), triangle({6, 0, 0}, {6, 1, 0}, {5, 1, 0})},
      "Terget");
  ASSERT_TRUE(reference && target);
  startFromSeed(reference.get(), target.get());
  EXPECT_TRUE(propagationStep(reference.get(), target.get(), 0, 0, true));
  EXPECT_EQ(target->faces[1].matchedFace, 2);  // RL: met at corner 0, before RB
  EXPECT_EQ(reference->faces[1].mark, 0);
  EXPECT_EQ(target->faces[0].mark, 3);
  EXPECT_EQ(target->faces[1].mark, 3);  // matched ahead of T0: spread in the same passes
  EXPECT_FALSE(propagationStep(reference.get(), target.get(), 0, 0, true));

  startFromSeed(reference.get(), target.get());
  target->faces[1].matchLevel = 0;
  EXPECT_TRUE(propagationStep(reference.get(), target.get(), 0, 0, true));
  EXPECT_EQ(target->faces[1].matchedFace, -1);
  startFromSeed(reference.get(), target.get());
  target->faces[1].matchLevel = 0;
  EXPECT_TRUE(propagationStep(reference.get(), target.get(), 0, 0, false));
  EXPECT_EQ(target->faces[1].matchedFace, 2);
}

// T2 touches the seed face T0 at one corner only: pass 1 passes it over, pass 2 of the same
// step pairs it with the best face touching R0 at a corner but not along that corner's edge:
// the flat RC beats the tilted edge neighbour RB, which qualifies only at its far corner.
TEST(PropagationStep, CornerNeighbourIsMatchedInPassTwo) {
  SettingsReset settings;
  matchSettings.sameFaceAngleAdvantage = 0;
  ModelPtr reference = buildSurfaceModel({triangle({0, 1, 0}, {0, 0, 0}, {1, 0, 0}),
                                          triangle({0, 0, 0}, {0.5, -1, -0.5}, {1, 0, 0}),
                                          triangle({1, 0, 0}, {2, -0.5, 0}, {2, 0.5, 0})});
  ModelPtr target = buildSurfaceModel(
      {triangle({5, 0, 0}, {6, 0, 0}, {5, 1, 0}), triangle({5, 0, 0}, {4, -1, 0}, {5, -1, 0})},
      "Terget");
  ASSERT_TRUE(reference && target);
  ASSERT_EQ(target->partCount, 1);
  startFromSeed(reference.get(), target.get());
  EXPECT_TRUE(propagationStep(reference.get(), target.get(), 0, 0, true));
  EXPECT_EQ(target->faces[1].matchedFace, 2);
  EXPECT_EQ(target->faces[1].mark, 1);  // matched in pass 2: waits for the next step
  EXPECT_EQ(reference->faces[2].mark, 1);
  EXPECT_EQ(reference->faces[1].mark, 0);
}

// Every allocation of a propagation failing in turn: the call answers 0, changes no match and
// leaks nothing.
TEST(PropagateMatches, AllocationFailuresFailCleanly) {
  ScratchFolder folder;
  setProgramDirectoryTo(folder.path.c_str());
  static int reports = 0;
  setErrorPresenter([](const char*) { ++reports; });
  int failures = 0;
  for (long n = 1;; ++n) {
    ModelPair pair = randomPair(9, 5, 4, false);
    ASSERT_TRUE(pair.reference && pair.target);
    std::vector<int> before;
    for (int f = 0; f < pair.target->faceCount; ++f) {
      before.push_back(pair.target->faces[f].matchedFace);
    }
    long live = gliveBlocks();
    gfailAllocationAfter(n);
    int result = propagateMatches(pair.reference.get(), pair.target.get(), 0);
    gfailAllocationAfter(0);
    if (result == 1) break;
    ++failures;
    EXPECT_EQ(reports, failures);
    EXPECT_EQ(gliveBlocks(), live);
    for (int f = 0; f < pair.target->faceCount; ++f) {
      ASSERT_EQ(pair.target->faces[f].matchedFace, before[f]);
    }
  }
  setErrorPresenter(nullptr);
  setProgramDirectory();
  EXPECT_GE(failures, 3);
}
