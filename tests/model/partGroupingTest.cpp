// Part grouping and measures: the part numbers of the pass-by-pass flood fill on random models,
// measures bit for bit against the per-part scans, the worked numbers and the edge cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "model/faceModel.h"
#include "model/partGrouping.h"
#include "support/testSupport.h"

namespace {

bool sameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}
bool sameBits(const Vec3& a, const Vec3& b) {
  return sameBits(a.x, b.x) && sameBits(a.y, b.y) && sameBits(a.z, b.z);
}

struct Grouping {
  std::vector<int32_t> faceParts, pointParts;
  int32_t partCount = 0;
};

// The flood fill in passes: face 0 starts part 1; each pass over faces 1.. numbers a face from
// the first numbered point among its corners; when a pass numbers nothing while faces are left,
// the lowest unnumbered face starts the next part.
Grouping groupByPasses(const FaceModel& model) {
  Grouping g;
  g.faceParts.assign(model.faceCount, 0);
  g.pointParts.assign(model.pointCount, 0);
  auto give = [&](int32_t f, int32_t facePart, int32_t pointPart) {
    g.faceParts[f] = facePart;
    for (int c = 0; c < model.faces[f].cornerCount; ++c)
      g.pointParts[model.faces[f].corners[c]] = pointPart;
  };
  int32_t current = 1;
  give(0, 1, 1);
  g.partCount = 1;
  if (model.faceCount == 1) return g;
  for (;;) {
    bool changed = false, left = false;
    for (int32_t f = 1; f < model.faceCount; ++f) {
      if (g.faceParts[f] != 0) continue;
      int32_t found = 0;
      for (int c = 0; c < model.faces[f].cornerCount && found == 0; ++c)
        found = g.pointParts[model.faces[f].corners[c]];
      if (found != 0) {
        give(f, current, found);
        changed = true;
      } else {
        left = true;
      }
    }
    if (!left) break;
    if (!changed) {
      ++current;
      int32_t f = 0;
      while (g.faceParts[f] != 0)
        ++f;
      give(f, current, current);
    }
  }
  g.partCount = current;
  return g;
}

struct PartMeasures {
  Vec3 centre;
  double radiusSum, size;
  std::vector<int32_t> faces;
};
struct Measures {
  std::vector<PartMeasures> parts;
  std::vector<Vec3> rel, faceCentre, normal, scaledCentre;
  std::vector<double> perimeter;
  double meanSize = 0;
};

// The measures as per-part scans over every point and every face of the model.
Measures measureByScans(const FaceModel& m) {
  Measures r;
  r.rel.resize(m.pointCount);
  r.faceCentre.resize(m.faceCount);
  r.normal.resize(m.faceCount);
  r.scaledCentre.resize(m.faceCount);
  r.perimeter.resize(m.faceCount);
  double total = 0;
  for (int32_t p = 1; p <= m.partCount; ++p) {
    PartMeasures part{};
    double sx = 0, sy = 0, sz = 0;
    int32_t n = 0;
    for (int32_t i = 0; i < m.pointCount; ++i) {
      if (m.points[i].part != p) continue;
      sx += m.points[i].x;
      sy += m.points[i].y;
      sz += m.points[i].z;
      ++n;
    }
    part.centre = {sx / n, sy / n, sz / n};
    part.radiusSum = 0;
    for (int32_t i = 0; i < m.pointCount; ++i) {
      if (m.points[i].part != p) continue;
      r.rel[i] = pointPosition(m.points[i]) - part.centre;
      part.radiusSum += vectorLength(r.rel[i]);
    }
    total += part.radiusSum;
    part.size = 0;
    for (int32_t f = 0; f < m.faceCount; ++f) {
      const ModelFace& face = m.faces[f];
      if (face.part != p) continue;
      part.faces.push_back(f);
      int k = face.cornerCount;
      Vec3 b[4];
      for (int c = 0; c < k; ++c)
        b[c] = r.rel[face.corners[c]];
      double perimeter = 0, cx = 0, cy = 0, cz = 0;
      for (int c = 0; c + 1 < k; ++c)
        perimeter += distance(b[c], b[c + 1]);
      perimeter += distance(b[k - 1], b[0]);
      if (k == 3) perimeter *= 0.5;
      for (int c = 0; c < k; ++c)
        cx += b[c].x, cy += b[c].y, cz += b[c].z;
      r.perimeter[f] = perimeter;
      r.faceCentre[f] = {cx / k, cy / k, cz / k};
      r.normal[f] = normalizeSnapped(cross(b[1] - b[0], b[2] - b[0]));
      part.size += perimeter;
    }
    double s = part.radiusSum / static_cast<double>(part.faces.size());
    if (s == 0) s = 1;
    part.size /= s;
    for (int32_t f : part.faces) {
      r.scaledCentre[f] = {r.faceCentre[f].x / s, r.faceCentre[f].y / s, r.faceCentre[f].z / s};
    }
    r.parts.push_back(part);
  }
  r.meanSize = total / m.faceCount;
  return r;
}

