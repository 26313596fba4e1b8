#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "app/errorReport.h"
#include "app/programPath.h"
#include "compare/influenceProfile.h"
#include "compare/influenceWorkers.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"

namespace {

// Ascending, NaN after every number, equal values keep their order.
bool nanLast(double a, double b) {
  if (std::isnan(a)) return false;
  if (std::isnan(b)) return true;
  return a < b;
}

bool sameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// The profiles of one part computed pass by pass with spreadInfluence over whole-model value
// arrays, the model's own marks cleared at every seed, and a plain stable sort.
struct LiteralPart {
  std::vector<std::vector<double>> influence;  // [seed slot][slot]
  std::vector<double> sums;
  std::vector<std::vector<double>> profiles;
  std::vector<int> marks;  // every face of the model afterwards
};

LiteralPart literalProfiles(FaceModel* model, int partIndex) {
  const ModelPart& part = model->parts[partIndex];
  int n = part.faceCount;
  const int32_t* list = part.faces;
  LiteralPart out;
  std::vector<std::vector<double>> full(n, std::vector<double>(model->faceCount, 0.0));
  for (int a = 0; a < n; ++a) {
    full[a][list[a]] = 1.0;
    clearFaceMarks(model);
    model->faces[list[a]].mark = 1;
    while (spreadInfluence(model, full[a].data(), n, list)) {
    }
    double sum = 0.0;
    for (int j = 0; j < n; ++j)
      sum += full[a][list[j]];
    out.sums.push_back(sum);
    std::vector<double> row;
    for (int j = 0; j < n; ++j)
      row.push_back(full[a][list[j]] = full[a][list[j]] / sum);
    out.influence.push_back(row);
  }
  for (int a = 0; a < n; ++a) {
    std::vector<double> working;
    for (int j = 0; j < n; ++j)
      working.push_back(out.influence[j][a]);
    std::stable_sort(working.begin(), working.end(), nanLast);
    std::vector<double> profile(kProfileSamples);
    double step = (n - 1) * 0.00390625;
    for (int j = 0; j < kProfileSamples; ++j) {
      double c = j * step;
      int lo = static_cast<int>(std::floor(c));
      int hi = std::min(static_cast<int>(std::ceil(c)), n - 1);
      profile[j] = lo == hi ? working[lo] : working[lo] + (c - lo) * (working[hi] - working[lo]);
    }
    out.profiles.push_back(profile);
  }
  for (int f = 0; f < model->faceCount; ++f)
    out.marks.push_back(model->faces[f].mark);
  return out;
}

// Compares the computed part with the literal one bit for bit.
void expectSameAsLiteral(const FaceModel* model, int partIndex, const LiteralPart& literal) {
  const ModelPart& part = model->parts[partIndex];
  for (int a = 0; a < part.faceCount; ++a) {
    const ModelFace& face = model->faces[part.faces[a]];
    ASSERT_NE(face.influence, nullptr);
    ASSERT_NE(face.profile, nullptr);
    ASSERT_EQ(gblockSize(face.influence), sizeof(double) * part.faceCount);
    ASSERT_TRUE(sameBits(face.influenceSum, literal.sums[a])) << "seed " << a;
    for (int j = 0; j < part.faceCount; ++j) {
      ASSERT_TRUE(sameBits(face.influence[j], literal.influence[a][j]))
          << "seed " << a << " face " << j << ": " << face.influence[j] << " "
          << literal.influence[a][j];
    }
    for (int j = 0; j < kProfileSamples; ++j) {
      ASSERT_TRUE(sameBits(face.profile[j], literal.profiles[a][j])) << "face " << a << " " << j;
    }
  }
  for (int f = 0; f < model->faceCount; ++f)
    ASSERT_EQ(model->faces[f].mark, literal.marks[f]);
}

// Triangle corners; the fourth repeats the third.
SurfaceFace triangle(Vec3 a, Vec3 b, Vec3 c) {
  return {a, b, c, c};
}

// Error reports of injected allocation failures are recorded instead of shown, and the error
// file goes to a scratch folder.
struct FailureReports {
  static inline std::vector<std::string> messages;
  ScratchFolder folder;
  FailureReports() {
    messages.clear();
    setProgramDirectoryTo(folder.path.c_str());
    setErrorPresenter([](const char* message) { messages.emplace_back(message); });
  }
  ~FailureReports() {
    gfailAllocationAfter(0);
    setErrorPresenter(nullptr);
    setProgramDirectory();
  }
};

struct ThreadCountReset {
  ~ThreadCountReset() { setProfileThreadCount(0); }
};

}  // namespace

