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

// Measures the grouped model and checks every measure bit for bit against the stated per-part
// scans: points and faces of part p in index order, offsets from the part's mean position.
void expectScannedMeasures(FaceModel* model) {
  ASSERT_EQ(measureParts(model), 1);
  const FaceModel& m = *model;
  double total = 0;
  for (int32_t p = 1; p <= m.partCount; ++p) {
    std::vector<int32_t> points, faces;
    for (int32_t i = 0; i < m.pointCount; ++i)
      if (m.points[i].part == p) points.push_back(i);
    for (int32_t f = 0; f < m.faceCount; ++f)
      if (m.faces[f].part == p) faces.push_back(f);
    double x = 0, y = 0, z = 0, n = static_cast<double>(points.size()), radiusSum = 0, size = 0;
    for (int32_t i : points)
      x += m.points[i].x, y += m.points[i].y, z += m.points[i].z;
    const Vec3 centre{x / n, y / n, z / n};
    for (int32_t i : points) {
      radiusSum += distance(centre, pointPosition(m.points[i]));
      ASSERT_TRUE(sameBits(relativePosition(m.points[i]), pointPosition(m.points[i]) - centre));
    }
    std::vector<Vec3> faceCentres;
    for (int32_t f : faces) {
      const ModelFace& face = m.faces[f];
      ASSERT_EQ(face.partSlot, static_cast<int32_t>(faceCentres.size()));
      int k = face.cornerCount;
      Vec3 b[4], c{0, 0, 0};
      double perimeter = 0;
      for (int i = 0; i < k; ++i)
        b[i] = pointPosition(m.points[face.corners[i]]) - centre;
      for (int i = 0; i < k; ++i) {
        perimeter += distance(b[i], b[(i + 1) % k]);
        c = {c.x + b[i].x, c.y + b[i].y, c.z + b[i].z};
      }
      perimeter *= k == 3 ? 0.5 : 1;
      size += perimeter;
      faceCentres.push_back({c.x / k, c.y / k, c.z / k});
      ASSERT_TRUE(sameBits(face.centre, faceCentres.back()) && face.perimeter == perimeter &&
                  sameBits(face.normal, normalizeSnapped(cross(b[1] - b[0], b[2] - b[0]))))
          << "face " << f;
    }
    double s = radiusSum / static_cast<double>(faces.size());
    s = s == 0 ? 1 : s;
    const ModelPart& part = m.parts[p - 1];
    ASSERT_EQ(std::vector<int32_t>(part.faces, part.faces + part.faceCount), faces);
    ASSERT_TRUE(part.number == p && sameBits(part.centre, centre) && part.radiusSum == radiusSum &&
                part.size == size / s)
        << "part " << p;
    for (size_t k = 0; k < faces.size(); ++k) {
      const Vec3 c = faceCentres[k];
      ASSERT_TRUE(sameBits(m.faces[faces[k]].scaledCentre, {c.x / s, c.y / s, c.z / s}));
    }
    total += radiusSum;
  }
  EXPECT_EQ(m.meanSize, total / m.faceCount);
}

}  // namespace

TEST(GroupParts, SamePartNumbersAsTheFloodFillAndScannedMeasuresOnRandomModels) {
  // Several bumpy grids, faces shuffled together: parts interleave and chains run against their
  // index order, so the flood fill needs many passes; the bumps make every measure depend on
  // the order of its operations.
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
    ModelPtr model = modelOf(shuffledSurface(faces, seed, {0.1, 0.3, 0.7}));
    expectPassGrouping(model.get());
    expectScannedMeasures(model.get());
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
  // Faces 0 and 2 are squares sharing an edge; then the unit square and triangle of the worked
  // values, a square of side 2 (the unit square's size), a face of one point (divisor 1) and
  // one of collinear corners (normal 0), each a part of its own. Sums and quotients in point
  // order: the triangle's radiusSum ends in ...914 and its size in ...773.
  ModelPtr model = modelOf({{{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}},
                            {{{10, 0, 0}, {11, 0, 0}, {11, 1, 0}, {10, 1, 0}}},
                            {{{1, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}}},
                            {{{0, 0, 5}, {1, 0, 5}, {0, 1, 5}, {0, 1, 5}}},
                            {{{4, -4, 7}, {6, -4, 7}, {6, -2, 7}, {4, -2, 7}}},
                            {{{2, 3, 4}, {2, 3, 4}, {2, 3, 4}, {2, 3, 4}}},
                            {{{0, 0, 9}, {1, 0, 9}, {2, 0, 9}, {3, 0, 9}}}});
  ASSERT_EQ(groupParts(model.get()), 1);
  ASSERT_EQ(model->partCount, 6);
  expectScannedMeasures(model.get());
  // Per part: radiusSum and size. The divisor is radiusSum / faceCount of the face's own part.
  const double parts[][2] = {
      {5.47213595499958, 2.9239039621049088},
      {2.8284271247461903, 1.414213562373095},
      {1.9621165057908914, 0.8700333421324773},
      {5.656854249492381, 1.414213562373095},
      {0, 0},
      {4, 1.5},
  };
  for (int p = 0; p < 6; ++p) {
    EXPECT_EQ(model->parts[p].radiusSum, parts[p][0]) << "part " << p;
    EXPECT_EQ(model->parts[p].size, parts[p][1]) << "part " << p;
  }
  const double perimeters[] = {4, 4, 4, 1.7071067811865475, 8, 0, 6};
  for (int f = 0; f < 7; ++f) {
    EXPECT_EQ(model->faces[f].perimeter, perimeters[f]) << "face " << f;
    EXPECT_TRUE(sameBits(model->faces[f].normal, {0, 0, f < 5 ? 1. : 0.})) << "face " << f;
  }
  EXPECT_TRUE(sameBits(model->faces[0].scaledCentre, {-0.1827439976315568, 0, 0}));
  EXPECT_EQ(model->meanSize, 2.8456476907184345);
}
