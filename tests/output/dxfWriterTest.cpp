// The DXF face writer: the lines it builds, number formatting, saving whole or not at all, and
// the round trip through the reader.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <clocale>
#include <csignal>
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

// Each test starts and ends with an empty run state.
class DxfWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { releaseRunData(); }
  void TearDown() override { releaseRunData(); }
};

// A model of the given faces; each face is a layer and three or four corners.
struct FaceInput {
  const char* layer;
  std::vector<Vec3> corners;
  int matchedFace = -1;
};
FaceModel* makeModel(const char* name, const std::vector<FaceInput>& faces) {
  FaceModel* model = createModel(name);
  for (const FaceInput& input : faces) {
    Vec3 c[4] = {input.corners[0], input.corners[1], input.corners[2],
                 input.corners[input.corners.size() == 4 ? 3 : 2]};
    addFace(model, input.layer, c);
    model->faces[model->faceCount - 1].matchedFace = input.matchedFace;
  }
  return model;
}

std::vector<std::string> builtLines() {
  LineListPtr list(buildTargetDxf());
  return linesOf(list.get());
}

std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

const std::vector<std::string> kHead = {"0", "SECTION", "2", "ENTITIES"};
const std::vector<std::string> kTail = {"0", "ENDSEC", "0", "EOF"};
const Vec3 kO{0, 0, 0}, kX{1, 0, 0}, kY{0, 1, 0}, kXY{1, 1, 0};

// "%.5f" of `v` read back: what a coordinate becomes after one write and read.
double roundedAtFive(double v) {
  char text[400];
  std::snprintf(text, sizeof text, "%.5f", v);
  return std::strtod(text, nullptr);
}

// faceTexts of `model` with every coordinate rounded to five decimals.
std::vector<std::string> roundedFaceTexts(const FaceModel* model) {
  FaceModel* rounded = createModel("rounded");
  for (int f = 0; f < model->faceCount; ++f) {
    std::vector<Vec3> corners = faceCornerPositions(model, f);
    Vec3 c[4];
    for (int k = 0; k < 4; ++k) {
      const Vec3& v = corners[k < static_cast<int>(corners.size()) ? k : 2];
      c[k] = {roundedAtFive(v.x), roundedAtFive(v.y), roundedAtFive(v.z)};
    }
    const char* layer = faceLayer(model->faces[f]);
    addFace(rounded, *layer ? layer : "Obj1", c);
  }
  std::vector<std::string> texts = faceTexts(rounded);
  releaseModel(rounded);
  return texts;
}

ModelPtr loadAndRead(const std::string& path, LineList* comments) {
  LineListPtr lines(loadLineListAs(path.c_str(), LineSplit::keepEmpty, nullptr));
  return ModelPtr(readDxfFaces(lines.get(), "Terget", comments, 0));
}

}  // namespace

TEST_F(DxfWriterTest, WritesAMatchedTriangleUnderTheReferenceLayer) {
  referenceModel = makeModel("Ref", {{"WALL", {kX, kY, kXY}}});
  targetModel = makeModel("Terget", {{"own", {kO, kX, kY}, 0}});
  EXPECT_EQ(
      builtLines(),
      concat({kHead,
              {"0",  "3DFACE",  "8",  "WALL",    "10", "0.00000", "20", "0.00000", "30", "0.00000",
               "11", "1.00000", "21", "0.00000", "31", "0.00000", "12", "0.00000", "22", "1.00000",
               "32", "0.00000", "13", "0.00000", "23", "1.00000", "33", "0.00000"},
              kTail}));
}

