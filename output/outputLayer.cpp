#include "output/outputLayer.h"

#include "model/faceModel.h"

const char* outputLayer(const ModelFace& face) noexcept {
  const ModelFace* source = &face;
  if (referenceModel && face.matchedFace >= 0 && face.matchedFace < referenceModel->faceCount) {
    source = &referenceModel->faces[face.matchedFace];
  }
  const char* layer = faceLayer(*source);
  return *layer ? layer : "Obj1";
}

const char* keptTargetLayer(const ModelFace& face) noexcept {
  if (referenceModel && face.matchedFace >= 0 && face.matchedFace < referenceModel->faceCount) {
    const char* layer = faceLayer(referenceModel->faces[face.matchedFace]);
    if (*layer) return layer;
  }
  return faceLayer(face);
}
