// Angle signatures: point face lists, the bins of neighbour angles, the weighting of bins 0
// and 16, the part sums, and the signature distance.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "compare/angleSignature.h"
#include "model/partGrouping.h"
#include "support/testSupport.h"
#include "textfiles/settings.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kInvTwoPi = 0.15915494309189535;
constexpr double kHalfPi = 1.5707963267948966;

using Face = std::vector<Vec3>;  // three or four corners
using Bins = std::vector<double>;

ModelPtr groupedModel(const std::vector<Face>& faces) {
  ModelPtr model(createModel("Ref"));
  for (const Face& face : faces) {
    Vec3 corners[4] = {face[0], face[1], face[2], face[face.size() - 1]};
    EXPECT_EQ(addFace(model.get(), "L", corners), 1);
  }
  EXPECT_EQ(groupParts(model.get()), 1);
  EXPECT_EQ(measureParts(model.get()), 1);
  return model;
}

Bins bins(const double (&signature)[kSignatureBins]) {
  return Bins(signature, signature + kSignatureBins);
}

Bins oneBin(int bin, double value) {
  Bins b(kSignatureBins, 0.0);
  if (bin >= 0) b[bin] = value;
  return b;
}

TEST(ComputeAngleSignatures, NeighbourAngleLandsInItsBinWithTheEdgeBinsWeighted) {
  // Two triangles on the edge (0,0,0)-(1,0,0) and a third touching the second at one point,
  // which is no neighbour.
  const std::vector<Face> hinge = {{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}},
                                   {{1, 0, 0}, {0, 0, 0}, {0, 0, 1}},
                                   {{0, 0, 1}, {5, 5, 5}, {6, 5, 5}}};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double above1 = std::nextafter(1.0, 2.0), below1 = std::nextafter(1.0, 0.0);
  const double sin60 = 0.8660254037844386;
  struct Case {
    const char* name;
    Vec3 a, b;     // normals given to the two hinged triangles
    int bin;       // -1: nothing is added anywhere
    double angle;  // the angle added, before the weighting of bins 0 and 16
  };
  const Case cases[] = {
      {"right angle", {0, 0, 1}, {0, 1, 0}, 8, kHalfPi},
      {"sixty degrees", {0, 0, 1}, {0, sin60, 0.5}, 5, std::acos(0.5)},
      {"hundred twenty degrees", {0, 0, 1}, {0, sin60, -0.5}, 10, std::acos(-0.5)},
      {"exactly opposite", {0, 0, 1}, {0, 0, -1}, 16, kPi},
      {"dot rounding below -1 is clamped", {0, 0, above1}, {0, 0, -1}, 16, kPi},
      {"dot rounding above 1 is clamped", {0, 0, above1}, {0, 0, 1}, 0, 0.0},
      {"opposite up to rounding", {0, 0, 1}, {0, 1e-8, -below1}, 15, std::acos(-below1)},
      {"degenerate normal", {0, 0, 0}, {0, 0, 1}, 8, kHalfPi},
      {"parallel adds nothing", {0, 0, 1}, {0, 0, 1}, 0, 0.0},
      {"NaN normal adds nothing", {nan, 0, 0}, {0, 0, 1}, -1, 0.0},
  };
  for (const Case& c : cases) {
    ModelPtr model = groupedModel(hinge);
    model->faces[0].normal = c.a;
    model->faces[1].normal = c.b;
    ASSERT_EQ(computeAngleSignatures(model.get()), 1) << c.name;
    double weight = (c.bin == 0 || c.bin == 16) ? 0.1 : 1.0;
    EXPECT_EQ(bins(model->faces[0].angleSignature), oneBin(c.bin, c.angle * weight)) << c.name;
    EXPECT_EQ(bins(model->faces[1].angleSignature), oneBin(c.bin, c.angle * weight)) << c.name;
    EXPECT_EQ(bins(model->faces[2].angleSignature), oneBin(0, 0.0)) << c.name;
    EXPECT_EQ(bins(model->parts[0].angleSignature), oneBin(c.bin, (c.angle + c.angle) * weight))
        << c.name;
  }
}

