// The face model: point de-duplication by exact bit pattern, adding faces, growth, release and
// the run state, and clean failure at every allocation.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "app/errorReport.h"
#include "app/programPath.h"
#include "model/faceModel.h"
#include "model/partGrouping.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"
#include "textfiles/lineList.h"

namespace {

// The plain search the index replaces: the first point whose coordinates are equal byte for
// byte, scanning from index 0; a new point is appended. Positions are kept as bit patterns.
struct PlainScanPoints {
  std::vector<std::array<uint64_t, 3>> points;
  int32_t add(double x, double y, double z) {
    const std::array<uint64_t, 3> key = {std::bit_cast<uint64_t>(x), std::bit_cast<uint64_t>(y),
                                         std::bit_cast<uint64_t>(z)};
    for (size_t i = 0; i < points.size(); ++i) {
      if (points[i] == key) return static_cast<int32_t>(i);
    }
    points.push_back(key);
    return static_cast<int32_t>(points.size() - 1);
  }
};

std::vector<std::string> reports;
void recordReport(const char* message) {
  reports.emplace_back(message);
}

// Sends error reports to a list and "perr.txt" to a scratch folder; turns fault injection off.
struct ReportCapture {
  ScratchFolder folder;
  ReportCapture() {
    reports.clear();
    setProgramDirectoryTo(folder.path.c_str());
    setErrorPresenter(recordReport);
  }
  ~ReportCapture() {
    gfailAllocationAfter(0);
    setErrorPresenter(nullptr);
    setProgramDirectory();
  }
};

void addFaceAt(FaceModel* model, const char* layer, std::initializer_list<Vec3> corners) {
  std::vector<Vec3> c(corners);
  ASSERT_EQ(c.size(), 4u);
  ASSERT_EQ(addFace(model, layer, c.data()), 1);
}

}  // namespace

TEST(AddPoint, ReturnsThePlainScanIndexOnRandomInput) {
  // Both zeros, NaNs of several bit patterns and infinities, mixed with small integers so that
  // many positions repeat and more than a thousand are distinct.
  const double special[] = {0.0,
                            -0.0,
                            std::bit_cast<double>(0x7FF8000000000000ull),
                            std::bit_cast<double>(0x7FF8000000000001ull),
                            std::bit_cast<double>(0xFFF8000000000000ull),
                            std::bit_cast<double>(0x7FF0000000000001ull),
                            std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::denorm_min(),
                            1e308};
  std::mt19937 random(20240601);
  auto coordinate = [&]() {
    if (random() % 2) return special[random() % std::size(special)];
    return static_cast<double>(random() % 8) * 0.125;
  };
  ModelPtr model(createModel("Ref"));
  ASSERT_NE(model, nullptr);
  PlainScanPoints scan;
  for (int i = 0; i < 4000; ++i) {
    double x = coordinate(), y = coordinate(), z = coordinate();
    ASSERT_EQ(addPoint(model.get(), x, y, z), scan.add(x, y, z)) << "draw " << i;
  }
  ASSERT_EQ(model->pointCount, static_cast<int32_t>(scan.points.size()));
  EXPECT_GT(model->pointCount, 1024) << "too few distinct points to grow the index";
  EXPECT_EQ(model->pointCapacity % 512, 0);
  EXPECT_GE(model->pointCapacity, model->pointCount);
  for (int32_t i = 0; i < model->pointCount; ++i) {
    const ModelPoint& p = model->points[i];
    ASSERT_TRUE(std::bit_cast<uint64_t>(p.x) == scan.points[i][0] &&
                std::bit_cast<uint64_t>(p.y) == scan.points[i][1] &&
                std::bit_cast<uint64_t>(p.z) == scan.points[i][2])
        << "point " << i;
  }
}

TEST(AddPoint, GrowsBy512AndKeepsIndicesAcrossGrowth) {
  ModelPtr model(createModel(nullptr));
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(model->sourceName, nullptr);
  for (int i = 0; i < 512; ++i)
    ASSERT_EQ(addPoint(model.get(), i, -i, 0.5), i);
  EXPECT_EQ(model->pointCapacity, 512);
  EXPECT_EQ(addPoint(model.get(), 512, -512, 0.5), 512);
  EXPECT_GT(model->pointCapacity, 512);
  EXPECT_EQ(model->pointCapacity % 512, 0);
  for (int i = 0; i <= 512; ++i)
    ASSERT_EQ(addPoint(model.get(), i, -i, 0.5), i);
  EXPECT_EQ(model->pointCount, 513);
}

