// The DXF reader's walk over entities: 3DFACE, the mesh forms (dxfMeshes.cpp), blocks and the
// INSERTs that place them.
#include "model/dxfEntities.h"

#include <cstdarg>
#include <cstdio>

#include "model/faceModel.h"
#include "textfiles/allocator.h"
#include "textfiles/fileBytes.h"
#include "textfiles/lineList.h"

namespace {

constexpr int32_t kCodeEntity = 0;
constexpr int32_t kCodeName = 2;
constexpr int32_t kCodeLayer = 8;
constexpr int32_t kCodeComment = 999;
constexpr size_t kDropStep = size_t{4} << 20;  // bytes read before pages are handed back

// Slot 0..11 of a corner coordinate group (10..13 x, 20..23 y, 30..33 z), -1 for any other code.
int coordinateSlot(int32_t code) {
  int axis = code / 10 - 1;
  int corner = code % 10;
  if (code < 10 || axis > 2 || corner > 3) return -1;
  return corner * 3 + axis;
}

// The groups of one 3DFACE gathered so far. The first occurrence of each group counts.
struct FaceGroups {
  DxfLine layer;  // value of the first group 8 after leading white space; in the file's bytes
  bool layerSeen;
  unsigned seenSlots;  // bit s set once coordinate slot s was read
  double values[12];   // x0 y0 z0 x1 ... z3; 0 where absent
};

constexpr unsigned kSlotX0 = 1u << 0;
constexpr unsigned kSlotsCorner3 = 7u << 9;

void takeFaceGroup(FaceGroups* face, int32_t code, DxfLine value) {
  if (code == kCodeLayer) {
    if (!face->layerSeen) {
      face->layerSeen = true;
      face->layer = skipLeadingBlanks(value);
    }
    return;
  }
  int slot = coordinateSlot(code);
  if (slot >= 0 && !(face->seenSlots & (1u << slot))) {
    face->seenSlots |= 1u << slot;
    face->values[slot] = lineCoordinate(value);
  }
}

// Adds the gathered face: dropped without a group 10; a face without any of 13, 23, 33 has
// its fourth corner copied from its third. False only when memory failed.
bool finishFace(DxfReader* reader, const Where& where, const FaceGroups& face, size_t start) {
  if (!(face.seenSlots & kSlotX0)) return true;
  Vec3 corners[4];
  for (int k = 0; k < 4; ++k) {
    corners[k] = {face.values[k * 3], face.values[k * 3 + 1], face.values[k * 3 + 2]};
  }
  if (!(face.seenSlots & kSlotsCorner3)) corners[3] = corners[2];
  return emitFace(reader, where, face.layer, corners, kForm3dFace, {start, 0});
}

// An INSERT being read: where it places which block, on which layer.
struct InsertState {
  size_t start;  // offset of its group 0
  InsertGroups groups;
  DxfLine name, layer, handle;
  unsigned seen;  // bit per group code taken (see takeInsertGroup)
};

void startInsert(InsertState* insert, size_t start) {
  *insert = InsertState{};
  insert->start = start;
  insert->groups.scale = {1, 1, 1};
  insert->groups.extrusion = {0, 0, 1};
  insert->groups.columns = 1;
  insert->groups.rows = 1;
}

void takeInsertGroup(InsertState* insert, int32_t code, DxfLine value) {
  static const int32_t kCodes[] = {2,  8,  5,  10, 20, 30,  41,  42, 43,
                                   50, 70, 71, 44, 45, 210, 220, 230};
  int bit = -1;
  for (int i = 0; i < static_cast<int>(sizeof kCodes / sizeof kCodes[0]); ++i)
    if (kCodes[i] == code) bit = i;
  if (bit < 0 || (insert->seen >> bit & 1)) return;
  insert->seen |= 1u << bit;
  InsertGroups& g = insert->groups;
  switch (code) {
    case 2:
      insert->name = value;
      return;
    case 8:
      insert->layer = skipLeadingBlanks(value);
      return;
    case 5:
      insert->handle = trimmedLine(value);
      return;
    case 70:
      g.columns = lineInteger(value);
      return;
    case 71:
      g.rows = lineInteger(value);
      return;
    default:
      break;
  }
  const double v = lineCoordinate(value);
  double* target[] = {&g.insertion.x, &g.insertion.y,   &g.insertion.z, &g.scale.x,
                      &g.scale.y,     &g.scale.z,       &g.rotation,    nullptr,
                      nullptr,        &g.columnSpacing, &g.rowSpacing,  &g.extrusion.x,
                      &g.extrusion.y, &g.extrusion.z};
  if (target[bit - 3]) *target[bit - 3] = v;
}

// Charges `cost` to the work blocks may do; false (with a note, once) when it is used up.
bool chargeBudget(DxfReader* reader, int64_t cost) {
  if (reader->budget <= 0) return false;
  reader->budget -= cost;
  if (reader->budget > 0) return true;
  reader->report->lostFaces++;
  noteEntity(reader, "INSERT", reader->placingHandle,
             "its blocks place more than the reader walks (%lld groups): the rest is left out",
             static_cast<long long>(kMostPlacedGroups));
  return false;
}

bool blockOnStack(const DxfReader* reader, int32_t block) {
  for (int32_t i = 0; i < reader->depth; ++i)
    if (reader->active[i] == block) return true;
  return false;
}

// Places the block the INSERT names, at every cell of its MINSERT grid.
bool finishInsert(DxfReader* reader, const Where& where, const InsertState& insert) {
  const int32_t block = findBlock(&reader->blocks, insert.name);
  const DxfLine name = trimmedLine(insert.name);
  const int nameLength = static_cast<int>(name.length < 64 ? name.length : 64);
  const char* nameText = name.text ? name.text : "";
  if (block < 0) {
    return noteEntity(reader, "INSERT", insert.handle, "block \"%.*s\" is not defined", nameLength,
                      nameText);
  }
  if (blockOnStack(reader, block) || reader->depth >= kMostNesting) {
    return noteEntity(reader, "INSERT", insert.handle,
                      "block \"%.*s\" inserts itself or is nested too deep: not placed again",
                      nameLength, nameText);
  }
  const InsertGroups& g = insert.groups;
  if (g.scale.x == 0 || g.scale.y == 0 || g.scale.z == 0) {
    if (!noteEntity(reader, "INSERT", insert.handle, "a zero scale: its faces are flat"))
      return false;
  }
  Where inner{};
  inner.inBlock = true;
  const bool ownLayer =
      insert.layer.text && !(insert.layer.length == 1 && *insert.layer.text == '0');
  inner.insertLayer = ownLayer || !where.inBlock ? insert.layer : where.insertLayer;
  const DxfBlock& def = reader->blocks.blocks[block];
  if (reader->depth == 0) reader->placingFrom = insert.start, reader->placingHandle = insert.handle;
  const int32_t rows = g.rows > 1 ? g.rows : 1, columns = g.columns > 1 ? g.columns : 1;
  reader->active[reader->depth++] = block;
  bool ok = true, more = true;  // `more`: the work left allows another cell
  for (int32_t r = 0; ok && more && r < rows; ++r) {
    for (int32_t c = 0; ok && more && c < columns; ++c) {
      more = chargeBudget(reader, 1);
      if (!more) break;
      inner.placement = insertPlacement(where.placement, g, def.base, c, r);
      ok = walkEntities(reader, {reader->bytes, def.end, def.start}, inner, false);
    }
  }
  --reader->depth;
  return ok;
}

bool isSolidName(DxfLine name) {
  static const char* const kSolids[] = {
      "3DSOLID",         "BODY",          "REGION",          "SURFACE",      "PLANESURFACE",
      "EXTRUDEDSURFACE", "LOFTEDSURFACE", "REVOLVEDSURFACE", "SWEPTSURFACE", "NURBSSURFACE"};
  for (const char* solid : kSolids)
    if (lineIsName(name, solid)) return true;
  return false;
}

// Appends a comment's text (after its leading white space) when it is not empty.
bool appendComment(LineList* comments, DxfLine value) {
  DxfLine text = skipLeadingBlanks(value);
  if (!comments || text.length == 0) return true;
  TerminatedLine terminated(text);
  return appendLine(comments, text.text) >= 0;
}

// With a feed: hands back the pages before the mark once the faces read before it are added
// (their layer names lie there), looking without waiting; then marks `offset` when it is a
// step further. False when memory failed.
bool dropFedPagesBefore(DxfReader* reader, size_t offset) {
  FaceFeed* feed = reader->feed;
  if (reader->dropMark > 0 && addedFeedBatches(feed) >= reader->dropBatches) {
    if (reader->dropMark > reader->dropped) {
      dropReadPages(reader->bytes, reader->dropped, reader->dropMark);
      reader->dropped = reader->dropMark;
    }
    reader->dropMark = 0;
  }
  if (reader->dropMark > 0 || offset < reader->dropped + kDropStep) return true;
  if (!flushFaces(reader)) return false;
  reader->dropMark = offset;
  reader->dropBatches = handedFeedBatches(feed);
  return true;
}

// Hands back the pages before `offset` every kDropStep bytes, once the faces whose layer names
// lie there are added. False when memory failed.
bool dropPagesBefore(DxfReader* reader, size_t offset) {
  if (!reader->dropRead) return true;
  if (reader->feed) return dropFedPagesBefore(reader, offset);
  if (offset < reader->dropped + kDropStep) return true;
  if (!flushFaces(reader)) return false;  // the faces read so far: their layer names lie there
  dropReadPages(reader->bytes, reader->dropped, offset);
  reader->dropped = offset;
  return true;
}

enum class Kind { none, face, polyline, mesh, insert, blockHeader };

// The walk's state between groups.
struct Walk {
  Kind kind;
  size_t start;  // offset of the group 0 of the entity being read
  FaceGroups face;
  PolylineGroups polyline;
  bool polylineOpen;
  MeshGroups mesh;
  InsertState insert;
  // Top level only.
  bool afterSection;  // the previous group was a group 0 "SECTION"
  bool inBlocks;      // between SECTION / 2 BLOCKS and the next ENDSEC
  bool recording;     // a block's entities are being passed
  DxfBlock block;     // the block being passed
  unsigned blockSeen;
};

// Ends the entity being read (a face, a vertex, a mesh, an insert is complete at the next
// group 0), and the open polyline unless `name` is one of its vertices.
bool finishEntity(DxfReader* reader, Walk* w, const Where& where, DxfLine name) {
  bool ok = true;
  switch (w->kind) {
    case Kind::face:
      ok = finishFace(reader, where, w->face, w->start);
      break;
    case Kind::mesh:
      ok = finishMesh(&w->mesh, reader, where);
      break;
    case Kind::insert:
      ok = finishInsert(reader, where, w->insert);
      break;
    case Kind::polyline:
      ok = finishVertex(&w->polyline, reader);
      break;
    default:
      break;
  }
  w->kind = Kind::none;
  if (ok && w->polylineOpen && !lineIsName(name, "VERTEX")) {
    w->polylineOpen = false;
    ok = finishPolyline(&w->polyline, reader, where);
  }
  return ok;
}

// Starts the entity named `name`, whose group 0 is at `start`.
void startEntity(DxfReader* reader, Walk* w, DxfLine name, size_t start) {
  w->start = start;
  if (lineStartsWith(name, "3DFACE")) {
    w->kind = Kind::face;
    w->face = FaceGroups{};
  } else if (w->polylineOpen && lineIsName(name, "VERTEX")) {
    w->kind = Kind::polyline;
    w->polyline.vertex = DxfVertexRecord{};
    w->polyline.vertex.start = start;
    w->polyline.inVertex = true;
  } else if (lineIsName(name, "POLYLINE")) {
    w->kind = Kind::polyline;
    w->polylineOpen = true;
    startPolyline(&w->polyline, reader, start);
  } else if (lineIsName(name, "MESH")) {
    w->kind = Kind::mesh;
    startMesh(&w->mesh, reader, start);
  } else if (lineIsName(name, "INSERT") || lineIsName(name, "MINSERT")) {
    w->kind = Kind::insert;
    startInsert(&w->insert, start);
  } else if (isSolidName(name)) {
    reader->report->solids++;
  }
}

// A group inside the BLOCKS section: block definitions are noted, nothing is read.
bool takeBlocksGroup(DxfReader* reader, Walk* w, const DxfGroup& group) {
  const DxfLine value = group.value;
  if (group.code != kCodeEntity) {
    if (w->kind != Kind::blockHeader) return true;
    int bit = group.code == kCodeName ? 0 : group.code / 10;  // 2; 10, 20, 30
    bool wanted =
        group.code == kCodeName || group.code == 10 || group.code == 20 || group.code == 30;
    if (!wanted || (w->blockSeen >> bit & 1)) return true;
    w->blockSeen |= 1u << bit;
    if (bit == 0) w->block.name = value;
    if (bit == 1) w->block.base.x = lineCoordinate(value);
    if (bit == 2) w->block.base.y = lineCoordinate(value);
    if (bit == 3) w->block.base.z = lineCoordinate(value);
    return true;
  }
  if (w->kind == Kind::blockHeader) {
    w->kind = Kind::none;
    w->recording = true;
    w->block.start = group.start;
  }
  const bool ends = lineIsName(value, "ENDSEC");
  if (w->recording && (ends || lineIsName(value, "ENDBLK") || lineIsName(value, "BLOCK"))) {
    w->recording = false;
    w->block.end = group.start;
    if (w->block.name.text && !addBlock(&reader->blocks, w->block)) return false;
  }
  if (ends) {
    w->inBlocks = false;
    if (reader->dropped < group.start) reader->dropped = group.start;  // blocks are kept
  } else if (lineIsName(value, "BLOCK")) {
    w->kind = Kind::blockHeader;
    w->block = DxfBlock{};
    w->blockSeen = 0;
  }
  return true;
}

bool takeGroup(DxfReader* reader, Walk* w, const Where& where, bool topLevel,
               const DxfGroup& group) {
  const int32_t code = group.code;
  const DxfLine value = group.value;
  if (topLevel && w->inBlocks) {
    if (code == kCodeEntity) w->afterSection = false;
    if (code == kCodeComment && !appendComment(reader->comments, value)) return false;
    return takeBlocksGroup(reader, w, group);
  }
  if (code == kCodeEntity) {
    if (!finishEntity(reader, w, where, value)) return false;
    if (topLevel) {
      w->afterSection = lineIsName(value, "SECTION");
      if (w->afterSection) return true;
      if (!w->polylineOpen && !dropPagesBefore(reader, group.start)) return false;
    }
    startEntity(reader, w, value, group.start);
    return true;
  }
  if (topLevel && w->afterSection) {
    w->afterSection = false;
    if (code == kCodeName && lineIsName(value, "BLOCKS")) w->inBlocks = true;
  }
  if (code == kCodeComment) return !topLevel || appendComment(reader->comments, value);
  switch (w->kind) {
    case Kind::face:
      takeFaceGroup(&w->face, code, value);
      break;
    case Kind::polyline:
      takeVertexGroup(w->polyline.inVertex ? &w->polyline.vertex : &w->polyline.header, code,
                      value);
      break;
    case Kind::mesh:
      return takeMeshGroup(&w->mesh, reader, code, value);
    case Kind::insert:
      takeInsertGroup(&w->insert, code, value);
      break;
    default:
      break;
  }
  return true;
}

// Records where face `face` of the model comes from. False when memory failed.
bool recordOrigin(DxfReader* reader, int32_t face, const FaceOrigin& origin) {
  FaceModel* model = reader->model;
  if (face >= model->originCapacity) {
    int32_t grown = model->faceCapacity > face ? model->faceCapacity : face + 1;
    auto* origins =
        static_cast<FaceOrigin*>(gcrealloc(model->origins, sizeof(FaceOrigin) * size_t(grown)));
    if (!origins) return false;
    model->origins = origins;
    model->originCapacity = grown;
  }
  model->origins[face] = origin;
  return true;
}

}  // namespace

