// Coincidence pairing: points within 0.001 per axis, faces on the same partner points, parts
// anchored by two paired faces; checked against plain scans in index order on random models.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "app/errorReport.h"
#include "app/programPath.h"
#include "match/coincidence.h"
#include "model/partGrouping.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"

namespace {

const double kNan = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// What the pairing decides, as plain scans over all reference elements would decide it.
struct Pairing {
  std::vector<int> referencePartner, targetPartner;
  std::vector<int> referencePartnerFace, targetPartnerFace;
  std::vector<int> coincidentPart;
};

Pairing plainScanPairing(const FaceModel* ref, const FaceModel* tgt) {
  Pairing p;
  p.referencePartner.assign(ref->pointCount, -1);
  p.targetPartner.assign(tgt->pointCount, -1);
  for (int j = 0; j < tgt->pointCount; ++j) {
    const ModelPoint& t = tgt->points[j];
    for (int i = 0; i < ref->pointCount; ++i) {
      const ModelPoint& r = ref->points[i];
      if (std::fabs(t.x - r.x) < 0.001 && std::fabs(t.y - r.y) < 0.001 &&
          std::fabs(t.z - r.z) < 0.001) {
        p.targetPartner[j] = i;
        p.referencePartner[i] = j;
        break;
      }
    }
  }
  p.referencePartnerFace.assign(ref->faceCount, -1);
  p.targetPartnerFace.assign(tgt->faceCount, -1);
  for (int j = 0; j < tgt->faceCount; ++j) {
    const ModelFace& face = tgt->faces[j];
    int list[4];
    list[3] = -2;
    bool complete = true;
    for (int c = 0; c < face.cornerCount; ++c) {
      list[c] = p.targetPartner[face.corners[c]];
      if (list[c] == -1) complete = false;
    }
    if (!complete) continue;
    for (int a = 1; a < face.cornerCount; ++a)  // ascending, first cornerCount entries
      for (int b = a; b > 0 && list[b - 1] > list[b]; --b)
        std::swap(list[b - 1], list[b]);
    for (int k = 0; k < ref->faceCount; ++k) {
      const ModelFace& r = ref->faces[k];
      bool same = true;
      for (int e = 0; e < r.cornerCount; ++e)
        same = same && r.sortedCorners[e] == list[e];
      if (same) {
        p.targetPartnerFace[j] = k;
        p.referencePartnerFace[k] = j;
        break;
      }
    }
  }
  for (int q = 0; q < tgt->partCount; ++q) {
    const ModelPart& part = tgt->parts[q];
    int candidate = 0, result = -1;
    for (int s = 0; s < part.faceCount; ++s) {
      int partner = p.targetPartnerFace[part.faces[s]];
      if (partner == -1) continue;
      int number = ref->faces[partner].part;
      if (candidate == 0) {
        candidate = number;
      } else if (number == candidate) {
        result = candidate - 1;
        break;
      }
    }
    p.coincidentPart.push_back(result);
  }
  return p;
}

Pairing pairingOf(const FaceModel* ref, const FaceModel* tgt) {
  Pairing p;
  for (int i = 0; i < ref->pointCount; ++i)
    p.referencePartner.push_back(ref->points[i].partner);
  for (int j = 0; j < tgt->pointCount; ++j)
    p.targetPartner.push_back(tgt->points[j].partner);
  for (int k = 0; k < ref->faceCount; ++k)
    p.referencePartnerFace.push_back(ref->faces[k].partnerFace);
  for (int j = 0; j < tgt->faceCount; ++j)
    p.targetPartnerFace.push_back(tgt->faces[j].partnerFace);
  for (int q = 0; q < tgt->partCount; ++q) {
    p.coincidentPart.push_back(tgt->parts[q].coincidentPart);
    EXPECT_EQ(tgt->parts[q].matchedPart, tgt->parts[q].coincidentPart) << "part " << q;
  }
  return p;
}

void expectSamePairing(const Pairing& got, const Pairing& want, const std::string& label) {
  EXPECT_EQ(got.referencePartner, want.referencePartner) << label;
  EXPECT_EQ(got.targetPartner, want.targetPartner) << label;
  EXPECT_EQ(got.referencePartnerFace, want.referencePartnerFace) << label;
  EXPECT_EQ(got.targetPartnerFace, want.targetPartnerFace) << label;
  EXPECT_EQ(got.coincidentPart, want.coincidentPart) << label;
}

void addTestFace(FaceModel* model, const std::vector<Vec3>& corners) {
  Vec3 c[4] = {corners[0], corners[1], corners[2], corners[corners.size() == 4 ? 3 : 2]};
  ASSERT_EQ(addFace(model, "L", c), 1);
}

void groupAndMeasure(FaceModel* model) {
  if (model->faceCount == 0) return;
  ASSERT_EQ(groupParts(model), 1);
  ASSERT_EQ(measureParts(model), 1);
}

// A coordinate near cell borders, tolerance borders, large magnitudes or non-finite values.
// `spread` sets how many grid steps the values range over: small spreads crowd many points
// within the tolerance of each other.
double awkwardValue(std::mt19937& rng, int spread) {
  const double offsets[] = {0, 1e-12, -1e-12, 5e-4, -5e-4, 9.99e-4, -9.99e-4, 1e-3, -1e-3, 1.1e-3};
  int k = static_cast<int>(rng() % (2 * spread + 1)) - spread;
  switch (rng() % 16) {
    case 0:
      return k / 256.0 + offsets[rng() % 10];
    case 1:
      return k * 0.001 + offsets[rng() % 10];
    case 2:
      return std::nextafter(k / 256.0, (rng() % 2) ? 1.0 : -1.0);
    case 3: {
      const double large[] = {1125899906842624.0, 17592186044416.0, 1e300, -1e300, 8.5e12};
      double v = large[rng() % 5];
      for (unsigned steps = rng() % 3; steps > 0; --steps)
        v = std::nextafter(v, 0.0);
      return v;
    }
    case 4: {
      const double special[] = {kNan, kInf, -kInf, -0.0, 4.9e-324, -4.9e-324};
      return special[rng() % 6];
    }
    default:
      return k * 0.0005 + ((rng() % 3 == 0) ? offsets[rng() % 10] : 0.0);
  }
}

// A reference model of random faces over awkward points, and a target that repeats most of its
// faces over shifted points (corners rotated, triangles extended to quads, quads cut), with
// faces of its own besides.
void buildRandomPair(unsigned seed, FaceModel* ref, FaceModel* tgt) {
  std::mt19937 rng(seed);
  int spread = seed % 2 ? 4 : 400;
  auto awkward = [&]() { return awkwardValue(rng, spread); };
  std::vector<Vec3> refPoints, tgtPoints;
  int pointCount = 20 + static_cast<int>(rng() % 200);
  for (int i = 0; i < pointCount; ++i)
    refPoints.push_back({awkward(), awkward(), awkward()});
  const double shifts[] = {0, 0, 0, 4e-4, -4e-4, 9.99e-4, -9.99e-4, 1e-3, -1e-3, 1e-15};
  for (const Vec3& p : refPoints) {
    unsigned kind = rng() % 10;
    if (kind == 0) {
      tgtPoints.push_back({awkward(), awkward(), awkward()});
    } else if (kind < 6) {
      tgtPoints.push_back(p);
    } else {
      tgtPoints.push_back(
          {p.x + shifts[rng() % 10], p.y + shifts[rng() % 10], p.z + shifts[rng() % 10]});
    }
  }
  auto pick = [&]() { return static_cast<int>(rng() % pointCount); };
  std::vector<std::vector<int>> refFaces;
  int faceCount = 10 + static_cast<int>(rng() % 300);
  for (int f = 0; f < faceCount; ++f) {
    std::vector<int> face = {pick(), pick(), pick()};
    if (rng() % 2) face.push_back(pick());
    refFaces.push_back(face);
  }
  for (const auto& face : refFaces) {
    std::vector<Vec3> corners;
    for (int i : face)
      corners.push_back(refPoints[i]);
    addTestFace(ref, corners);
  }
  std::vector<std::vector<int>> tgtFaces;
  for (const auto& refFace : refFaces) {
    if (rng() % 5 == 0) continue;
    size_t start = rng() % refFace.size();
    unsigned change = rng() % 6;
    size_t size = refFace.size();
    if (change == 0 && size == 3) size = 4;
    if (change == 1 && size == 4) size = 3;
    std::vector<int> face;
    for (size_t i = 0; i < size; ++i)
      face.push_back(i < refFace.size() ? refFace[(start + i) % refFace.size()] : pick());
    tgtFaces.insert(tgtFaces.begin() + rng() % (tgtFaces.size() + 1), face);
  }
  for (int extra = static_cast<int>(rng() % 20); extra > 0; --extra)
    tgtFaces.push_back({pick(), pick(), pick()});
  for (const auto& face : tgtFaces) {
    std::vector<Vec3> corners;
    for (int i : face)
      corners.push_back(tgtPoints[i]);
    addTestFace(tgt, corners);
  }
  groupAndMeasure(ref);
  groupAndMeasure(tgt);
}

TEST(PairCoincidentGeometry, RandomModelsPairAsPlainScansDo) {
  int pairedFaces = 0, anchoredParts = 0;
  for (unsigned seed = 1; seed <= 60; ++seed) {
    ModelPtr ref(createModel("Ref")), tgt(createModel("Terget"));
    buildRandomPair(seed, ref.get(), tgt.get());
    Pairing want = plainScanPairing(ref.get(), tgt.get());
    ASSERT_EQ(pairCoincidentGeometry(ref.get(), tgt.get()), 1);
    expectSamePairing(pairingOf(ref.get(), tgt.get()), want, "seed " + std::to_string(seed));
    pairedFaces +=
        static_cast<int>(std::count_if(want.targetPartnerFace.begin(), want.targetPartnerFace.end(),
                                       [](int k) { return k >= 0; }));
    anchoredParts += static_cast<int>(std::count_if(
        want.coincidentPart.begin(), want.coincidentPart.end(), [](int k) { return k >= 0; }));
  }
  EXPECT_GT(pairedFaces, 1000);  // the models exercise the face pairing, not just misses
  EXPECT_GT(anchoredParts, 20);
}

TEST(PairCoincidentGeometry, PointsPairWithinTheToleranceOnEachAxisStrictly) {
  struct Case {
    const char* name;
    Vec3 reference, target;
    bool paired;
  };
  const double justUnder = 1.0 / 256 - 0.0005;  // a cell border lies between the two
  const Case cases[] = {
      {"0.001 apart", {0, 0, 0}, {0.001, 0, 0}, false},
      {"0.000999 apart", {0, 0, 0}, {0.000999, 0, 0}, true},
      {"0.000999 below", {0, 0, 0}, {0, -0.000999, 0}, true},
      {"0.001 apart on z", {0, 0, 0}, {0, 0, -0.001}, false},
      {"across a cell border", {justUnder, 0, 0}, {justUnder + 0.000999, 0, 0}, true},
      {"signed zeros", {-0.0, 0, 0}, {0.0, 0, 0}, true},
      {"NaN", {kNan, 0, 0}, {kNan, 0, 0}, false},
      {"infinity", {kInf, 0, 0}, {kInf, 0, 0}, false},
      {"huge and equal", {1e300, -1e300, 0}, {1e300, -1e300, 0}, true},
      {"huge neighbours", {1e300, 0, 0}, {std::nextafter(1e300, 0.0), 0, 0}, false},
      {"just below 2^50 and 2^50",
       {1125899906842624.0, 0, 0},
       {std::nextafter(1125899906842624.0, 0.0), 0, 0},
       false},
  };
  for (const Case& c : cases) {
    ModelPtr ref(createModel("Ref")), tgt(createModel("Terget"));
    ASSERT_EQ(addPoint(ref.get(), c.reference.x, c.reference.y, c.reference.z), 0);
    ASSERT_EQ(addPoint(tgt.get(), c.target.x, c.target.y, c.target.z), 0);
    ASSERT_EQ(pairCoincidentGeometry(ref.get(), tgt.get()), 1);
    EXPECT_EQ(tgt->points[0].partner, c.paired ? 0 : -1) << c.name;
    EXPECT_EQ(ref->points[0].partner, c.paired ? 0 : -1) << c.name;
  }
}

TEST(PairCoincidentGeometry, LowestReferencePointWinsAndKeepsTheLastTarget) {
  ModelPtr ref(createModel("Ref")), tgt(createModel("Terget"));
  addPoint(ref.get(), 0.0009, 0, 0);  // 0: in range of both targets
  addPoint(ref.get(), 0, 0, 0);       // 1: in range too, but later
  addPoint(tgt.get(), 0.0002, 0, 0);
  addPoint(tgt.get(), 0, 0, 0);
  addPoint(tgt.get(), 0.5, 0, 0);
  ASSERT_EQ(pairCoincidentGeometry(ref.get(), tgt.get()), 1);
  EXPECT_EQ(tgt->points[0].partner, 0);
  EXPECT_EQ(tgt->points[1].partner, 0);
  EXPECT_EQ(tgt->points[2].partner, -1);
  EXPECT_EQ(ref->points[0].partner, 1);
  EXPECT_EQ(ref->points[1].partner, -1);
}

TEST(PairCoincidentGeometry, FacesPairOnTheReferenceFacesOwnCorners) {
  // Reference points A..H are indices 0..7; target points are the same positions slightly
  // moved, plus Z that pairs with nothing.
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
  const Case cases[] = {
      {"a quad meets a triangle on its three lowest partners",
       {"EFG", "ABC"},
       {"DBCA"},
       {1},
       {-1, 0}},
      {"but not on three higher ones", {"BCD"}, {"ABCD"}, {-1}, {-1}},
      {"a triangle never meets a quad", {"ABCD"}, {"ABC"}, {-1}, {-1}},
      {"a quad meets the first fitting face", {"ABCD", "ABC"}, {"DCBA"}, {0}, {0, -1}},
      {"equal faces: the first in index order", {"ABC", "BCA"}, {"CAB"}, {0}, {0, -1}},
      {"the reference keeps the last target", {"ABC"}, {"ABC", "BAC", "EFG"}, {0, 0, -1}, {1}},
      {"a corner off the reference", {"ABC"}, {"ABZ"}, {-1}, {-1}},
  };
  for (const Case& c : cases) {
    ModelPtr ref(createModel("Ref")), tgt(createModel("Terget"));
    for (char n = 'A'; n <= 'H'; ++n)
      addPoint(ref.get(), at.at(n).x, at.at(n).y, at.at(n).z);
    for (const auto& face : c.reference)
      addTestFace(ref.get(), corners(face, 0.0));
    for (const auto& face : c.target)
      addTestFace(tgt.get(), corners(face, 0.0004));
    groupAndMeasure(ref.get());
    groupAndMeasure(tgt.get());
    ASSERT_EQ(pairCoincidentGeometry(ref.get(), tgt.get()), 1);
    Pairing got = pairingOf(ref.get(), tgt.get());
    EXPECT_EQ(got.targetPartnerFace, c.targetPartner) << c.name;
    EXPECT_EQ(got.referencePartnerFace, c.referencePartner) << c.name;
  }
}

TEST(PairCoincidentGeometry, PartsAnchorOnASecondFaceInTheFirstFacesPart) {
  // Reference parts 1..6: one triangle each; part 7: two triangles on a shared edge.
  auto triangle = [](double x) { return std::vector<Vec3>{{x, 0, 0}, {x + 1, 0, 0}, {x, 1, 0}}; };
  const std::vector<Vec3> part7a = {{60, 0, 0}, {61, 0, 0}, {60, 1, 0}};
  const std::vector<Vec3> part7b = {{61, 0, 0}, {61, 1, 0}, {60, 1, 0}};
  // Joins the faces on (40,1,0) and (60,0,0) but pairs with nothing: (50,50,5) is nowhere.
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
      {"both faces of part 7", {part7b, part7a}, {6}},
  };
  for (const Case& c : cases) {
    ModelPtr ref(createModel("Ref")), tgt(createModel("Terget"));
    for (int i = 0; i < 6; ++i)
      addTestFace(ref.get(), triangle(10.0 * i));
    addTestFace(ref.get(), part7a);
    addTestFace(ref.get(), part7b);
    for (const auto& face : c.target)
      addTestFace(tgt.get(), face);
    groupAndMeasure(ref.get());
    groupAndMeasure(tgt.get());
    ASSERT_EQ(ref->partCount, 7);
    ASSERT_EQ(pairCoincidentGeometry(ref.get(), tgt.get()), 1);
    EXPECT_EQ(pairingOf(ref.get(), tgt.get()).coincidentPart, c.coincident) << c.name;
  }
}

