// The DXF reader on any text, split as a DXF file is (rotation from the input's hash, negative
// and beyond 3 included): the writer's file of the model reads back as as many faces with the
// same comments; the same read with one allocation failing gives no
// model (comments untouched) or a whole one. No leaks.
#include "fuzzSupport.h"
#include "model/dxfReader.h"
#include "model/faceModel.h"
#include "output/dxfWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzSetUp();
  const uint64_t hash = fuzzHash(data, size), rotation = hash % 7 - 1;
  const long start = gallocationCount();
  LineList* lines = splitTextLines(reinterpret_cast<const char*>(data), size, LineSplit::keepEmpty);
  targetModel = readDxfFaces(lines, "Terget", commentList = newLineList(), rotation);
  const long used = gallocationCount() - start;
  LineList *written = buildTargetDxf(), *again = newLineList();
  FaceModel* copy = readDxfFaces(written, "Ref", again, 0);
  FUZZ_CHECK(copy->faceCount == targetModel->faceCount && again->count == commentList->count);
  releaseModel(copy), freeLineList(again), freeLineList(written), again = newLineList();
  gfailAllocationAfter(1 + static_cast<long>((hash >> 8) % static_cast<uint64_t>(used + 1)));
  copy = readDxfFaces(lines, "Terget", again, rotation);
  gfailAllocationAfter(0);
  FUZZ_CHECK(again->count == (copy ? commentList->count : 0));
  releaseModel(copy), freeLineList(again), freeLineList(lines), releaseRunData();
  return 0;
}