TEST(AddPoint, FindsPointsAppendedWithoutIt) {
  // Points put into the array directly (as a hand-built model does) are found, first one first.
  ModelPtr model(createModel("Ref"));
  ASSERT_EQ(addPoint(model.get(), 1, 2, 3), 0);
  model->points[1].x = 7;
  model->points[2].x = 7;
  model->pointCount = 3;
  EXPECT_EQ(addPoint(model.get(), 7, 0, 0), 1);
  EXPECT_EQ(addPoint(model.get(), 1, 2, 3), 0);
  model->pointCount = 1;  // taken away again
  EXPECT_EQ(addPoint(model.get(), 7, 0, 0), 1);
  EXPECT_EQ(model->pointCount, 2);
}

TEST(AddFace, CornerCountsPointsAndSortedCorners) {
  const Vec3 a{0, 0, 0}, b{1, 0, 0}, c{1, 1, 0}, d{0, 1, 0}, negativeZero{-0.0, 0, 0};
  struct Case {
    const char* behaviour;
    std::vector<Vec3> seed;  // points added before the face, to make its indices run backwards
    std::array<Vec3, 4> corners;
    int32_t cornerCount;
    std::array<int32_t, 4> indices;
    std::array<int32_t, 4> sorted;  // entry 3 of a three-corner face stays as given
    int32_t pointCount;
  };
  const Case cases[] = {
      {"four distinct corners", {}, {a, b, c, d}, 4, {0, 1, 2, 3}, {0, 1, 2, 3}, 4},
      {"fourth repeats third: triangle", {}, {a, b, c, c}, 3, {0, 1, 2, 2}, {0, 1, 2, 2}, 3},
      {"fourth repeats first: four corners", {}, {a, b, c, a}, 4, {0, 1, 2, 0}, {0, 0, 1, 2}, 3},
      {"all four the same point", {}, {a, a, a, a}, 3, {0, 0, 0, 0}, {0, 0, 0, 0}, 1},
      {"-0 and 0 are two points", {}, {a, b, c, negativeZero}, 4, {0, 1, 2, 3}, {0, 1, 2, 3}, 4},
      {"quad indices sorted", {d, c, b, a}, {a, b, c, d}, 4, {3, 2, 1, 0}, {0, 1, 2, 3}, 4},
      {"triangle sorts three entries only",
       {c, b, a},
       {a, b, c, c},
       3,
       {2, 1, 0, 0},
       {0, 1, 2, 0},
       3},
  };
  for (const Case& t : cases) {
    ModelPtr model(createModel("Terget"));
    for (const Vec3& p : t.seed)
      addPoint(model.get(), p.x, p.y, p.z);
    ASSERT_EQ(addFace(model.get(), "L", t.corners.data()), 1) << t.behaviour;
    const ModelFace& face = model->faces[0];
    EXPECT_EQ(face.cornerCount, t.cornerCount) << t.behaviour;
    EXPECT_EQ(std::to_array(face.corners), t.indices) << t.behaviour;
    EXPECT_EQ(std::to_array(face.sortedCorners), t.sorted) << t.behaviour;
    EXPECT_EQ(model->pointCount, t.pointCount) << t.behaviour;
    EXPECT_EQ(face.partnerFace, -1) << t.behaviour;
    EXPECT_EQ(face.matchedFace, -1) << t.behaviour;
  }
}