TEST(PairCoincidentGeometry, EmptyReferencePairsNothing) {
  ModelPtr ref(createModel("Ref")), tgt(createModel("Terget"));
  addTestFace(tgt.get(), {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  addTestFace(tgt.get(), {{1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
  groupAndMeasure(tgt.get());
  tgt->points[0].partner = 5;
  tgt->faces[0].partnerFace = 5;
  tgt->parts[0].coincidentPart = tgt->parts[0].matchedPart = 5;
  ASSERT_EQ(pairCoincidentGeometry(ref.get(), tgt.get()), 1);
  Pairing got = pairingOf(ref.get(), tgt.get());
  EXPECT_EQ(got.targetPartner, std::vector<int>(4, -1));
  EXPECT_EQ(got.targetPartnerFace, std::vector<int>(2, -1));
  EXPECT_EQ(got.coincidentPart, std::vector<int>{-1});
}

TEST(PairCoincidentGeometry, MemoryFailureLeavesBothModelsUnchanged) {
  ScratchFolder folder;
  setProgramDirectoryTo(folder.path.c_str());
  setErrorPresenter([](const char*) {});
  for (long n = 1;; ++n) {
    long live = gliveBlocks();
    bool injected = false;
    {
      ModelPtr ref(createModel("Ref")), tgt(createModel("Terget"));
      buildRandomPair(7, ref.get(), tgt.get());
      for (int j = 0; j < tgt->pointCount; ++j)
        tgt->points[j].partner = -7;
      long before = gallocationCount();
      gfailAllocationAfter(n);
      int result = pairCoincidentGeometry(ref.get(), tgt.get());
      gfailAllocationAfter(0);
      injected = gallocationCount() - before >= n;
      EXPECT_EQ(result, injected ? 0 : 1) << "allocation " << n;
      if (injected) {
        EXPECT_EQ(tgt->points[0].partner, -7) << "allocation " << n;
      }
    }
    EXPECT_EQ(gliveBlocks(), live) << "allocation " << n;
    if (!injected) break;
  }
  setErrorPresenter(nullptr);
  setProgramDirectory();
}

}  // namespace
