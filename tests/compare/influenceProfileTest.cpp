// Influence profiles: bit for bit the plain spreading passes on random parts, the worked
// two-triangle numbers, the profile-value sort, skipped computations and allocation failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "app/errorReport.h"
#include "app/programPath.h"
#include "compare/influenceInternal.h"
#include "compare/influenceProfile.h"
#include "compare/influenceWorkers.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"

namespace {

// With std::stable_sort: ascending, NaN after every number, equal values keep their order.
bool nanLast(double a, double b) {
  return !std::isnan(a) && (std::isnan(b) || a < b);
}

bool sameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

SurfaceFace triangle(Vec3 a, Vec3 b, Vec3 c) {
  return {a, b, c, c};
}

double weight(const ModelFace& a, const ModelFace& b) {
  return 1.0 / std::sqrt(squaredDistance(a.normal, b.normal) +
                         squaredDistance(a.scaledCentre, b.scaledCentre));
}

struct ThreadCountReset {
  ~ThreadCountReset() { setProfileThreadCount(0); }
};

// Computes part `p` of `plain` as plainly stated (spreadInfluence passes over whole-model value
// arrays, the model's marks cleared at every seed, a plain stable sort, the sampling formula)
// and expects the part as `model` computed it to hold the same bits, and the same marks.
void expectPlainProfiles(FaceModel* plain, const FaceModel* model, int p) {
  const ModelPart& part = plain->parts[p];
  const int n = part.faceCount;
  const int32_t* list = part.faces;
  std::vector<std::vector<double>> values(n, std::vector<double>(plain->faceCount));  // [seed]
  for (int a = 0; a < n; ++a) {
    values[a][list[a]] = 1.0;
    clearFaceMarks(plain);
    plain->faces[list[a]].mark = 1;
    while (spreadInfluence(plain, values[a].data(), n, list)) {
    }
    double sum = 0.0;
    for (int j = 0; j < n; ++j)
      sum += values[a][list[j]];
    const ModelFace& face = model->faces[list[a]];
    ASSERT_TRUE(sameBits(face.influenceSum, sum)) << "seed " << a;
    ASSERT_TRUE(face.influence && gblockSize(face.influence) == sizeof(double) * n);
    for (int j = 0; j < n; ++j) {
      values[a][list[j]] = values[a][list[j]] / sum;
      ASSERT_TRUE(sameBits(face.influence[j], values[a][list[j]])) << "seed " << a << " face " << j;
    }
  }
  const double step = (n - 1) * 0.00390625;
  for (int a = 0; a < n; ++a) {
    std::vector<double> got;
    for (int j = 0; j < n; ++j)
      got.push_back(values[j][list[a]]);
    std::stable_sort(got.begin(), got.end(), nanLast);
    const double* profile = model->faces[list[a]].profile;
    ASSERT_NE(profile, nullptr);
    for (int j = 0; j < kProfileSamples; ++j) {
      double c = j * step;
      int lo = static_cast<int>(std::floor(c)),
          hi = std::min(static_cast<int>(std::ceil(c)), n - 1);
      double sample = lo == hi ? got[lo] : got[lo] + (c - lo) * (got[hi] - got[lo]);
      ASSERT_TRUE(sameBits(profile[j], sample)) << "face " << a << " sample " << j;
    }
  }
  for (int f = 0; f < model->faceCount; ++f) {
    ASSERT_EQ(model->faces[f].mark, plain->faces[f].mark) << f;
    ASSERT_EQ(model->faces[f].mark, model->faces[f].part - 1 == p ? 2 : 0) << f;
  }
}

}  // namespace

