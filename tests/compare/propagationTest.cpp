// Propagation: the whole spreading against a plain statement of it on random part pairs, the
// seed choice, and the step's tie and match-level rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "compare/angleSignature.h"
#include "compare/influenceProfile.h"
#include "compare/propagation.h"
#include "compare/propagationInternal.h"
#include "support/testSupport.h"
#include "textfiles/settings.h"

namespace {

const double kNaN = std::nan("");

struct SettingsReset {
  MatchSettings saved = matchSettings;
  ~SettingsReset() { matchSettings = saved; }
};

SurfaceFace triangle(Vec3 a, Vec3 b, Vec3 c) {
  return {a, b, c, c};
}

// Whether face `other` uses the corner after corner m of `face`, so shares that edge.
bool sharesEdge(const FaceModel* model, const ModelFace& face, int m, int other) {
  const ModelPoint& next = model->points[face.corners[(m + 1) % face.cornerCount]];
  return std::find(next.faces, next.faces + next.faceCount, other) != next.faces + next.faceCount;
}

// One step as plainly stated: both passes scan the whole part list, the considered-flags cover
// the whole target model and are cleared at each pass.
bool plainStep(FaceModel* ref, FaceModel* tgt, int partIndex, int seedFace, bool requireLevel) {
  const ModelPart& tp = tgt->parts[partIndex];
  const Vec3 seedNormal = tgt->faces[seedFace].normal;
  const Vec3 seedRefNormal = ref->faces[tgt->faces[seedFace].matchedFace].normal;
  bool handled = false;
  for (int k = 1; k <= 2; ++k) {
    std::vector<char> considered(tgt->faceCount);
    for (int i = 0; i < tp.faceCount; ++i) {
      ModelFace& a = tgt->faces[tp.faces[i]];
      if (a.mark != k) continue;
      considered[tp.faces[i]] = handled = true;
      const ModelFace& ar = ref->faces[a.matchedFace];
      for (int m = 0; m < a.cornerCount; ++m) {
        const ModelPoint& point = tgt->points[a.corners[m]];
        for (int q = 0; q < point.faceCount; ++q) {
          int b = point.faces[q];
          ModelFace& fb = tgt->faces[b];
          if (considered[b]) continue;
          if (fb.mark != 0) {
            considered[b] = 1;
            continue;
          }
          if ((requireLevel && fb.matchLevel == 0) || sharesEdge(tgt, a, m, b) != (k == 1))
            continue;
          considered[b] = 1;
          double dT = distance(a.normal, seedNormal) - distance(fb.normal, seedNormal);
          double sT = signatureDistance(a.angleSignature, fb.angleSignature);
          double best = 1e308;
          int winner = -1;
          for (int l = 0; l < ar.cornerCount; ++l) {
            const ModelPoint& pointR = ref->points[ar.corners[l]];
            for (int s = 0; s < pointR.faceCount; ++s) {
              int c = pointR.faces[s];
              const ModelFace& fc = ref->faces[c];
              if (fc.mark != 0 || sharesEdge(ref, ar, l, c) != (k == 1)) continue;
              double dR = distance(ar.normal, seedRefNormal) - distance(fc.normal, seedRefNormal);
              double sR = signatureDistance(ar.angleSignature, fc.angleSignature);
              double score = std::fabs(sR - sT) + std::fabs(dR - dT);
              if (score < best) best = score, winner = c;
            }
          }
          if (winner < 0) continue;
          ref->faces[winner].mark = fb.mark = 1;
          if (fb.matchedFace == -1) fb.matchedFace = winner;
        }
      }
      a.mark += 1;
    }
  }
  return handled;
}

double score(const ModelFace& t, const ModelFace& r) {
  double sum = 0;
  for (int j = 0; j < kProfileSamples; ++j)
    sum += std::fabs(t.profile[j] - r.profile[j]);
  return sum + 0.01 * signatureDistance(t.angleSignature, r.angleSignature);
}

// The whole propagation as plainly stated (the seed taken with chooseSeed).
void plainPropagate(FaceModel* ref, FaceModel* tgt, int partIndex) {
  const ModelPart& tp = tgt->parts[partIndex];
  const ModelPart& rp = ref->parts[tp.matchedPart];
  std::vector<SeedCandidate> records;
  for (int i = 0; i < tp.faceCount; ++i) {
    const ModelFace& t = tgt->faces[tp.faces[i]];
    SeedCandidate record{1e308, tp.faces[i], -1};
    if (t.matchedFace >= 0)
      record = {0.5 * score(t, ref->faces[t.matchedFace]), tp.faces[i], t.matchedFace};
    for (int j = 0; j < rp.faceCount && t.matchedFace < 0; ++j) {
      double s = score(t, ref->faces[rp.faces[j]]);
      if (s < record.score) record = {s, tp.faces[i], rp.faces[j]};
    }
    records.push_back(record);
  }
  int chosen = chooseSeed(records.data(), tp.faceCount);
  if (chosen < 0) return;
  const SeedCandidate seed = records[chosen];
  auto phase = [&](int pairMark, bool requireLevel) {
    for (int i = 0; i < tp.faceCount; ++i)
      tgt->faces[tp.faces[i]].mark = 0;
    for (int i = 0; i < rp.faceCount; ++i)
      ref->faces[rp.faces[i]].mark = 0;
    for (int i = 0; i < tp.faceCount; ++i) {
      ModelFace& t = tgt->faces[tp.faces[i]];
      if (t.matchedFace >= 0) t.mark = ref->faces[t.matchedFace].mark = pairMark;
    }
    if (requireLevel) {
      tgt->faces[seed.targetFace].matchedFace = seed.referenceFace;
      tgt->faces[seed.targetFace].mark = ref->faces[seed.referenceFace].mark = 1;
    }
    while (plainStep(ref, tgt, partIndex, seed.targetFace, requireLevel)) {
    }
  };
  phase(3, true);
  phase(1, false);
}

struct ModelPair {
  ModelPtr reference, target;
};

enum PairKind { kPlain, kSomeNaN, kOneScorable, kNoneScorable };

// A reference of a random surface (part 0) and a small second surface (part 1); a target of
// the same first surface reordered and moved, matched to part 0, with random match levels and
// some faces matched beforehand (a few into part 1), profiles computed. kSomeNaN puts NaN into
// some profiles; kOneScorable and kNoneScorable unmatch every target face and leave one face
// or none with a profile score that is a number.
ModelPair randomPair(uint32_t seed, int columns, int rows, PairKind kind) {
  std::mt19937 random(seed);
  std::vector<SurfaceFace> surface = randomSurface(seed, columns, rows, {0, 0, 0}, seed % 3);
  std::vector<SurfaceFace> referenceFaces = surface,
                           second = randomSurface(seed + 1, 3, 2, {50, 0, 0});
  referenceFaces.insert(referenceFaces.end(), second.begin(), second.end());
  ModelPair pair{buildSurfaceModel(referenceFaces, "Ref"),
                 buildSurfaceModel(shuffledSurface(surface, seed + 2, {7, 3, 1}), "Terget")};
  if (!pair.reference || !pair.target) return pair;
  FaceModel* reference = pair.reference.get();
  FaceModel* target = pair.target.get();
  target->parts[0].matchedPart = 0;
  const ModelPart &rp0 = reference->parts[0], &rp1 = reference->parts[1];
  for (int f = 0; f < target->faceCount; ++f) {
    ModelFace& face = target->faces[f];
    face.matchLevel = random() % 4 == 0 ? 0 : 1 + static_cast<int>(random() % 5);
    int roll = kind >= kOneScorable ? 20 : static_cast<int>(random() % 20);
    if (roll < 3) face.matchedFace = rp0.faces[random() % rp0.faceCount];
    if (roll == 3) face.matchedFace = rp1.faces[random() % rp1.faceCount];
  }
  computePartProfiles(target, 0);
  computePartProfiles(reference, 1);
  computePartProfiles(reference, 0);
  for (int f = 0; f < target->faceCount; ++f) {
    if ((kind == kSomeNaN && f % 3 == 0) || (kind >= kOneScorable && f != 4))
      target->faces[f].profile[random() % 256] = kNaN;
  }
  for (int f = 0; f < rp0.faceCount; ++f) {
    if ((kind == kSomeNaN && f % 4 == 0) || kind == kNoneScorable)
      reference->faces[rp0.faces[f]].profile[random() % 256] = kNaN;
  }
  return pair;
}

}  // namespace

