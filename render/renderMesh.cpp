#include "render/renderMesh.h"

#include "model/faceModel.h"
#include "textfiles/allocator.h"

int meshOfModel(const FaceModel& model, RenderMesh* mesh) noexcept {
  if (!mesh) return 0;
  releaseRenderMesh(mesh);
  mesh->points = static_cast<double*>(gmalloc(size_t(model.pointCount + 1) * 3 * sizeof(double)));
  mesh->corners = static_cast<int32_t*>(gmalloc(size_t(model.faceCount + 1) * 4 * sizeof(int32_t)));
  if (!mesh->points || !mesh->corners) {
    releaseRenderMesh(mesh);
    return 0;
  }
  for (int32_t i = 0; i < model.pointCount; ++i) {
    const ModelPoint& p = model.points[i];
    double* out = mesh->points + 3 * size_t(i);
    out[0] = p.x, out[1] = p.y, out[2] = p.z;
  }
  for (int32_t f = 0; f < model.faceCount; ++f) {
    const ModelFace& face = model.faces[f];
    int32_t* out = mesh->corners + 4 * size_t(f);
    // Fewer than three corners never occur; such a face would draw nothing either way.
    int32_t n = cornersOf(face);
    for (int32_t k = 0; k < 4; ++k)
      out[k] = k < n ? face.corners[k] : -1;
  }
  mesh->pointCount = model.pointCount;
  mesh->faceCount = model.faceCount;
  return 1;
}

void releaseRenderMesh(RenderMesh* mesh) noexcept {
  if (!mesh) return;
  gfree(mesh->points);
  gfree(mesh->corners);
  *mesh = RenderMesh{};
}