// Random models of three parts (a surface with repeated faces, a small surface, one triangle),
// faces shuffled, stale marks on every face: each part in turn computes bit for bit what the
// plain passes give, on any number of threads, and leaves the same marks; later calls skip it.
// A NaN point or a long flat strip (values overflow, columns mix 0, numbers and NaN) make the
// surface's profiles NaN; repeated faces alone must not.
TEST(ComputePartProfiles, MatchesThePlainPassesBitForBitOnAnyThreadCount) {
  ThreadCountReset reset;
  enum Kind { kBumpy, kNaNPoint, kFlatStrip };
  struct Case {
    int columns, rows, duplicates, threads;
    Kind kind;
  };
  const Case cases[] = {
      {1, 1, 0, 0, kBumpy},    {3, 3, 2, 1, kBumpy},      {12, 9, 3, 2, kBumpy},
      {17, 13, 5, 3, kBumpy},  {1, 40, 0, 2, kBumpy},     {30, 1, 2, 0, kBumpy},
      {4, 3, 1, 1, kNaNPoint}, {15, 12, 0, 2, kNaNPoint}, {160, 1, 2, 2, kFlatStrip}};
  uint32_t seed = 11;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.columns << "x" << c.rows << " dup " << c.duplicates);
    std::vector<SurfaceFace> faces =
        randomSurface(seed, c.columns, c.rows, {0, 0, 0}, c.duplicates);
    Vec3 nanPoint = faces[0][0];
    for (SurfaceFace& face : faces) {
      for (Vec3& corner : face) {
        if (c.kind == kFlatStrip) corner.z = 0;
        if (c.kind == kNaNPoint && std::memcmp(&corner, &nanPoint, sizeof nanPoint) == 0)
          corner.z = std::nan("");
      }
    }
    std::vector<SurfaceFace> other = randomSurface(seed + 1, 2, 2, {100, 0, 0});
    faces.insert(faces.end(), other.begin(), other.end());
    faces.push_back(triangle({200, 0, 0}, {201, 0, 0}, {200, 1, 0}));
    faces = shuffledSurface(faces, seed + 2, {0, 0, 0});
    ++seed;
    ModelPtr model = buildSurfaceModel(faces), plain = buildSurfaceModel(faces);
    ASSERT_TRUE(model && plain);
    ASSERT_EQ(model->partCount, 3);
    for (int f = 0; f < model->faceCount; ++f)
      model->faces[f].mark = plain->faces[f].mark = 7;
    setProfileThreadCount(c.threads);
    for (int p = 0; p < model->partCount; ++p) {
      SCOPED_TRACE(testing::Message() << "part " << p);
      ASSERT_EQ(computePartProfiles(model.get(), p), 1);
      EXPECT_EQ(model->parts[p].flags & 1, 1);
      expectPlainProfiles(plain.get(), model.get(), p);
    }
    // Calls for parts already computed or out of range change nothing, not even marks.
    model->faces[0].mark = 5;
    long live = gliveBlocks();
    for (int p = -1; p <= model->partCount; ++p)
      EXPECT_EQ(computePartProfiles(model.get(), p), 1);
    EXPECT_EQ(model->faces[0].mark, 5);
    EXPECT_EQ(gliveBlocks(), live);
    bool anyNaN = false;
    for (int f = 0; f < model->faceCount; ++f)
      anyNaN |= std::isnan(model->faces[f].profile[255]);
    EXPECT_EQ(anyNaN, c.kind != kBumpy);
  }
}

// Two triangles sharing an edge, w the weight between them: the seed holds 1 + 4w^2 and the
// other face 2w before normalising, both sums are 1 + 2w + 4w^2, both profiles run from the
// smaller value to 255/256 of the way to the larger. A face given twice has the normal and
// scaled centre of its copy: their weight is 0, not infinite, so the copy receives only what a
// third face passes back (2w over each of two shared points), not NaN.
TEST(ComputePartProfiles, WorkedTwoTrianglesAndARepeatedFace) {
  ModelPtr model = buildSurfaceModel(
      {triangle({0, 0, 0}, {2, 0, 0}, {0, 2, 0}), triangle({2, 0, 0}, {2, 2, 1}, {0, 2, 0})});
  ASSERT_TRUE(model);
  ASSERT_EQ(computePartProfiles(model.get(), 0), 1);
  const ModelFace &a = model->faces[0], &b = model->faces[1];
  double w = weight(a, b), sum = 1 + 2 * w + 4 * w * w;
  EXPECT_DOUBLE_EQ(a.influenceSum, sum);
  EXPECT_DOUBLE_EQ(b.influenceSum, sum);
  EXPECT_DOUBLE_EQ(a.influence[a.partSlot] * sum, 1 + 4 * w * w);
  EXPECT_DOUBLE_EQ(a.influence[b.partSlot] * sum, 2 * w);
  EXPECT_EQ(std::memcmp(a.profile, b.profile, sizeof(double) * kProfileSamples), 0);
  double low = std::min(2 * w, 1 + 4 * w * w) / sum, high = std::max(2 * w, 1 + 4 * w * w) / sum;
  EXPECT_DOUBLE_EQ(a.profile[0], low);
  EXPECT_DOUBLE_EQ(a.profile[255], low + 255.0 / 256.0 * (high - low));

  SurfaceFace t = triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  ModelPtr twice = buildSurfaceModel({t, t, triangle({1, 0, 0}, {1, 1, 0.5}, {0, 1, 0})});
  ASSERT_TRUE(twice);
  ASSERT_EQ(computePartProfiles(twice.get(), 0), 1);
  const ModelFace& first = twice->faces[0];
  w = weight(first, twice->faces[2]);
  EXPECT_DOUBLE_EQ(first.influence[1] * first.influenceSum, 4 * w * w);
}

