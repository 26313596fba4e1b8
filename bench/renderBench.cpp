// morvane-render-bench: what the pictures and the per-face report cost on a large run. A
// generated pair (every part moved, not turned) is matched in this process; then each step of
// --preview, --report and the dialog's preview pane is timed (best of three) and printed as a
// markdown table.
//   morvane-render-bench [--faces N] [--folder DIR]
#include <unistd.h>

#include <QImage>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "app/picture/previewPicture.h"
#include "bench/modelGenerator.h"
#include "match/matchingRun.h"
#include "model/faceModel.h"
#include "output/dxfWriter.h"
#include "output/faceReport.h"
#include "output/keptResult.h"
#include "output/layerColours.h"
#include "render/faceRenderer.h"
#include "render/renderImage.h"
#include "textfiles/allocator.h"
#include "textfiles/dialogPort.h"
#include "textfiles/lineList.h"
#include "textfiles/settings.h"

namespace {

double seconds(const std::function<void()>& step, int rounds = 3) {
  double best = 1e308;
  for (int r = 0; r < rounds; ++r) {
    auto start = std::chrono::steady_clock::now();
    step();
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (took.count() < best) best = took.count();
  }
  return best;
}

void row(const char* step, double s, const std::string& note = "") {
  std::printf("| %s | %.3f | %s |\n", step, s, note.c_str());
}

// The pair's files in `folder`, generated unless they are there.
bool preparePair(long long faces, const std::string& folder) {
  std::string ref = folder + "/reference.dxf", tgt = folder + "/target.dxf";
  if (access(ref.c_str(), R_OK) == 0 && access(tgt.c_str(), R_OK) == 0) return true;
  benchgen::GeneratorOptions options;
  options.faces = faces;
  options.movement = benchgen::Movement::all;
  options.turn = false;
  benchgen::GeneratedPair pair = benchgen::generatePair(options);
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  return benchgen::writeReferenceDxf(pair, ref) && benchgen::writeTargetDxf(pair, tgt);
}

void timeRenderer(const RenderView& iso, KeptResult* kept) {
  LayerTable table{};
  uint32_t* colours = nullptr;
  double s = seconds([&] { keepRunResult(kept); }, 1);
  row("the kept result (meshes, layers, how matched)", s);
  s = seconds([&] {
    buildLayerTable(*kept, &table);
    gfree(colours);
    colours = outputFaceColours(*kept, table, false);
  });
  row("layer table and face colours", s, std::to_string(table.count) + " layers");
  const RenderMesh& mesh = kept->target;
  RenderImage image{};
  RenderCounts counts{};
  allocateRenderImage(&image, 1600, 1000);
  s = seconds([&] { renderFaces(mesh, colours, iso, 1, &image, &counts); });
  row("renderFaces, output model, 1600 x 1000", s, std::to_string(counts.drawn) + " faces drawn");
  allocateRenderImage(&image, 460, 280);
  int step = (mesh.faceCount + 39999) / 40000;
  s = seconds([&] { renderFaces(mesh, colours, iso, step, &image, &counts); });
  row("pane frame while dragging, 460 x 280", s,
      "every " + std::to_string(step) + "th face: " + std::to_string(counts.drawn) + " drawn");
  s = seconds([&] { renderFaces(mesh, colours, iso, 1, &image, &counts); });
  row("pane frame at rest, 460 x 280", s);
  releaseRenderImage(&image);
  gfree(colours);
  releaseLayerTable(&table);
}

}  // namespace

int main(int argc, char** argv) {
  long long faces = 300000;
  std::string folder;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--faces") == 0) faces = std::atoll(argv[i + 1]);
    if (std::strcmp(argv[i], "--folder") == 0) folder = argv[i + 1];
  }
  if (folder.empty()) folder = "bench-data/render-" + std::to_string(faces);
  if (!preparePair(faces, folder)) return std::fputs("cannot write the pair\n", stderr), 1;
  auto application = startPaintingApplication();
  useDefaultSettings();
  DialogPort quiet{};
  std::printf("| step (%lld faces) | s | |\n|---|---:|---|\n", faces);
  auto start = std::chrono::steady_clock::now();
  if (!runMatching(&quiet, (folder + "/reference.dxf").c_str(), (folder + "/target.dxf").c_str()))
    return std::fputs("the run failed\n", stderr), 1;
  std::chrono::duration<double> run = std::chrono::steady_clock::now() - start;
  row("the matching run (for scale)", run.count());
  std::string out = folder + "/out";
  row("DXF written (for scale)", seconds([&] { saveTargetDxf((out + ".dxf").c_str()); }, 1));
  RenderView iso{};
  namedView("iso", &iso);
  double report = seconds([&] { saveFaceReport((out + ".csv").c_str()); });
  KeptResult kept{};
  timeRenderer(iso, &kept);
  double picture = seconds([&] { savePreviewPicture((out + ".png").c_str(), kept, iso, nullptr); });
  releaseKeptResult(&kept);
  row("--report: build and save the CSV", report);
  row("--preview: compose (both models, legend) and save the PNG", picture);
  row("--preview and --report together", report + picture, "goal: at most 2 s");
  releaseRunData();
  return 0;
}
