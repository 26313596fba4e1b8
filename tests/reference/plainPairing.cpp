#include "reference/plainPairing.h"

#include <algorithm>
#include <cmath>

#include "model/faceModel.h"

namespace {

bool within(const ModelPoint& a, const ModelPoint& b) {
  return std::fabs(a.x - b.x) < 0.001 && std::fabs(a.y - b.y) < 0.001 &&
         std::fabs(a.z - b.z) < 0.001;
}

// A target point takes the first reference point within the tolerance; that point keeps the
// last target point that took it.
void pairPoints(FaceModel* reference, FaceModel* target) {
  for (int i = 0; i < reference->pointCount; ++i)
    reference->points[i].partner = -1;
  for (int j = 0; j < target->pointCount; ++j) {
    ModelPoint& t = target->points[j];
    t.partner = -1;
    for (int i = 0; i < reference->pointCount && t.partner < 0; ++i) {
      if (within(t, reference->points[i])) t.partner = i, reference->points[i].partner = j;
    }
  }
}

// A target face whose corners all have partners takes the first reference face whose sorted
// corners are the first of its sorted partners (a triangle's fourth entry matches nothing).
void pairFaces(FaceModel* reference, FaceModel* target) {
  for (int k = 0; k < reference->faceCount; ++k)
    reference->faces[k].partnerFace = -1;
  for (int j = 0; j < target->faceCount; ++j) {
    ModelFace& t = target->faces[j];
    int list[4] = {0, 0, 0, -2}, corners = std::min(t.cornerCount, 4);
    bool complete = true;
    for (int c = 0; c < corners; ++c)
      complete = (list[c] = target->points[t.corners[c]].partner) != -1 && complete;
    for (int a = 1; a < corners; ++a)  // ascending
      for (int b = a; b > 0 && list[b - 1] > list[b]; --b)
        std::swap(list[b - 1], list[b]);
    t.partnerFace = -1;
    for (int k = 0; k < reference->faceCount && complete && t.partnerFace < 0; ++k) {
      ModelFace& r = reference->faces[k];
      if (std::equal(list, list + r.cornerCount, r.sortedCorners)) {
        t.partnerFace = k, r.partnerFace = j;
      }
    }
  }
}

// A target part is anchored to the reference part of its first paired face once a second
// paired face lies in that same part.
void anchorParts(const FaceModel* reference, FaceModel* target) {
  for (int q = 0; q < target->partCount; ++q) {
    ModelPart& part = target->parts[q];
    int candidate = 0;
    part.coincidentPart = -1;
    for (int s = 0; s < part.faceCount && part.coincidentPart < 0; ++s) {
      int partner = target->faces[part.faces[s]].partnerFace;
      if (partner < 0) continue;
      int number = reference->faces[partner].part;
      if (candidate == 0) {
        candidate = number;
      } else if (number == candidate) {
        part.coincidentPart = candidate - 1;
      }
    }
    part.matchedPart = part.coincidentPart;
  }
}

}  // namespace

void plainPairCoincidentGeometry(FaceModel* reference, FaceModel* target) {
  pairPoints(reference, target);
  pairFaces(reference, target);
  anchorParts(reference, target);
}