// Random objects of face chains, listed so that chains run against their index order, several
// objects interleave, and some objects touch another only within a sign of zero.
ModelPtr randomModel(std::mt19937& random) {
  struct Face {
    std::array<Vec3, 4> corners;
  };
  std::vector<std::vector<Face>> objects(1 + random() % 6);
  std::uniform_real_distribution<double> jitter(-0.49, 0.49);
  for (size_t o = 0; o < objects.size(); ++o) {
    int length = 1 + random() % 40;
    double z = 3.0 * o;
    std::vector<Vec3> spine;  // neighbouring links share spine points
    for (int i = 0; i <= length; ++i)
      spine.push_back({i + jitter(random), jitter(random), z});
    if (o == 1) spine[0] = {-0.0, 0.0, 0.0};  // object 0 starts at +0: no link between them
    if (o == 0) spine[0] = {0.0, 0.0, 0.0};
    for (int i = 0; i < length; ++i) {
      Vec3 a = spine[i], b = spine[i + 1];
      Vec3 c{b.x + jitter(random), 1 + jitter(random), z + jitter(random)};
      Vec3 d{a.x, 1.5, z + 0.25};
      int shape = random() % 3;
      if (shape == 0) objects[o].push_back({{a, b, c, c}});  // triangle sharing an edge
      if (shape == 1) objects[o].push_back({{a, b, c, d}});
      if (shape == 2) objects[o].push_back({{c, a, d, b}});  // shares two opposite corners
    }
    if (random() % 2) std::reverse(objects[o].begin(), objects[o].end());
  }
  ModelPtr model(createModel("Ref"));
  std::vector<size_t> next(objects.size(), 0);
  bool shuffle = random() % 3 == 0;
  std::vector<Face> order;
  for (;;) {  // interleave: take the next face of a random object that has some left
    std::vector<size_t> open;
    for (size_t o = 0; o < objects.size(); ++o) {
      if (next[o] < objects[o].size()) open.push_back(o);
    }
    if (open.empty()) break;
    size_t o = open[random() % open.size()];
    order.push_back(objects[o][next[o]++]);
  }
  if (shuffle) std::shuffle(order.begin(), order.end(), random);
  for (const Face& f : order)
    addFace(model.get(), "L", f.corners.data());
  return model;
}

ModelPtr modelOf(const std::vector<std::array<Vec3, 4>>& faces) {
  ModelPtr model(createModel("Ref"));
  for (const auto& f : faces)
    EXPECT_EQ(addFace(model.get(), "L", f.data()), 1);
  return model;
}

}  // namespace

TEST(GroupParts, SamePartNumbersAsTheFloodFillOnRandomModels) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 400; ++trial) {
    ModelPtr model = randomModel(random);
    ASSERT_GT(model->faceCount, 0);
    Grouping expected = groupByPasses(*model);
    ASSERT_EQ(groupParts(model.get()), 1);
    ASSERT_EQ(model->partCount, expected.partCount) << "trial " << trial;
    for (int32_t f = 0; f < model->faceCount; ++f) {
      ASSERT_EQ(model->faces[f].part, expected.faceParts[f]) << "trial " << trial << " face " << f;
    }
    for (int32_t i = 0; i < model->pointCount; ++i) {
      ASSERT_EQ(model->points[i].part, expected.pointParts[i])
          << "trial " << trial << " point " << i;
    }
  }
}

