#include "model/dxfReader.h"

#include <cstring>

#include "model/dxfEntities.h"
#include "model/faceModel.h"
#include "model/partGrouping.h"
#include "textfiles/allocator.h"
#include "textfiles/fileBytes.h"
#include "textfiles/lineList.h"
#include "textfiles/platform.h"

namespace {

// Turns every face's corner order by `rotation` (0..3): entry j becomes old entry
// (j + rotation) mod cornerCount. sortedCorners are not touched.
void rotateCorners(FaceModel* model, int rotation) {
  for (int32_t f = 0; f < model->faceCount; ++f) {
    ModelFace& face = model->faces[f];
    int n = face.cornerCount;
    if (n < 1 || n > 4) continue;
    int32_t old[4];
    std::memcpy(old, face.corners, sizeof old);
    for (int j = 0; j < n; ++j)
      face.corners[j] = old[(j + rotation) % n];
  }
}

// Drops the comments appended after the first `keep` lines, so a failed read leaves the
// caller's list as it found it.
void dropCommentsAfter(LineList* comments, int32_t keep) {
  if (!comments) return;
  while (comments->count > keep) {
    --comments->count;
    gfree(comments->items[comments->count]);
    comments->items[comments->count] = nullptr;
  }
}

// Faces the file can hold at most: one per "3DFACE" in it, and never more than one per 40
// bytes (an entity takes at least 20 lines).
int32_t faceNamesIn(const char* bytes, size_t size) {
  size_t count = 0;
  const size_t most = size / 40 + 1;
  for (const char* at = bytes; count < most;) {
    const void* found = memmem(at, size - static_cast<size_t>(at - bytes), "3DFACE", 6);
    if (!found) break;
    ++count;
    at = static_cast<const char*>(found) + 6;
  }
  return count > INT32_MAX / 2 ? INT32_MAX / 2 : static_cast<int32_t>(count);
}

// How far ahead of the faces read the face array's pages are made present.
constexpr size_t kPrefaultAhead = size_t{16} << 20;

// Faces (counted as "3DFACE" in the file) from which the faces are added on a thread of their
// own while the text is read.
constexpr int32_t kFacesForFeed = 20000;

// How a read treats the bytes it reads.
enum class ReadMode {
  plain,       // left as they are
  dropRead,    // handed back to the system as they are read
  keepSource,  // kept for the model, with every face's origin
};

// Whether the bytes are a binary DXF file (its sentinel line).
bool isBinaryDxf(const char* bytes, size_t size) {
  static const char kSentinel[] = "AutoCAD Binary DXF";
  return size >= sizeof kSentinel - 1 && std::memcmp(bytes, kSentinel, sizeof kSentinel - 1) == 0;
}

// Starts the threads beside the walk over a file of `faces` faces: one making the face array's
// pages present (16 MiB ahead of the faces added, so that they do not add to the file's bytes
// still held), one the point index's (written all over from the first point: at once), and on
// a large file one adding the faces to the model and joining them into `joins` (not when the
// origins are kept: recording them reads the face array's room). False when memory failed.
bool startHelpers(DxfReader* reader, int32_t faces, PartJoins* joins) {
  if (faces <= 0) return true;
  FaceModel* model = reader->model;
  reader->prefault =
      startPrefault(model->faces, sizeof(ModelFace) * static_cast<size_t>(faces), kPrefaultAhead);
  const size_t indexBytes = sizeof(PointSlot) * static_cast<size_t>(model->pointIndexCapacity);
  reader->indexPrefault = startPrefault(model->pointIndex, indexBytes, indexBytes);
  if (faces < kFacesForFeed || reader->keepOrigins) return true;
  // The joins get room for the faces and points the model has room for.
  if (!reservePartJoins(joins, model->faceCapacity, model->pointIndexCapacity / 2 + 1))
    return false;
  bool noMemory = false;
  reader->feed = startFaceFeed(model, reader->prefault, joins, &noMemory);
  return !noMemory;
}

// Ends the threads startHelpers started, once every face handed over is added. False when
// adding them failed.
bool endHelpers(DxfReader* reader) {
  const bool ok = endFaceFeed(reader->feed);
  reader->feed = nullptr;
  endPrefault(reader->prefault);
  endPrefault(reader->indexPrefault);
  reader->prefault = reader->indexPrefault = nullptr;
  return ok;
}

// Reads every entity of the text into the model; with a thread adding the faces, they are
// joined into `joins` too. False when memory failed.
bool readEntities(char* bytes, size_t size, FaceModel* model, LineList* comments,
                  DxfReadReport* report, ReadMode mode, PartJoins* joins) {
  if (isBinaryDxf(bytes, size)) {
    report->binary = 1;
    return true;
  }
  int32_t faces = faceNamesIn(bytes, size);
  // Room for as many faces, and an index for as many points (a mesh has about one point per
  // face), so that neither grows while the text is read.
  if (faces > 0 && (!reserveFaces(model, faces) || !reservePointIndex(model, faces))) return false;
  DxfReader reader{};
  reader.bytes = bytes;
  reader.size = size;
  reader.model = model;
  reader.comments = comments;
  reader.report = report;
  reader.budget = kMostPlacedGroups;
  reader.dropRead = mode == ReadMode::dropRead;
  reader.keepOrigins = mode == ReadMode::keepSource;
  bool ok = startHelpers(&reader, faces, joins);
  reader.batch = reader.feed ? nextFeedBatch(reader.feed) : &reader.own;
  Where top{};
  top.placement = identityPlacement();
  ok = ok && walkEntities(&reader, {bytes, size, 0}, top, true) && flushFaces(&reader);
  ok = endHelpers(&reader) && ok;
  endDxfReader(&reader);
  return ok;
}

// readDxfBytes, the bytes handed back as they are read or kept with the faces' origins.
FaceModel* readText(char* bytes, size_t size, const char* source, LineList* comments, int rotation,
                    DxfReadReport* report, ReadMode mode) {
  DxfReadReport ignored{};
  if (!report) report = &ignored;
  FaceModel* model = createModel(source);
  if (!model) return nullptr;
  const int32_t commentsBefore = comments ? comments->count : 0;
  PartJoins joins{};
  bool ok = !bytes || size == 0 || readEntities(bytes, size, model, comments, report, mode, &joins);
  if (ok && model->faceCount > 0) {
    rotateCorners(model, rotation < 0 ? 0 : rotation % 4);
    ok = groupJoinedParts(model, &joins) && measureParts(model);
  }
  releasePartJoins(&joins);
  freeLineList(ignored.notes);
  if (!ok) {
    dropCommentsAfter(comments, commentsBefore);
    releaseModel(model);
    return nullptr;
  }
  return model;
}

}  // namespace

