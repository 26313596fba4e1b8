// Angle signatures, signature distance, influence profiles and propagation: each against its
// literal statement on random models, plus worked numbers for the signature distance.
// (Every allocation of a profile computation failing in turn is the hardening tests' part.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <string>

#include "compare/angleSignature.h"
#include "compare/influenceProfile.h"
#include "compare/influenceWorkers.h"
#include "compare/propagation.h"
#include "model/partGrouping.h"
#include "reference/literalProfiles.h"
#include "reference/literalPropagation.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"
#include "textfiles/settings.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN(), kPi = std::numbers::pi;
using Bins = std::vector<double>;

bool sameBits(const void* a, const void* b, size_t doubles = 1) {
  return doubles == 0 || std::memcmp(a, b, sizeof(double) * doubles) == 0;
}

// A grouped and measured model of these faces, without angle signatures yet.
ModelPtr groupedModel(const std::vector<SurfaceFace>& faces) {
  ModelPtr model(createModel("Ref"));
  for (const SurfaceFace& face : faces)
    EXPECT_EQ(addFace(model.get(), "L", face.data()), 1);
  EXPECT_TRUE(groupParts(model.get()) && measureParts(model.get()));
  return model;
}

// The signatures as plainly stated: every other face sharing at least two corner points (a
// repeated point counted each time), in index order, adds its angle (the normals' dot product
// clamped to [-1, 1]; nothing when NaN) to bin angle * 16 / pi of the face and of its part;
// bins 0 and 16 weigh a tenth.
void computeAndExpectLiteralSignatures(FaceModel* m) {
  ASSERT_EQ(computeAngleSignatures(m), 1);
  std::vector<Bins> bins(m->faceCount + m->partCount, Bins(kSignatureBins));  // faces, parts
  for (int b = 0; b < m->faceCount; ++b) {
    const ModelFace& face = m->faces[b];
    for (int c = 0; c < m->faceCount; ++c) {
      int shared = 0;
      for (int i = 0; i < face.cornerCount; ++i)
        for (int k = 0; k < m->faces[c].cornerCount; ++k)
          shared += face.corners[i] == m->faces[c].corners[k];
      double theta = std::acos(std::clamp(dot(face.normal, m->faces[c].normal), -1.0, 1.0));
      if (c == b || shared < 2 || std::isnan(theta)) continue;
      bins[b][static_cast<int>(theta * 5.092958178940651)] += theta;
      bins[m->faceCount + face.part - 1][static_cast<int>(theta * 5.092958178940651)] += theta;
    }
  }
  for (int i = 0; i < m->faceCount + m->partCount; ++i) {
    const double* s = i < m->faceCount ? faceSignature(*m, m->faces[i])
                                       : m->parts[i - m->faceCount].angleSignature;
    bins[i][0] *= 0.1, bins[i][16] *= 0.1;
    EXPECT_EQ(Bins(s, s + kSignatureBins), bins[i]) << i;
  }
}

