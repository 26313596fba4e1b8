#pragma once
// What the renderer draws: point positions and each face's corners, and nothing else of a
// model. A run's kept result holds its models in this form; a face model gives one by copy.
#include <cstdint>

struct FaceModel;

// Plain record, valid when zero-filled (nothing to draw). Owns its arrays.
struct RenderMesh {
  int32_t pointCount;
  double* points;  // x, y, z of each point, exactly as read
  int32_t faceCount;
  int32_t* corners;  // four point indices a face, in drawing order; -1 fourth: a triangle
};

// Corners face `f` of `mesh` has: 3 or 4.
inline int32_t meshFaceCorners(const RenderMesh& mesh, int32_t f) {
  return mesh.corners[4 * f + 3] < 0 ? 3 : 4;
}

// Fills `mesh` (releasing what it held) with the points and face corners of `model`. Returns 1,
// or 0 when memory failed (the mesh is then empty).
int meshOfModel(const FaceModel& model, RenderMesh* mesh) noexcept;
// Releases the mesh's arrays and zeroes it; null does nothing.
void releaseRenderMesh(RenderMesh* mesh) noexcept;
