// The DXF face writer: the lines it builds, number formatting, saving whole or not at all, and
// the round trip through the reader.
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "app/errorReport.h"
#include "app/programPath.h"
#include "model/dxfReader.h"
#include "model/faceModel.h"
#include "output/dxfWriter.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"
#include "textfiles/lineList.h"

namespace {

using Lines = std::vector<std::string>;

// Each test starts and ends with an empty run state; error reports go nowhere, and "perr.txt"
// into a scratch folder.
class DxfWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    releaseRunData();
    setProgramDirectoryTo(reports_.path.c_str());
    setErrorPresenter([](const char*) {});
  }
  void TearDown() override {
    gfailAllocationAfter(0);
    setErrorPresenter(nullptr);
    setProgramDirectory();
    releaseRunData();
  }
  ScratchFolder reports_;
};

// A model of faces given as a layer, three or four corners and the matched reference face.
struct FaceInput {
  const char* layer;
  std::vector<Vec3> corners;
  int matchedFace = -1;
};
FaceModel* makeModel(const char* name, const std::vector<FaceInput>& faces) {
  FaceModel* model = createModel(name);
  for (const FaceInput& input : faces) {
    const std::vector<Vec3>& c = input.corners;
    Vec3 corners[4] = {c[0], c[1], c[2], c[c.size() == 4 ? 3 : 2]};
    addFace(model, input.layer, corners);
    model->faces[model->faceCount - 1].matchedFace = input.matchedFace;
  }
  return model;
}

Lines builtLines() {
  return linesOf(LineListPtr(buildTargetDxf()).get());
}

const Vec3 kO{0, 0, 0}, kX{1, 0, 0}, kY{0, 1, 0}, kXY{1, 1, 0};

// `v` as it reads back after one write: "%.5f" in the C locale.
double roundedAtFive(double v) {
  char text[400];
  std::snprintf(text, sizeof text, "%.5f", v);
  return std::strtod(text, nullptr);
}

// faceTexts of `model` after one write and read: coordinates at five decimals, "Obj1" for an
// empty layer.
Lines writtenFaceTexts(const FaceModel* model) {
  ModelPtr rounded(createModel("rounded"));
  for (int f = 0; f < model->faceCount; ++f) {
    std::vector<Vec3> c = faceCornerPositions(model, f);
    Vec3 corners[4];
    for (int k = 0; k < 4; ++k) {
      const Vec3& v = c[k < static_cast<int>(c.size()) ? k : 2];
      corners[k] = {roundedAtFive(v.x), roundedAtFive(v.y), roundedAtFive(v.z)};
    }
    const char* layer = faceLayer(model->faces[f]);
    addFace(rounded.get(), *layer ? layer : "Obj1", corners);
  }
  return faceTexts(rounded.get());
}

ModelPtr loadAndRead(const std::string& path, LineList* comments) {
  LineListPtr lines(loadLineListAs(path.c_str(), LineSplit::keepEmpty, nullptr));
  return ModelPtr(readDxfFaces(lines.get(), "Terget", comments, 0));
}

}  // namespace

// A matched triangle under the reference face's layer, its third corner repeated as the fourth;
// comments (empty ones left out) right after the section head.
TEST_F(DxfWriterTest, WritesAMatchedTriangleUnderTheReferenceLayer) {
  referenceModel = makeModel("Ref", {{"WALL", {kX, kY, kXY}}});
  targetModel = makeModel("Terget", {{"own", {kO, kX, kY}, 0}});
  commentList = testLines({"first note", "", "second"}).release();
  EXPECT_EQ(builtLines(),
            (Lines{"0",  "SECTION", "2",  "ENTITIES", "999", "first note", "999", "second",
                   "0",  "3DFACE",  "8",  "WALL",     "10",  "0.00000",    "20",  "0.00000",
                   "30", "0.00000", "11", "1.00000",  "21",  "0.00000",    "31",  "0.00000",
                   "12", "0.00000", "22", "1.00000",  "32",  "0.00000",    "13",  "0.00000",
                   "23", "1.00000", "33", "0.00000",  "0",   "ENDSEC",     "0",   "EOF"}));
  releaseRunData();
  EXPECT_EQ(buildTargetDxf(), nullptr);  // no target model
}

TEST_F(DxfWriterTest, TakesTheLayerFromTheMatchedFaceOrItsOwn) {
  const struct {
    bool withReference;
    int matchedFace;
    const char* ownLayer;
    const char* layer;
  } cases[] = {
      {true, 1, "own", "R1"},   {true, 0, "own", "Obj1"},  // the reference face's layer is empty
      {true, -1, "own", "own"}, {true, -1, "", "Obj1"},   {false, 0, "own", "own"},
      {false, 0, "", "Obj1"},   {true, 2, "own", "own"}  // no such reference face
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.layer + std::to_string(c.matchedFace));
    releaseRunData();
    if (c.withReference)
      referenceModel = makeModel("Ref", {{"", {kO, kX, kY}}, {"R1", {kX, kY, kXY}}});
    targetModel = makeModel("Terget", {{c.ownLayer, {kO, kX, kY, kXY}, c.matchedFace}});
    Lines lines = builtLines();
    ASSERT_EQ(lines.size(), 4u + 4u + 24u + 4u);
    EXPECT_EQ(lines[7], c.layer);
  }
}

