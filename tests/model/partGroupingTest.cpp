// Part grouping and measures: the part numbers of the pass-by-pass flood fill on random models
// and edge cases, and the measures' worked numbers bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>
#include <string>
#include <vector>

#include "model/faceModel.h"
#include "model/partGrouping.h"
#include "support/testSupport.h"

namespace {

bool sameBits(const Vec3& a, const Vec3& b) {
  return std::bit_cast<uint64_t>(a.x) == std::bit_cast<uint64_t>(b.x) &&
         std::bit_cast<uint64_t>(a.y) == std::bit_cast<uint64_t>(b.y) &&
         std::bit_cast<uint64_t>(a.z) == std::bit_cast<uint64_t>(b.z);
}

struct Grouping {
  std::vector<int32_t> faceParts, pointParts;
  int32_t partCount = 1;
};

// The flood fill in passes: face 0 starts part 1; each pass over faces 1.. numbers a face from
// the first numbered point among its corners; when a pass numbers nothing while faces are left,
// the lowest unnumbered face starts the next part.
Grouping groupByPasses(const FaceModel& model) {
  Grouping g{std::vector<int32_t>(model.faceCount), std::vector<int32_t>(model.pointCount)};
  auto give = [&](int32_t f, int32_t facePart, int32_t pointPart) {
    g.faceParts[f] = facePart;
    for (int c = 0; c < model.faces[f].cornerCount; ++c)
      g.pointParts[model.faces[f].corners[c]] = pointPart;
  };
  give(0, 1, 1);
  for (bool left = model.faceCount > 1; left;) {
    bool changed = false;
    left = false;
    for (int32_t f = 1; f < model.faceCount; ++f) {
      if (g.faceParts[f] != 0) continue;
      int32_t found = 0;
      for (int c = 0; c < model.faces[f].cornerCount && found == 0; ++c)
        found = g.pointParts[model.faces[f].corners[c]];
      if (found != 0) give(f, g.partCount, found);
      changed |= found != 0;
      left |= found == 0;
    }
    if (left && !changed) {
      ++g.partCount;
      auto first = std::find(g.faceParts.begin(), g.faceParts.end(), 0) - g.faceParts.begin();
      give(static_cast<int32_t>(first), g.partCount, g.partCount);
    }
  }
  return g;
}

ModelPtr modelOf(const std::vector<SurfaceFace>& faces) {
  ModelPtr model(createModel("Ref"));
  for (const auto& f : faces)
    EXPECT_EQ(addFace(model.get(), "L", f.data()), 1);
  return model;
}

// Groups the model and checks its part numbers against the pass-by-pass flood fill.
void expectPassGrouping(FaceModel* model) {
  Grouping expected = groupByPasses(*model);
  ASSERT_EQ(groupParts(model), 1);
  ASSERT_EQ(model->partCount, expected.partCount);
  for (int32_t f = 0; f < model->faceCount; ++f)
    ASSERT_EQ(model->faces[f].part, expected.faceParts[f]) << "face " << f;
  for (int32_t i = 0; i < model->pointCount; ++i)
    ASSERT_EQ(model->points[i].part, expected.pointParts[i]) << "point " << i;
}

}  // namespace

TEST(GroupParts, SamePartNumbersAsTheFloodFillOnRandomModels) {
  // Several bumpy grids, faces shuffled together: parts interleave and chains run against their
  // index order, so the flood fill needs many passes.
  std::mt19937 random(7);
  for (int trial = 0; trial < 300; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    std::vector<SurfaceFace> faces;
    for (int o = 1 + random() % 5; o > 0; --o) {
      uint32_t seed = random();
      int columns = 1 + random() % 7, rows = 1 + random() % 4;
      auto grid = randomSurface(seed, columns, rows, {10.0 * o, 0, 0});
      faces.insert(faces.end(), grid.begin(), grid.end());
    }
    uint32_t seed = random();
    ModelPtr model = modelOf(shuffledSurface(faces, seed, {0, 0, 0}));
    expectPassGrouping(model.get());
  }
}

