// The renderer on a tiny model (a square under a triangle): which face a pixel shows from each
// view, the depth test whatever the face order, faces left out for bad corners, and the layer
// colours shared by both pictures. A run's kept result: the same output bytes and pictures as
// the run's models, in a small share of their memory.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "bench/modelGenerator.h"
#include "model/faceModel.h"
#include "output/dxfWriter.h"
#include "output/faceReport.h"
#include "output/keptResult.h"
#include "output/layerColours.h"
#include "render/faceRenderer.h"
#include "render/renderImage.h"
#include "render/renderView.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"
#include "textfiles/lineList.h"

namespace {

constexpr uint32_t kSquare = 0x2040C0, kTriangle = 0xC08020;
constexpr uint32_t kSquareEdgeOn = 0x0B1643;  // kSquare at the ambient light 0.35 (edge-on)

// The picture of `mesh` (of the model read from `file` when given) from the "iso" side.
std::string picture(const RenderMesh& mesh, const uint32_t* colours, const std::string& file = "") {
  RenderMesh read{};
  RenderImage image{};
  RenderView view{};
  EXPECT_TRUE((file.empty() || meshOfModel(*readDxfText(readFileBytes(file)), &read)) &&
              namedView("iso", &view) && allocateRenderImage(&image, 240, 160) &&
              renderFaces(file.empty() ? mesh : read, colours, view, 1, &image, nullptr));
  std::string rgb(reinterpret_cast<const char*>(image.rgb), 240 * 160 * 3);
  return releaseRenderImage(&image), releaseRenderMesh(&read), rgb;
}

// The square z = 0 over (0..2, 0..2), the triangle z = 1 over its lower-left half, in `order`,
// then the extra faces (left out: a corner not finite or too far).
ModelPtr tinyModel(bool triangleFirst, std::vector<std::array<Vec3, 4>> extra = {}) {
  ModelPtr model(createModel("Ref"));
  const Vec3 square[4] = {{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}};
  const Vec3 triangle[4] = {{0, 0, 1}, {2, 0, 1}, {0, 2, 1}, {0, 2, 1}};
  for (int k = 0; k < 2; ++k)
    addFace(model.get(), "", (k == 0) == triangleFirst ? triangle : square);
  for (const auto& corners : extra)
    addFace(model.get(), "", corners.data());
  return model;
}

}  // namespace

TEST(RenderFaces, NearestFaceWinsFromEveryViewAndBadCornersAreLeftOut) {
  const double nan = std::nan(""), huge = 2 * kLargestDrawnCoordinate;
  struct Case {
    const char* view;
    int x, y;
    uint32_t expected;  // 100 x 100 pixels, 4 of margin: the model's 2 units are 92 pixels
  } cases[] = {
      {"top", 27, 73, kTriangle},           {"top", 73, 27, kSquare},
      {"top", 1, 1, kRenderBackground},     {"front", 50, 73, kSquareEdgeOn},
      {"front", 50, 50, kRenderBackground},
  };
  for (bool triangleFirst : {true, false}) {
    ModelPtr model = tinyModel(triangleFirst, {{{{nan, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 1, 0}}},
                                               {{{0, 0, huge}, {1, 0, 0}, {0, 1, 0}, {0, 1, 0}}}});
    uint32_t colours[4] = {triangleFirst ? kTriangle : kSquare, triangleFirst ? kSquare : kTriangle,
                           0, 0};
    for (const Case& c : cases) {
      RenderView view{};
      RenderImage image{};
      RenderCounts counts{};
      RenderMesh mesh{};
      ASSERT_TRUE(namedView(c.view, &view) && allocateRenderImage(&image, 100, 100) &&
                  meshOfModel(*model, &mesh) &&
                  renderFaces(mesh, colours, view, 1, &image, &counts));
      EXPECT_EQ(pixelColour(image, c.x, c.y), c.expected) << c.view << " " << c.x << "," << c.y;
      EXPECT_TRUE(counts.drawn == 2 && counts.leftOut == 2);
      releaseRenderImage(&image), releaseRenderMesh(&mesh);
    }
  }
  ModelPtr point(createModel("Ref"));  // one face on one point: a dot in the middle
  const Vec3 same[4] = {{5, 5, 5}, {5, 5, 5}, {5, 5, 5}, {5, 5, 5}};
  addFace(point.get(), "", same);
  RenderImage image{};
  RenderView iso{};
  ASSERT_TRUE(namedView("iso", &iso) && allocateRenderImage(&image, 9, 9));
  RenderMesh mesh{};
  EXPECT_TRUE(meshOfModel(*point, &mesh) && renderFaces(mesh, &kSquare, iso, 1, &image, nullptr) &&
              pixelColour(image, 4, 4) != kRenderBackground);
  releaseRenderImage(&image), releaseRenderMesh(&mesh);
}

