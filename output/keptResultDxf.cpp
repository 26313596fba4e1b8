// The output DXF written from a kept result, byte for byte as the face writer writes it from
// the run state: the section head, the comments, every target face under its written layer
// with four corners (a triangle repeats its third), the closing lines.
#include "output/dxfWriterInternal.h"
#include "output/keptResult.h"
#include "textfiles/fileBytes.h"
#include "textfiles/lineList.h"

namespace {

bool writeFace(ByteSink* sink, const KeptResult& kept, int32_t f) {
  const RenderMesh& mesh = kept.target;
  const int32_t* corners = mesh.corners + 4 * size_t(f);
  const double* positions[4];
  const int count = meshFaceCorners(mesh, f);
  for (int k = 0; k < count; ++k)
    positions[k] = mesh.points + 3 * size_t(corners[k]);
  return writeFaceEntity(sink, kept.layerNames[kept.outputLayer[f]], positions, count);
}

bool writeKeptDxf(ByteSink* sink, const void* context) {
  const auto& kept = *static_cast<const KeptResult*>(context);
  if (!writeEntitiesHead(sink, kept.comments)) return false;
  for (int32_t f = 0; f < kept.target.faceCount; ++f) {
    if (!writeFace(sink, kept, f)) return false;
  }
  return writeEntitiesEnd(sink);
}

}  // namespace

int saveKeptResultDxf(const char* path, const KeptResult& kept) noexcept {
  if (!path || !kept.target.corners) return 0;
  return saveFileWith(path, writeKeptDxf, &kept);
}