// Random parts of all sizes (several parts per model, repeated faces among them, corners and
// face order shuffled): the queued computation gives bit for bit what the plain passes give,
// on one thread and on several (the larger cases are split among 2 or 3 threads), and leaves
// the same marks on every face of the model.
TEST(ComputePartProfiles, MatchesThePlainPassesBitForBit) {
  ThreadCountReset reset;
  enum Kind { kBumpy, kNaNPoint, kFlatStrip };
  struct Case {
    int columns, rows, duplicates, threads;
    Kind kind;
  };
  // kNaNPoint: a point with z NaN turns the whole part's values into NaN. kFlatStrip: a long
  // flat strip, whose close scaled centres give weights near n/4, so values overflow to
  // infinity and columns mix 0, numbers and NaN (infinity over infinity).
  const Case cases[] = {
      {1, 1, 0, 0, kBumpy},      {2, 1, 1, 0, kBumpy},      {3, 3, 2, 1, kBumpy},
      {5, 4, 0, 2, kBumpy},      {12, 9, 3, 1, kBumpy},     {14, 11, 0, 2, kBumpy},
      {17, 13, 5, 3, kBumpy},    {1, 40, 0, 2, kBumpy},     {30, 1, 2, 0, kBumpy},
      {4, 3, 1, 1, kNaNPoint},   {15, 12, 0, 2, kNaNPoint}, {160, 1, 0, 1, kFlatStrip},
      {160, 1, 2, 2, kFlatStrip}};
  uint32_t seed = 11;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.columns << "x" << c.rows << " dup " << c.duplicates);
    std::vector<SurfaceFace> faces =
        randomSurface(seed, c.columns, c.rows, {0, 0, 0}, c.duplicates);
    if (c.kind == kFlatStrip) {
      for (SurfaceFace& face : faces) {
        for (Vec3& corner : face)
          corner.z = 0;
      }
    }
    std::vector<SurfaceFace> other = randomSurface(seed + 1, 2, 2, {100, 0, 0});
    faces.insert(faces.end(), other.begin(), other.end());
    faces = shuffledSurface(faces, seed + 2, {0, 0, 0});
    ++seed;
    if (c.kind == kNaNPoint) {
      Vec3 point = faces[0][0];
      for (SurfaceFace& face : faces) {
        for (Vec3& corner : face) {
          if (std::memcmp(&corner, &point, sizeof point) == 0) corner.z = std::nan("");
        }
      }
    }
    ModelPtr model = buildSurfaceModel(faces);
    ModelPtr copy = buildSurfaceModel(faces);
    ASSERT_TRUE(model && copy);
    ASSERT_GE(model->partCount, 2);
    int part = model->faces[0].part - 1;
    for (int f = 0; f < model->faceCount; ++f)
      model->faces[f].mark = 7;  // stale marks
    for (int f = 0; f < copy->faceCount; ++f)
      copy->faces[f].mark = 7;
    LiteralPart literal = literalProfiles(copy.get(), part);
    setProfileThreadCount(c.threads);
    ASSERT_EQ(computePartProfiles(model.get(), part), 1);
    EXPECT_EQ(model->parts[part].flags & 1, 1);
    expectSameAsLiteral(model.get(), part, literal);
    bool anyNaN = false;
    for (int f = 0; f < model->faceCount; ++f) {
      if (model->faces[f].part - 1 == part) anyNaN |= std::isnan(model->faces[f].profile[255]);
    }
    EXPECT_EQ(anyNaN, c.kind != kBumpy);
    for (int f = 0; f < model->faceCount; ++f) {
      ASSERT_EQ(model->faces[f].mark, model->faces[f].part - 1 == part ? 2 : 0);
    }
  }
}