TEST(GroupParts, EdgeCases) {
  // Point k of these cases sits at (k, k*k, 0); -1 stands for (-0.0, 0, 0), beside point 0.
  auto at = [](int k) { return k < 0 ? Vec3{-0.0, 0, 0} : Vec3{double(k), double(k * k), 0}; };
  const struct {
    const char* behaviour;
    std::vector<std::array<int, 4>> faces;
    std::vector<int32_t> parts;
  } cases[] = {
      {"one face", {{0, 1, 2, 3}}, {1}},
      {"squares sharing an edge", {{0, 1, 2, 3}, {1, 4, 5, 2}}, {1, 1}},
      {"squares apart", {{0, 1, 2, 3}, {4, 5, 6, 7}}, {1, 2}},
      {"squares touching at one corner", {{0, 1, 2, 3}, {2, 4, 5, 6}}, {1, 1}},
      {"A, B, C with B reached through C",
       {{0, 1, 2, 3}, {10, 11, 12, 13}, {3, 20, 21, 10}},
       {1, 1, 1}},
      {"objects listed in order",
       {{0, 1, 2, 2}, {1, 2, 3, 3}, {10, 11, 12, 12}, {20, 21, 22, 22}},
       {1, 1, 2, 3}},
      {"objects interleaved",
       {{0, 1, 2, 2},
        {10, 11, 12, 12},
        {20, 21, 22, 22},
        {1, 2, 3, 3},
        {11, 12, 13, 13},
        {21, 22, 23, 23}},
       {1, 2, 3, 1, 2, 3}},
      {"a later face joins two parts",
       {{0, 1, 2, 2}, {10, 11, 12, 12}, {2, 30, 10, 10}},
       {1, 1, 1}},
      {"0 and -0 do not connect", {{0, 1, 2, 3}, {-1, 4, 5, 6}}, {1, 2}},
  };
  for (const auto& t : cases) {
    std::vector<std::array<Vec3, 4>> faces;
    for (const auto& f : t.faces)
      faces.push_back({at(f[0]), at(f[1]), at(f[2]), at(f[3])});
    ModelPtr model = modelOf(faces);
    Grouping expected = groupByPasses(*model);
    ASSERT_EQ(groupParts(model.get()), 1);
    std::vector<int32_t> parts;
    for (int32_t f = 0; f < model->faceCount; ++f)
      parts.push_back(model->faces[f].part);
    EXPECT_EQ(parts, t.parts) << t.behaviour;
    EXPECT_EQ(parts, expected.faceParts) << t.behaviour;
    EXPECT_EQ(model->partCount, *std::max_element(t.parts.begin(), t.parts.end())) << t.behaviour;
    for (int32_t i = 0; i < model->pointCount; ++i)
      EXPECT_EQ(model->points[i].part, expected.pointParts[i]) << t.behaviour;
  }
}

TEST(MeasureParts, BitIdenticalToPerPartScansOnRandomModels) {
  std::mt19937 random(11);
  for (int trial = 0; trial < 200; ++trial) {
    ModelPtr model = randomModel(random);
    ASSERT_EQ(groupParts(model.get()), 1);
    Measures expected = measureByScans(*model);
    ASSERT_EQ(measureParts(model.get()), 1);
    ASSERT_TRUE(sameBits(model->meanSize, expected.meanSize)) << "trial " << trial;
    for (int32_t p = 0; p < model->partCount; ++p) {
      const ModelPart& part = model->parts[p];
      const PartMeasures& want = expected.parts[p];
      EXPECT_EQ(part.number, p + 1);
      EXPECT_EQ(part.coincidentPart, -1);
      EXPECT_EQ(part.matchedPart, -1);
      ASSERT_EQ(std::vector<int32_t>(part.faces, part.faces + part.faceCount), want.faces) << trial;
      EXPECT_TRUE(sameBits(part.centre, want.centre) && sameBits(part.radiusSum, want.radiusSum) &&
                  sameBits(part.size, want.size))
          << "trial " << trial << " part " << p;
    }
    for (int32_t f = 0; f < model->faceCount; ++f) {
      const ModelFace& face = model->faces[f];
      EXPECT_EQ(model->parts[face.part - 1].faces[face.partSlot], f);
      EXPECT_TRUE(sameBits(face.perimeter, expected.perimeter[f]) &&
                  sameBits(face.centre, expected.faceCentre[f]) &&
                  sameBits(face.normal, expected.normal[f]) &&
                  sameBits(face.scaledCentre, expected.scaledCentre[f]))
          << "trial " << trial << " face " << f;
    }
    for (int32_t i = 0; i < model->pointCount; ++i) {
      ASSERT_TRUE(sameBits(relativePosition(model->points[i]), expected.rel[i]))
          << "trial " << trial << " point " << i;
    }
  }
}