// Every allocation of a computation on two threads failing in turn: the call answers 0, leaves the
// part without arrays and not computed, leaks nothing, and the next computation of the same model
// gives what a fresh model gives.
TEST(ComputePartProfiles, AllocationFailuresFailCleanly) {
  ThreadCountReset reset;
  ScratchFolder folder;
  setProgramDirectoryTo(folder.path.c_str());
  setErrorPresenter([](const char*) {});
  setProfileThreadCount(2);
  std::vector<SurfaceFace> faces = randomSurface(9, 9, 8, {0, 0, 0}, 1);
  ModelPtr fresh = buildSurfaceModel(faces), model = buildSurfaceModel(faces);
  ASSERT_TRUE(fresh && model);
  ASSERT_EQ(computePartProfiles(fresh.get(), 0), 1);
  long live = gliveBlocks();
  int failures = 0;
  for (long n = 1;; ++n) {
    gfailAllocationAfter(n);
    int result = computePartProfiles(model.get(), 0);
    gfailAllocationAfter(0);
    if (result == 1) break;
    ++failures;
    ASSERT_EQ(gliveBlocks(), live) << n;
    ASSERT_EQ(model->parts[0].flags & 1, 0);
    for (int f = 0; f < model->faceCount; ++f)
      ASSERT_TRUE(!model->faces[f].influence && !model->faces[f].profile) << f;
  }
  setErrorPresenter(nullptr);
  setProgramDirectory();
  EXPECT_GE(failures, 2 * model->faceCount);  // every array of every face
  for (int f = 0; f < model->faceCount; ++f) {
    ASSERT_EQ(std::memcmp(model->faces[f].profile, fresh->faces[f].profile,
                          sizeof(double) * kProfileSamples),
              0);
  }
}

// The profile-value sort orders as a stable sort with NaN last does, down to which of
// equal-comparing values (0.0 and -0.0, NaNs of either sign) ends where.
TEST(SortProfileValues, SameAsStableSortWithNaNLast) {
  std::mt19937 random(4);
  const double nan = std::numeric_limits<double>::quiet_NaN(),
               inf = std::numeric_limits<double>::infinity();
  const double awkward[] = {0.0, -0.0, nan, -nan, inf, -inf, 1e-310, 1.0, 0.5, 3.0};
  std::vector<uint32_t> counters(kSortCounters);
  for (int size : {0, 1, 2, 17, 255, 5000}) {
    for (int kind = 0; kind < 3; ++kind) {
      std::vector<double> values(size);
      for (double& v : values) {
        if (kind == 0) v = std::uniform_real_distribution<double>(0, 1)(random);
        if (kind == 1) v = awkward[random() % 10];
        if (kind == 2) v = random() % 4 == 0 ? awkward[random() % 10] : double(random() % 5) - 2;
      }
      std::vector<double> expected = values, temp(size);
      std::stable_sort(expected.begin(), expected.end(), nanLast);
      const double* sorted = sortProfileValues(values.data(), temp.data(), size, counters.data());
      for (int i = 0; i < size; ++i)
        ASSERT_TRUE(sameBits(sorted[i], expected[i])) << size << " " << kind << " " << i;
    }
  }
}