bool emitFace(DxfReader* reader, const Where& where, DxfLine layer, const Vec3 corners[4],
              DxfForm form, DxfOrigin origin) noexcept {
  FaceOrigin kept = {static_cast<int64_t>(where.inBlock ? reader->placingFrom : origin.entity),
                     origin.item, 0};
  if (where.inBlock && where.insertLayer.text &&
      (!layer.text || (layer.length == 1 && *layer.text == '0'))) {
    layer = where.insertLayer;
    kept.insertLayer = 1;
  }
  if (reader->keepOrigins && !recordOrigin(reader, reader->emitted, kept)) return false;
  PendingFace& face = reader->batch->faces[reader->batch->count++];
  face.layer = layer;
  for (int k = 0; k < 4; ++k)
    face.corners[k] = placePoint(where.placement, corners[k]);
  ++reader->emitted;
  reader->report->faces[form]++;
  if (where.inBlock) reader->report->placedFaces++;
  return reader->batch->count < kFeedBatch || flushFaces(reader);
}

bool flushFaces(DxfReader* reader) noexcept {
  if (reader->batch->count == 0) return true;
  if (!reader->feed) {
    const bool ok = addFaceBatch(reader->model, reader->own, reader->prefault);
    reader->own.count = 0;
    return ok;
  }
  if (!handFeedBatch(reader->feed)) return false;
  reader->batch = nextFeedBatch(reader->feed);
  return reader->batch != nullptr;
}