// Layers of the reference and written layers of the output share one colour per name; every
// layer gets its own colour, and none is the warning colour.
TEST(LayerColours, OneColourPerLayerNameInBothPictures) {
  releaseRunData();
  referenceModel = tinyModel(true).release();
  targetModel = tinyModel(false).release();
  static char wall[] = "WALL", x[] = "x";  // face layers are borrowed from the model's names
  referenceModel->faces[0].layer = wall, targetModel->faces[1].layer = x;
  targetModel->faces[0].matchedFace = 0, targetModel->faces[1].matchedFace = -1;
  KeptResult kept{};
  LayerTable table{};
  ASSERT_TRUE(keepRunResult(&kept) && buildLayerTable(kept, &table));
  uint32_t *left = referenceFaceColours(kept, table), *right = outputFaceColours(kept, table, 0);
  EXPECT_EQ(left[0], right[0]);           // WALL in both pictures
  EXPECT_EQ(right[1], kUnmatchedColour);  // unmatched
  EXPECT_EQ(table.count, 3);              // "", "WALL", "x"
  gfree(left), gfree(right), releaseLayerTable(&table), releaseKeptResult(&kept);
  // Matched to a face without a layer: "Obj1" as written, its own layer when the target file is
  // kept to be written back whole.
  targetModel->faces[1].matchedFace = 1;
  static char fileBytes[] = "";
  for (char* bytes : {static_cast<char*>(nullptr), fileBytes}) {
    targetModel->sourceBytes = bytes;
    ASSERT_TRUE(keepRunResult(&kept));
    EXPECT_STREQ(kept.layerNames[kept.outputLayer[1]], bytes ? "x" : "Obj1");
    releaseKeptResult(&kept);
  }
  targetModel->sourceBytes = nullptr, targetModel->faces[1].matchedFace = -1;
  QuietReports quiet;
  for (long n = 1; n < 40; ++n) {  // each allocation failing in turn: nothing half-built is left
    long live = gliveBlocks();
    gfailAllocationAfter(n);
    int built = keepRunResult(&kept) && buildLayerTable(kept, &table);
    LineList* report = buildFaceReport();
    gfailAllocationAfter(0);
    EXPECT_TRUE(built ? table.count == 3 : !table.entries) << n;
    releaseLayerTable(&table), releaseKeptResult(&kept), freeLineList(report);
    EXPECT_EQ(gliveBlocks(), live) << n;
  }
  releaseRunData();
  std::set<uint32_t> seen;
  for (int32_t i = 0; i < 500; ++i)
    seen.insert(paletteColour(i));
  EXPECT_TRUE(seen.size() == 500 && !seen.count(kUnmatchedColour));
}

// Generated pairs (parts moved and turned, quads split into triangles, the target with a
// comment), with and without alignment: the kept result gives every face the models' written
// layer and kind of match, writes the models' bytes, draws the files' faces and holds under 48
// bytes a face and a point.
TEST(KeptResult, WritesTheModelsBytesAndDrawsTheirPixelsInAFewBytesAFace) {
  QuietReports files;
  useDefaultSettings(), textureRotation = 0;
  const std::string reference = files.file("r.dxf"), target = files.file("t.dxf");
  for (bool align : {false, true}) {
    const long long start = gliveBytes();
    auto pair = benchgen::generatePair(
        {.faces = 2000, .movement = benchgen::Movement::all, .anyAngle = align, .splitShare = 0.3});
    ASSERT_TRUE(benchgen::writeReferenceDxf(pair, reference) &&
                benchgen::writeTargetDxf(pair, target));
    writeFileBytes(target, "999\r\nnote\r\n" + readFileBytes(target));
    RunOptions options{align, 0, nullptr};
    KeptResult kept{};
    LayerTable table{};
    ASSERT_TRUE(runMatchingWith(nullptr, reference.c_str(), target.c_str(), &options) &&
                saveTargetDxf(files.file("models.dxf").c_str()) && keepRunResult(&kept) &&
                buildLayerTable(kept, &table));
    for (int32_t f = 0; f < targetModel->faceCount; ++f)
      ASSERT_TRUE(keptHow(kept, f) == howMatched(referenceModel, *targetModel, f) &&
                  keptGuess(kept, f) == isGuessedLayer(referenceModel, *targetModel, f));
    releaseRunData();
    // The target has the reference's points and faces, and the triangles of split quads.
    EXPECT_LE(gliveBytes() - start, 96 * (kept.target.faceCount + kept.target.pointCount) + 4096);
    ASSERT_EQ(saveKeptResultDxf(files.file("kept.dxf").c_str(), kept), 1);
    EXPECT_EQ(readFileBytes(files.file("kept.dxf")), readFileBytes(files.file("models.dxf")));
    uint32_t *left = referenceFaceColours(kept, table), *right = outputFaceColours(kept, table, 0);
    EXPECT_EQ(picture(kept.reference, left), picture({}, left, reference));
    EXPECT_EQ(picture(kept.target, right), picture({}, right, files.file("models.dxf")));
    gfree(left), gfree(right), releaseLayerTable(&table), releaseKeptResult(&kept);
  }
}
