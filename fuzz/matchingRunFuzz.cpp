// A whole matching run on two small files made from the input: the bytes before the first line
// "====" are the reference, the bytes after it the target (without such a line the input is
// both). The files are written to the scratch folder and run as the batch tool runs them:
// runMatching, then the writer; the written file is read back. A second run fails one
// allocation (of the run or of the save) picked from the input's hash.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzzSupport.h"
#include "match/matchingRun.h"
#include "model/dxfReader.h"
#include "model/faceModel.h"
#include "output/dxfWriter.h"
#include "textfiles/allocator.h"
#include "textfiles/lineList.h"
#include "textfiles/settings.h"

namespace {

std::string fileBytes(const std::string& path) {
  int status = 0;
  LineList* lines = loadLineListAs(path.c_str(), LineSplit::keepEmpty, &status);
  FUZZ_CHECK(lines != nullptr);
  std::string text;
  for (int32_t i = 0; i < lines->count; ++i)
    text += std::string(lines->items[i]) + "\n";
  freeLineList(lines);
  return status == kLoadRead ? text : std::string("(none)");
}

void checkEnding(const FuzzDialog& dialog, int result) {
  FUZZ_CHECK(result == 0 || result == 1);
  FUZZ_CHECK(dialog.lines.size() >= 2 && dialog.lines.front() == "Start...");
  FUZZ_CHECK(dialog.lines.back() == (result ? "Done." : "Error Quit"));
}

// The written file read back: every target face in order, on the layer the run gave it.
void checkWritten(const std::string& path) {
  int status = 0;
  LineList* lines = loadLineListAs(path.c_str(), LineSplit::keepEmpty, &status);
  FUZZ_CHECK(lines != nullptr && status == kLoadRead);
  FaceModel* copy = readDxfFaces(lines, "Terget", nullptr, 0);
  FUZZ_CHECK(copy != nullptr && copy->faceCount == targetModel->faceCount);
  for (int32_t f = 0; f < copy->faceCount; ++f) {
    const ModelFace& face = targetModel->faces[f];
    const char* layer = faceLayer(face);
    if (referenceModel && face.matchedFace >= 0) {
      FUZZ_CHECK(face.matchedFace < referenceModel->faceCount);
      layer = faceLayer(referenceModel->faces[face.matchedFace]);
    }
    FUZZ_CHECK(std::strcmp(faceLayer(copy->faces[f]), *layer ? layer : "Obj1") == 0);
  }
  releaseModel(copy);
  freeLineList(lines);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzSetUp();
  const char* text = reinterpret_cast<const char*>(data);
  uint64_t hash = fuzzHash(data, size);
  std::string input(text, size);
  size_t separator = input.find("\n====\n");
  std::string referenceBytes = separator == std::string::npos ? input : input.substr(0, separator);
  std::string targetBytes = separator == std::string::npos ? input : input.substr(separator + 6);
  const std::string folder = fuzzFolder();
  std::string reference = folder + "/reference.dxf", target = folder + "/target.dxf";
  std::string output = folder + "/output.dxf";
  writeWholeFile(reference, referenceBytes.data(), referenceBytes.size());
  writeWholeFile(target, targetBytes.data(), targetBytes.size());
  std::remove(output.c_str());
  const char* referencePath = (hash & 15) == 0 ? "No Use" : reference.c_str();

  useDefaultSettings();
  textureRotation = static_cast<int32_t>((hash >> 4) % 5);
  long before = gliveBlocks();
  FuzzDialog dialog;
  long start = gallocationCount();
  int result = runMatching(&dialog.port, referencePath, target.c_str());
  checkEnding(dialog, result);
  std::string written = "(none)";
  if (result) {
    FUZZ_CHECK(targetModel && targetModel->partCount > 0);
    MatchTally tally = tallyMatches(referenceModel, targetModel);
    FUZZ_CHECK(tally.coincident >= 0 && tally.byTests >= 0 && tally.byPropagation >= 0);
    FUZZ_CHECK(tally.coincident + tally.byTests + tally.byPropagation + tally.unmatched ==
               targetModel->faceCount);
    FUZZ_CHECK(saveTargetDxf(output.c_str()) == 1);
    checkWritten(output);
    written = fileBytes(output);
  }
  long used = gallocationCount() - start;
  const std::vector<std::string> undisturbed = dialog.lines;
  releaseRunData();
  FUZZ_CHECK(gliveBlocks() == before);

  // The same run and save with one allocation failing.
  gfailAllocationAfter(1 + static_cast<long>((hash >> 12) % static_cast<uint64_t>(used + 1)));
  result = runMatching(&dialog.port, referencePath, target.c_str());
  checkEnding(dialog, result);
  bool referenceLost =
      dialog.lines.size() > 1 && dialog.lines[1] == "Syntax Error : Reference DXF. continue...";
  if (result && !referenceLost) FUZZ_CHECK(dialog.lines == undisturbed);
  if (result) {
    // A failed save leaves the file of the first run as it was.
    if (!saveTargetDxf(output.c_str())) FUZZ_CHECK(fileBytes(output) == written);
  }
  gfailAllocationAfter(0);
  releaseRunData();
  FUZZ_CHECK(gliveBlocks() == before);
  return 0;
}
