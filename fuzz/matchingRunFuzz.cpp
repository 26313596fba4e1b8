// A whole matching run on two files made from the input, as the batch tool runs them: the bytes
// before the first line "====" are the reference, those after it the target (without such a
// line the input is both); then the writer. Then the same run and save with one allocation
// failing: a proper ending and the same progress unless the reference was lost. No leaks.
#include <fstream>

#include "fuzzSupport.h"
#include "match/matchingRun.h"
#include "model/faceModel.h"
#include "output/dxfWriter.h"
#include "textfiles/dialogPort.h"
#include "textfiles/settings.h"

namespace {
// runMatching with a dialog that keeps the progress lines (it starts empty); checks the ending.
int run(std::vector<std::string>& progress, const char* reference, const char* target) {
  DialogPort port{};
  port.context = &progress;
  port.addListLine = [](DialogPort* self, const char* line) {
    static_cast<std::vector<std::string>*>(self->context)->emplace_back(line);
    return 0;
  };
  const int result = runMatching(&port, reference, target);
  FUZZ_CHECK((result == 0 || result == 1) && progress.size() >= 2 && progress[0] == "Start..." &&
             progress.back() == (result ? "Done." : "Error Quit"));
  return result;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& folder = fuzzSetUp();
  const uint64_t hash = fuzzHash(data, size);
  const std::string input(reinterpret_cast<const char*>(data), size), out = folder + "/out.dxf";
  const std::string reference = folder + "/reference.dxf", target = folder + "/target.dxf";
  const size_t cut = input.find("\n====\n");
  std::ofstream(reference, std::ios::binary) << input.substr(0, cut);
  std::ofstream(target, std::ios::binary) << (cut == input.npos ? input : input.substr(cut + 6));
  const char* referencePath = (hash & 15) == 0 ? "No Use" : reference.c_str();
  useDefaultSettings();
  textureRotation = static_cast<int32_t>((hash >> 4) % 5);
  const long before = gliveBlocks(), start = gallocationCount();
  std::vector<std::string> progress, again;
  FUZZ_CHECK(!run(progress, referencePath, target.c_str()) || saveTargetDxf(out.c_str()));
  const long used = gallocationCount() - start;
  releaseRunData();
  FUZZ_CHECK(gliveBlocks() == before);
  gfailAllocationAfter(1 + static_cast<long>((hash >> 12) % static_cast<uint64_t>(used + 1)));
  if (run(again, referencePath, target.c_str())) {
    FUZZ_CHECK(again[1] == "Syntax Error : Reference DXF. continue..." || again == progress);
    saveTargetDxf(out.c_str());  // whole or not at all: outputTest fails every allocation
  }
  gfailAllocationAfter(0);
  releaseRunData();
  FUZZ_CHECK(gliveBlocks() == before);
  return 0;
}
