#include "model/partGrouping.h"

#include <cstddef>
#include <cstdint>

#include "model/faceModel.h"
#include "textfiles/allocator.h"
#include "textfiles/scopedBlocks.h"

namespace {

// Corners of a face that count: three for a three-corner face, else four.
int32_t usedCorners(const ModelFace& face) noexcept {
  return face.cornerCount == 3 ? 3 : 4;
}

bool validPoint(const FaceModel* model, int32_t index) noexcept {
  return index >= 0 && index < model->pointCount;
}

// Union-find over faces during grouping, with the parent of each face in `parents` (a compact
// array: the face records are large). A set's root is always its lowest face index, so every
// parent is at most its child.
int32_t findRoot(int32_t* parents, int32_t face) noexcept {
  while (parents[face] != face) {
    parents[face] = parents[parents[face]];  // path halving keeps parents lower
    face = parents[face];
  }
  return face;
}

void joinFaces(int32_t* parents, int32_t a, int32_t b) noexcept {
  int32_t rootA = findRoot(parents, a);
  int32_t rootB = findRoot(parents, b);
  if (rootA < rootB) {
    parents[rootB] = rootA;
  } else if (rootB < rootA) {
    parents[rootA] = rootB;
  }
}

// Position of a point relative to its part's centre; (0, 0, 0) for an index out of range.
Vec3 relativeCorner(const FaceModel* model, int32_t index) noexcept {
  if (!validPoint(model, index)) return {0.0, 0.0, 0.0};
  return relativePosition(model->points[index]);
}

void releaseParts(FaceModel* model) noexcept {
  if (!model->parts) return;
  for (int32_t i = 0; i < model->partCount; ++i)
    gfree(model->parts[i].faces);
  gfree(model->parts);
  model->parts = nullptr;
}

// Starts loading the points of face `f`: faces name points all over the model.
void prefetchCorners(const FaceModel* model, int32_t f) noexcept {
  if (f >= model->faceCount) return;
  const ModelFace& face = model->faces[f];
  for (int32_t c = 0; c < cornersOf(face); ++c)
    if (validPoint(model, face.corners[c])) __builtin_prefetch(model->points + face.corners[c]);
}

// Each part's centre (the mean of its points), its points' offsets from it and its radiusSum.
// Every part's sums run over its points in ascending index order, so one pass over all points
// adds them in the order a pass over each part's points would. `pointCounts`: per part.
void measurePoints(FaceModel* model, const int32_t* pointCounts) noexcept {
  ModelPart* parts = model->parts;
  const int32_t partCount = model->partCount;
  for (int32_t i = 0; i < model->pointCount; ++i) {
    const ModelPoint& p = model->points[i];
    if (p.part < 1 || p.part > partCount) continue;
    Vec3& sum = parts[p.part - 1].centre;
    sum.x += p.x;
    sum.y += p.y;
    sum.z += p.z;
  }
  for (int32_t i = 0; i < partCount; ++i) {
    const double count = pointCounts[i];
    Vec3& centre = parts[i].centre;
    centre = {centre.x / count, centre.y / count, centre.z / count};
  }
  for (int32_t i = 0; i < model->pointCount; ++i) {
    ModelPoint& p = model->points[i];
    if (p.part < 1 || p.part > partCount) continue;
    ModelPart& part = parts[p.part - 1];
    p.relX = p.x - part.centre.x;
    p.relY = p.y - part.centre.y;
    p.relZ = p.z - part.centre.z;
    part.radiusSum += vectorLength(relativePosition(p));
  }
}

// The scale divisor of a part: mean radius per face, 1 for a part whose points all coincide.
double scaleDivisor(const ModelPart& part) noexcept {
  const double divisor = part.radiusSum / part.faceCount;
  return divisor == 0.0 ? 1.0 : divisor;
}

// Each face's perimeter, centre, normal and scaled centre, and each part's size: its faces'
// perimeters summed in ascending face order (as the pass over all faces adds them) over its
// scale divisor.
void measureFaces(FaceModel* model) noexcept {
  constexpr int32_t kLookahead = 8;
  const int32_t partCount = model->partCount;
  for (int32_t f = 0; f < model->faceCount; ++f) {
    prefetchCorners(model, f + kLookahead);
    ModelFace& face = model->faces[f];
    if (face.part < 1 || face.part > partCount) continue;
    ModelPart& part = model->parts[face.part - 1];
    int32_t n = usedCorners(face);
    Vec3 b[4];
    for (int32_t c = 0; c < n; ++c)
      b[c] = relativeCorner(model, face.corners[c]);
    double perimeter = 0.0;
    double centreX = 0.0, centreY = 0.0, centreZ = 0.0;
    for (int32_t c = 0; c < n; ++c) {
      perimeter += distance(b[c], b[(c + 1) % n]);
      centreX += b[c].x;
      centreY += b[c].y;
      centreZ += b[c].z;
    }
    if (n == 3) perimeter *= 0.5;
    double corners = n;
    face.perimeter = perimeter;
    face.centre = {centreX / corners, centreY / corners, centreZ / corners};
    face.normal = normalizeSnapped(cross(b[1] - b[0], b[2] - b[0]));
    part.size += perimeter;  // the sum; divided below
    const double divisor = scaleDivisor(part);
    face.scaledCentre = {face.centre.x / divisor, face.centre.y / divisor, face.centre.z / divisor};
  }
  for (int32_t i = 0; i < partCount; ++i)
    model->parts[i].size /= scaleDivisor(model->parts[i]);
}

// Room for `wanted` entries in `*array` (of `*room`): exactly that many at first (new entries
// zero-filled when `zeroed`), a quarter more each time it grows. False when memory failed.
bool ensureRoom(int32_t** array, int32_t* room, int32_t wanted, bool zeroed) noexcept {
  if (*array && wanted <= *room) return true;
  int64_t give = *array ? int64_t{wanted} + wanted / 4 : wanted;
  if (give > INT32_MAX) give = INT32_MAX;
  const size_t bytes = sizeof(int32_t) * static_cast<size_t>(give > 0 ? give : 1);
  void* grown = *array ? gcrealloc(*array, bytes) : zeroed ? gcalloc(bytes) : gmalloc(bytes);
  if (!grown) return false;
  *array = static_cast<int32_t*>(grown);
  *room = static_cast<int32_t>(give);
  return true;
}

}  // namespace

