// Coincidence pairing: points within 0.001 per axis, faces on the same partner points, parts
// anchored by two paired faces; checked against plain scans in index order on random models.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "match/coincidence.h"
#include "model/partGrouping.h"
#include "support/testSupport.h"

namespace {

const double kNan = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// Partners of the reference points, target points, reference faces, target faces, and the
// coincident part of every target part.
using Pairing = std::array<std::vector<int>, 5>;

// What plain scans over all reference elements in index order decide.
Pairing plainScanPairing(const FaceModel* ref, const FaceModel* tgt) {
  Pairing p = {std::vector<int>(ref->pointCount, -1),
               std::vector<int>(tgt->pointCount, -1),
               std::vector<int>(ref->faceCount, -1),
               std::vector<int>(tgt->faceCount, -1),
               {}};
  for (int j = 0; j < tgt->pointCount; ++j) {
    const ModelPoint& t = tgt->points[j];
    for (int i = 0; i < ref->pointCount; ++i) {
      const ModelPoint& r = ref->points[i];
      if (std::fabs(t.x - r.x) < 0.001 && std::fabs(t.y - r.y) < 0.001 &&
          std::fabs(t.z - r.z) < 0.001) {
        p[1][j] = i;
        p[0][i] = j;
        break;
      }
    }
  }
  for (int j = 0; j < tgt->faceCount; ++j) {
    const ModelFace& face = tgt->faces[j];
    std::vector<int> list = {0, 0, 0, -2};
    bool complete = true;
    for (int c = 0; c < face.cornerCount; ++c)
      complete = (list[c] = p[1][face.corners[c]]) != -1 && complete;
    if (!complete) continue;
    std::sort(list.begin(), list.begin() + face.cornerCount);
    for (int k = 0; k < ref->faceCount; ++k) {
      if (std::equal(list.begin(), list.begin() + ref->faces[k].cornerCount,
                     ref->faces[k].sortedCorners)) {
        p[3][j] = k;
        p[2][k] = j;
        break;
      }
    }
  }
  for (int q = 0; q < tgt->partCount; ++q) {
    int candidate = 0, result = -1;
    for (int s = 0; s < tgt->parts[q].faceCount && result < 0; ++s) {
      int partner = p[3][tgt->parts[q].faces[s]];
      if (partner == -1) continue;
      int number = ref->faces[partner].part;
      if (candidate == 0) {
        candidate = number;
      } else if (number == candidate) {
        result = candidate - 1;
      }
    }
    p[4].push_back(result);
  }
  return p;
}

// What the pairing wrote; matchedPart must equal coincidentPart.
Pairing pairingOf(const FaceModel* ref, const FaceModel* tgt) {
  Pairing p;
  for (int i = 0; i < ref->pointCount; ++i)
    p[0].push_back(ref->points[i].partner);
  for (int j = 0; j < tgt->pointCount; ++j)
    p[1].push_back(tgt->points[j].partner);
  for (int k = 0; k < ref->faceCount; ++k)
    p[2].push_back(ref->faces[k].partnerFace);
  for (int j = 0; j < tgt->faceCount; ++j)
    p[3].push_back(tgt->faces[j].partnerFace);
  for (int q = 0; q < tgt->partCount; ++q) {
    p[4].push_back(tgt->parts[q].coincidentPart);
    EXPECT_EQ(tgt->parts[q].matchedPart, tgt->parts[q].coincidentPart) << "part " << q;
  }
  return p;
}

void addTestFace(FaceModel* model, const std::vector<Vec3>& corners) {
  Vec3 c[4] = {corners[0], corners[1], corners[2], corners[corners.size() == 4 ? 3 : 2]};
  ASSERT_EQ(addFace(model, "L", c), 1);
}

// Groups and measures both models, fills every field the pairing sets with 7, then pairs them.
Pairing pairModels(FaceModel* ref, FaceModel* tgt) {
  for (FaceModel* model : {ref, tgt}) {
    if (model->faceCount > 0) {
      EXPECT_EQ(groupParts(model), 1);
      EXPECT_EQ(measureParts(model), 1);
    }
    for (int i = 0; i < model->pointCount; ++i)
      model->points[i].partner = 7;
    for (int i = 0; i < model->faceCount; ++i)
      model->faces[i].partnerFace = 7;
    for (int i = 0; i < model->partCount; ++i)
      model->parts[i].coincidentPart = model->parts[i].matchedPart = 7;
  }
  EXPECT_EQ(pairCoincidentGeometry(ref, tgt), 1);
  return pairingOf(ref, tgt);
}

// A coordinate near grid cell borders (1/256), tolerance borders, large magnitudes or
// non-finite values. Small spreads crowd many points within the tolerance of each other.
double awkwardValue(std::mt19937& rng, int spread) {
  const double offsets[] = {0, 1e-12, -1e-12, 5e-4, -5e-4, 9.99e-4, -9.99e-4, 1e-3, -1e-3, 1.1e-3};
  const double odd[] = {0x1p50, 0x1p44, 1e300, -1e300, 8.5e12, kNan, kInf, -kInf, -0.0, 4.9e-324};
  int k = static_cast<int>(rng() % (2 * spread + 1)) - spread;
  unsigned kind = rng() % 16;
  if (kind == 0) return k / 256.0 + offsets[rng() % 10];
  if (kind == 1) return k * 0.001 + offsets[rng() % 10];
  if (kind == 2) return std::nextafter(k / 256.0, (rng() % 2) ? 1.0 : -1.0);
  if (kind == 3) return std::nextafter(odd[rng() % 10], 0.0);
  if (kind == 4) return odd[rng() % 10];
  return k * 0.0005 + ((rng() % 3 == 0) ? offsets[rng() % 10] : 0.0);
}

// A reference of random faces over awkward points, and a target that repeats most of its faces
// over points kept or shifted near the tolerance (corners rotated, triangles extended to quads,
// quads cut, faces shuffled), with faces of its own besides.
void buildRandomPair(unsigned seed, FaceModel* ref, FaceModel* tgt) {
  std::mt19937 rng(seed);
  auto awkward = [&]() { return awkwardValue(rng, seed % 2 ? 4 : 400); };
  const double shifts[] = {0, 0, 0, 4e-4, -4e-4, 9.99e-4, -9.99e-4, 1e-3, -1e-3, 1e-15};
  auto shift = [&]() { return shifts[rng() % 10]; };
  std::vector<Vec3> refPoints, tgtPoints;
  int pointCount = 20 + static_cast<int>(rng() % 200);
  for (int i = 0; i < pointCount; ++i) {
    Vec3 p{awkward(), awkward(), awkward()};
    unsigned kind = rng() % 10;
    refPoints.push_back(p);
    tgtPoints.push_back(kind == 0  ? Vec3{awkward(), awkward(), awkward()}
                        : kind < 6 ? p
                                   : Vec3{p.x + shift(), p.y + shift(), p.z + shift()});
  }
  auto pick = [&]() { return static_cast<int>(rng() % pointCount); };
  auto add = [](FaceModel* model, const std::vector<int>& face, const std::vector<Vec3>& at) {
    std::vector<Vec3> corners;
    for (int i : face)
      corners.push_back(at[i]);
    addTestFace(model, corners);
  };
  std::vector<std::vector<int>> tgtFaces;
  for (int f = 10 + static_cast<int>(rng() % 300); f > 0; --f) {
    std::vector<int> face = {pick(), pick(), pick()};
    if (rng() % 2) face.push_back(pick());
    add(ref, face, refPoints);
    if (rng() % 5 == 0) continue;
    size_t start = rng() % face.size(), size = face.size();
    unsigned change = rng() % 6;
    if (change < 2) size = change == 0 ? 4 : 3;
    std::vector<int> copy;
    for (size_t i = 0; i < size; ++i)
      copy.push_back(i < face.size() ? face[(start + i) % face.size()] : pick());
    tgtFaces.insert(tgtFaces.begin() + rng() % (tgtFaces.size() + 1), copy);
  }
  for (int extra = static_cast<int>(rng() % 20); extra > 0; --extra)
    tgtFaces.push_back({pick(), pick(), pick()});
  for (const auto& face : tgtFaces)
    add(tgt, face, tgtPoints);
}

TEST(PairCoincidentGeometry, RandomModelsPairAsPlainScansDo) {
  int pairedFaces = 0, anchoredParts = 0;
  auto hits = [](const std::vector<int>& v) {
    return static_cast<int>(std::count_if(v.begin(), v.end(), [](int k) { return k >= 0; }));
  };
  for (unsigned seed = 1; seed <= 60; ++seed) {
    ModelPtr ref(createModel("Ref")), tgt(createModel("Terget"));
    buildRandomPair(seed, ref.get(), tgt.get());
    Pairing got = pairModels(ref.get(), tgt.get());
    Pairing want = plainScanPairing(ref.get(), tgt.get());
    EXPECT_EQ(got, want) << "seed " << seed;
    pairedFaces += hits(want[3]);
    anchoredParts += hits(want[4]);
  }
  EXPECT_GT(pairedFaces, 1000);  // the models exercise the face pairing, not just misses
  EXPECT_GT(anchoredParts, 20);
}

TEST(PairCoincidentGeometry, PointsPairWithinTheToleranceOnEachAxisStrictly) {
  const double border = 1.0 / 256 - 0.0005, big = 0x1p50;
  struct Case {
    const char* name;
    std::vector<Vec3> reference, target;
    std::vector<int> targetPartner, referencePartner;
  };
  const Vec3 zero{0, 0, 0}, nan{kNan, 0, 0}, inf{kInf, 0, 0};
  // clang-format off
  const Case cases[] = {
      {"0.001 apart is out, 0.000999 in, on every axis", {zero},
       {{0.001, 0, 0}, {0.000999, 0, 0}, {0, -0.000999, 0}, {0, 0, -0.001}}, {-1, 0, 0, -1}, {2}},
      {"across a cell border", {{border, 0, 0}}, {{border + 0.000999, 0, 0}}, {0}, {0}},
      {"NaN, infinity, signed zeros", {nan, inf, {-0.0, 0, 0}}, {nan, inf, zero}, {-1, -1, 2},
       {-1, -1, 2}},
      {"huge: equal, neighbours, 2^50 and below", {{1e300, -1e300, 0}, {1e300, 0, 0}, {big, 0, 0}},
       {{1e300, -1e300, 0}, {std::nextafter(1e300, 0.0), 0, 0}, {std::nextafter(big, 0.0), 0, 0}},
       {0, -1, -1}, {0, -1, -1}},
      {"lowest reference wins, keeps the last target", {{0.0009, 0, 0}, zero},
       {{0.0002, 0, 0}, zero, {0.5, 0, 0}}, {0, 0, -1}, {1, -1}}};
  // clang-format on
  for (const Case& c : cases) {
    ModelPtr ref(createModel("Ref")), tgt(createModel("Terget"));
    for (const Vec3& p : c.reference)
      addPoint(ref.get(), p.x, p.y, p.z);
    for (const Vec3& p : c.target)
      addPoint(tgt.get(), p.x, p.y, p.z);
    Pairing got = pairModels(ref.get(), tgt.get());
    EXPECT_EQ(got[1], c.targetPartner) << c.name;
    EXPECT_EQ(got[0], c.referencePartner) << c.name;
  }
}

TEST(PairCoincidentGeometry, FacesPairOnTheReferenceFacesOwnCorners) {
  // Reference points A..H are indices 0..7; the target's are moved by 0.0004, and Z is off.
  const std::map<char, Vec3> at = {{'A', {0, 0, 0}}, {'B', {1, 0, 0}}, {'C', {0, 1, 0}},
                                   {'D', {1, 1, 0}}, {'E', {2, 0, 0}}, {'F', {2, 1, 0}},
                                   {'G', {3, 0, 0}}, {'H', {3, 1, 0}}, {'Z', {9, 9, 9}}};
  auto corners = [&](const std::string& names, double shift) {
    std::vector<Vec3> c;
    for (char n : names)
      c.push_back({at.at(n).x + shift, at.at(n).y, at.at(n).z});
    return c;
  };
  struct Case {
    const char* name;
    std::vector<std::string> reference, target;
    std::vector<int> targetPartner, referencePartner;
  };
  // clang-format off
  const Case cases[] = {
      {"a quad meets a triangle on its three lowest partners", {"EFG", "ABC"}, {"DBCA"}, {1},
       {-1, 0}},
      {"but not on three higher ones", {"BCD"}, {"ABCD"}, {-1}, {-1}},
      {"a triangle never meets a quad", {"ABCD"}, {"ABC"}, {-1}, {-1}},
      {"a quad meets the first fitting face", {"ABCD", "ABC"}, {"DCBA"}, {0}, {0, -1}},
      {"equal faces: the first in index order", {"ABC", "BCA"}, {"CAB"}, {0}, {0, -1}},
      {"the reference keeps the last target", {"ABC"}, {"ABC", "BAC", "EFG"}, {0, 0, -1}, {1}},
      {"a corner off the reference", {"ABC"}, {"ABZ"}, {-1}, {-1}}};
  // clang-format on
  for (const Case& c : cases) {
    ModelPtr ref(createModel("Ref")), tgt(createModel("Terget"));
    for (char n = 'A'; n <= 'H'; ++n)
      addPoint(ref.get(), at.at(n).x, at.at(n).y, at.at(n).z);
    for (const auto& face : c.reference)
      addTestFace(ref.get(), corners(face, 0.0));
    for (const auto& face : c.target)
      addTestFace(tgt.get(), corners(face, 0.0004));
    Pairing got = pairModels(ref.get(), tgt.get());
    EXPECT_EQ(got[3], c.targetPartner) << c.name;
    EXPECT_EQ(got[2], c.referencePartner) << c.name;
  }
}

TEST(PairCoincidentGeometry, PartsAnchorOnASecondFaceInTheFirstFacesPart) {
  // Reference parts 1..6: one triangle each at x = 0, 10, ..., 50; part 7: two triangles.
  auto triangle = [](double x) { return std::vector<Vec3>{{x, 0, 0}, {x + 1, 0, 0}, {x, 1, 0}}; };
  const std::vector<Vec3> part7a = {{60, 0, 0}, {61, 0, 0}, {60, 1, 0}};
  const std::vector<Vec3> part7b = {{61, 0, 0}, {61, 1, 0}, {60, 1, 0}};
  // Joins faces on (40,1,0) and (60,0,0) into one target part but pairs with nothing.
  const std::vector<Vec3> bridge = {{40, 1, 0}, {60, 0, 0}, {50, 50, 5}};
  struct Case {
    const char* name;
    std::vector<std::vector<Vec3>> target;
    std::vector<int> coincident;
  };
  const Case cases[] = {
      {"parts 5, 7, 7: never confirmed", {triangle(40), bridge, part7a, part7b}, {-1}},
      {"parts 7, 5, 7: anchored to 7", {part7a, bridge, triangle(40), part7b}, {6}},
      {"a single paired face", {triangle(20)}, {-1}},
      {"two parts of one face each", {triangle(20), triangle(30)}, {-1, -1}},
      {"both faces of part 7", {part7b, part7a}, {6}}};
  for (const Case& c : cases) {
    ModelPtr ref(createModel("Ref")), tgt(createModel("Terget"));
    for (int i = 0; i < 6; ++i)
      addTestFace(ref.get(), triangle(10.0 * i));
    addTestFace(ref.get(), part7a);
    addTestFace(ref.get(), part7b);
    for (const auto& face : c.target)
      addTestFace(tgt.get(), face);
    EXPECT_EQ(pairModels(ref.get(), tgt.get())[4], c.coincident) << c.name;
    EXPECT_EQ(ref->partCount, 7);
  }
}

TEST(PairCoincidentGeometry, EmptyReferenceResetsEveryPartnerToNone) {
  ModelPtr ref(createModel("Ref")), tgt(createModel("Terget"));
  addTestFace(tgt.get(), {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  addTestFace(tgt.get(), {{1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
  Pairing got = pairModels(ref.get(), tgt.get());
  EXPECT_EQ(got, (Pairing{{{}, {-1, -1, -1, -1}, {}, {-1, -1}, {-1}}}));
}

}  // namespace