TEST_F(DxfWriterTest, AppendCornerFormatsLikePrintfInTheCLocale) {
  ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  using limits = std::numeric_limits<double>;
  const double inf = limits::infinity(), nan = limits::quiet_NaN();
  const double values[] = {0.0,  -0.0,   1.5,           -0.000001,        0.123456789,
                           5e-6, 1.5e-5, 0.125,         2.5e-6,           -2.5e-6,
                           0.1,  0.3,    123456.789,    -99999.999995,    1e15 + 0.5,
                           1e22, 1e308,  limits::max(), limits::min(),    limits::denorm_min(),
                           inf,  nan,    -nan,          1719.436845718917};
  for (double v : values) {
    Lines expected = {"12", "", "22", "", "32", ""};
    for (int k : {1, 3, 5}) {
      char text[400];
      std::snprintf(text, sizeof text, "%-10.5f", k == 3 ? -v : v);
      trimTrailingBlanks(text);
      expected[k] = text;
    }
    LineListPtr list(newLineList());
    ASSERT_EQ(appendCorner(list.get(), {v, -v, v}, 2), 1);
    EXPECT_EQ(linesOf(list.get()), expected) << v;
  }
  LineListPtr list(newLineList());
  EXPECT_EQ(appendCorner(list.get(), kO, 4), 0);
  EXPECT_EQ(appendCorner(list.get(), kO, -1), 0);
  EXPECT_EQ(list->count, 0);
}

TEST_F(DxfWriterTest, MemoryFailureWhileBuildingLeaksNothing) {
  commentList = testLines({"note"}).release();
  referenceModel = makeModel("Ref", {{"R", {kO, kX, kY}}});
  targetModel = makeModel("Terget", {{"A", {kO, kX, kY}, 0}, {"", {kX, kY, kXY, {2, 2, 0}}}});
  const Lines complete = builtLines();
  long before = gallocationCount();
  freeLineList(buildTargetDxf());
  const long allocations = gallocationCount() - before;
  const long live = gliveBlocks();
  for (long n = 1; n <= allocations; ++n) {
    gfailAllocationAfter(n);
    LineList* list = buildTargetDxf();
    gfailAllocationAfter(0);
    EXPECT_EQ(list, nullptr) << "failure at allocation " << n;
    freeLineList(list);
    EXPECT_EQ(gliveBlocks(), live) << "failure at allocation " << n;
  }
  EXPECT_EQ(builtLines(), complete);
}

// A save that fails changes nothing at the path; one that works replaces the file by a new one
// (renamed over it), so another link to the old file keeps the old bytes.
TEST_F(DxfWriterTest, SavesWholeOrNotAtAll) {
  ScratchFolder folder;
  const std::string path = folder.file("keep.dxf"), old = "0\r\nEOF\r\n";
  writeFileBytes(path, old);
  ASSERT_EQ(link(path.c_str(), folder.file("alias").c_str()), 0);
  EXPECT_EQ(saveTargetDxf(path.c_str()), 0);  // no target model
  targetModel = makeModel("Terget", std::vector<FaceInput>(200, {"Layer", {kO, kX, kY, kXY}}));
  EXPECT_EQ(saveTargetDxf(nullptr), 0);
  EXPECT_EQ(saveTargetDxf(folder.file("missing/out.dxf").c_str()), 0);
  EXPECT_EQ(saveTargetDxf(folder.path.c_str()), 0);  // a directory is not replaced
  gfailAllocationAfter(50);                          // memory fails while the list is built
  EXPECT_EQ(saveTargetDxf(path.c_str()), 0);
  EXPECT_EQ(readFileBytes(path), old);
  ASSERT_EQ(saveTargetDxf(path.c_str()), 1);
  EXPECT_EQ(readFileBytes(folder.file("alias")), old);
  std::string expected;
  for (const std::string& line : builtLines())
    expected += line + "\r\n";
  EXPECT_EQ(readFileBytes(path), expected);
  Lines entries;  // no temporary file left behind
  for (const auto& entry : std::filesystem::directory_iterator(folder.path))
    entries.push_back(entry.path().filename());
  EXPECT_EQ(entries.size(), 2u);
}

// A file made here (coordinates exact at five decimals, quads and triangles, an empty layer, a
// non-ASCII one) and real writers' files: read, saved over the file they came from, read
// again, give the same faces, layers, comments and parts.
TEST_F(DxfWriterTest, RoundTripGivesTheSameFacesLayersAndComments) {
  ScratchFolder folder;
  const std::string made = folder.file("made.dxf");
  targetModel = makeModel("Terget", {{"Wall", {{0.03125, -2.5, 1e5}, kX, kY, kXY}},
                                     {"", {kX, {3.75, 0.5, -0.25}, kXY}},
                                     {"Roof \xC4", {{-7, 8, 9}, {-7, 8.5, 9}, {-6, 8, 9}}}});
  commentList = testLines({"made by the test", "second"}).release();
  ASSERT_EQ(saveTargetDxf(made.c_str()), 1);
  for (const std::string& source :
       {made, testDataPath("real/PinkEggFromLW.dxf"), testDataPath("real/3dface.dxf"),
        testDataPath("real/POLI-ALL210_12.DXF")}) {
    SCOPED_TRACE(source);
    const std::string path = folder.file("t" + std::filesystem::path(source).filename().string());
    std::filesystem::copy_file(source, path);
    releaseRunData();
    commentList = newLineList();
    targetModel = loadAndRead(path, commentList).release();
    ASSERT_NE(targetModel, nullptr);
    ASSERT_GT(targetModel->faceCount, 0);
    ASSERT_EQ(saveTargetDxf(path.c_str()), 1);
    LineListPtr comments(newLineList());
    ModelPtr reread = loadAndRead(path, comments.get());
    ASSERT_NE(reread, nullptr);
    EXPECT_EQ(faceTexts(reread.get()), writtenFaceTexts(targetModel));
    EXPECT_EQ(linesOf(comments.get()), linesOf(commentList));
    EXPECT_EQ(reread->partCount, targetModel->partCount);
  }
}