FaceModel* readDxfBytes(char* bytes, size_t size, const char* source, LineList* comments,
                        int rotation, DxfReadReport* report) noexcept {
  return readText(bytes, size, source, comments, rotation, report, ReadMode::plain);
}

FaceModel* readDxfFile(const char* path, const char* source, LineList* comments, int rotation,
                       int* status, DxfReadReport* report, int flags) noexcept {
  char* bytes = nullptr;
  size_t size = 0;
  *status = loadFileBytes(path, &bytes, &size);
  if (*status != kLoadRead) return nullptr;
  const bool keep = (flags & kDxfKeepSource) != 0;
  FaceModel* model = readText(bytes, size, source, comments, rotation, report,
                              keep ? ReadMode::keepSource : ReadMode::dropRead);
  if (model && keep) {
    model->sourceBytes = bytes;
    model->sourceSize = static_cast<int64_t>(size);
  } else {
    gfree(bytes);
  }
  return model;
}

FaceModel* readDxfFaces(const LineList* lines, const char* source, LineList* comments,
                        int rotation) noexcept {
  size_t size = 0;
  for (int32_t i = 0; lines && i < lines->count; ++i)
    size += std::strlen(lines->items[i]) + 1;
  auto* bytes = static_cast<char*>(gmalloc(size + 1));
  if (!bytes) return nullptr;
  char* at = bytes;
  for (int32_t i = 0; lines && i < lines->count; ++i) {
    size_t length = std::strlen(lines->items[i]);
    std::memcpy(at, lines->items[i], length);
    at[length] = '\n';
    at += length + 1;
  }
  *at = '\0';
  FaceModel* model = readDxfBytes(bytes, size, source, comments, rotation);
  gfree(bytes);
  return model;
}
