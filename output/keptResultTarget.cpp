// The target written back whole from a kept result: its file read again, checked against the
// faces the result holds, and written as right after the run.
#include <cerrno>
#include <cstring>

#include "model/dxfReader.h"
#include "model/faceModel.h"
#include "output/keepTarget.h"
#include "output/keptResult.h"

namespace {

// Whether `model` has the faces of `mesh`: the same corners at the same positions, bit for bit.
bool sameFaces(const FaceModel& model, const RenderMesh& mesh) {
  if (model.faceCount != mesh.faceCount) return false;
  for (int32_t f = 0; f < model.faceCount; ++f) {
    const ModelFace& face = model.faces[f];
    if (cornersOf(face) != meshFaceCorners(mesh, f)) return false;
    for (int32_t k = 0; k < cornersOf(face); ++k) {
      const ModelPoint& p = model.points[face.corners[k]];
      const double position[3] = {p.x, p.y, p.z};
      const double* kept = mesh.points + 3 * size_t(mesh.corners[4 * size_t(f) + k]);
      if (std::memcmp(position, kept, sizeof position) != 0) return false;
    }
  }
  return true;
}

}  // namespace

KeptTargetSummary saveKeptResultTarget(const char* path, const char* targetPath,
                                       const char* referencePath, const KeptResult& kept) noexcept {
  if (!path || !targetPath || !kept.keptMatch || targetModel || referenceModel) return {};
  int status = 0;
  FaceModel* target =
      readDxfFile(targetPath, "Terget", nullptr, kept.rotation, &status, nullptr, kDxfKeepSource);
  if (!target || !sameFaces(*target, kept.target)) {
    releaseModel(target);
    errno = ESTALE;  // the file is no longer the one the run read
    return {};
  }
  for (int32_t f = 0; f < target->faceCount; ++f)
    target->faces[f].matchedFace = kept.keptMatch[f];
  // The writer reads the run state: lent the file's model and the reference's layers.
  targetModel = target, referenceModel = kept.layers;
  KeptTargetSummary summary = saveKeptTarget(path, referencePath);
  targetModel = referenceModel = nullptr;
  releaseModel(target);
  return summary;
}
