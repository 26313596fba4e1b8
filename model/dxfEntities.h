#pragma once
// Inside the DXF reader: the state of one read and the entity forms that give faces.
#include <cstddef>
#include <cstdint>

#include "model/dxfBlocks.h"
#include "model/dxfFaceFeed.h"
#include "model/dxfPlacement.h"
#include "model/dxfReader.h"
#include "model/dxfText.h"

struct FaceModel;
struct LineList;
struct PrefaultJob;

constexpr int32_t kMostNesting = 16;                      // blocks placed inside blocks, at most
constexpr int64_t kMostPlacedGroups = int64_t{48} << 20;  // groups all placements walk, at most

// A vertex of a POLYLINE or MESH, or a face record of a polyface mesh.
struct DxfVertexRecord {
  int32_t flags;       // group 70
  int32_t corners[4];  // groups 71..74 (face records)
  unsigned seen;       // bit per group taken: 0 70, 1..3 10/20/30, 4..7 71..74, 8 layer, 9 handle
  Vec3 position;       // 10/20/30
  DxfLine layer;       // group 8, in the file's bytes
  DxfLine handle;      // group 5
  size_t start;        // offset of its group 0
};

// Arrays the mesh forms fill while their entities are read; reused, released with the read.
struct MeshScratch {
  Vec3* points;
  int32_t pointCount, pointCapacity;
  DxfVertexRecord* records;
  int32_t recordCount, recordCapacity;
  int32_t* list;
  int32_t listCount, listCapacity;
};

// One read. Valid when zero-filled apart from the fields set by readDxfEntities.
struct DxfReader {
  char* bytes;
  size_t size;
  FaceModel* model;
  LineList* comments;  // the target's comment list, or null
  DxfReadReport* report;
  DxfBlockTable blocks;
  MeshScratch scratch;
  int32_t active[kMostNesting];  // blocks being placed, outermost first
  int32_t depth;
  int64_t budget;         // groups the placements of blocks may still walk
  bool failed;            // memory failed (reported)
  bool dropRead;          // hand the bytes read back to the system
  size_t dropped;         // bytes before this offset were handed back, or are kept (BLOCKS)
  size_t dropMark;        // with a feed, 0 or an offset: the bytes before it go back once the
  int64_t dropBatches;    // first dropBatches batches handed over are added
  bool keepOrigins;       // record every face's origin in the model
  size_t placingFrom;     // offset of the top-level INSERT whose block is being placed
  DxfLine placingHandle;  // and its handle
  FaceFeed* feed;         // the thread adding the faces to the model, or null: they are added here
  FaceBatch* batch;       // the faces read and not yet handed over: a batch of the feed, or `own`
  FaceBatch own;
  int32_t emitted;             // faces read so far
  PrefaultJob* prefault;       // making the face array's pages present ahead of the faces, or null
  PrefaultJob* indexPrefault;  // making the point index's pages present, or null
};

// Where in the file a face comes from (FaceOrigin without what the placement decides).
struct DxfOrigin {
  size_t entity;  // the group 0 of its entity (in a block: any; the top-level INSERT counts)
  int32_t item;   // MESH polygon, polygon mesh cell
};

// Where the entities being walked land.
struct Where {
  Placement placement;
  bool inBlock;         // placed by an INSERT
  DxfLine insertLayer;  // the layer a face on layer "0" takes; text null: none
};

// Adds a face of `form` on `layer` (text null reads "", "0" in a block the INSERT's layer)
// with its corners placed. False when memory failed.
bool emitFace(DxfReader* reader, const Where& where, DxfLine layer, const Vec3 corners[4],
              DxfForm form, DxfOrigin origin) noexcept;
// Hands the faces read over to be added (with a feed), or adds them (without). False when
// memory failed.
bool flushFaces(DxfReader* reader) noexcept;
// Adds a note "ENTITY HANDLE: text" to the report (printf format). False when memory failed.
bool noteEntity(DxfReader* reader, const char* entity, DxfLine handle, const char* format,
                ...) noexcept __attribute__((format(printf, 4, 5)));

// A POLYLINE being read, with its VERTEX entities.
struct PolylineGroups {
  DxfVertexRecord header;  // the POLYLINE's own groups (71, 72: counts)
  DxfVertexRecord vertex;  // the VERTEX being read
  bool inVertex;
};
void startPolyline(PolylineGroups* polyline, DxfReader* reader, size_t start) noexcept;
void takeVertexGroup(DxfVertexRecord* record, int32_t code, DxfLine value) noexcept;
// Ends the VERTEX being read: a position or a face record kept for the polyline.
bool finishVertex(PolylineGroups* polyline, DxfReader* reader) noexcept;
// Ends the polyline: its faces are added. False when memory failed.
bool finishPolyline(PolylineGroups* polyline, DxfReader* reader, const Where& where) noexcept;

// A MESH entity being read.
struct MeshGroups {
  DxfLine layer, handle;
  bool layerSeen, handleSeen;
  bool meshData;         // within the mesh's own subclass (or no subclass markers)
  int64_t vertexTarget;  // group 92; -1 before it
  int64_t listTarget;    // group 93; -1 before it
  bool vertexOpen;       // the last group 10 began a vertex, which 20 and 30 complete
  size_t start;          // offset of its group 0
};
void startMesh(MeshGroups* mesh, DxfReader* reader, size_t start) noexcept;
bool takeMeshGroup(MeshGroups* mesh, DxfReader* reader, int32_t code, DxfLine value) noexcept;
bool finishMesh(MeshGroups* mesh, DxfReader* reader, const Where& where) noexcept;

// Walks the entities from the cursor on; `topLevel` for the whole file (sections, BLOCKS,
// comments), else a block's range placed by `where`. False when memory failed.
bool walkEntities(DxfReader* reader, DxfCursor cursor, const Where& where, bool topLevel) noexcept;
// Frees the read's working arrays.
void endDxfReader(DxfReader* reader) noexcept;