// Random part pairs: the propagation with its ordered fronts and touched-list flags matches the
// same faces as the plain passes and leaves the same marks on both models, also when NaN
// scores leave one face to seed from, or none (the part is then left as it was).
TEST(PropagateMatches, MatchesThePlainPassesOnRandomParts) {
  SettingsReset settings;
  matchSettings.sameFaceAngleAdvantage = 0.25;
  int propagated = 0;
  for (uint32_t seed = 1; seed <= 16; ++seed) {
    SCOPED_TRACE(seed);
    int columns = 2 + static_cast<int>(seed % 7) * 2, rows = 1 + static_cast<int>(seed % 5) * 3;
    PairKind kind = static_cast<PairKind>(seed % 4);
    ModelPair fast = randomPair(seed, columns, rows, kind);
    ModelPair plain = randomPair(seed, columns, rows, kind);
    ASSERT_TRUE(fast.reference && fast.target && plain.reference && plain.target);
    ASSERT_EQ(propagateMatches(fast.reference.get(), fast.target.get(), 0), 1);
    plainPropagate(plain.reference.get(), plain.target.get(), 0);
    int matched = 0;
    for (int f = 0; f < fast.target->faceCount; ++f) {
      ASSERT_EQ(fast.target->faces[f].matchedFace, plain.target->faces[f].matchedFace) << f;
      ASSERT_EQ(fast.target->faces[f].mark, plain.target->faces[f].mark) << f;
      matched += plain.target->faces[f].matchedFace >= 0;
      propagated += plain.target->faces[f].mark == 3;
    }
    for (int f = 0; f < fast.reference->faceCount; ++f)
      ASSERT_EQ(fast.reference->faces[f].mark, plain.reference->faces[f].mark) << f;
    EXPECT_TRUE(kind != kNoneScorable || matched == 0);
    EXPECT_TRUE(kind != kOneScorable || (fast.target->faces[4].matchedFace >= 0 && matched > 1));
  }
  EXPECT_GT(propagated, 500);
}

