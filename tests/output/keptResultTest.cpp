// The kept result of a run: the same output bytes and the same pictures as the run's models,
// in a small share of their memory.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "app/programPath.h"
#include "bench/modelGenerator.h"
#include "match/howMatched.h"
#include "match/matchingRun.h"
#include "model/faceModel.h"
#include "output/dxfWriter.h"
#include "output/keptResult.h"
#include "output/layerColours.h"
#include "output/outputLayer.h"
#include "render/faceRenderer.h"
#include "render/renderImage.h"
#include "render/renderMesh.h"
#include "render/renderView.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"
#include "textfiles/settings.h"

namespace {

// Face colours of the run state's models as the pictures define them: one palette colour per
// layer name in byte order over the reference faces' layers and the written layers, red for
// unmatched faces (or how each face was matched, `byHow`), guessed faces hatched.
std::vector<uint32_t> modelColours(bool output, bool byHow) {
  std::set<std::string> names;
  for (int32_t f = 0; f < referenceModel->faceCount; ++f)
    names.insert(faceLayer(referenceModel->faces[f]));
  for (int32_t f = 0; f < targetModel->faceCount; ++f)
    names.insert(outputLayer(targetModel->faces[f]));
  auto colourOf = [&](const std::string& name) {
    return paletteColour(int32_t(std::distance(names.begin(), names.find(name))));
  };
  std::vector<uint32_t> colours;
  const FaceModel& model = output ? *targetModel : *referenceModel;
  for (int32_t f = 0; f < model.faceCount; ++f) {
    if (!output) {
      colours.push_back(colourOf(faceLayer(model.faces[f])));
      continue;
    }
    HowMatched how = howMatched(referenceModel, model, f);
    uint32_t colour = byHow || how == HowMatched::unmatched ? howMatchedColour(how)
                                                            : colourOf(outputLayer(model.faces[f]));
    colours.push_back(colour | (isGuessedLayer(referenceModel, model, f) ? kFaceHatched : 0));
  }
  return colours;
}

std::string pixels(const RenderMesh& mesh, const uint32_t* colours) {
  RenderImage image{};
  RenderView view{};
  namedView("iso", &view);
  EXPECT_TRUE(allocateRenderImage(&image, 240, 160) &&
              renderFaces(mesh, colours, view, 1, &image, nullptr));
  std::string rgb(reinterpret_cast<const char*>(image.rgb), 240 * 160 * 3);
  releaseRenderImage(&image);
  return rgb;
}

// The three pictures of the run state: the reference, the output by layer and by how matched.
std::vector<std::string> modelPictures() {
  std::vector<std::string> pictures;
  for (const FaceModel* model : {referenceModel, targetModel, targetModel}) {
    RenderMesh mesh{};
    EXPECT_TRUE(meshOfModel(*model, &mesh));
    std::vector<uint32_t> colours = modelColours(model == targetModel, pictures.size() == 2);
    pictures.push_back(pixels(mesh, colours.data()));
    releaseRenderMesh(&mesh);
  }
  return pictures;
}

std::vector<std::string> keptPictures(const KeptResult& kept) {
  LayerTable table{};
  EXPECT_TRUE(buildLayerTable(kept, &table));
  uint32_t* colours[3] = {referenceFaceColours(kept, table), outputFaceColours(kept, table, false),
                          outputFaceColours(kept, table, true)};
  std::vector<std::string> pictures;
  for (int i = 0; i < 3; ++i) {
    pictures.push_back(pixels(i ? kept.target : kept.reference, colours[i]));
    gfree(colours[i]);
  }
  releaseLayerTable(&table);
  return pictures;
}

// Runs a generated pair (its target with two comments in front) and keeps its result, after
// writing the output and drawing the pictures from the run's models.
bool runAndKeep(const ScratchFolder& folder, const benchgen::GeneratorOptions& options, bool align,
                KeptResult* kept, std::vector<std::string>* pictures) {
  benchgen::GeneratedPair pair = benchgen::generatePair(options);
  EXPECT_TRUE(benchgen::writeReferenceDxf(pair, folder.file("r.dxf")) &&
              benchgen::writeTargetDxf(pair, folder.file("t.dxf")));
  writeFileBytes(folder.file("t.dxf"),
                 "999\r\nfirst\r\n999\r\nsecond\r\n" + readFileBytes(folder.file("t.dxf")));
  RecordingDialog dialog;
  RunOptions run{};
  run.alignParts = align;
  if (runMatchingWith(&dialog.port, folder.file("r.dxf").c_str(), folder.file("t.dxf").c_str(),
                      &run) != 1)
    return false;
  EXPECT_EQ(saveTargetDxf(folder.file("models.dxf").c_str()), 1);
  *pictures = modelPictures();
  EXPECT_EQ(keepResultAndReleaseRun(kept), 1);
  EXPECT_TRUE(!targetModel && !referenceModel && !commentList);
  return true;
}

}  // namespace

// Generated pairs (parts moved and turned, quads split into triangles), matched with and
// without alignment: the kept result writes the models' bytes, draws their pixels and holds
// less than 48 bytes a face and a point (the run's models hold about 400).
TEST(KeptResult, WritesTheSameBytesAndDrawsTheSamePixelsInAFewBytesAFace) {
  QuietReports reports;
  ScratchFolder folder;
  useDefaultSettings();
  textureRotation = 0;
  struct Case {
    benchgen::GeneratorOptions options;
    bool align;
  } cases[] = {
      {{.faces = 3000, .minPartFaces = 200, .maxPartFaces = 600, .splitShare = 0.3}, false},
      {{.faces = 3000, .minPartFaces = 200, .maxPartFaces = 600, .splitShare = 0.3}, true},
      {{.faces = 2000, .movement = benchgen::Movement::all, .seed = 7, .anyAngle = true}, true},
  };
  for (const Case& c : cases) {
    long long before = gliveBytes();
    KeptResult kept{};
    std::vector<std::string> pictures;
    ASSERT_TRUE(runAndKeep(folder, c.options, c.align, &kept, &pictures));
    ASSERT_EQ(saveKeptResultDxf(folder.file("kept.dxf").c_str(), kept), 1);
    EXPECT_EQ(readFileBytes(folder.file("kept.dxf")), readFileBytes(folder.file("models.dxf")));
    EXPECT_TRUE(keptPictures(kept) == pictures) << c.align;
    long long records = kept.reference.faceCount + kept.reference.pointCount +
                        kept.target.faceCount + kept.target.pointCount;
    EXPECT_LE(gliveBytes() - before, 48 * records + 4096) << c.align;
    releaseKeptResult(&kept);
    EXPECT_EQ(gliveBytes(), before);
  }
}