TEST(AngleSignatures, EqualTheLiteralSums) {
  // Two triangles hinged on an edge and a third touching the second at one point only, with
  // normals that hit bins 0, 5, 8, 10, 15 and 16, dot products rounded beyond +-1, a zero
  // normal and a NaN one.
  const double up = std::nextafter(1.0, 2.0), below = std::nextafter(1.0, 0.0),
               s60 = 0.8660254037844386;
  const Vec3 normals[][2] = {{{0, 0, 1}, {0, 1, 0}},         {{0, 0, 1}, {0, s60, 0.5}},
                             {{0, 0, 1}, {0, s60, -0.5}},    {{0, 0, 1}, {0, 0, -1}},
                             {{0, 0, up}, {0, 0, -1}},       {{0, 0, up}, {0, 0, 1}},
                             {{0, 0, 1}, {0, 1e-8, -below}}, {{0, 0, 0}, {0, 0, 1}},
                             {{0, 0, 1}, {0, 0, 1}},         {{kNaN, 0, 0}, {0, 0, 1}}};
  for (const auto& [a, b] : normals) {
    ModelPtr hinge = groupedModel({{{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 1, 0}}},
                                   {{{1, 0, 0}, {0, 0, 0}, {0, 0, 1}, {0, 0, 1}}},
                                   {{{0, 0, 1}, {5, 5, 5}, {6, 5, 5}, {6, 5, 5}}}});
    hinge->faces[0].normal = a, hinge->faces[1].normal = b;
    computeAndExpectLiteralSignatures(hinge.get());
    EXPECT_TRUE(b.y != 1 || faceSignature(*hinge, hinge->faces[0])[8] == kPi / 2);  // a right angle
  }
  // A pyramid of five sides whose base quad repeats point p(0): side 4 shares p(0) twice with
  // the base but counts once; the tip's face list grows by four entries twice. Then under
  // random normals tilted a little, so that several angles share a bin (met around the base
  // out of index order, summed in index order).
  auto p = [](int i) { return Vec3{std::cos(i % 5 * 1.25), std::sin(i % 5 * 1.25), 0}; };
  std::vector<SurfaceFace> sides;
  for (int i = 0; i < 5; ++i)
    sides.push_back({Vec3{0, 0, 1}, p(i), p(i + 1), p(i + 1)});
  sides.push_back({p(0), p(1), p(2), p(0)});
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> tilt(-0.3, 0.3);
  for (int trial = 0; trial < 200; ++trial) {
    ModelPtr pyramid = groupedModel(sides);
    for (int f = 0; trial > 0 && f < pyramid->faceCount; ++f)
      pyramid->faces[f].normal = normalizeSnapped({tilt(rng), tilt(rng), 1.0});
    computeAndExpectLiteralSignatures(pyramid.get());
    const ModelPoint &tip = pyramid->points[pyramid->faces[0].corners[0]],
                     &twice = pyramid->points[pyramid->faces[5].corners[0]];
    EXPECT_EQ(std::vector<int>(tip.faces, tip.faces + tip.faceCapacity),
              (std::vector<int>{0, 1, 2, 3, 4, 0, 0, 0}));
    EXPECT_EQ(tip.faceCount, 5);
    EXPECT_EQ(std::vector<int>(twice.faces, twice.faces + twice.faceCapacity),
              (std::vector<int>{0, 4, 5, 5}));
  }
}

// Bins differing by less than 0.001 where the first signature holds more than 0.001 each
// earn a quarter turn of advantage; both comparisons are strict, and only the first
// signature's bins count, so the distance is not symmetric.
TEST(SignatureDistance, WorkedNumbersSelfDistanceAndAsymmetry) {
  SettingsRestore restore;
  auto sig = [](std::initializer_list<std::pair<int, double>> bins) {
    Bins s(kSignatureBins);
    for (auto [k, v] : bins)
      s[k] = v;
    return s;
  };
  const double h = kPi / 2, q = 0.25 * kPi;
  const Bins s = sig({{0, 0.2}, {3, 0.0015}, {8, h}, {16, 0.0005}}), t = sig({{3, 0.0008}, {8, h}});
  struct Case {
    Bins a, b;
    double advantage, expected;
  } cases[] = {
      {sig({{8, h}}), sig({{8, h + 0.0005}}), 0.25, (0.0005 - q) / (2 * kPi)},
      {sig({{8, h}}), sig({{8, h + 0.002}}), 0.25, 0.002 / (2 * kPi)},
      {sig({{8, h}}), sig({{5, h}}), 0.25, 0.5},
      {sig({{5, h}}), sig({{8, h}}), 0.25, 0.5},
      {s, s, 0.25, (-3 * q) / (2 * kPi)},
      {s, t, 0.25, (0.2012 - 2 * q) / (2 * kPi)},
      {t, s, 0.25, (0.2012 - q) / (2 * kPi)},
      {sig({{1, 0.002}, {2, 0.001}}), sig({{1, 0.001}, {2, 0.001}}), 0.25, 0.001 / 2 / kPi},
      {t, t, 0.0, 0.0}};
  for (const Case& c : cases) {
    matchSettings.sameFaceAngleAdvantage = c.advantage;
    EXPECT_NEAR(signatureDistance(c.a.data(), c.b.data()), c.expected, 1e-12) << c.expected;
  }
}