TEST(MeasureParts, WorkedNumbers) {
  const Vec3 zero{0, 0, 0};
  const struct {
    const char* shape;
    std::array<Vec3, 4> corners;
    double radiusSum, size, perimeter;
    Vec3 partCentre, faceCentre, normal;
  } cases[] = {
      {"unit square",
       {{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}},
       2.8284271247461903,
       1.414213562373095,
       4,
       {0.5, 0.5, 0},
       zero,
       {0, 0, 1}},
      // Point sums, then quotients, in index order: radiusSum ends in ...914 and size in ...773,
      // not ...918 and ...771.
      {"unit triangle",
       {{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 1, 0}}},
       1.9621165057908914,
       0.8700333421324773,
       1.7071067811865475,
       {1.0 / 3, 1.0 / 3, 0},
       {0, 0, 0},
       {0, 0, 1}},
      {"square of side 2 elsewhere",
       {{{4, -4, 7}, {6, -4, 7}, {6, -2, 7}, {4, -2, 7}}},
       5.656854249492381,
       1.414213562373095,
       8,
       {5, -3, 7},
       zero,
       {0, 0, 1}},
      {"one point four times",
       {{{2, 3, 4}, {2, 3, 4}, {2, 3, 4}, {2, 3, 4}}},
       0,
       0,
       0,
       {2, 3, 4},
       zero,
       zero},
      {"collinear corners",
       {{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}}},
       4,
       1.5,
       6,
       {1.5, 0, 0},
       zero,
       zero},
  };
  for (const auto& t : cases) {
    ModelPtr model = modelOf({t.corners});
    ASSERT_EQ(groupParts(model.get()), 1);
    ASSERT_EQ(measureParts(model.get()), 1);
    ASSERT_EQ(model->partCount, 1) << t.shape;
    const ModelPart& part = model->parts[0];
    const ModelFace& face = model->faces[0];
    EXPECT_EQ(part.radiusSum, t.radiusSum) << t.shape;
    EXPECT_EQ(part.size, t.size) << t.shape;
    EXPECT_EQ(model->meanSize, t.radiusSum) << t.shape;
    EXPECT_EQ(face.perimeter, t.perimeter) << t.shape;
    EXPECT_TRUE(sameBits(part.centre, t.partCentre)) << t.shape;
    for (double v : {face.centre.x - t.faceCentre.x, face.centre.y - t.faceCentre.y,
                     face.centre.z - t.faceCentre.z}) {
      EXPECT_NEAR(v, 0.0, 1e-15) << t.shape;  // a mean of offsets: zero up to rounding
    }
    EXPECT_TRUE(sameBits(face.normal, t.normal)) << t.shape;
  }
}

TEST(MeasureParts, MeanSizeDividesBySumOverAllFaces) {
  // Two squares sharing an edge (faces 0 and 2), a square apart and a triangle: three parts,
  // meanSize over four faces.
  ModelPtr model = modelOf({{{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}},
                            {{{10, 0, 0}, {11, 0, 0}, {11, 1, 0}, {10, 1, 0}}},
                            {{{1, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}}},
                            {{{0, 0, 5}, {1, 0, 5}, {0, 1, 5}, {0, 1, 5}}}});
  ASSERT_EQ(groupParts(model.get()), 1);
  ASSERT_EQ(measureParts(model.get()), 1);
  ASSERT_EQ(model->partCount, 3);
  EXPECT_EQ(model->parts[0].faceCount, 2);
  double total = model->parts[0].radiusSum + model->parts[1].radiusSum + model->parts[2].radiusSum;
  EXPECT_EQ(model->meanSize, total / 4);
  EXPECT_EQ(model->parts[1].radiusSum, 2.8284271247461903);
  EXPECT_EQ(model->parts[2].radiusSum, 1.9621165057908914);
}
