// The mesh forms of the DXF reader: POLYLINE polyface and polygon meshes, MESH entities.
#include <cstdlib>

#include "model/dxfEntities.h"
#include "textfiles/allocator.h"

namespace {

constexpr int32_t kPolyfaceMesh = 64;  // POLYLINE 70: a polyface mesh
constexpr int32_t kPolygonMesh = 16;   // POLYLINE 70: a polygon mesh of M x N vertices
constexpr int32_t kClosedM = 1;        // POLYLINE 70: the mesh closes in its M direction
constexpr int32_t kClosedN = 32;       // POLYLINE 70: ... and in its N direction
constexpr int32_t kFaceRecord = 128;   // VERTEX 70 with bit 64 clear: a polyface face record
constexpr int32_t kMeshVertex = 64;    // VERTEX 70: a mesh's vertex
constexpr int32_t kControlPoint = 16;  // VERTEX 70: a spline frame control point

// Makes room for one more entry of a growing scratch array. False when memory failed.
template <typename T>
bool roomForOne(T** array, int32_t* count, int32_t* capacity) {
  if (*count < *capacity) return true;
  if (*capacity >= INT32_MAX / 2) return gcalloc(~size_t{0}) != nullptr;  // refused, reported
  int32_t grown = *capacity ? *capacity * 2 : 64;
  auto* larger = static_cast<T*>(gcrealloc(*array, sizeof(T) * static_cast<size_t>(grown)));
  if (!larger) return false;
  *array = larger;
  *capacity = grown;
  return true;
}

bool appendPoint(MeshScratch* s, const Vec3& p) {
  if (!roomForOne(&s->points, &s->pointCount, &s->pointCapacity)) return false;
  s->points[s->pointCount++] = p;
  return true;
}

// The face record's corners as positions: 3 or 4 of them (the fourth a copy of the third for
// three), 0 when the record names fewer than three, -1 when it names a vertex that is not
// there (`*missing` tells which).
int recordCorners(const DxfVertexRecord& record, const MeshScratch& s, Vec3 corners[4],
                  int32_t* missing) {
  int n = 0;
  for (int k = 0; k < 4 && (record.seen >> (4 + k) & 1) && record.corners[k] != 0; ++k) {
    int64_t index = std::llabs(static_cast<int64_t>(record.corners[k]));  // the sign hides an edge
    if (index > s.pointCount) return *missing = static_cast<int32_t>(index), -1;
    corners[n++] = s.points[index - 1];
  }
  if (n < 3) return 0;
  if (n == 3) corners[3] = corners[2];
  return n;
}

bool finishPolyface(PolylineGroups* polyline, DxfReader* reader, const Where& where) {
  const MeshScratch& s = reader->scratch;
  for (int32_t r = 0; r < s.recordCount; ++r) {
    const DxfVertexRecord& record = s.records[r];
    Vec3 corners[4];
    int32_t missing = 0;
    int n = recordCorners(record, s, corners, &missing);
    if (n < 0) {
      reader->report->lostFaces++;
      if (!noteEntity(reader, "POLYLINE", polyline->header.handle,
                      "face record %.*s names vertex %d of %d: the face is left out",
                      static_cast<int>(record.handle.length < 32 ? record.handle.length : 32),
                      record.handle.text ? record.handle.text : "", missing, s.pointCount))
        return false;
      continue;
    }
    DxfLine layer = (record.seen >> 8 & 1) ? record.layer : polyline->header.layer;
    if (n > 0 && !emitFace(reader, where, layer, corners, kFormPolyface, {record.start, 0}))
      return false;
  }
  return true;
}

bool finishPolygonMesh(PolylineGroups* polyline, DxfReader* reader, const Where& where) {
  const MeshScratch& s = reader->scratch;
  const DxfVertexRecord& h = polyline->header;
  const int64_t m = h.corners[0], n = h.corners[1];
  if (m < 2 || n < 2 || m * n != s.pointCount) {
    reader->report->lostFaces += s.pointCount > 1 ? s.pointCount - 1 : 1;
    return noteEntity(reader, "POLYLINE", h.handle,
                      "a %lld x %lld polygon mesh of %d vertices: left out",
                      static_cast<long long>(m), static_cast<long long>(n), s.pointCount);
  }
  const int64_t rows = (h.flags & kClosedM) ? m : m - 1, columns = (h.flags & kClosedN) ? n : n - 1;
  for (int64_t i = 0; i < rows; ++i) {
    for (int64_t j = 0; j < columns; ++j) {
      const int64_t i1 = (i + 1) % m, j1 = (j + 1) % n;
      const Vec3 corners[4] = {s.points[i * n + j], s.points[i * n + j1], s.points[i1 * n + j1],
                               s.points[i1 * n + j]};
      const DxfOrigin origin = {h.start, static_cast<int32_t>(i * columns + j)};
      if (!emitFace(reader, where, h.layer, corners, kFormPolygonMesh, origin)) return false;
    }
  }
  return true;
}

// Emits MESH face `face` of `k` vertex indices as one face, or as a fan when larger.
bool emitMeshFace(DxfReader* reader, const Where& where, DxfLine layer, const int32_t* face,
                  int32_t k, DxfOrigin origin) {
  const Vec3* p = reader->scratch.points;
  for (int32_t i = 1; i + 1 < k; i += (k == 4 ? 2 : 1)) {
    Vec3 corners[4] = {p[face[0]], p[face[i]], p[face[i + 1]], p[face[i + 1]]};
    if (k == 4) corners[3] = p[face[3]];
    if (!emitFace(reader, where, layer, corners, kFormMesh, origin)) return false;
  }
  return true;
}

}  // namespace