bool noteEntity(DxfReader* reader, const char* entity, DxfLine handle, const char* format,
                ...) noexcept {
  DxfReadReport* report = reader->report;
  if (report->notes && report->notes->count >= kMostDxfNotes) {
    report->moreNotes++;
    return true;
  }
  if (!report->notes && !(report->notes = newLineList())) return false;
  char text[400];
  int n = std::snprintf(text, sizeof text, "%s%s%.*s: ", entity, handle.length ? " " : "",
                        static_cast<int>(handle.length < 32 ? handle.length : 32),
                        handle.text ? handle.text : "");
  va_list args;
  va_start(args, format);
  if (n > 0 && n < static_cast<int>(sizeof text))
    std::vsnprintf(text + n, sizeof text - static_cast<size_t>(n), format, args);
  va_end(args);
  return appendLine(report->notes, text) >= 0;
}

bool walkEntities(DxfReader* reader, DxfCursor cursor, const Where& where, bool topLevel) noexcept {
  Walk w{};
  DxfGroup group;
  while (nextDxfGroup(&cursor, &group)) {
    if (!topLevel && !chargeBudget(reader, 1)) return true;
    if (!takeGroup(reader, &w, where, topLevel, group)) return false;
  }
  DxfLine none{};
  return finishEntity(reader, &w, where, none);
}

void endDxfReader(DxfReader* reader) noexcept {
  freeBlockTable(&reader->blocks);
  gfree(reader->scratch.points);
  gfree(reader->scratch.records);
  gfree(reader->scratch.list);
  reader->scratch = MeshScratch{};
}