TEST_F(DxfWriterTest, TakesTheLayerFromTheMatchedFaceOrItsOwnAndCommentsComeFirst) {
  const struct {
    const char* name;
    bool withReference;
    int matchedFace;
    const char* ownLayer;
    const char* layer;
  } cases[] = {
      {"matched reference face", true, 1, "own", "R1"},
      {"matched reference face with an empty layer", true, 0, "own", "Obj1"},
      {"no match keeps the own layer", true, -1, "own", "own"},
      {"no match and an empty own layer", true, -1, "", "Obj1"},
      {"no reference model", false, 0, "own", "own"},
      {"no reference model and an empty own layer", false, 0, "", "Obj1"},
  };
  for (const auto& c : cases) {
    releaseRunData();
    if (c.withReference)
      referenceModel = makeModel("Ref", {{"", {kO, kX, kY}}, {"R1", {kX, kY, kXY}}});
    targetModel = makeModel("Terget", {{c.ownLayer, {kO, kX, kY, kXY}, c.matchedFace}});
    std::vector<std::string> lines = builtLines();
    ASSERT_EQ(lines.size(), 8u + 4u + 24u) << c.name;
    EXPECT_EQ(lines[7], c.layer) << c.name;
  }

  // Comments right after the section head, in order; no faces gives only head, comments, tail.
  releaseRunData();
  commentList = testLines({"first note", "second note"}).release();
  targetModel = createModel("Terget");
  EXPECT_EQ(builtLines(), concat({kHead, {"999", "first note", "999", "second note"}, kTail}));
  releaseRunData();
  EXPECT_EQ(buildTargetDxf(), nullptr);  // no target model
}

TEST_F(DxfWriterTest, AppendCornerFormatsLikePrintfInTheCLocale) {
  ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double values[] = {0.0,
                           -0.0,
                           1.5,
                           -0.000001,
                           0.123456789,
                           0.000005,
                           0.000015,
                           0.125,
                           2.5e-6,
                           -2.5e-6,
                           123456.789,
                           -99999.999995,
                           1e15 + 0.5,
                           1e22,
                           1e308,
                           -1e308,
                           std::numeric_limits<double>::max(),
                           -std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::min(),
                           std::numeric_limits<double>::denorm_min(),
                           inf,
                           -inf,
                           nan,
                           -nan,
                           0.1,
                           0.3,
                           1719.436845718917};
  for (double v : values) {
    char expected[400];
    std::snprintf(expected, sizeof expected, "%-10.5f", v);
    trimTrailingBlanks(expected);
    LineListPtr list(newLineList());
    ASSERT_EQ(appendCorner(list.get(), {v, -v, v}, 2), 1);
    char negated[400];
    std::snprintf(negated, sizeof negated, "%-10.5f", -v);
    trimTrailingBlanks(negated);
    EXPECT_EQ(linesOf(list.get()),
              (std::vector<std::string>{"12", expected, "22", negated, "32", expected}))
        << v;
  }
  LineListPtr list(newLineList());
  EXPECT_EQ(appendCorner(list.get(), kO, 4), 0);
  EXPECT_EQ(appendCorner(list.get(), kO, -1), 0);
  EXPECT_EQ(list->count, 0);
}

TEST_F(DxfWriterTest, MemoryFailureWhileBuildingLeaksNothing) {
  ScratchFolder reports;
  setProgramDirectoryTo(reports.path.c_str());
  setErrorPresenter([](const char*) {});
  commentList = testLines({"note"}).release();
  referenceModel = makeModel("Ref", {{"R", {kO, kX, kY}}});
  targetModel = makeModel("Terget", {{"A", {kO, kX, kY}, 0}, {"", {kX, kY, kXY, {2, 2, 0}}}});
  const std::vector<std::string> complete = builtLines();
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
  setErrorPresenter(nullptr);
  setProgramDirectory();
  EXPECT_EQ(builtLines(), complete);
}

TEST_F(DxfWriterTest, SavesCrLfLinesWithoutEmptyOnes) {
  ScratchFolder folder;
  commentList = testLines({"note"}).release();
  targetModel = makeModel("Terget", {{"A", {kO, kX, kY}}, {"", {kX, kY, kXY, {2, 2, 0}}}});
  std::vector<std::string> lines = builtLines();
  const std::string path = folder.file("out.dxf");
  ASSERT_EQ(saveTargetDxf(path.c_str()), 1);
  std::string expected;
  for (const std::string& line : lines)
    expected += line + "\r\n";
  EXPECT_EQ(readFileBytes(path), expected);
  EXPECT_EQ(expected.find("\r\n\r\n"), std::string::npos);
}