TEST(AddFace, KeepsTheWholeLayerName) {
  const std::string longName(300, 'x');
  const struct {
    const char* given;
    std::string stored;
  } cases[] = {{"Wall", "Wall"},
               {"Twenty_characters_ab", "Twenty_characters_ab"},
               {longName.c_str(), longName},
               {"  padded  ", "  padded  "},
               {"", ""},
               {nullptr, ""}};
  ModelPtr model(createModel("Ref"));
  for (const auto& t : cases)
    addFaceAt(model.get(), t.given, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
  for (size_t i = 0; i < std::size(cases); ++i) {
    ASSERT_NE(model->faces[i].layer, nullptr) << i;
    EXPECT_EQ(faceLayer(model->faces[i]), cases[i].stored) << i;
  }
}

TEST(AddFace, GrowsBy256AndKeepsEarlierFaces) {
  ModelPtr model(createModel("Ref"));
  for (int i = 0; i < 600; ++i) {
    double x = i;
    addFaceAt(model.get(), std::to_string(i).c_str(),
              {{x, 0, 0}, {x + 1, 0, 0}, {x + 1, 1, 0}, {x, 1, 0}});
    ASSERT_EQ(model->faceCapacity % 256, 0);
    ASSERT_GE(model->faceCapacity, model->faceCount);
  }
  EXPECT_EQ(model->faceCount, 600);
  EXPECT_EQ(model->pointCount, 1202);
  for (int i = 0; i < 600; ++i) {
    const ModelFace& face = model->faces[i];
    EXPECT_EQ(faceLayer(face), std::to_string(i));
    const ModelPoint& first = model->points[face.corners[0]];
    const ModelPoint& third = model->points[face.corners[2]];
    EXPECT_TRUE(first.x == i && first.y == 0 && third.x == i + 1 && third.y == 1) << i;
  }
}

TEST(ReleaseModel, EmptyModelAndNullLeakNothing) {
  long live = gliveBlocks();
  FaceModel* model = createModel("Ref");
  ASSERT_NE(model, nullptr);
  EXPECT_STREQ(model->sourceName, "Ref");
  EXPECT_EQ(model->points, nullptr);
  EXPECT_EQ(model->faces, nullptr);
  releaseModel(model);
  releaseModel(nullptr);
  EXPECT_EQ(gliveBlocks(), live);
}

TEST(ReleaseRunData, ReleasesAllThreeAndClearsThem) {
  long live = gliveBlocks();
  referenceModel = createModel("Ref");
  targetModel = createModel("Terget");
  addFaceAt(targetModel, "L", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
  ASSERT_EQ(groupParts(targetModel), 1);
  ASSERT_EQ(measureParts(targetModel), 1);
  commentList = newLineList();
  appendLine(commentList, "comment");
  releaseRunData();
  EXPECT_EQ(referenceModel, nullptr);
  EXPECT_EQ(targetModel, nullptr);
  EXPECT_EQ(commentList, nullptr);
  EXPECT_EQ(gliveBlocks(), live);
  releaseRunData();  // nothing left: does nothing
}

namespace {

// Builds three interleaved strips of quads and triangles, large enough for the point, face and
// index arrays to grow past their first blocks, then groups and measures them. Stops at the first
// step that fails, checking that the step left no trace.
bool buildStrips(FaceModel* model) {
  for (int f = 0; f < 300; ++f) {
    double x = f / 3, y = 10.0 * (f % 3);
    Vec3 corners[4] = {{x, y, 0}, {x + 1, y, 0}, {x + 1, y + 1, 0}, {x, y + 1, 0}};
    if (f % 7 == 0) corners[3] = corners[2];
    int32_t faces = model->faceCount, points = model->pointCount;
    if (!addFace(model, f % 2 ? "Roof" : "Wall", corners)) {
      EXPECT_EQ(model->faceCount, faces);
      EXPECT_EQ(model->pointCount, points);
      return false;
    }
    if (f % 25 == 0) {
      int32_t before = model->pointCount;
      if (addPoint(model, 1e6 + f, 0, 0) < 0) {
        EXPECT_EQ(model->pointCount, before);
        return false;
      }
    }
  }
  EXPECT_EQ(groupParts(model), 1);
  return measureParts(model) == 1;
}

}  // namespace

TEST(FaceModelMemory, EveryAllocationFailureIsCleanAndLeakFree) {
  ReportCapture capture;
  long live = gliveBlocks();
  long first = gallocationCount();
  {
    ModelPtr model(createModel("Terget"));
    ASSERT_TRUE(buildStrips(model.get()));
    EXPECT_EQ(model->partCount, 3);  // the lone points belong to no part
    EXPECT_GT(model->faceCapacity, 256);
    EXPECT_GT(model->pointCapacity, 512);
    EXPECT_GT(model->pointIndexCapacity, 1024);
  }
  long allocations = gallocationCount() - first;
  ASSERT_GT(allocations, 300);
  ASSERT_EQ(gliveBlocks(), live);
  for (long k = 1; k <= allocations; ++k) {
    reports.clear();
    gfailAllocationAfter(k);
    FaceModel* model = createModel("Terget");
    bool built = model && buildStrips(model);
    gfailAllocationAfter(0);
    EXPECT_FALSE(built) << "allocation " << k;
    ASSERT_FALSE(reports.empty()) << "allocation " << k;
    EXPECT_TRUE(reports[0] == "gcalloc" || reports[0] == "gcrealloc" || reports[0] == "gmalloc")
        << reports[0];
    if (model) {
      for (int32_t f = 0; f < model->faceCount; ++f) {
        const ModelFace& face = model->faces[f];
        ASSERT_NE(face.layer, nullptr) << "allocation " << k;
        for (int c = 0; c < 4; ++c)
          ASSERT_LT(face.corners[c], model->pointCount);
      }
      if (model->parts == nullptr) {
        EXPECT_EQ(model->meanSize, 0.0);
      }
    }
    releaseModel(model);
    ASSERT_EQ(gliveBlocks(), live) << "allocation " << k;
  }
}
