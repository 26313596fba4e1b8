// In-process timings of single steps on generated models, repeated by Google Benchmark until
// stable: for working on one step. The tables (with peak memory per size) come from
// morvane-bench.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/errorReport.h"
#include "app/programPath.h"
#include "bench/modelGenerator.h"
#include "compare/angleSignature.h"
#include "match/coincidence.h"
#include "model/dxfReader.h"
#include "model/faceModel.h"
#include "output/dxfWriter.h"
#include "textfiles/lineList.h"
#include "textfiles/settings.h"

namespace {

struct PairPaths {
  std::string reference, target;
};

// A shared-geometry pair of `faces` faces, generated once per size into the temporary folder.
std::map<int64_t, PairPaths> pairs;
std::vector<std::string> folders;

const PairPaths& pairOf(int64_t faces) {
  auto found = pairs.find(faces);
  if (found != pairs.end()) return found->second;
  std::string folder =
      (std::filesystem::temp_directory_path() / ("morvane-microbench-" + std::to_string(faces)))
          .string();
  std::filesystem::create_directories(folder);
  folders.push_back(folder);
  setProgramDirectoryTo(folder.c_str());
  useDefaultSettings();
  benchgen::GeneratorOptions options;
  options.faces = faces;
  options.movement = benchgen::Movement::none;
  benchgen::GeneratedPair pair = benchgen::generatePair(options);
  PairPaths paths{folder + "/reference.dxf", folder + "/target.dxf"};
  benchgen::writeReferenceDxf(pair, paths.reference);
  benchgen::writeTargetDxf(pair, paths.target);
  return pairs[faces] = paths;
}

LineList* load(const std::string& path) {
  int status = 0;
  return loadLineListAs(path.c_str(), LineSplit::keepEmpty, &status);
}

FaceModel* readModel(const std::string& path, const char* name) {
  LineList* lines = load(path);
  FaceModel* model = readDxfFaces(lines, name, nullptr, 0);
  freeLineList(lines);
  return model;
}

void loadLines(benchmark::State& state) {
  const PairPaths& pair = pairOf(state.range(0));
  for (auto _ : state) {
    LineList* lines = load(pair.target);
    benchmark::DoNotOptimize(lines);
    freeLineList(lines);
  }
}

void readFaces(benchmark::State& state) {
  const PairPaths& pair = pairOf(state.range(0));
  LineList* lines = load(pair.target);
  for (auto _ : state) {
    FaceModel* model = readDxfFaces(lines, "Terget", nullptr, 0);
    benchmark::DoNotOptimize(model);
    state.PauseTiming();
    releaseModel(model);
    state.ResumeTiming();
  }
  freeLineList(lines);
}

void angleSignatures(benchmark::State& state) {
  const PairPaths& pair = pairOf(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    FaceModel* model = readModel(pair.target, "Terget");
    state.ResumeTiming();
    benchmark::DoNotOptimize(computeAngleSignatures(model));
    state.PauseTiming();
    releaseModel(model);
    state.ResumeTiming();
  }
}

void coincidencePairing(benchmark::State& state) {
  const PairPaths& pair = pairOf(state.range(0));
  FaceModel* reference = readModel(pair.reference, "Ref");
  FaceModel* target = readModel(pair.target, "Terget");
  for (auto _ : state)
    benchmark::DoNotOptimize(pairCoincidentGeometry(reference, target));
  releaseModel(reference);
  releaseModel(target);
}

void buildOutput(benchmark::State& state) {
  const PairPaths& pair = pairOf(state.range(0));
  targetModel = readModel(pair.target, "Terget");
  for (auto _ : state) {
    LineList* out = buildTargetDxf();
    benchmark::DoNotOptimize(out);
    state.PauseTiming();
    freeLineList(out);
    state.ResumeTiming();
  }
  releaseRunData();
}

BENCHMARK(loadLines)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(readFaces)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(angleSignatures)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(coincidencePairing)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(buildOutput)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  reportAllocationFailures();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const std::string& folder : folders) {
    std::error_code error;
    std::filesystem::remove_all(folder, error);
  }
  return 0;
}