// Signatures compared side by side give signatureDistance's bits in every lane, with awkward
// bins (NaN, infinities, -0.0, values at the tolerance) and advantages (0, negative, infinite).
TEST(SignatureDistances, EqualOneAtATime) {
  SettingsRestore restore;
  std::mt19937 random(9);
  const double awkward[] = {0.0, -0.0, kNaN, INFINITY, 0.001, 0.002, 1e-300, kPi};
  auto value = [&] {
    return random() % 3 ? std::uniform_real_distribution<double>(0, 0.01)(random)
                        : awkward[random() % 8];
  };
  for (double advantage : {0.25, 0.0, -1.5, double(INFINITY), kNaN}) {
    matchSettings.sameFaceAngleAdvantage = advantage;
    for (int round = 0; round < 50; ++round) {
      Bins a(kSignatureBins), layout(kSignatureBins * kSignatureBlock), out(kSignatureBlock);
      for (double& v : a)
        v = value();
      for (double& v : layout)
        v = round % 2 ? value() : a[(&v - layout.data()) / kSignatureBlock];
      signatureDistances(a.data(), layout.data(), out.data());
      for (int k = 0; k < kSignatureBlock; ++k) {
        Bins b(kSignatureBins);
        for (int i = 0; i < kSignatureBins; ++i)
          b[i] = layout[i * kSignatureBlock + k];
        const double expected = signatureDistance(a.data(), b.data());
        ASSERT_TRUE(sameBits(&out[k], &expected)) << advantage << " " << round << " " << k;
      }
    }
  }
}

// Random models of three parts (a surface with repeated faces, a small surface, a triangle),
// faces shuffled, stale marks: every part is the literal passes' bits, marks of the whole model
// included, on any thread count. A NaN point makes the first surface's profiles NaN; repeated
// faces alone must not; a long flat strip overflows and is spread again in the scrambled order,
// with finite profiles. Made in several passes for want of memory, the later ones read back
// from a scratch file or (with none to be had) spread again, the profiles are the same.
// Computed or out-of-range parts are left alone.
TEST(ComputePartProfiles, EqualTheLiteralPassesBitForBitOnAnyThreadCount) {
  SettingsRestore restore;
  enum Kind { kBumpy, kNaNPoint, kFlatStrip };
  struct Case {
    int columns, rows, duplicates, threads;
    Kind kind;
    bool noScratchFile;
  } cases[] = {{1, 1, 0, 0, kBumpy, false},       {3, 3, 2, 1, kBumpy, false},
               {12, 9, 3, 2, kBumpy, false},      {17, 13, 5, 3, kBumpy, false},
               {1, 40, 0, 2, kBumpy, true},       {30, 1, 2, 0, kBumpy, false},
               {4, 3, 1, 1, kNaNPoint, false},    {15, 12, 0, 2, kNaNPoint, true},
               {160, 1, 2, 2, kFlatStrip, false}, {160, 1, 2, 2, kFlatStrip, true}};
  uint32_t seed = 11;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.columns << "x" << c.rows << " threads " << c.threads);
    std::vector<SurfaceFace> faces = randomSurface(++seed, c.columns, c.rows, {}, c.duplicates);
    Vec3 nanPoint = faces[0][0];
    for (SurfaceFace& face : faces)
      for (Vec3& corner : face)
        if (c.kind == kFlatStrip || (c.kind == kNaNPoint && sameBits(&corner, &nanPoint, 3)))
          corner.z = c.kind == kFlatStrip ? 0 : kNaN;

    std::vector<SurfaceFace> other = randomSurface(seed + 1, 2, 2, {100, 0, 0});
    faces.insert(faces.end(), other.begin(), other.end());
    faces.push_back({Vec3{200, 0, 0}, {201, 0, 0}, {200, 1, 0}, {200, 1, 0}});
    faces = shuffledSurface(faces, seed + 2, {});
    ModelPtr fast = buildSurfaceModel(faces), literal = buildSurfaceModel(faces);
    ASSERT_TRUE(fast && literal && fast->partCount == 3);
    for (int f = 0; f < fast->faceCount; ++f)
      setFaceMark(*fast, f, literal->faces[f].mark = 7);
    setProfileThreadCount(c.threads);
    // On two threads, memory for a third of the largest part's values: several passes.
    int32_t largest = 0;
    for (int p = 0; p < fast->partCount; ++p)
      largest = std::max(largest, fast->parts[p].faceCount);
    int32_t third = std::max(32, (largest / 3 + 31) / 32 * 32);
    setProfileMemoryBudget(c.threads == 2 ? profilePassMemoryNeed(largest, third) : 0);
    std::string scratchFolder = getenv("TMPDIR") ? getenv("TMPDIR") : "";
    if (c.noScratchFile) setenv("TMPDIR", "/no/such/folder", 1);
    for (int p = 0; p < fast->partCount; ++p) {
      ASSERT_EQ(computePartProfiles(fast.get(), p), 1);
      int32_t n = fast->parts[p].faceCount;
      bool passes = c.threads == 2 && n == largest && n > 32;
      EXPECT_EQ(fast->parts[p].profilePasses > 1, passes);
      EXPECT_EQ((fast->parts[p].flags & kPartProfilesSpilled) != 0, passes && !c.noScratchFile);
      literalPartProfiles(literal.get(), p);
      EXPECT_EQ(fast->parts[p].flags & 3, literal->parts[p].flags);
      EXPECT_EQ(literal->parts[p].flags, p == 0 && c.kind == kFlatStrip ? 3 : 1);
      for (int f = 0; f < fast->faceCount; ++f) {
        const ModelFace &a = fast->faces[f], &b = literal->faces[f];
        ASSERT_EQ(a.mark, b.mark) << f;
        if (a.part != p + 1) continue;
        ASSERT_TRUE(a.profile);
        ASSERT_TRUE(sameBits(&a.influenceSum, &b.influenceSum) &&
                    sameBits(a.profile, b.profile, kProfileSamples))
            << f;
      }
    }
    setProfileMemoryBudget(0);
    if (c.noScratchFile && scratchFolder.empty()) unsetenv("TMPDIR");
    if (c.noScratchFile && !scratchFolder.empty()) setenv("TMPDIR", scratchFolder.c_str(), 1);
    fast->faces[0].mark = 5;
    long live = gliveBlocks();
    for (int p = -1; p <= fast->partCount; ++p)
      EXPECT_EQ(computePartProfiles(fast.get(), p), 1);
    EXPECT_TRUE(fast->faces[0].mark == 5 && gliveBlocks() == live);
    bool anyNaN = false;
    for (int f = 0; f < fast->faceCount; ++f)
      anyNaN |= std::isnan(fast->faces[f].profile[255]);
    EXPECT_EQ(anyNaN, c.kind == kNaNPoint);
  }
}

