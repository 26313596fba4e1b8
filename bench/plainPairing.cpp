#include "bench/plainPairing.h"

#include <cmath>
#include <cstdint>

#include "model/faceModel.h"

namespace {

constexpr double kTolerance = 0.001;

void pairPoints(FaceModel* reference, FaceModel* target) {
  for (int32_t i = 0; i < reference->pointCount; ++i)
    reference->points[i].partner = -1;
  for (int32_t j = 0; j < target->pointCount; ++j) {
    ModelPoint& t = target->points[j];
    t.partner = -1;
    for (int32_t i = 0; i < reference->pointCount; ++i) {
      ModelPoint& r = reference->points[i];
      if (std::fabs(t.x - r.x) < kTolerance && std::fabs(t.y - r.y) < kTolerance &&
          std::fabs(t.z - r.z) < kTolerance) {
        t.partner = i;
        r.partner = j;
        break;
      }
    }
  }
}

void pairFaces(FaceModel* reference, FaceModel* target) {
  for (int32_t k = 0; k < reference->faceCount; ++k)
    reference->faces[k].partnerFace = -1;
  for (int32_t j = 0; j < target->faceCount; ++j) {
    ModelFace& t = target->faces[j];
    t.partnerFace = -1;
    int32_t list[4];
    list[3] = -2;
    bool complete = true;
    for (int32_t c = 0; c < t.cornerCount; ++c) {
      list[c] = target->points[t.corners[c]].partner;
      if (list[c] == -1) {
        complete = false;
        break;
      }
    }
    if (!complete) continue;
    for (int32_t a = 1; a < t.cornerCount; ++a) {  // insertion sort, ascending
      int32_t value = list[a], b = a;
      for (; b > 0 && list[b - 1] > value; --b)
        list[b] = list[b - 1];
      list[b] = value;
    }
    for (int32_t k = 0; k < reference->faceCount; ++k) {
      ModelFace& r = reference->faces[k];
      bool same = true;
      for (int32_t e = 0; e < r.cornerCount && same; ++e)
        same = r.sortedCorners[e] == list[e];
      if (same) {
        t.partnerFace = k;
        r.partnerFace = j;
        break;
      }
    }
  }
}

void anchorParts(const FaceModel* reference, FaceModel* target) {
  for (int32_t p = 0; p < target->partCount; ++p) {
    ModelPart& part = target->parts[p];
    int32_t candidate = 0, result = -1;
    for (int32_t i = 0; i < part.faceCount; ++i) {
      int32_t partner = target->faces[part.faces[i]].partnerFace;
      if (partner == -1) continue;
      int32_t number = reference->faces[partner].part;
      if (candidate == 0) {
        candidate = number;
      } else if (number == candidate) {
        result = candidate - 1;
        break;
      }
    }
    part.coincidentPart = result;
    part.matchedPart = result;
  }
}

}  // namespace

void plainPairCoincidentGeometry(FaceModel* reference, FaceModel* target) {
  pairPoints(reference, target);
  pairFaces(reference, target);
  anchorParts(reference, target);
}