TEST(GroupParts, EdgeCases) {
  // Point k of these cases sits at (k, k*k, 0); -1 stands for (-0.0, 0, 0), beside point 0.
  auto at = [](int k) { return k < 0 ? Vec3{-0.0, 0, 0} : Vec3{double(k), double(k * k), 0}; };
  const struct {
    std::vector<std::array<int, 4>> faces;
    std::vector<int32_t> parts;
  } cases[] = {
      {{{0, 1, 2, 3}}, {1}},
      {{{0, 1, 2, 3}, {1, 4, 5, 2}}, {1, 1}},   // sharing an edge
      {{{0, 1, 2, 3}, {4, 5, 6, 7}}, {1, 2}},   // apart
      {{{0, 1, 2, 3}, {2, 4, 5, 6}}, {1, 1}},   // touching at one corner
      {{{0, 1, 2, 3}, {-1, 4, 5, 6}}, {1, 2}},  // 0 and -0 do not connect
      // A, B, C with B reached through C on the second pass
      {{{0, 1, 2, 3}, {10, 11, 12, 13}, {3, 20, 21, 10}}, {1, 1, 1}},
      // a later face joins two parts
      {{{0, 1, 2, 2}, {10, 11, 12, 12}, {2, 30, 10, 10}}, {1, 1, 1}},
      // objects listed in order, then interleaved
      {{{0, 1, 2, 2}, {1, 2, 3, 3}, {10, 11, 12, 12}, {20, 21, 22, 22}}, {1, 1, 2, 3}},
      {{{0, 1, 2, 2}, {10, 11, 12, 12}, {20, 21, 22, 22}, {1, 2, 3, 3}, {11, 12, 13, 13}},
       {1, 2, 3, 1, 2}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    std::vector<SurfaceFace> faces;
    for (const auto& f : cases[i].faces)
      faces.push_back({at(f[0]), at(f[1]), at(f[2]), at(f[3])});
    ModelPtr model = modelOf(faces);
    expectPassGrouping(model.get());
    for (int32_t f = 0; f < model->faceCount; ++f)
      EXPECT_EQ(model->faces[f].part, cases[i].parts[f]) << "face " << f;
  }
}

TEST(MeasureParts, WorkedNumbers) {
  const Vec3 zero{0, 0, 0}, up{0, 0, 1};
  const SurfaceFace square{{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}},
      triangle{{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 1, 0}}},
      square2{{{4, -4, 7}, {6, -4, 7}, {6, -2, 7}, {4, -2, 7}}},
      point{{{2, 3, 4}, {2, 3, 4}, {2, 3, 4}, {2, 3, 4}}},
      line{{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}}};
  // The triangle's sums and quotients in index order end in ...914 and ...773 (not the ...918
  // and ...771 sometimes quoted). A square of side 2 has the unit square's size; a face of one
  // point gets the divisor 1.
  const struct {
    SurfaceFace corners;
    double radiusSum, size, perimeter;
    Vec3 partCentre, normal;
  } cases[] = {
      {square, 2.8284271247461903, 1.414213562373095, 4, {0.5, 0.5, 0}, up},
      {triangle,
       1.9621165057908914,
       0.8700333421324773,
       1.7071067811865475,
       {1. / 3, 1. / 3, 0},
       up},
      {square2, 5.656854249492381, 1.414213562373095, 8, {5, -3, 7}, up},
      {point, 0, 0, 0, {2, 3, 4}, zero},
      {line, 4, 1.5, 6, {1.5, 0, 0}, zero},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& t = cases[i];
    SCOPED_TRACE("case " + std::to_string(i));
    ModelPtr model = modelOf({t.corners});
    ASSERT_TRUE(groupParts(model.get()) && measureParts(model.get()));
    ASSERT_EQ(model->partCount, 1);
    const ModelPart& part = model->parts[0];
    const ModelFace& face = model->faces[0];
    EXPECT_EQ(part.radiusSum, t.radiusSum);
    EXPECT_EQ(part.size, t.size);
    EXPECT_EQ(model->meanSize, t.radiusSum);
    EXPECT_EQ(face.perimeter, t.perimeter);
    EXPECT_TRUE(sameBits(part.centre, t.partCentre));
    EXPECT_TRUE(sameBits(face.normal, t.normal));
    EXPECT_LT(vectorLength(face.centre), 1e-15);  // a mean of offsets from the mean
  }
}

TEST(MeasureParts, SeveralPartsWorkedNumbers) {
  // Two squares sharing an edge (faces 0 and 2), a square apart and a triangle: three parts,
  // each measured over its own points and faces, meanSize over all four faces.
  ModelPtr model = modelOf({{{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}},
                            {{{10, 0, 0}, {11, 0, 0}, {11, 1, 0}, {10, 1, 0}}},
                            {{{1, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}}},
                            {{{0, 0, 5}, {1, 0, 5}, {0, 1, 5}, {0, 1, 5}}}});
  ASSERT_TRUE(groupParts(model.get()) && measureParts(model.get()));
  ASSERT_EQ(model->partCount, 3);
  const struct {
    std::vector<int32_t> faces;
    Vec3 centre;
    double radiusSum, size;
  } parts[] = {
      {{0, 2}, {1, 0.5, 0}, 5.47213595499958, 2.9239039621049088},
      {{1}, {10.5, 0.5, 0}, 2.8284271247461903, 1.414213562373095},
      {{3}, {1. / 3, 1. / 3, 5}, 1.9621165057908914, 0.8700333421324773},
  };
  for (int p = 0; p < 3; ++p) {
    const ModelPart& part = model->parts[p];
    EXPECT_EQ(part.number, p + 1);
    EXPECT_EQ(std::vector<int32_t>(part.faces, part.faces + part.faceCount), parts[p].faces);
    for (int32_t slot = 0; slot < part.faceCount; ++slot)
      EXPECT_EQ(model->faces[part.faces[slot]].partSlot, slot);
    EXPECT_TRUE(sameBits(part.centre, parts[p].centre)) << p;
    EXPECT_EQ(part.radiusSum, parts[p].radiusSum) << p;
    EXPECT_EQ(part.size, parts[p].size) << p;
  }
  EXPECT_EQ(model->meanSize, 2.5656698963841653);
  // Face centres over the divisor radiusSum / faceCount of their own part.
  EXPECT_TRUE(sameBits(model->faces[0].scaledCentre, {-0.1827439976315568, 0, 0}));
  EXPECT_TRUE(sameBits(model->faces[2].scaledCentre, {0.1827439976315568, 0, 0}));
  EXPECT_TRUE(sameBits(model->faces[1].scaledCentre, {0, 0, 0}));
  const ModelPoint& corner = model->points[model->faces[2].corners[1]];  // (2, 0, 0)
  EXPECT_TRUE(sameBits(relativePosition(corner), {1, -0.5, 0}));
}
