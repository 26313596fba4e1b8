// The output DXF written from a kept result, byte for byte as the face writer writes it from
// the run state: the section head, the comments, every target face under its written layer
// with four corners (a triangle repeats its third), the closing lines.
#include "output/dxfWriterInternal.h"
#include "output/keptResult.h"
#include "textfiles/fileBytes.h"
#include "textfiles/lineList.h"

namespace {

// The six lines of corner `corner` (0..3) at point `point`: "1k", x, "2k", y, "3k", z.
bool writeCorner(ByteSink* sink, const RenderMesh& mesh, int32_t point, int corner) {
  const double* values = mesh.points + 3 * size_t(point);
  char code[4] = {'1', static_cast<char>('0' + corner), '\r', '\n'};
  char text[kCoordinateTextSize + 2];
  for (int axis = 0; axis < 3; ++axis) {
    code[0] = static_cast<char>('1' + axis);
    size_t length = formatCoordinate(values[axis], text);
    text[length] = '\r';
    text[length + 1] = '\n';
    if (!sinkWrite(sink, code, 4) || !sinkWrite(sink, text, length + 2)) return false;
  }
  return true;
}

bool writeFace(ByteSink* sink, const KeptResult& kept, int32_t f) {
  const RenderMesh& mesh = kept.target;
  const int32_t* corners = mesh.corners + 4 * size_t(f);
  if (!sinkText(sink, "0\r\n3DFACE\r\n8\r\n") ||
      !sinkLine(sink, kept.layerNames[kept.outputLayer[f]]))
    return false;
  for (int k = 0; k < 4; ++k) {
    if (!writeCorner(sink, mesh, corners[k < meshFaceCorners(mesh, f) ? k : 2], k)) return false;
  }
  return true;
}

bool writeKeptDxf(ByteSink* sink, const void* context) {
  const auto& kept = *static_cast<const KeptResult*>(context);
  if (!sinkText(sink, "0\r\nSECTION\r\n2\r\nENTITIES\r\n")) return false;
  for (int32_t i = 0; kept.comments && i < kept.comments->count; ++i) {
    // An empty value line would not be written and would shift every later group.
    const char* text = kept.comments->items[i];
    if (!text || !*text) continue;
    if (!sinkText(sink, "999\r\n") || !sinkLine(sink, text)) return false;
  }
  for (int32_t f = 0; f < kept.target.faceCount; ++f) {
    if (!writeFace(sink, kept, f)) return false;
  }
  return sinkText(sink, "0\r\nENDSEC\r\n0\r\nEOF\r\n");
}

}  // namespace

int saveKeptResultDxf(const char* path, const KeptResult& kept) noexcept {
  if (!path || !kept.target.corners) return 0;
  return saveFileWith(path, writeKeptDxf, &kept);
}