TEST_F(DxfWriterTest, FailedSaveReturnsZeroAndLeavesTheFileUntouched) {
  ScratchFolder folder;
  const std::string path = folder.file("keep.dxf");
  const std::string original = "0\r\nSECTION\r\n2\r\nENTITIES\r\n0\r\nENDSEC\r\n0\r\nEOF\r\n";
  writeFileBytes(path, original);
  std::vector<FaceInput> many(200, FaceInput{"Layer", {kO, kX, kY, kXY}});

  EXPECT_EQ(saveTargetDxf(path.c_str()), 0);  // no target model
  EXPECT_EQ(saveTargetDxf(nullptr), 0);
  targetModel = makeModel("Terget", many);
  EXPECT_EQ(saveTargetDxf(folder.file("missing/out.dxf").c_str()), 0);
  EXPECT_EQ(saveTargetDxf(folder.path.c_str()), 0);  // a directory is not replaced

  {  // memory fails while the list is built
    ScratchFolder reports;
    setProgramDirectoryTo(reports.path.c_str());
    setErrorPresenter([](const char*) {});
    gfailAllocationAfter(50);
    EXPECT_EQ(saveTargetDxf(path.c_str()), 0);
    gfailAllocationAfter(0);
    setErrorPresenter(nullptr);
    setProgramDirectory();
  }
  {  // the disk refuses the bytes part way through the file
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    int written = saveTargetDxf(path.c_str());
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(written, 0);
  }
  EXPECT_EQ(readFileBytes(path), original);
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path)) {
    EXPECT_EQ(entry.path().filename(), "keep.dxf");  // no temporary file left behind
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST_F(DxfWriterTest, RoundTripGivesTheSameFacesLayersAndComments) {
  ScratchFolder folder;
  // Coordinates exact at five decimals, quads and triangles, an empty layer (written "Obj1").
  const std::string made = folder.file("made.dxf");
  {
    LineListPtr comments(newLineList());
    targetModel = makeModel("Terget", {{"Wall", {{0.03125, -2.5, 1e5}, kX, kY, kXY}},
                                       {"", {kX, {3.75, 0.5, -0.25}, kXY}},
                                       {"Roof \xC4", {{-7, 8, 9}, {-7, 8.5, 9}, {-6, 8, 9}}}});
    commentList = testLines({"made by the test", "second"}).release();
    ASSERT_EQ(saveTargetDxf(made.c_str()), 1);
  }
  const std::vector<std::string> files = {made, testDataPath("real/PinkEggFromLW.dxf"),
                                          testDataPath("real/3dface.dxf"),
                                          testDataPath("real/POLI-ALL210_12.DXF")};
  for (const std::string& file : files) {
    releaseRunData();
    commentList = newLineList();
    targetModel = loadAndRead(file, commentList).release();
    ASSERT_NE(targetModel, nullptr) << file;
    ASSERT_GT(targetModel->faceCount, 0) << file;
    std::vector<std::string> expected = roundedFaceTexts(targetModel);
    std::vector<std::string> comments = linesOf(commentList);
    int parts = targetModel->partCount;

    const std::string written = folder.file("written.dxf");
    ASSERT_EQ(saveTargetDxf(written.c_str()), 1) << file;
    LineListPtr again(newLineList());
    ModelPtr reread = loadAndRead(written, again.get());
    ASSERT_NE(reread, nullptr) << file;
    EXPECT_EQ(faceTexts(reread.get()), expected) << file;
    EXPECT_EQ(linesOf(again.get()), comments) << file;
    EXPECT_EQ(reread->partCount, parts) << file;
  }
}

TEST_F(DxfWriterTest, SavesOverTheFileItWasReadFrom) {
  ScratchFolder folder;
  const std::string path = folder.file("target.dxf");
  std::filesystem::copy_file(testDataPath("real/POLI-ALL210_12.DXF"), path);
  commentList = newLineList();
  targetModel = loadAndRead(path, commentList).release();
  ASSERT_NE(targetModel, nullptr);
  referenceModel = makeModel("Ref", {{"Borrowed", {kO, kX, kY}}});
  targetModel->faces[0].matchedFace = 0;
  ASSERT_EQ(saveTargetDxf(path.c_str()), 1);
  ModelPtr reread = loadAndRead(path, nullptr);
  EXPECT_EQ(faceTexts(reread.get()),
            std::vector<std::string>{"Borrowed: (-6 13 0) (18 13 0) (18 -11 0) (-6 -11 0)"});
}