// The profile-value sort orders as a stable sort with NaN last, down to which of
// equal-comparing values (0.0 and -0.0, NaNs of either sign) ends where.
TEST(SortProfileValues, SameAsStableSortWithNaNLast) {
  std::mt19937 random(4);
  const double awkward[] = {0.0, -0.0, kNaN, -kNaN, INFINITY, -INFINITY, 1e-310, 1.0, 0.5, 3.0};
  std::vector<uint32_t> counters(kSortCounters);
  for (int size : {0, 1, 2, 17, 255, 5000}) {
    for (int kind = 0; kind < 3; ++kind) {
      std::vector<double> values(size), temp(size);
      for (double& v : values)
        v = kind == 0                        ? std::uniform_real_distribution<double>(0, 1)(random)
            : kind == 1 || random() % 4 == 0 ? awkward[random() % 10]
                                             : double(random() % 5) - 2;
      std::vector<double> expected = values;
      std::stable_sort(expected.begin(), expected.end(), [](double a, double b) {
        return !std::isnan(a) && (std::isnan(b) || a < b);
      });
      const double* sorted = sortProfileValues(values.data(), temp.data(), size, counters.data());
      EXPECT_TRUE(sameBits(sorted, expected.data(), size)) << size << " " << kind;
    }
  }
}

enum PairKind { kPlain, kSomeNaN, kOneScorable, kNoneScorable, kFlat };