int reservePartJoins(PartJoins* joins, int32_t faces, int32_t points) noexcept {
  return ensureRoom(&joins->parents, &joins->faceRoom, faces, false) &&
         ensureRoom(&joins->firstFace, &joins->pointRoom, points, true);
}

int joinAddedFaces(PartJoins* joins, const FaceModel* model) noexcept {
  const int32_t faceCount = model->faceCount;
  if (!ensureRoom(&joins->parents, &joins->faceRoom, faceCount, false) ||
      !ensureRoom(&joins->firstFace, &joins->pointRoom, model->pointCount + 1, true))
    return 0;
  // Join each face with the first face met at each of its points (`firstFace`: that face + 1,
  // 0 while the point was not met).
  int32_t* parents = joins->parents;
  int32_t* firstFace = joins->firstFace;
  for (int32_t f = joins->joinedFaces; f < faceCount; ++f) {
    parents[f] = f;
    const ModelFace& face = model->faces[f];
    int32_t n = usedCorners(face);
    for (int32_t c = 0; c < n; ++c) {
      int32_t index = face.corners[c];
      if (!validPoint(model, index)) continue;
      if (firstFace[index] == 0) {
        firstFace[index] = f + 1;
      } else {
        joinFaces(parents, firstFace[index] - 1, f);
      }
    }
  }
  joins->joinedFaces = faceCount;
  return 1;
}

void releasePartJoins(PartJoins* joins) noexcept {
  gfree(joins->parents);
  gfree(joins->firstFace);
  *joins = PartJoins{};
}

int groupJoinedParts(FaceModel* model, PartJoins* joins) noexcept {
  if (!model) return 1;
  int32_t faceCount = model->faceCount;
  ModelFace* faces = model->faces;
  for (int32_t i = 0; i < model->pointCount; ++i)
    model->points[i].part = 0;
  if (faceCount <= 0 || !faces) {
    model->partCount = 0;
    releasePartJoins(joins);
    return 1;
  }
  if (!joinAddedFaces(joins, model)) {
    releasePartJoins(joins);
    return 0;
  }

  // Number the sets in order of their lowest face. A face's parent is lower than the face,
  // so it already carries its number when the face is reached; a root starts a new part.
  int32_t* parents = joins->parents;
  const int32_t* firstFace = joins->firstFace;
  int32_t partCount = 0;
  for (int32_t f = 0; f < faceCount; ++f) {
    int32_t parent = parents[f];
    parents[f] = parent == f ? ++partCount : parents[parent];
    faces[f].part = parents[f];
  }
  for (int32_t i = 0; i < model->pointCount; ++i) {
    if (firstFace[i] > 0) model->points[i].part = parents[firstFace[i] - 1];
  }
  model->partCount = partCount;
  releasePartJoins(joins);
  return 1;
}

int groupParts(FaceModel* model) noexcept {
  PartJoins joins{};
  return groupJoinedParts(model, &joins);
}

int measureParts(FaceModel* model) noexcept {
  if (!model) return 0;
  releaseParts(model);
  model->meanSize = 0.0;
  int32_t partCount = model->partCount;
  if (partCount <= 0 || model->faceCount <= 0) return 1;

  // Points per part.
  ScopedBlocks work;
  auto* pointCounts = work.zeroed<int32_t>(static_cast<size_t>(partCount));
  if (!pointCounts) return 0;
  auto* parts =
      static_cast<ModelPart*>(gcalloc(sizeof(ModelPart) * static_cast<size_t>(partCount)));
  if (!parts) return 0;
  model->parts = parts;

  for (int32_t f = 0; f < model->faceCount; ++f) {
    int32_t p = model->faces[f].part;
    if (p >= 1 && p <= partCount) ++parts[p - 1].faceCount;
  }
  for (int32_t i = 0; i < partCount; ++i) {
    ModelPart& part = parts[i];
    part.number = i + 1;
    part.coincidentPart = -1;
    part.matchedPart = -1;
    part.faces =
        static_cast<int32_t*>(gmalloc(sizeof(int32_t) * static_cast<size_t>(part.faceCount)));
    if (!part.faces) {
      releaseParts(model);
      return 0;
    }
    part.faceCount = 0;  // refilled below as the fill position
  }
  for (int32_t f = 0; f < model->faceCount; ++f) {
    ModelFace& face = model->faces[f];
    if (face.part < 1 || face.part > partCount) continue;
    ModelPart& part = parts[face.part - 1];
    face.partSlot = part.faceCount;
    part.faces[part.faceCount++] = f;
  }

  for (int32_t i = 0; i < model->pointCount; ++i) {
    int32_t p = model->points[i].part;
    if (p >= 1 && p <= partCount) ++pointCounts[p - 1];
  }
  measurePoints(model, pointCounts);
  measureFaces(model);
  double radiusTotal = 0.0;
  for (int32_t i = 0; i < partCount; ++i)
    radiusTotal += parts[i].radiusSum;
  model->meanSize = radiusTotal / model->faceCount;
  return 1;
}
