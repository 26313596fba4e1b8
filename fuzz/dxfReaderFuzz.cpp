// The DXF reader on any bytes (rotation from the input's hash, negative and beyond 3 included):
// as many 3DFACE faces (unless blocks placed some or it is a binary DXF) and comments as the
// plain statement of tests/reference, the bytes unchanged;
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
  DxfReadReport report{};
  targetModel =
      readDxfBytes(bytes.data(), size, "Terget", commentList = newLineList(), rotation, &report);
  const long used = gallocationCount() - start;
  const PlainDxf expected = plainReadDxf(input);
  FUZZ_CHECK(bytes == input &&
             (report.binary || (expected.comments.size() == size_t(commentList->count) &&
                                (report.placedFaces > 0 ||
                                 expected.layers.size() == size_t(report.faces[kForm3dFace])))));
  freeLineList(report.notes);
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
