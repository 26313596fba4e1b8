#include "model/partGrouping.h"

#include <cstddef>
#include <cstdint>

#include "model/faceModel.h"
#include "textfiles/allocator.h"
#include "textfiles/scopedBlocks.h"
#include "textfiles/twoThreads.h"

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

// Starts loading the record of the part's face `record` and the points of its face `corners`
// (whose record is loaded by now): a part's faces lie all over the model's arrays.
void prefetchFace(const FaceModel* model, const ModelPart& part, int32_t record,
                  int32_t corners) noexcept {
  if (record < part.faceCount) __builtin_prefetch(model->faces + part.faces[record]);
  if (corners >= part.faceCount) return;
  const ModelFace& face = model->faces[part.faces[corners]];
  for (int32_t c = 0; c < cornersOf(face); ++c)
    if (validPoint(model, face.corners[c])) __builtin_prefetch(model->points + face.corners[c]);
}

// Per part: centre, point offsets, radiusSum, then the measures of its faces and its size.
// Sums run over points and faces in ascending index order. Returns the part's radiusSum.
double measurePart(FaceModel* model, ModelPart& part, const int32_t* points,
                   int32_t pointCount) noexcept {
  double sumX = 0.0, sumY = 0.0, sumZ = 0.0;
  for (int32_t i = 0; i < pointCount; ++i) {
    const ModelPoint& p = model->points[points[i]];
    sumX += p.x;
    sumY += p.y;
    sumZ += p.z;
  }
  double count = pointCount;
  part.centre = {sumX / count, sumY / count, sumZ / count};

  double radiusSum = 0.0;
  for (int32_t i = 0; i < pointCount; ++i) {
    ModelPoint& p = model->points[points[i]];
    p.relX = p.x - part.centre.x;
    p.relY = p.y - part.centre.y;
    p.relZ = p.z - part.centre.z;
    radiusSum += vectorLength(relativePosition(p));
  }
  part.radiusSum = radiusSum;

  double size = 0.0;
  for (int32_t k = 0; k < part.faceCount; ++k) {
    prefetchFace(model, part, k + 16, k + 8);
    ModelFace& face = model->faces[part.faces[k]];
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
    size += perimeter;
  }

  // The scale divisor: mean radius per face, 1 for a part whose points all coincide.
  double divisor = radiusSum / part.faceCount;
  if (divisor == 0.0) divisor = 1.0;
  part.size = size / divisor;
  for (int32_t k = 0; k < part.faceCount; ++k) {
    ModelFace& face = model->faces[part.faces[k]];
    face.scaledCentre = {face.centre.x / divisor, face.centre.y / divisor, face.centre.z / divisor};
  }
  return radiusSum;
}

constexpr int32_t kFacesForTwoThreads = 50000;

// Measuring parts [begin, end): the model, where each part's points end in `pointOrder`.
struct PartMeasuring {
  FaceModel* model;
  const int32_t* pointEnd;  // part i's points end at pointEnd[i], begin at pointEnd[i - 1] (or 0)
  const int32_t* pointOrder;
};

void measurePartRange(int begin, int end, void* context) noexcept {
  auto* job = static_cast<PartMeasuring*>(context);
  for (int32_t i = begin; i < end; ++i) {
    const int32_t first = i == 0 ? 0 : job->pointEnd[i - 1];
    measurePart(job->model, job->model->parts[i], job->pointOrder + first,
                job->pointEnd[i] - first);
  }
}

// The first part of the model's second half by faces.
int32_t halfOfTheFaces(const FaceModel* model) noexcept {
  int64_t faces = 0;
  for (int32_t i = 0; i < model->partCount; ++i) {
    if (2 * faces >= model->faceCount) return i;
    faces += model->parts[i].faceCount;
  }
  return model->partCount;
}

}  // namespace

int groupParts(FaceModel* model) noexcept {
  if (!model) return 1;
  int32_t faceCount = model->faceCount;
  ModelFace* faces = model->faces;
  for (int32_t i = 0; i < model->pointCount; ++i)
    model->points[i].part = 0;
  if (faceCount <= 0 || !faces) {
    model->partCount = 0;
    return 1;
  }

  // Join each face with the first face met at each of its points (`firstFace`: that face + 1,
  // 0 while the point was not met).
  ScopedBlocks work;
  auto* parents = work.raw<int32_t>(static_cast<size_t>(faceCount));
  auto* firstFace = work.zeroed<int32_t>(static_cast<size_t>(model->pointCount) + 1);
  if (!parents || !firstFace) return 0;
  for (int32_t f = 0; f < faceCount; ++f)
    parents[f] = f;
  for (int32_t f = 0; f < faceCount; ++f) {
    int32_t n = usedCorners(faces[f]);
    for (int32_t c = 0; c < n; ++c) {
      int32_t index = faces[f].corners[c];
      if (!validPoint(model, index)) continue;
      if (firstFace[index] == 0) {
        firstFace[index] = f + 1;
      } else {
        joinFaces(parents, firstFace[index] - 1, f);
      }
    }
  }

  // Number the sets in order of their lowest face. A face's parent is lower than the face,
  // so it already carries its number when the face is reached; a root starts a new part.
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
  return 1;
}

int measureParts(FaceModel* model) noexcept {
  if (!model) return 0;
  releaseParts(model);
  model->meanSize = 0.0;
  int32_t partCount = model->partCount;
  if (partCount <= 0 || model->faceCount <= 0) return 1;

  // Working arrays: the points bucketed by part (ascending within each part) and where each
  // part's bucket starts.
  ScopedBlocks work;
  auto* pointStart = work.zeroed<int32_t>(static_cast<size_t>(partCount) + 1);
  auto* pointOrder = work.raw<int32_t>(static_cast<size_t>(model->pointCount));
  if (!pointStart || !pointOrder) return 0;
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

  // Counting sort of the points by part; points outside every part (none after grouping)
  // are left out.
  for (int32_t i = 0; i < model->pointCount; ++i) {
    int32_t p = model->points[i].part;
    if (p >= 1 && p <= partCount) ++pointStart[p];
  }
  for (int32_t i = 0; i < partCount; ++i)
    pointStart[i + 1] += pointStart[i];
  for (int32_t i = 0; i < model->pointCount; ++i) {
    int32_t p = model->points[i].part;
    if (p >= 1 && p <= partCount) pointOrder[pointStart[p - 1]++] = i;
  }
  // Each start now holds the end of its bucket, which is the next bucket's start.

  // Parts touch only their own points and faces: a large model's parts are measured on two
  // threads, then their radius sums are added in part order as one thread would.
  PartMeasuring job = {model, pointStart, pointOrder};
  runInTwoRanges(measurePartRange,
                 model->faceCount < kFacesForTwoThreads ? partCount : halfOfTheFaces(model),
                 partCount, &job);
  double radiusTotal = 0.0;
  for (int32_t i = 0; i < partCount; ++i)
    radiusTotal += parts[i].radiusSum;
  model->meanSize = radiusTotal / model->faceCount;
  return 1;
}
