// Angle signatures: point face lists, the bins of neighbour angles, the weighting of bins 0
// and 16, the part sums, memory failures, and the signature distance.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "app/errorReport.h"
#include "app/programPath.h"
#include "compare/angleSignature.h"
#include "model/partGrouping.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"
#include "textfiles/settings.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kInvTwoPi = 0.15915494309189535;
constexpr double kHalfPi = 1.5707963267948966;

using Face = std::vector<Vec3>;  // three or four corners

ModelPtr groupedModel(const std::vector<Face>& faces) {
  ModelPtr model(createModel("Ref"));
  for (const Face& face : faces) {
    Vec3 corners[4] = {face[0], face[1], face[2], face.size() == 4 ? face[3] : face[2]};
    EXPECT_EQ(addFace(model.get(), "L", corners), 1);
  }
  EXPECT_EQ(groupParts(model.get()), 1);
  EXPECT_EQ(measureParts(model.get()), 1);
  return model;
}

std::vector<double> signatureOf(const double (&bins)[kSignatureBins]) {
  return std::vector<double>(bins, bins + kSignatureBins);
}

std::vector<double> oneBin(int bin, double value) {
  std::vector<double> bins(kSignatureBins, 0.0);
  bins[bin] = value;
  return bins;
}

// Two triangles on the edge (0,0,0)-(1,0,0), and a third touching the second at one point only.
const std::vector<Face> kHinge = {
    {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}},
    {{1, 0, 0}, {0, 0, 0}, {0, 0, 1}},
    {{0, 0, 1}, {5, 5, 5}, {6, 5, 5}},
};

TEST(ComputeAngleSignatures, NeighbourAngleLandsInItsBinWithTheEdgeBinsWeighted) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double slightlyAbove1 = std::nextafter(1.0, 2.0);
  const double justBelow1 = std::nextafter(1.0, 0.0);
  struct Case {
    const char* name;
    Vec3 a, b;     // normals given to the two hinged triangles
    int bin;       // -1: nothing is added anywhere
    double angle;  // the angle added, before the weighting of bins 0 and 16
  };
  const double sixty = std::acos(0.5), hundredTwenty = std::acos(-0.5);
  const Case cases[] = {
      {"right angle", {0, 0, 1}, {0, 1, 0}, 8, kHalfPi},
      {"sixty degrees", {0, 0, 1}, {0, 0.8660254037844386, 0.5}, 5, sixty},
      {"hundred twenty degrees", {0, 0, 1}, {0, 0.8660254037844386, -0.5}, 10, hundredTwenty},
      {"exactly opposite", {0, 0, 1}, {0, 0, -1}, 16, kPi},
      {"dot rounding below -1 is clamped", {0, 0, slightlyAbove1}, {0, 0, -1}, 16, kPi},
      {"dot rounding above 1 is clamped", {0, 0, slightlyAbove1}, {0, 0, 1}, 0, 0.0},
      {"opposite up to rounding", {0, 0, 1}, {0, 1e-8, -justBelow1}, 15, std::acos(-justBelow1)},
      {"degenerate normal", {0, 0, 0}, {0, 0, 1}, 8, kHalfPi},
      {"parallel adds nothing", {0, 0, 1}, {0, 0, 1}, 0, 0.0},
      {"NaN normal adds nothing", {nan, 0, 0}, {0, 0, 1}, -1, 0.0},
  };
  for (const Case& c : cases) {
    ModelPtr model = groupedModel(kHinge);
    model->faces[0].normal = c.a;
    model->faces[1].normal = c.b;
    ASSERT_EQ(computeAngleSignatures(model.get()), 1) << c.name;
    std::vector<double> face(kSignatureBins, 0.0), part(kSignatureBins, 0.0);
    if (c.bin >= 0) {
      double weight = (c.bin == 0 || c.bin == 16) ? 0.1 : 1.0;
      face[c.bin] = c.angle * weight;
      part[c.bin] = (c.angle + c.angle) * weight;
    }
    EXPECT_EQ(signatureOf(model->faces[0].angleSignature), face) << c.name;
    EXPECT_EQ(signatureOf(model->faces[1].angleSignature), face) << c.name;
    EXPECT_EQ(signatureOf(model->faces[2].angleSignature), oneBin(0, 0.0))
        << c.name << ": a face touching at one point is no neighbour";
    EXPECT_EQ(signatureOf(model->parts[0].angleSignature), part) << c.name;
  }
}

