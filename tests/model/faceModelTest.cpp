// The face model: point de-duplication by exact bit pattern against the plain scan, adding
// faces, release and the run state, and clean failure at every allocation.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <random>
#include <string>
#include <vector>

#include "app/errorReport.h"
#include "app/programPath.h"
#include "model/partGrouping.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"

namespace {
using Key = std::array<uint64_t, 3>;
Key keyOf(double x, double y, double z) {
  return {std::bit_cast<uint64_t>(x), std::bit_cast<uint64_t>(y), std::bit_cast<uint64_t>(z)};
}
}  // namespace

TEST(AddPoint, ReturnsThePlainScanIndexOnRandomInput) {
  // Both zeros, NaNs of several bit patterns, infinities, the smallest denormal and 1e308,
  // mixed with small numbers so that many positions repeat and more than a thousand are
  // distinct (the index grows).
  const uint64_t special[] = {
      0x0000000000000000, 0x8000000000000000, 0x7FF8000000000000, 0x7FF8000000000001,
      0x0000000000000001, 0xFFF8000000000000, 0x7FF0000000000001, 0x7FF0000000000000,
      0xFFF0000000000000, 0x7FE1CCF385EBC8A0,
  };
  std::mt19937 random(20240601);
  auto coordinate = [&]() {
    uint64_t bits = special[random() % std::size(special)];
    return random() % 2 ? std::bit_cast<double>(bits) : (random() % 8) * 0.125;
  };
  ModelPtr model(createModel("Ref"));
  std::vector<Key> scan;  // the plain scan: the first equal point from index 0, else a new one
  for (int i = 0; i < 4000; ++i) {
    double x = coordinate(), y = coordinate(), z = coordinate();
    size_t first = std::find(scan.begin(), scan.end(), keyOf(x, y, z)) - scan.begin();
    if (first == scan.size()) scan.push_back(keyOf(x, y, z));
    ASSERT_EQ(addPoint(model.get(), x, y, z), static_cast<int32_t>(first)) << i;
  }
  ASSERT_EQ(model->pointCount, static_cast<int32_t>(scan.size()));
  EXPECT_GT(model->pointCount, 1024) << "too few distinct points to grow the index";
  EXPECT_TRUE(model->pointCapacity % 512 == 0 && model->pointCapacity >= model->pointCount);
  for (int32_t i = 0; i < model->pointCount; ++i) {
    const ModelPoint& p = model->points[i];
    ASSERT_TRUE(keyOf(p.x, p.y, p.z) == scan[i] && p.partner == -1) << "point " << i;
  }
}

TEST(AddPoint, FindsPointsAppendedWithoutIt) {
  // Points put into the array directly (as a hand-built model does) are found, first one first.
  ModelPtr model(createModel("Ref"));
  ASSERT_EQ(addPoint(model.get(), 1, 2, 3), 0);
  model->points[1].x = model->points[2].x = 7;
  model->pointCount = 3;
  EXPECT_EQ(addPoint(model.get(), 7, 0, 0), 1);
  EXPECT_EQ(addPoint(model.get(), 1, 2, 3), 0);
  model->pointCount = 1;  // taken away again: added anew
  EXPECT_EQ(addPoint(model.get(), 7, 0, 0), 1);
  EXPECT_EQ(model->pointCount, 2);
}