// The seed is the first record with a reference face in a stable ascending sort with NaN last;
// -1 when no record has one.
TEST(ChooseSeed, FirstValidRecordOfTheStableSort) {
  std::mt19937 random(8);
  const double scores[] = {kNaN, -kNaN, 0.5, 0.5, -1.0, 1e308, 2.0, 0.0, -0.0};
  for (int round = 0; round < 400; ++round) {
    int count = static_cast<int>(random() % 9);
    std::vector<SeedCandidate> records;
    for (int i = 0; i < count; ++i)
      records.push_back({scores[random() % 9], i, random() % 3 == 0 ? -1 : i});
    std::vector<SeedCandidate> sorted = records;
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
      return !std::isnan(a.score) && (std::isnan(b.score) || a.score < b.score);
    });
    auto first = std::find_if(sorted.begin(), sorted.end(),
                              [](const SeedCandidate& r) { return r.referenceFace >= 0; });
    EXPECT_EQ(chooseSeed(records.data(), count), first == sorted.end() ? -1 : first->targetFace);
  }
}

// A flat fan where every candidate scores the same: the reference face met first in the walk
// (lowest corner of the front face's reference face, then point list order) wins over a
// lower-indexed face that ties. A face with matchLevel 0 is not matched while match levels
// are required (phase 1), and is when they are not (phase 2).
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
  // From seed T0 = R0: marks cleared, T0 and R0 the front, T1's match level as given.
  auto start = [&](int level) {
    for (int f = 0; f < reference->faceCount; ++f)
      reference->faces[f].mark = 0;
    for (int f = 0; f < target->faceCount; ++f)
      target->faces[f].matchedFace = -1, target->faces[f].mark = 0;
    target->faces[1].matchLevel = level;
    target->faces[0].matchedFace = 0;
    target->faces[0].mark = reference->faces[0].mark = 1;
  };
  start(1);
  EXPECT_TRUE(propagationStep(reference.get(), target.get(), 0, 0, true));
  EXPECT_EQ(target->faces[1].matchedFace, 2);  // RL: met at corner 0, before RB
  EXPECT_EQ(reference->faces[1].mark, 0);
  EXPECT_EQ(target->faces[0].mark, 3);
  EXPECT_EQ(target->faces[1].mark, 3);  // matched ahead of T0: spread in the same passes
  EXPECT_FALSE(propagationStep(reference.get(), target.get(), 0, 0, true));
  start(0);
  EXPECT_TRUE(propagationStep(reference.get(), target.get(), 0, 0, true));
  EXPECT_EQ(target->faces[1].matchedFace, -1);
  start(0);
  EXPECT_TRUE(propagationStep(reference.get(), target.get(), 0, 0, false));
  EXPECT_EQ(target->faces[1].matchedFace, 2);
}