// A reference of a random surface (part 0) and a small second one (part 1); a target of the
// first surface reordered and moved, matched to part 0, with random match levels and some
// faces matched beforehand (a few into part 1), profiles computed. kSomeNaN puts NaN into
// some profiles; kOneScorable and kNoneScorable unmatch every target face and leave one face
// or none with a score that is a number; kFlat makes every step score tie.
std::pair<ModelPtr, ModelPtr> randomPair(uint32_t seed, PairKind kind) {
  std::mt19937 random(seed);
  const int columns = 2 + static_cast<int>(seed % 7) * 2, rows = 1 + static_cast<int>(seed % 5) * 3;
  std::vector<SurfaceFace> surface = randomSurface(seed, columns, rows, {0, 0, 0}, seed % 3);
  for (SurfaceFace& face : surface)
    for (Vec3& corner : face)
      corner.z *= kind != kFlat;
  std::vector<SurfaceFace> faces = surface, second = randomSurface(seed + 1, 3, 2, {50, 0, 0});
  faces.insert(faces.end(), second.begin(), second.end());
  ModelPtr reference = buildSurfaceModel(faces, "Ref"),
           target = buildSurfaceModel(shuffledSurface(surface, seed + 2, {7, 3, 1}), "Terget");
  target->parts[0].matchedPart = 0;
  const ModelPart &rp0 = reference->parts[0], &rp1 = reference->parts[1];
  const bool unmatched = kind == kOneScorable || kind == kNoneScorable;
  for (int f = 0; f < target->faceCount; ++f) {
    ModelFace& face = target->faces[f];
    face.matchLevel = random() % 4 == 0 ? 0 : 1 + static_cast<int>(random() % 5);
    int roll = unmatched ? 20 : random() % 20;
    if (roll < 3) face.matchedFace = rp0.faces[random() % rp0.faceCount];
    if (roll == 3) face.matchedFace = rp1.faces[random() % rp1.faceCount];
  }
  computePartProfiles(target.get(), 0);
  computePartProfiles(reference.get(), 1);
  computePartProfiles(reference.get(), 0);
  for (int f = 0; f < target->faceCount; ++f)
    if ((kind == kSomeNaN && f % 3 == 0) || (unmatched && f != 4))
      target->faces[f].profile[random() % 256] = kNaN;
  for (int f = 0; f < rp0.faceCount; ++f)
    if ((kind == kSomeNaN && f % 4 == 0) || kind == kNoneScorable)
      reference->faces[rp0.faces[f]].profile[random() % 256] = kNaN;
  return {std::move(reference), std::move(target)};
}

// Random part pairs: the propagation with its ordered fronts matches the same faces as the
// literal passes and leaves the same marks, also when NaN scores leave one face to seed from
// or none (the part is then left as it was), and when every candidate ties (the first met
// wins).
TEST(PropagateMatches, EqualsTheLiteralPassesOnRandomParts) {
  SettingsRestore restore;
  matchSettings.sameFaceAngleAdvantage = 0.25;
  int propagated = 0;
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    SCOPED_TRACE(seed);
    PairKind kind = static_cast<PairKind>(seed % 5);
    auto [reference, target] = randomPair(seed, kind);
    auto [literalReference, literalTarget] = randomPair(seed, kind);
    ASSERT_EQ(propagateMatches(reference.get(), target.get(), 0), 1);
    literalPropagateMatches(literalReference.get(), literalTarget.get(), 0);
    int matched = 0;
    for (int f = 0; f < target->faceCount; ++f) {
      const ModelFace &a = target->faces[f], &b = literalTarget->faces[f];
      ASSERT_EQ(a.matchedFace, b.matchedFace) << f;
      ASSERT_EQ(a.mark, b.mark) << f;
      matched += b.matchedFace >= 0, propagated += b.mark == 3;
    }
    for (int f = 0; f < reference->faceCount; ++f)
      ASSERT_EQ(reference->faces[f].mark, literalReference->faces[f].mark) << f;
    EXPECT_TRUE(kind != kNoneScorable || matched == 0);
    EXPECT_TRUE(kind != kOneScorable || (target->faces[4].matchedFace >= 0 && matched > 1));
  }
  EXPECT_GT(propagated, 500);
}

TEST(ChooseSeed, FirstValidRecordOfTheStableSortWithNaNLast) {
  std::mt19937 random(8);
  const double scores[] = {kNaN, -kNaN, 0.5, 0.5, -1.0, 1e308, 2.0, 0.0, -0.0};
  for (int round = 0; round < 400; ++round) {
    std::vector<SeedCandidate> records(random() % 9);
    for (int i = 0; i < static_cast<int>(records.size()); ++i)
      records[i] = {scores[random() % 9], i, random() % 3 == 0 ? -1 : i};
    EXPECT_EQ(chooseSeed(records.data(), records.size()), literalChooseSeed(records));
  }
}

}  // namespace