TEST(ComputeAngleSignatures, WorkedBinsFromGeometry) {
  // Right angle: pi/2 in bin 8 of each face, pi in the part.
  ModelPtr model = groupedModel(kHinge);
  ASSERT_EQ(computeAngleSignatures(model.get()), 1);
  EXPECT_EQ(signatureOf(model->faces[0].angleSignature), oneBin(8, kHalfPi));
  EXPECT_EQ(signatureOf(model->parts[0].angleSignature), oneBin(8, kPi));

  // Folded flat: opposite normals give pi in bin 16, weighted to 0.3141592653589793.
  model = groupedModel({{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 0, 0}, {1, 0, 0}, {1, -1, 0}}});
  ASSERT_EQ(computeAngleSignatures(model.get()), 1);
  EXPECT_EQ(model->faces[1].angleSignature[16], 0.3141592653589793);
  EXPECT_EQ(model->parts[0].angleSignature[16], (kPi + kPi) * 0.1);

  // A lone face and a coplanar pair have all-zero signatures.
  for (const auto& faces :
       {std::vector<Face>{{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}},
        std::vector<Face>{{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{1, 0, 0}, {1, 1, 0}, {0, 1, 0}}}}) {
    model = groupedModel(faces);
    ASSERT_EQ(computeAngleSignatures(model.get()), 1);
    for (int f = 0; f < model->faceCount; ++f)
      EXPECT_EQ(signatureOf(model->faces[f].angleSignature), oneBin(0, 0.0));
    EXPECT_EQ(signatureOf(model->parts[0].angleSignature), oneBin(0, 0.0));
  }
}

// The signatures written out plainly: for every face of the part, every other face sharing at
// least two corner points (a repeated point counted each time), in index order.
void expectPlainSums(const FaceModel* model, const std::string& label) {
  std::vector<double> part(kSignatureBins, 0.0);
  for (int b = 0; b < model->faceCount; ++b) {
    std::vector<double> expected(kSignatureBins, 0.0);
    for (int c = 0; c < model->faceCount; ++c) {
      if (c == b) continue;
      int shared = 0;
      for (int i = 0; i < model->faces[b].cornerCount; ++i)
        for (int k = 0; k < model->faces[c].cornerCount; ++k)
          shared += model->faces[b].corners[i] == model->faces[c].corners[k];
      if (shared < 2) continue;
      double x = dot(model->faces[b].normal, model->faces[c].normal);
      x = x > 1 ? 1 : (x < -1 ? -1 : x);
      double theta = std::acos(x);
      int k = static_cast<int>(theta * 5.092958178940651);
      expected[k] += theta;
      part[k] += theta;
    }
    expected[0] *= 0.1;
    expected[16] *= 0.1;
    EXPECT_EQ(signatureOf(model->faces[b].angleSignature), expected) << label << " face " << b;
  }
  part[0] *= 0.1;
  part[16] *= 0.1;
  EXPECT_EQ(signatureOf(model->parts[0].angleSignature), part) << label;
}

TEST(ComputeAngleSignatures, NeighboursSumInPartOrderAndCountOncePerFace) {
  // A quad (face 4) with a triangle on each edge; walking the quad's corners meets its
  // neighbours as 0, 3, 1, 2, but they are summed in index order. Random normals tilted a
  // little from each other put several angles in one bin, where the order shows in rounding.
  const std::vector<Face> ring = {
      {{0, 0, 0}, {1, 0, 0}, {0.5, -1, 0}},         {{1, 0, 0}, {1, 1, 0}, {2, 0.5, 0}},
      {{1, 1, 0}, {0, 1, 0}, {0.5, 2, 0}},          {{0, 1, 0}, {0, 0, 0}, {-1, 0.5, 0}},
      {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}},
  };
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> tilt(-0.3, 0.3);
  for (int trial = 0; trial < 200; ++trial) {
    ModelPtr model = groupedModel(ring);
    for (int f = 0; f < model->faceCount; ++f)
      model->faces[f].normal = normalizeSnapped({tilt(rng), tilt(rng), 1.0});
    ASSERT_EQ(computeAngleSignatures(model.get()), 1);
    expectPlainSums(model.get(), "trial " + std::to_string(trial));
  }
  // A pyramid side whose closing quad repeats a point: each neighbour counts once however
  // many points it shares.
  ModelPtr pyramid = groupedModel({
      {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},
      {{0, 0, 1}, {0, 1, 0}, {-1, 0, 0}},
      {{0, 0, 1}, {-1, 0, 0}, {0, -1, 0}},
      {{0, 0, 1}, {0, -1, 0}, {1, 0, 0}},
      {{1, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {1, 0, 0}},
  });
  ASSERT_EQ(computeAngleSignatures(pyramid.get()), 1);
  expectPlainSums(pyramid.get(), "pyramid");
}

