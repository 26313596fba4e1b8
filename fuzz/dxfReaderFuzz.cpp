// The DXF reader on any text, split as a DXF file is (rotation from the input's hash, negative
// and beyond 3 included): a grouped model whose file from the writer reads back as as many
// faces, on the layers written, with the same comments; then the same read with one allocation
// failing gives no model (comments untouched) or a whole one. No leaks.
#include <cstring>

#include "fuzzSupport.h"
#include "model/dxfReader.h"
#include "model/faceModel.h"
#include "output/dxfWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzSetUp();
  const uint64_t hash = fuzzHash(data, size);
  const int rotation = static_cast<int>(hash % 7) - 1;
  const long before = gliveBlocks();
  LineList* lines = splitTextLines(reinterpret_cast<const char*>(data), size, LineSplit::keepEmpty);
  commentList = newLineList();
  const long start = gallocationCount();
  targetModel = readDxfFaces(lines, "Terget", commentList, rotation);
  const long used = gallocationCount() - start;
  FUZZ_CHECK(targetModel && (targetModel->faceCount > 0) == (targetModel->partCount > 0));
  LineList *written = buildTargetDxf(), *again = newLineList();  // read as its saved lines
  for (int32_t i = 0; i < written->count; ++i)  // saving drops empty lines: none may occur
    FUZZ_CHECK(*written->items[i]);
  FaceModel* copy = readDxfFaces(written, "Ref", again, 0);
  FUZZ_CHECK(copy->faceCount == targetModel->faceCount && again->count == commentList->count);
  for (int32_t f = 0; f < copy->faceCount; ++f) {
    const char* layer = faceLayer(targetModel->faces[f]);
    FUZZ_CHECK(!std::strcmp(faceLayer(copy->faces[f]), *layer ? layer : "Obj1"));
  }
  releaseModel(copy), freeLineList(again), freeLineList(written);
  again = newLineList();
  gfailAllocationAfter(1 + static_cast<long>((hash >> 8) % static_cast<uint64_t>(used + 1)));
  copy = readDxfFaces(lines, "Terget", again, rotation);
  gfailAllocationAfter(0);
  FUZZ_CHECK(again->count == (copy ? commentList->count : 0));
  releaseModel(copy), freeLineList(again), freeLineList(lines), releaseRunData();
  FUZZ_CHECK(gliveBlocks() == before);
  return 0;
}
