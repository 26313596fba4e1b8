// The DXF reader on any bytes (rotation from the input's hash, negative and beyond 3 included):
// the same faces and comments as the line-list reader of tests/reference, the bytes unchanged;
// the writer's file of the model reads back as as many faces with the same comments; the same
// read with one allocation failing gives no model (comments untouched) or a whole one. No leaks.
#include <string>

#include "fuzzSupport.h"
#include "model/dxfReader.h"
#include "model/faceModel.h"
#include "output/dxfWriter.h"
#include "tests/reference/lineDxfReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzSetUp();
  const uint64_t hash = fuzzHash(data, size), rotation = hash % 7 - 1;
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string bytes = input;
  const long start = gallocationCount();
  targetModel = readDxfBytes(bytes.data(), size, "Terget", commentList = newLineList(), rotation);
  const long used = gallocationCount() - start;
  LineList* lines = splitTextLines(input.data(), size, LineSplit::keepEmpty);
  LineList* expectedComments = newLineList();
  FaceModel* expected = readDxfLines(lines, "Terget", expectedComments, rotation);
  FUZZ_CHECK(bytes == input && expected->faceCount == targetModel->faceCount &&
             expected->pointCount == targetModel->pointCount &&
             expectedComments->count == commentList->count);
  releaseModel(expected), freeLineList(expectedComments), freeLineList(lines);
  LineList *written = buildTargetDxf(), *again = newLineList();
  FaceModel* copy = readDxfFaces(written, "Ref", again, 0);
  FUZZ_CHECK(copy->faceCount == targetModel->faceCount && again->count == commentList->count);
  releaseModel(copy), freeLineList(again), freeLineList(written), again = newLineList();
  gfailAllocationAfter(1 + static_cast<long>((hash >> 8) % static_cast<uint64_t>(used + 1)));
  copy = readDxfBytes(bytes.data(), size, "Terget", again, rotation);
  gfailAllocationAfter(0);
  FUZZ_CHECK(again->count == (copy ? commentList->count : 0));
  releaseModel(copy), freeLineList(again), releaseRunData();
  return 0;
}