TEST(ComputeAngleSignatures, PointFaceListsGrowInStepsOfFour) {
  // Five triangles around the point (0,0,0); the last is a quad using (1,0,0) twice.
  std::vector<Face> faces;
  for (int i = 0; i < 4; ++i)
    faces.push_back({{0, 0, 0}, {std::cos(i * 1.0), std::sin(i * 1.0), 0}, {0, 0, 1.0 + i}});
  faces.push_back({{0, 0, 0}, {1, 0, 0}, {0, 0, 9}, {1, 0, 0}});
  ModelPtr model = groupedModel(faces);
  ASSERT_EQ(computeAngleSignatures(model.get()), 1);
  const ModelPoint& hub = model->points[0];
  EXPECT_EQ(hub.faceCount, 5);
  EXPECT_EQ(hub.faceCapacity, 8);
  EXPECT_EQ(std::vector<int>(hub.faces, hub.faces + 8), (std::vector<int>{0, 1, 2, 3, 4, 0, 0, 0}));
  int32_t repeated = model->faces[4].corners[1];
  const ModelPoint& twice = model->points[repeated];
  EXPECT_EQ(std::vector<int>(twice.faces, twice.faces + twice.faceCount),
            (std::vector<int>{0, 4, 4}));
  EXPECT_EQ(twice.faceCapacity, 4);
}

TEST(ComputeAngleSignatures, MemoryFailureReturnsZeroAndLeaksNothing) {
  ScratchFolder folder;
  setProgramDirectoryTo(folder.path.c_str());
  setErrorPresenter([](const char*) {});
  int failures = 0;
  for (long n = 1;; ++n) {
    long live = gliveBlocks();
    bool injected = false;
    {
      ModelPtr model = groupedModel(kHinge);
      long before = gallocationCount();
      gfailAllocationAfter(n);
      int result = computeAngleSignatures(model.get());
      gfailAllocationAfter(0);
      injected = gallocationCount() - before >= n;
      EXPECT_EQ(result, injected ? 0 : 1) << "allocation " << n;
      failures += injected;
    }
    EXPECT_EQ(gliveBlocks(), live) << "allocation " << n;
    if (!injected) break;
  }
  EXPECT_GT(failures, 7);  // each of the seven point lists, then the working blocks
  setErrorPresenter(nullptr);
  setProgramDirectory();
}

class SignatureDistance : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = matchSettings; }
  void TearDown() override { matchSettings = saved_; }
  MatchSettings saved_;
};

TEST_F(SignatureDistance, WorkedNumbers) {
  matchSettings.sameFaceAngleAdvantage = 0.25;
  double a[kSignatureBins] = {}, near[kSignatureBins] = {}, far[kSignatureBins] = {},
         other[kSignatureBins] = {};
  a[8] = kHalfPi;
  near[8] = kHalfPi + 0.0005;
  far[8] = kHalfPi + 0.002;
  other[5] = kHalfPi;

  double nearExpected = (std::fabs(a[8] - near[8]) - 1 * 0.25 * kPi) * kInvTwoPi;
  EXPECT_EQ(signatureDistance(a, near), nearExpected);
  EXPECT_NEAR(signatureDistance(a, near), -0.1249204225, 1e-10);

  double farExpected = std::fabs(a[8] - far[8]) * kInvTwoPi;
  EXPECT_EQ(signatureDistance(a, far), farExpected);
  EXPECT_NEAR(signatureDistance(a, far), 0.0003183098862, 1e-13);

  EXPECT_EQ(signatureDistance(a, other), (kHalfPi + kHalfPi) * kInvTwoPi);
  EXPECT_EQ(signatureDistance(other, a), (kHalfPi + kHalfPi) * kInvTwoPi);
  EXPECT_NEAR(signatureDistance(a, other), 0.5, 1e-15);
}

TEST_F(SignatureDistance, SelfDistanceAndAsymmetry) {
  double s[kSignatureBins] = {}, t[kSignatureBins] = {};
  s[0] = 0.2;
  s[8] = kHalfPi;
  s[16] = 0.0005;  // not above 0.001: earns no advantage
  t[8] = kHalfPi;
  matchSettings.sameFaceAngleAdvantage = 0.25;
  EXPECT_EQ(signatureDistance(s, s), (0.0 - 2 * 0.25 * kPi) * kInvTwoPi);
  EXPECT_NEAR(signatureDistance(s, s), -0.25, 1e-15);
  // Only bins that the first signature occupies and the second matches earn the advantage.
  double st = signatureDistance(s, t), ts = signatureDistance(t, s);
  EXPECT_EQ(st, (0.2 + 0.0005 - 1 * 0.25 * kPi) * kInvTwoPi);
  EXPECT_EQ(ts, (0.2 + 0.0005 - 1 * 0.25 * kPi) * kInvTwoPi);
  // Bin 3 is occupied in s but not in t, and the two agree within 0.001 there.
  s[3] = 0.0015;
  t[3] = 0.0008;
  EXPECT_EQ(signatureDistance(s, t), (0.2 + 0.0007 + 0.0005 - 2 * 0.25 * kPi) * kInvTwoPi);
  EXPECT_EQ(signatureDistance(t, s), (0.2 + 0.0007 + 0.0005 - 1 * 0.25 * kPi) * kInvTwoPi);
  matchSettings.sameFaceAngleAdvantage = 0.0;
  EXPECT_EQ(signatureDistance(t, t), 0.0);
}

}  // namespace