// Two triangles sharing an edge, w the weight between them: the seed holds 1 + 4w^2 and the
// other face 2w before normalising, both sums are 1 + 2w + 4w^2, both profiles are equal and
// run from the smaller value to 255/256 of the way to the larger.
TEST(ComputePartProfiles, TwoTrianglesSharingAnEdge) {
  ModelPtr model = buildSurfaceModel(
      {triangle({0, 0, 0}, {2, 0, 0}, {0, 2, 0}), triangle({2, 0, 0}, {2, 2, 1}, {0, 2, 0})});
  ASSERT_TRUE(model);
  ASSERT_EQ(computePartProfiles(model.get(), 0), 1);
  const ModelFace& a = model->faces[0];
  const ModelFace& b = model->faces[1];
  double w = 1.0 / std::sqrt(squaredDistance(a.normal, b.normal) +
                             squaredDistance(a.scaledCentre, b.scaledCentre));
  double sum = 1 + 2 * w + 4 * w * w;
  EXPECT_DOUBLE_EQ(a.influenceSum, sum);
  EXPECT_DOUBLE_EQ(b.influenceSum, sum);
  EXPECT_DOUBLE_EQ(a.influence[a.partSlot] * sum, 1 + 4 * w * w);
  EXPECT_DOUBLE_EQ(a.influence[b.partSlot] * sum, 2 * w);
  EXPECT_EQ(std::memcmp(a.profile, b.profile, sizeof(double) * kProfileSamples), 0);
  double low = std::min(2 * w, 1 + 4 * w * w) / sum, high = std::max(2 * w, 1 + 4 * w * w) / sum;
  EXPECT_DOUBLE_EQ(a.profile[0], low);
  EXPECT_DOUBLE_EQ(a.profile[255], low + 255.0 / 256.0 * (high - low));
  EXPECT_LT(a.profile[255], high);
}

TEST(ComputePartProfiles, OneFacePartHasSumOneAndFlatProfile) {
  ModelPtr model = buildSurfaceModel({triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0})});
  ASSERT_TRUE(model);
  ASSERT_EQ(computePartProfiles(model.get(), 0), 1);
  EXPECT_EQ(model->faces[0].influenceSum, 1.0);
  EXPECT_EQ(model->faces[0].influence[0], 1.0);
  for (int j = 0; j < kProfileSamples; ++j)
    ASSERT_EQ(model->faces[0].profile[j], 1.0);
  EXPECT_EQ(model->faces[0].mark, 2);
}

// n = 257 gives step 1.0: sample j is the j-th smallest value and the largest is never taken.
TEST(ComputePartProfiles, TwoHundredFiftySevenFacesSampleEachValueButTheLargest) {
  std::vector<SurfaceFace> faces;
  for (int i = 0; i < 257; ++i) {
    faces.push_back(triangle({double(i), 0, 0}, {double(i + 1), 0, 0.1 * (i % 3)}, {0, -1, 0}));
  }
  ModelPtr model = buildSurfaceModel(faces);
  ASSERT_TRUE(model);
  ASSERT_EQ(model->partCount, 1);
  ASSERT_EQ(computePartProfiles(model.get(), 0), 1);
  const ModelFace& face = model->faces[100];
  std::vector<double> received;
  for (int j = 0; j < 257; ++j)
    received.push_back(model->faces[j].influence[face.partSlot]);
  std::stable_sort(received.begin(), received.end(), nanLast);
  for (int j = 0; j < kProfileSamples; ++j)
    ASSERT_EQ(face.profile[j], received[j]) << j;
  EXPECT_LT(face.profile[255], received[256]);
}

// A face given twice has the same normal and scaled centre as its copy: the weight between
// them counts as 0, so the part's values stay numbers and each seed's values sum to 1.
TEST(ComputePartProfiles, RepeatedFaceGivesZeroWeightNotNaN) {
  SurfaceFace t = triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  ModelPtr model = buildSurfaceModel({t, t, triangle({1, 0, 0}, {1, 1, 0.5}, {0, 1, 0})});
  ASSERT_TRUE(model);
  ASSERT_EQ(computePartProfiles(model.get(), 0), 1);
  for (int f = 0; f < 3; ++f) {
    const ModelFace& face = model->faces[f];
    ASSERT_TRUE(std::isfinite(face.influenceSum));
    double total = 0;
    for (int j = 0; j < 3; ++j) {
      ASSERT_TRUE(std::isfinite(face.influence[j]));
      total += face.influence[j];
    }
    EXPECT_NEAR(total, 1.0, 1e-15);
    for (int j = 0; j < kProfileSamples; ++j)
      ASSERT_TRUE(std::isfinite(face.profile[j]));
  }
  // The copies exchange nothing directly: seed 0 gives face 1 only what face 2 passes back,
  // 2w over each of the two shared points.
  const ModelFace& third = model->faces[2];
  double w = 1.0 / std::sqrt(squaredDistance(model->faces[0].normal, third.normal) +
                             squaredDistance(model->faces[0].scaledCentre, third.scaledCentre));
  EXPECT_DOUBLE_EQ(model->faces[0].influence[1] * model->faces[0].influenceSum, 4 * w * w);
}

