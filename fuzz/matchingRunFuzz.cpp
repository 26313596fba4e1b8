// A whole matching run on two files made from the input, as the batch tool runs them: the bytes
// before the first line "====" are the reference, those after it the target (without such a
// line the input is both), aligning turned parts or not, keeping the target or not; then the
// writer (a kept target reads back as as many faces). Then the same run with one allocation
// failing: a proper ending and the same progress unless the reference was lost. No leaks.
#include <fstream>
#include <utility>

#include "fuzzSupport.h"
#include "match/matchingRun.h"
#include "model/dxfReader.h"
#include "model/faceModel.h"
#include "output/dxfWriter.h"
#include "output/keepTarget.h"
#include "textfiles/dialogPort.h"
#include "textfiles/settings.h"

static std::vector<std::string> lines;  // the progress of the latest run
static RunOptions options;              // whether the runs align turned parts

// runMatching's progress lines; checks the ending.
static std::vector<std::string> run(const char* reference, const char* target) {
  DialogPort port{};
  port.addListLine = [](DialogPort*, const char* line) { return lines.emplace_back(line), 0; };
  const int result = runMatchingWith(&port, reference, target, &options);
  FUZZ_CHECK(lines.size() >= 2 && lines.back() == (result ? "Done." : "Error Quit"));
  return std::exchange(lines, {});
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& folder = fuzzSetUp();
  const uint64_t hash = fuzzHash(data, size);
  const std::string input(reinterpret_cast<const char*>(data), size), out = folder + "/o.dxf";
  const std::string reference = folder + "/r.dxf", target = folder + "/t.dxf";
  const size_t cut = input.find("\n====\n");
  std::ofstream(reference, std::ios::binary) << input.substr(0, cut);
  std::ofstream(target, std::ios::binary) << (cut == input.npos ? input : input.substr(cut + 6));
  useDefaultSettings(), textureRotation = static_cast<int32_t>(hash % 5);
  options.alignParts = static_cast<int32_t>((hash >> 40) & 1);
  options.keepTarget = static_cast<int32_t>((hash >> 41) & 1);
  const long start = gallocationCount();
  const std::vector<std::string> progress = run(reference.c_str(), target.c_str());
  if (progress.back() == "Done." && options.keepTarget) {
    FUZZ_CHECK(saveKeptTarget(out.c_str(), reference.c_str()).written);
    int status = 0;
    FaceModel* kept = readDxfFile(out.c_str(), "Terget", nullptr, 0, &status);
    FUZZ_CHECK(kept && kept->faceCount == targetModel->faceCount);
    releaseModel(kept);
  }
  FUZZ_CHECK(progress.back() != "Done." || options.keepTarget || saveTargetDxf(out.c_str()));
  releaseRunData();  // then fail one of the allocations the run and the save made
  gfailAllocationAfter(1 + static_cast<long>((hash >> 4) % (gallocationCount() - start + 1)));
  const std::vector<std::string> again = run(reference.c_str(), target.c_str());
  gfailAllocationAfter(0), releaseRunData();
  FUZZ_CHECK(again.back() != "Done." || again == progress ||
             again[1] == "Syntax Error : Reference DXF. continue...");
  return 0;
}