void startPolyline(PolylineGroups* polyline, DxfReader* reader, size_t start) noexcept {
  *polyline = PolylineGroups{};
  polyline->header.start = start;
  reader->scratch.pointCount = 0;
  reader->scratch.recordCount = 0;
}

void takeVertexGroup(DxfVertexRecord* record, int32_t code, DxfLine value) noexcept {
  int bit = -1;
  if (code == 70) bit = 0;
  if (code == 10 || code == 20 || code == 30) bit = code / 10;
  if (code >= 71 && code <= 74) bit = 4 + code - 71;
  if (code == 8) bit = 8;
  if (code == 5) bit = 9;
  if (bit < 0 || (record->seen >> bit & 1)) return;
  record->seen |= 1u << bit;
  if (bit == 0) record->flags = lineInteger(value);
  if (bit == 1) record->position.x = lineCoordinate(value);
  if (bit == 2) record->position.y = lineCoordinate(value);
  if (bit == 3) record->position.z = lineCoordinate(value);
  if (bit >= 4 && bit <= 7) record->corners[bit - 4] = lineInteger(value);
  if (bit == 8) record->layer = skipLeadingBlanks(value);
  if (bit == 9) record->handle = trimmedLine(value);
}

bool finishVertex(PolylineGroups* polyline, DxfReader* reader) noexcept {
  if (!polyline->inVertex) return true;
  polyline->inVertex = false;
  const DxfVertexRecord& v = polyline->vertex;
  MeshScratch* s = &reader->scratch;
  const int32_t kind = polyline->header.flags;
  if (kind & kPolyfaceMesh) {
    if ((v.flags & kFaceRecord) && !(v.flags & kMeshVertex)) {
      if (!roomForOne(&s->records, &s->recordCount, &s->recordCapacity)) return false;
      s->records[s->recordCount++] = v;
      return true;
    }
    return appendPoint(s, v.position);
  }
  if ((kind & kPolygonMesh) && !(v.flags & kControlPoint)) return appendPoint(s, v.position);
  return true;
}

bool finishPolyline(PolylineGroups* polyline, DxfReader* reader, const Where& where) noexcept {
  if (!finishVertex(polyline, reader)) return false;
  const int32_t kind = polyline->header.flags;
  if (kind & kPolyfaceMesh) return finishPolyface(polyline, reader, where);
  if (kind & kPolygonMesh) return finishPolygonMesh(polyline, reader, where);
  return true;
}

void startMesh(MeshGroups* mesh, DxfReader* reader, size_t start) noexcept {
  *mesh = MeshGroups{};
  mesh->start = start;
  mesh->meshData = true;
  mesh->vertexTarget = -1;
  mesh->listTarget = -1;
  reader->scratch.pointCount = 0;
  reader->scratch.listCount = 0;
}

bool takeMeshGroup(MeshGroups* mesh, DxfReader* reader, int32_t code, DxfLine value) noexcept {
  MeshScratch* s = &reader->scratch;
  if (code == 100) mesh->meshData = lineIsName(value, "AcDbSubDMesh");
  if (code == 8 && !mesh->layerSeen) mesh->layerSeen = true, mesh->layer = skipLeadingBlanks(value);
  if (code == 5 && !mesh->handleSeen) mesh->handleSeen = true, mesh->handle = trimmedLine(value);
  if (!mesh->meshData) return true;
  if (code == 92 && mesh->vertexTarget < 0) mesh->vertexTarget = lineInteger(value);
  if (code == 93 && mesh->listTarget < 0) mesh->listTarget = lineInteger(value);
  const bool inVertices = mesh->vertexTarget >= 0 && mesh->listTarget < 0;
  if (inVertices && code == 10) {
    mesh->vertexOpen = s->pointCount < mesh->vertexTarget;
    if (mesh->vertexOpen) return appendPoint(s, {lineCoordinate(value), 0, 0});
  }
  if (inVertices && mesh->vertexOpen && (code == 20 || code == 30)) {
    double v = lineCoordinate(value);
    (code == 20 ? s->points[s->pointCount - 1].y : s->points[s->pointCount - 1].z) = v;
  }
  if (code == 90 && mesh->listTarget >= 0 && s->listCount < mesh->listTarget) {
    if (!roomForOne(&s->list, &s->listCount, &s->listCapacity)) return false;
    s->list[s->listCount++] = lineInteger(value);
  }
  return true;
}

bool finishMesh(MeshGroups* mesh, DxfReader* reader, const Where& where) noexcept {
  const MeshScratch& s = reader->scratch;
  DxfLine layer = mesh->layerSeen ? mesh->layer : DxfLine{};
  int32_t polygon = 0;
  for (int32_t i = 0; i < s.listCount; ++polygon) {
    const int32_t k = s.list[i];
    if (k < 3 || k > s.listCount - i - 1) {
      reader->report->lostFaces++;
      return noteEntity(reader, "MESH", mesh->handle,
                        "its face list breaks at entry %d: the rest is left out", i);
    }
    const int32_t* face = s.list + i + 1;
    bool broken = false;
    int32_t bad = 0;
    for (int32_t j = 0; j < k && !broken; ++j) {
      broken = face[j] < 0 || face[j] >= s.pointCount;
      bad = face[j];
    }
    i += k + 1;
    if (broken) {
      reader->report->lostFaces++;
      if (!noteEntity(reader, "MESH", mesh->handle,
                      "a face names vertex %d of %d: the face is left out", bad, s.pointCount))
        return false;
      continue;
    }
    if (!emitMeshFace(reader, where, layer, face, k, {mesh->start, polygon})) return false;
  }
  return true;
}