// Out-of-range indices and a part already computed change nothing, not even marks.
TEST(ComputePartProfiles, SkippedCallsChangeNothing) {
  ModelPtr model = buildSurfaceModel(randomSurface(3, 3, 2, {0, 0, 0}));
  ASSERT_TRUE(model);
  for (int index : {-1, model->partCount}) {
    model->faces[0].mark = 5;
    EXPECT_EQ(computePartProfiles(model.get(), index), 1);
    EXPECT_EQ(model->faces[0].mark, 5);
    EXPECT_EQ(model->faces[0].influence, nullptr);
  }
  ASSERT_EQ(computePartProfiles(model.get(), 0), 1);
  const double* influence = model->faces[0].influence;
  double first = model->faces[0].profile[0];
  model->faces[0].mark = 5;
  long live = gliveBlocks();
  EXPECT_EQ(computePartProfiles(model.get(), 0), 1);
  EXPECT_EQ(model->faces[0].influence, influence);
  EXPECT_EQ(model->faces[0].profile[0], first);
  EXPECT_EQ(model->faces[0].mark, 5);
  EXPECT_EQ(gliveBlocks(), live);
  // With the bit cleared the part is computed afresh, replacing its arrays without a leak.
  model->parts[0].flags = 0;
  EXPECT_EQ(computePartProfiles(model.get(), 0), 1);
  EXPECT_EQ(model->faces[0].profile[0], first);
  EXPECT_EQ(gliveBlocks(), live);
}

// Every allocation of a computation failing in turn (on two threads): the call answers 0 and
// leaves the part without arrays and not computed, nothing leaks, and the next computation
// of the same model gives what a fresh model gives.
TEST(ComputePartProfiles, AllocationFailuresFailCleanly) {
  ThreadCountReset reset;
  FailureReports reports;
  setProfileThreadCount(2);
  std::vector<SurfaceFace> faces = randomSurface(9, 9, 8, {0, 0, 0}, 1);
  ModelPtr fresh = buildSurfaceModel(faces);
  ModelPtr model = buildSurfaceModel(faces);
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
    for (int f = 0; f < model->faceCount; ++f) {
      ASSERT_EQ(model->faces[f].influence, nullptr);
      ASSERT_EQ(model->faces[f].profile, nullptr);
    }
  }
  EXPECT_EQ(static_cast<int>(reports.messages.size()), failures);
  EXPECT_GE(failures, 2 * model->faceCount);  // every array of every face
  for (int f = 0; f < model->faceCount; ++f) {
    ASSERT_EQ(std::memcmp(model->faces[f].profile, fresh->faces[f].profile,
                          sizeof(double) * kProfileSamples),
              0);
  }
}

// The sort used for profile values orders as a stable sort with NaN last does, down to which
// of equal-comparing values (0.0 and -0.0, NaNs of any sign) ends where.
TEST(SortProfileValues, SameAsStableSortWithNaNLast) {
  std::mt19937 random(4);
  const double specials[] = {0.0,
                             -0.0,
                             std::numeric_limits<double>::quiet_NaN(),
                             -std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             1e-310,
                             1.0,
                             0.5,
                             3.0};
  std::vector<uint32_t> counters(kSortCounters);
  for (int size : {0, 1, 2, 3, 17, 255, 1000, 5000}) {
    for (int kind = 0; kind < 3; ++kind) {
      std::vector<double> values(size);
      for (double& v : values) {
        if (kind == 0) v = std::uniform_real_distribution<double>(0, 1)(random);
        if (kind == 1) v = specials[random() % 10];
        if (kind == 2) v = random() % 4 == 0 ? specials[random() % 10] : double(random() % 5) - 2;
      }
      std::vector<double> expected = values;
      std::stable_sort(expected.begin(), expected.end(), nanLast);
      std::vector<double> temp(size);
      const double* sorted = sortProfileValues(values.data(), temp.data(), size, counters.data());
      for (int i = 0; i < size; ++i) {
        ASSERT_TRUE(sameBits(sorted[i], expected[i])) << size << " " << kind << " " << i;
      }
    }
  }
}
