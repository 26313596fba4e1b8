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