TEST(AddFace, CornerCountsPointsSortedCornersAndLayers) {
  // Points d, c, b, a are added first (indices 0..3), so that corner indices run backwards.
  const Vec3 a{0, 0, 0}, b{1, 0, 0}, c{1, 1, 0}, d{0, 1, 0}, negativeZero{-0.0, 0, 0};
  const std::string longName(300, 'x');
  const struct {
    const char* layer;  // kept whole; null reads as ""
    std::array<Vec3, 4> corners;
    int32_t cornerCount;
    std::array<int32_t, 4> indices, sorted;  // entry 3 of a three-corner face stays as given
    int32_t pointCount;
  } cases[] = {
      {"Wall", {a, b, c, d}, 4, {3, 2, 1, 0}, {0, 1, 2, 3}, 4},
      {"", {a, b, c, c}, 3, {3, 2, 1, 1}, {1, 2, 3, 1}, 4},  // fourth is the third: triangle
      {nullptr, {a, b, c, a}, 4, {3, 2, 1, 3}, {1, 2, 3, 3}, 4},
      {"  pad  ", {a, a, a, a}, 3, {3, 3, 3, 3}, {3, 3, 3, 3}, 4},
      {longName.c_str(), {a, b, c, negativeZero}, 4, {3, 2, 1, 4}, {1, 2, 3, 4}, 5},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE("case " + std::to_string(&t - cases));
    ModelPtr model(createModel("Terget"));
    for (const Vec3& p : {d, c, b, a})
      addPoint(model.get(), p.x, p.y, p.z);
    ASSERT_EQ(addFace(model.get(), t.layer, t.corners.data()), 1);
    const ModelFace& face = model->faces[0];
    EXPECT_EQ(face.cornerCount, t.cornerCount);
    EXPECT_EQ(std::to_array(face.corners), t.indices);
    EXPECT_EQ(std::to_array(face.sortedCorners), t.sorted);
    EXPECT_EQ(model->pointCount, t.pointCount);
    EXPECT_TRUE(face.partnerFace == -1 && face.matchedFace == -1);
    ASSERT_NE(face.layer, nullptr);
    EXPECT_EQ(std::string(face.layer), t.layer ? t.layer : "");
  }
}

TEST(ReleaseRunData, ReleasesAllThreeAndClearsThem) {
  long live = gliveBlocks();
  EXPECT_EQ(ModelPtr(createModel(nullptr))->sourceName, nullptr);
  referenceModel = createModel("Ref");
  targetModel = createModel("Terget");
  EXPECT_STREQ(targetModel->sourceName, "Terget");
  const Vec3 square[4] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  ASSERT_TRUE(addFace(targetModel, "L", square) && groupParts(targetModel) &&
              measureParts(targetModel));
  commentList = newLineList();
  appendLine(commentList, "comment");
  releaseRunData();
  EXPECT_TRUE(referenceModel == nullptr && targetModel == nullptr && commentList == nullptr);
  releaseRunData();  // nothing left: does nothing
  releaseModel(nullptr);
  EXPECT_EQ(gliveBlocks(), live);
}

namespace {
// Three interleaved strips of quads and triangles, large enough for the point, face and index
// arrays to grow past their first blocks; then grouped and measured. Stops at the first step
// that fails, checking that a failed addFace left no trace.
bool buildStrips(FaceModel* model) {
  for (int f = 0; f < 300; ++f) {
    double x = f / 3, y = 10.0 * (f % 3);
    Vec3 corners[4] = {{x, y, 0}, {x + 1, y, 0}, {x + 1, y + 1, 0}, {x, y + 1, 0}};
    if (f % 7 == 0) corners[3] = corners[2];
    int32_t faces = model->faceCount, points = model->pointCount;
    if (!addFace(model, f % 2 ? "Roof" : "Wall", corners)) {
      EXPECT_TRUE(model->faceCount == faces && model->pointCount == points) << "face " << f;
      return false;
    }
  }
  EXPECT_EQ(groupParts(model), 1);
  return measureParts(model) == 1;
}
}  // namespace

TEST(FaceModelMemory, EveryAllocationFailureIsCleanAndLeakFree) {
  ScratchFolder folder;  // receives "perr.txt"
  setProgramDirectoryTo(folder.path.c_str());
  setErrorPresenter([](const char*) {});
  long live = gliveBlocks();
  long first = gallocationCount();
  {
    ModelPtr model(createModel("Terget"));
    ASSERT_TRUE(buildStrips(model.get()));
    EXPECT_TRUE(model->faceCapacity > 256 && model->faceCapacity % 256 == 0);
    EXPECT_TRUE(model->pointCapacity > 512 && model->pointIndexCapacity > 1024);
    for (int f = 0; f < 300; ++f)  // earlier faces survive the arrays' growth
      EXPECT_EQ(model->points[model->faces[f].corners[0]].x, f / 3) << "face " << f;
  }
  long allocations = gallocationCount() - first;
  ASSERT_GT(allocations, 300);
  ASSERT_EQ(gliveBlocks(), live);
  for (long k = 1; k <= allocations; ++k) {
    gfailAllocationAfter(k);
    FaceModel* model = createModel("Terget");
    bool built = model && buildStrips(model);
    gfailAllocationAfter(0);
    EXPECT_FALSE(built) << "allocation " << k;
    releaseModel(model);
    ASSERT_EQ(gliveBlocks(), live) << "allocation " << k;
  }
  setErrorPresenter(nullptr);
  setProgramDirectory();
}