// The signatures written out plainly: for every face of the part, every other face sharing at
// least two corner points (a repeated point counted each time), in index order.
void expectPlainSums(const FaceModel* model, const std::string& label) {
  Bins part(kSignatureBins, 0.0);
  for (int b = 0; b < model->faceCount; ++b) {
    Bins expected(kSignatureBins, 0.0);
    for (int c = 0; c < model->faceCount; ++c) {
      int shared = 0;
      for (int i = 0; i < model->faces[b].cornerCount; ++i)
        for (int k = 0; k < model->faces[c].cornerCount; ++k)
          shared += model->faces[b].corners[i] == model->faces[c].corners[k];
      if (c == b || shared < 2) continue;
      double x = std::clamp(dot(model->faces[b].normal, model->faces[c].normal), -1.0, 1.0);
      double theta = std::acos(x);
      int k = static_cast<int>(theta * 5.092958178940651);
      expected[k] += theta;
      part[k] += theta;
    }
    expected[0] *= 0.1;
    expected[16] *= 0.1;
    EXPECT_EQ(bins(model->faces[b].angleSignature), expected) << label << " face " << b;
  }
  part[0] *= 0.1;
  part[16] *= 0.1;
  EXPECT_EQ(bins(model->parts[0].angleSignature), part) << label;
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
  // A pyramid of five sides whose base quad repeats the point p(0): each neighbour counts once
  // however many points it shares, and side 4 shares p(0) twice with the base. Five faces use
  // the tip: its list grows by four entries twice.
  auto p = [](int i) { return Vec3{std::cos(i % 5 * 1.25), std::sin(i % 5 * 1.25), 0}; };
  std::vector<Face> sides;
  for (int i = 0; i < 5; ++i)
    sides.push_back({{0, 0, 1}, p(i), p(i + 1)});
  sides.push_back({p(0), p(1), p(2), p(0)});
  ModelPtr pyramid = groupedModel(sides);
  ASSERT_EQ(computeAngleSignatures(pyramid.get()), 1);
  expectPlainSums(pyramid.get(), "pyramid");
  const ModelPoint& tip = pyramid->points[pyramid->faces[0].corners[0]];
  EXPECT_EQ(std::vector<int>(tip.faces, tip.faces + tip.faceCapacity),
            (std::vector<int>{0, 1, 2, 3, 4, 0, 0, 0}));
  EXPECT_EQ(tip.faceCount, 5);
  const ModelPoint& twice = pyramid->points[pyramid->faces[5].corners[0]];
  EXPECT_EQ(std::vector<int>(twice.faces, twice.faces + twice.faceCount),
            (std::vector<int>{0, 4, 5, 5}));
  EXPECT_EQ(twice.faceCapacity, 4);
}

TEST(SignatureDistance, WorkedNumbersSelfDistanceAndAsymmetry) {
  MatchSettings saved = matchSettings;
  matchSettings.sameFaceAngleAdvantage = 0.25;
  const Bins a = oneBin(8, kHalfPi), near = oneBin(8, kHalfPi + 0.0005),
             far = oneBin(8, kHalfPi + 0.002), other = oneBin(5, kHalfPi);
  EXPECT_EQ(signatureDistance(a.data(), near.data()),
            (std::fabs(kHalfPi - near[8]) - 1 * 0.25 * kPi) * kInvTwoPi);
  EXPECT_NEAR(signatureDistance(a.data(), near.data()), -0.1249204225, 1e-10);
  EXPECT_EQ(signatureDistance(a.data(), far.data()), std::fabs(kHalfPi - far[8]) * kInvTwoPi);
  EXPECT_NEAR(signatureDistance(a.data(), far.data()), 0.0003183098862, 1e-13);
  EXPECT_EQ(signatureDistance(a.data(), other.data()), (kHalfPi + kHalfPi) * kInvTwoPi);
  EXPECT_EQ(signatureDistance(other.data(), a.data()), (kHalfPi + kHalfPi) * kInvTwoPi);
  EXPECT_NEAR(signatureDistance(a.data(), other.data()), 0.5, 1e-15);

  double s[kSignatureBins] = {}, t[kSignatureBins] = {};
  s[0] = 0.2;
  s[8] = t[8] = kHalfPi;
  s[16] = 0.0005;  // not above 0.001: earns no advantage
  EXPECT_EQ(signatureDistance(s, s), (0.0 - 2 * 0.25 * kPi) * kInvTwoPi);
  EXPECT_NEAR(signatureDistance(s, s), -0.25, 1e-15);
  // Only bins that the first signature occupies and the second matches earn the advantage:
  // bin 3 is occupied in s but not in t, and the two agree within 0.001 there.
  s[3] = 0.0015;
  t[3] = 0.0008;
  EXPECT_EQ(signatureDistance(s, t), (0.2 + 0.0007 + 0.0005 - 2 * 0.25 * kPi) * kInvTwoPi);
  EXPECT_EQ(signatureDistance(t, s), (0.2 + 0.0007 + 0.0005 - 1 * 0.25 * kPi) * kInvTwoPi);
  // Both comparisons are strict: 0.001 occupies no bin, and a difference of 0.001 is no match.
  double u[kSignatureBins] = {}, v[kSignatureBins] = {};
  u[1] = 0.002;
  u[2] = v[1] = v[2] = 0.001;
  EXPECT_EQ(signatureDistance(u, v), 0.001 * kInvTwoPi);
  matchSettings.sameFaceAngleAdvantage = 0.0;
  EXPECT_EQ(signatureDistance(t, t), 0.0);
  matchSettings = saved;
}

}  // namespace
