#include "reference/plainPairing.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "model/faceModel.h"

// Points: a target point takes the first reference point within 0.001 on every axis; that
// point keeps the last target point that took it. Faces: a target face whose corners all have
// partners takes the first reference face whose sorted corners begin its sorted partners (a
// triangle's fourth entry matches nothing). Parts: a target part is anchored to the reference
// part of its first paired face once a second paired face lies in that same part.
void plainPairCoincidentGeometry(FaceModel* ref, FaceModel* tgt) {
  for (int i = 0; i < ref->pointCount; ++i)
    ref->points[i].partner = -1;
  for (int k = 0; k < ref->faceCount; ++k)
    ref->faces[k].partnerFace = -1;
  for (int j = 0; j < tgt->pointCount; ++j) {
    ModelPoint& t = tgt->points[j];
    t.partner = -1;
    for (int i = 0; i < ref->pointCount && t.partner < 0; ++i) {
      const ModelPoint& r = ref->points[i];
      if (std::fabs(t.x - r.x) < 0.001 && std::fabs(t.y - r.y) < 0.001 &&
          std::fabs(t.z - r.z) < 0.001)
        t.partner = i, ref->points[i].partner = j;
    }
  }
  for (int j = 0; j < tgt->faceCount; ++j) {
    ModelFace& t = tgt->faces[j];
    std::vector<int> list = {0, 0, 0, -2};
    const int corners = std::min(t.cornerCount, 4);
    for (int c = 0; c < corners; ++c)
      list[c] = tgt->points[t.corners[c]].partner;
    std::sort(list.begin(), list.begin() + corners);  // a -1 (no partner) comes first
    t.partnerFace = -1;
    for (int k = 0; k < ref->faceCount && list[0] >= 0 && t.partnerFace < 0; ++k) {
      ModelFace& r = ref->faces[k];
      if (std::equal(list.begin(), list.begin() + r.cornerCount, r.sortedCorners))
        t.partnerFace = k, r.partnerFace = j;
    }
  }
  for (int q = 0; q < tgt->partCount; ++q) {
    ModelPart& part = tgt->parts[q];
    int first = 0;  // reference part number of the first paired face
    part.coincidentPart = -1;
    for (int s = 0; s < part.faceCount && part.coincidentPart < 0; ++s) {
      int partner = tgt->faces[part.faces[s]].partnerFace;
      int number = partner < 0 ? 0 : ref->faces[partner].part;
      if (first != 0 && number == first) part.coincidentPart = first - 1;
      if (first == 0) first = number;
    }
    part.matchedPart = part.coincidentPart;
  }
}
