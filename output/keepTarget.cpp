#include "output/keepTarget.h"

#include <charconv>
#include <cstring>

#include "model/dxfBlocks.h"
#include "model/dxfText.h"
#include "model/faceModel.h"
#include "output/outputLayer.h"
#include "textfiles/allocator.h"
#include "textfiles/fileBytes.h"
#include "textfiles/lineList.h"

namespace {

// A top-level entity: its group 0 at `start`, the next group 0 (or the end) at `end`.
struct Entity {
  size_t start, end;
  DxfLine name;
  size_t afterName;  // offset of the line after its name
};

// One write of the kept target.
struct Rewrite {
  const FaceModel* target;
  char* bytes;
  size_t size;
  ByteSink* sink;
  size_t copied;    // bytes before this offset are written or left out
  int32_t face;     // the first face not written yet
  char* newLayers;  // per reference layer: 1 when a face takes it and the table lacks it
  KeptTargetSummary* summary;
  bool inLayerTable;     // between TABLE / 2 LAYER and its ENDTAB
  bool skipVertices;     // a polygon mesh written as 3DFACEs: its VERTEX and SEQEND are left out
  bool skipAttributes;   // an exploded INSERT's ATTRIB and SEQEND are left out
  DxfLine* colours;      // per reference layer: its LAYER entry's group 62 and 6 in the
  DxfLine* linetypes;    // reference file's bytes (text null: none)
  DxfBlockTable blocks;  // the blocks defined so far
  bool inBlock;          // between a BLOCK and its ENDBLK
  DxfBlock block;        // the block being passed
};

// The layer face `f` is written with.
const char* finalLayer(const FaceModel& target, int32_t f) {
  return keptTargetLayer(target.faces[f]);
}

bool changed(const FaceModel& target, int32_t f) {
  return std::strcmp(finalLayer(target, f), faceLayer(target.faces[f])) != 0;
}

bool copyTo(Rewrite* r, size_t offset) {
  bool ok = offset <= r->copied || sinkWrite(r->sink, r->bytes + r->copied, offset - r->copied);
  if (offset > r->copied) r->copied = offset;
  return ok;
}

// The line end that follows the line starting at `line` (CR LF, LF, CR, ...), at most 3 bytes.
DxfLine lineEndAfter(Rewrite* r, size_t line) {
  DxfCursor cursor{r->bytes, r->size, line};
  DxfLine text;
  if (!nextDxfLine(&cursor, &text)) return {r->bytes + r->size, 0};
  size_t end = static_cast<size_t>(text.text - r->bytes) + text.length;
  while (end < cursor.next && r->bytes[end] != '\r' && r->bytes[end] != '\n')
    ++end;
  return {r->bytes + end, cursor.next - end};
}

bool writeGroup(Rewrite* r, DxfLine eol, const char* code, const char* value) {
  if (eol.length == 0) eol = {const_cast<char*>("\r\n"), 2};
  return sinkText(r->sink, code) && sinkWrite(r->sink, eol.text, eol.length) &&
         sinkText(r->sink, value) && sinkWrite(r->sink, eol.text, eol.length);
}

// The first group with `code` after the entity's group 0; value text null when there is none.
DxfGroup findGroup(Rewrite* r, const Entity& e, int32_t code) {
  DxfCursor cursor{r->bytes, e.end, e.afterName};
  DxfGroup group;
  while (nextDxfGroup(&cursor, &group)) {
    if (group.code == code) return group;
  }
  return DxfGroup{};
}

// Writes the entity with its layer (group 8) set to `layer`; from `copied` to the entity's end.
bool relayer(Rewrite* r, const Entity& e, const char* layer) {
  DxfGroup group = findGroup(r, e, 8);
  if (!group.value.text) {
    return copyTo(r, e.afterName) && writeGroup(r, lineEndAfter(r, e.start), "8", layer) &&
           copyTo(r, e.end);
  }
  const size_t text = static_cast<size_t>(group.value.text - r->bytes);
  if (!copyTo(r, text) || !sinkText(r->sink, layer)) return false;
  r->copied = text + group.value.length;
  return copyTo(r, e.end);
}

// Writes the faces [first, last) as 3DFACE entities with their final layers.
bool writeFaces(Rewrite* r, int32_t first, int32_t last, DxfLine eol) {
  static const char* const kCodes[12] = {"10", "20", "30", "11", "21", "31",
                                         "12", "22", "32", "13", "23", "33"};
  for (int32_t f = first; f < last; ++f) {
    const ModelFace& face = r->target->faces[f];
    if (!writeGroup(r, eol, "0", "3DFACE") || !writeGroup(r, eol, "8", finalLayer(*r->target, f)))
      return false;
    for (int k = 0; k < 4; ++k) {  // corners as the face writer writes them
      const ModelPoint& p = r->target->points[face.corners[k < cornersOf(face) ? k : 2]];
      const double values[3] = {p.x, p.y, p.z};
      for (int axis = 0; axis < 3; ++axis) {
        char text[32];
        *std::to_chars(text, text + 31, values[axis]).ptr = '\0';
        if (!writeGroup(r, eol, kCodes[3 * k + axis], text)) return false;
      }
    }
  }
  return true;
}

// Faces [first, last) all written with one layer: that layer, else null.
const char* sharedLayer(Rewrite* r, int32_t first, int32_t last) {
  const char* layer = finalLayer(*r->target, first);
  for (int32_t f = first + 1; f < last; ++f)
    if (std::strcmp(finalLayer(*r->target, f), layer) != 0) return nullptr;
  return layer;
}

bool anyChanged(Rewrite* r, int32_t first, int32_t last) {
  for (int32_t f = first; f < last; ++f)
    if (changed(*r->target, f)) return true;
  return false;
}

// An INSERT's faces can keep the INSERT when every changed face took the INSERT's layer and all
// those get one layer: that layer, else null.
const char* insertLayer(Rewrite* r, int32_t first, int32_t last) {
  const char* layer = nullptr;
  for (int32_t f = first; f < last; ++f) {
    const bool fromInsert = r->target->origins[f].insertLayer != 0;
    if (!fromInsert && changed(*r->target, f)) return nullptr;
    if (!fromInsert) continue;
    const char* own = finalLayer(*r->target, f);
    if (layer && std::strcmp(layer, own) != 0) return nullptr;
    layer = own;
  }
  return layer;
}

bool isName(const Entity& e, const char* name) {
  return lineIsName(e.name, name);
}

// Entities of the block the INSERT names that hold no face (nested INSERTs count as faces).
int otherEntitiesOf(Rewrite* r, const Entity& insert) {
  const DxfGroup name = findGroup(r, insert, 2);
  const int32_t index = name.value.text ? findBlock(&r->blocks, name.value) : -1;
  if (index < 0) return 0;
  static const char* const kFaceForms[] = {"3DFACE", "POLYLINE", "VERTEX", "SEQEND",
                                           "MESH",   "INSERT",   "MINSERT"};
  const DxfBlock& block = r->blocks.blocks[index];
  DxfCursor cursor{r->bytes, block.end, block.start};
  DxfGroup group;
  int others = 0;
  while (nextDxfGroup(&cursor, &group)) {
    if (group.code != 0) continue;
    bool face = false;
    for (const char* form : kFaceForms)
      face = face || lineIsName(group.value, form);
    others += face ? 0 : 1;
  }
  return others;
}

bool writeMeshCopies(Rewrite* r, const Entity& e, int32_t first, int32_t last);

// Writes an entity that holds the faces [first, last).
bool writeFacesEntity(Rewrite* r, const Entity& e, int32_t first, int32_t last) {
  if (!anyChanged(r, first, last)) return copyTo(r, e.end);
  if (isName(e, "INSERT") || isName(e, "MINSERT")) {
    if (const char* layer = insertLayer(r, first, last)) return relayer(r, e, layer);
    r->summary->insertsExploded++;
    r->summary->entitiesDropped += otherEntitiesOf(r, e);
    r->skipAttributes = true;
    bool ok = copyTo(r, e.start) && writeFaces(r, first, last, lineEndAfter(r, e.start));
    r->copied = e.end;
    return ok;
  }
  if (const char* layer = sharedLayer(r, first, last)) return relayer(r, e, layer);
  if (isName(e, "MESH")) return writeMeshCopies(r, e, first, last);
  // A polygon mesh on several layers: its cells as 3DFACEs.
  r->skipVertices = true;
  bool ok = copyTo(r, e.start) && writeFaces(r, first, last, lineEndAfter(r, e.start));
  r->copied = e.end;
  return ok;
}

// The face list of a MESH entity as the reader takes it: its group 93 and list groups.
struct MeshList {
  size_t start, end;  // the groups' bytes
  int32_t* entries;
  int32_t count;
};

bool readMeshList(Rewrite* r, const Entity& e, MeshList* list) {
  DxfCursor cursor{r->bytes, e.end, e.afterName};
  DxfGroup group;
  bool meshData = true;
  int64_t target = -1;
  *list = MeshList{};
  while (nextDxfGroup(&cursor, &group)) {
    if (group.code == 100) meshData = lineIsName(group.value, "AcDbSubDMesh");
    if (!meshData) continue;
    if (group.code == 93 && target < 0) {
      target = lineInteger(group.value);
      list->start = group.start;
      list->end = cursor.next;
      list->entries = static_cast<int32_t*>(gmalloc(sizeof(int32_t) * (target > 0 ? target : 1)));
      if (!list->entries) return false;
    } else if (group.code == 90 && target >= 0 && list->count < target) {
      list->entries[list->count++] = lineInteger(group.value);
      list->end = cursor.next;
    }
  }
  return true;
}

// Calls `entry` with every list entry of the MESH copy for `layer`: polygons whose faces all
// take it as they were, fan triangles that take it as triangles; polygons without faces (left
// out by the reader) go to the first copy. False as soon as `entry` is.
template <typename Entry>
bool meshEntries(Rewrite* r, const MeshList& list, int32_t first, int32_t last, const char* layer,
                 bool firstCopy, Entry&& entry) {
  for (int32_t i = 0, f = first, polygon = 0; i < list.count; ++polygon) {
    const int32_t k = list.entries[i];
    const int32_t taken = k >= 0 && k <= list.count - i - 1 ? k : list.count - i - 1;
    int32_t g = f;
    while (g < last && r->target->origins[g].item == polygon)
      ++g;
    const char* shared = g > f ? sharedLayer(r, f, g) : nullptr;
    if ((g == f && firstCopy) || (shared && std::strcmp(shared, layer) == 0)) {
      for (int32_t j = 0; j <= taken; ++j)
        if (!entry(list.entries[i + j])) return false;
    } else if (g > f && !shared) {
      for (int32_t t = 0; t < g - f; ++t) {  // fan triangle t: (0, t + 1, t + 2)
        if (std::strcmp(finalLayer(*r->target, f + t), layer) != 0) continue;
        if (!entry(3) || !entry(list.entries[i + 1]) || !entry(list.entries[i + 2 + t]) ||
            !entry(list.entries[i + 3 + t]))
          return false;
      }
    }
    f = g;
    i += taken + 1;
  }
  return true;
}

// Writes the face list groups (93 and its 90s) of the MESH copy for `layer`.
bool writeMeshList(Rewrite* r, const MeshList& list, int32_t first, int32_t last, const char* layer,
                   bool firstCopy, DxfLine eol) {
  int32_t size = 0;
  meshEntries(r, list, first, last, layer, firstCopy, [&](int32_t) { return ++size > 0; });
  char number[16];
  *std::to_chars(number, number + 15, size).ptr = '\0';
  if (!writeGroup(r, eol, "93", number)) return false;
  return meshEntries(r, list, first, last, layer, firstCopy, [&](int32_t value) {
    *std::to_chars(number, number + 15, value).ptr = '\0';
    return writeGroup(r, eol, "90", number);
  });
}

// A MESH whose faces need several layers: one copy per layer, in the order the faces first
// need them; copies after the first without the handle.
bool writeMeshCopies(Rewrite* r, const Entity& e, int32_t first, int32_t last) {
  MeshList list;
  if (!readMeshList(r, e, &list)) return false;
  r->summary->meshesSplit++;
  const DxfLine eol = lineEndAfter(r, e.start);
  const DxfGroup layerGroup = findGroup(r, e, 8), handle = findGroup(r, e, 5);
  bool ok = copyTo(r, e.start);
  for (int32_t f = first; ok && f < last; ++f) {
    const char* layer = finalLayer(*r->target, f);
    bool seen = false;
    for (int32_t g = first; g < f && !seen; ++g)
      seen = std::strcmp(finalLayer(*r->target, g), layer) == 0;
    if (seen) continue;
    // The entity's bytes with the layer, the handle and the face list replaced.
    r->copied = e.start;
    if (!layerGroup.value.text) {
      ok = copyTo(r, e.afterName) && writeGroup(r, eol, "8", layer);
    }
    DxfCursor cursor{r->bytes, e.end, e.afterName};
    DxfGroup group;
    while (ok && nextDxfGroup(&cursor, &group)) {
      if (group.start == layerGroup.start && layerGroup.value.text) {
        ok = copyTo(r, group.start) && writeGroup(r, lineEndAfter(r, group.start), "8", layer);
        r->copied = cursor.next;
      } else if (f != first && handle.value.text && group.start == handle.start) {
        ok = copyTo(r, group.start);
        r->copied = cursor.next;
      } else if (list.entries && group.start == list.start) {
        ok = copyTo(r, group.start) && writeMeshList(r, list, first, last, layer, f == first, eol);
        r->copied = list.end;
      }
    }
    ok = ok && copyTo(r, e.end);
  }
  gfree(list.entries);
  return ok;
}

// The LAYER table entries the file lacks, written before its ENDTAB.
bool writeNewLayers(Rewrite* r, DxfLine eol) {
  if (!referenceModel || !r->newLayers) return true;
  for (int32_t i = 0; i < referenceModel->layerCount; ++i) {
    if (!r->newLayers[i]) continue;
    r->newLayers[i] = 0;
    r->summary->layersAdded++;
    const DxfLine colour = r->colours ? trimmedLine(r->colours[i]) : DxfLine{};
    const DxfLine linetype = r->linetypes ? trimmedLine(r->linetypes[i]) : DxfLine{};
    if (!writeGroup(r, eol, "0", "LAYER") ||
        !writeGroup(r, eol, "2", referenceModel->layerNames[i]) || !writeGroup(r, eol, "70", "0"))
      return false;
    bool ok;
    if (colour.text) {
      TerminatedLine terminated(colour);
      ok = writeGroup(r, eol, "62", colour.text);
    } else {
      ok = writeGroup(r, eol, "62", "7");
    }
    if (ok && linetype.text) {
      TerminatedLine terminated(linetype);
      ok = writeGroup(r, eol, "6", linetype.text);
    } else if (ok) {
      ok = writeGroup(r, eol, "6", "CONTINUOUS");
    }
    if (!ok) return false;
  }
  return true;
}

// Notes the colour and linetype of every reference layer from the LAYER table of the
// reference file's bytes. False when memory failed.
bool readReferenceLayers(Rewrite* r, char* bytes, size_t size) {
  const size_t count = static_cast<size_t>(referenceModel->layerCount);
  r->colours = static_cast<DxfLine*>(gcalloc(sizeof(DxfLine) * count));
  r->linetypes = static_cast<DxfLine*>(gcalloc(sizeof(DxfLine) * count));
  if (!r->colours || !r->linetypes) return false;
  DxfCursor cursor{bytes, size, 0};
  DxfGroup group;
  bool inTable = false, afterTable = false, inEntry = false;
  int32_t index = -1;
  while (nextDxfGroup(&cursor, &group)) {
    if (group.code == 0) {
      if (inTable && lineIsName(group.value, "ENDTAB")) break;
      afterTable = lineIsName(group.value, "TABLE");
      inEntry = inTable && lineIsName(group.value, "LAYER");
      index = -1;
      continue;
    }
    if (afterTable && group.code == 2) inTable = lineIsName(group.value, "LAYER");
    afterTable = false;
    if (!inEntry) continue;
    if (group.code == 2 && index < 0) {
      DxfLine name = trimmedLine(group.value);
      TerminatedLine terminated(name);
      index = findLayerName(referenceModel, name.text);
    }
    if (index >= 0 && group.code == 62 && !r->colours[index].text) r->colours[index] = group.value;
    if (index >= 0 && group.code == 6 && !r->linetypes[index].text)
      r->linetypes[index] = group.value;
  }
  return true;
}

// Marks every reference layer a face takes; the LAYER table's own entries are unmarked as the
// table is passed.
bool markNewLayers(Rewrite* r) {
  if (!referenceModel || referenceModel->layerCount == 0) return true;
  r->newLayers = static_cast<char*>(gcalloc(static_cast<size_t>(referenceModel->layerCount)));
  if (!r->newLayers) return false;
  for (int32_t f = 0; f < r->target->faceCount; ++f) {
    if (!changed(*r->target, f)) continue;
    int32_t index = findLayerName(referenceModel, finalLayer(*r->target, f));
    if (index >= 0) r->newLayers[index] = 1;
  }
  return true;
}

// Passes an entity that holds no face: the layer table's entries are noted, new ones added.
bool passEntity(Rewrite* r, const Entity& e) {
  if (r->skipVertices && (isName(e, "VERTEX") || isName(e, "SEQEND"))) {
    r->skipVertices = !isName(e, "SEQEND");
    r->copied = e.end;
    return true;
  }
  r->skipVertices = false;
  if (r->skipAttributes && (isName(e, "ATTRIB") || isName(e, "SEQEND"))) {
    r->skipAttributes = !isName(e, "SEQEND");
    r->copied = e.end;
    return true;
  }
  r->skipAttributes = false;
  if (isName(e, "BLOCK")) {
    const DxfGroup name = findGroup(r, e, 2);
    r->inBlock = name.value.text != nullptr;
    r->block = DxfBlock{name.value, {}, e.end, e.end};
  } else if (r->inBlock && isName(e, "ENDBLK")) {
    r->inBlock = false;
    r->block.end = e.start;
    if (!addBlock(&r->blocks, r->block)) return false;
  } else if (isName(e, "TABLE")) {
    DxfGroup name = findGroup(r, e, 2);
    r->inLayerTable = name.value.text && lineIsName(name.value, "LAYER");
  } else if (r->inLayerTable && isName(e, "LAYER") && r->newLayers) {
    DxfGroup name = findGroup(r, e, 2);
    if (name.value.text) {
      DxfLine trimmed = trimmedLine(name.value);
      TerminatedLine terminated(trimmed);
      int32_t index = findLayerName(referenceModel, trimmed.text);
      if (index >= 0) r->newLayers[index] = 0;
    }
  } else if (r->inLayerTable && isName(e, "ENDTAB")) {
    r->inLayerTable = false;
    if (!copyTo(r, e.start) || !writeNewLayers(r, lineEndAfter(r, e.start))) return false;
  }
  return copyTo(r, e.end);
}

bool writeEntity(Rewrite* r, const Entity& e) {
  const FaceModel& t = *r->target;
  int32_t last = r->face;
  while (last < t.faceCount && t.origins[last].entity == static_cast<int64_t>(e.start))
    ++last;
  if (last == r->face) return passEntity(r, e);
  r->skipVertices = r->skipAttributes = false;
  const int32_t first = r->face;
  r->face = last;
  return writeFacesEntity(r, e, first, last);
}

// Walks the file entity by entity (groups before the first group 0 and after the last group
// are copied as they are).
bool rewrite(ByteSink* sink, const void* context) {
  auto* r = static_cast<Rewrite*>(const_cast<void*>(context));
  r->sink = sink;
  DxfCursor cursor{r->bytes, r->size, 0};
  DxfGroup group;
  bool have = nextDxfGroup(&cursor, &group);
  while (have) {
    if (group.code != 0) {
      have = nextDxfGroup(&cursor, &group);
      continue;
    }
    Entity e{group.start, r->size, group.value, cursor.next};
    while ((have = nextDxfGroup(&cursor, &group)) && group.code != 0) {
    }
    if (have) e.end = group.start;
    if (!writeEntity(r, e)) return false;
  }
  return copyTo(r, r->size) && !r->sink->failed;
}

}  // namespace

KeptTargetSummary saveKeptTarget(const char* path, const char* referencePath) noexcept {
  KeptTargetSummary summary{};
  if (!path || !targetModel || !targetModel->sourceBytes ||
      (targetModel->faceCount > 0 && !targetModel->origins))
    return summary;
  Rewrite r{};
  r.target = targetModel;
  r.bytes = targetModel->sourceBytes;
  r.size = static_cast<size_t>(targetModel->sourceSize);
  r.summary = &summary;
  char* reference = nullptr;
  size_t referenceSize = 0;
  bool ready = markNewLayers(&r);
  if (ready && r.newLayers && referencePath) {
    const int status = loadFileBytes(referencePath, &reference, &referenceSize);
    ready = status == kLoadRead ? readReferenceLayers(&r, reference, referenceSize)
                                : status != kLoadNoMemory;
  }
  if (ready) summary.written = saveFileWith(path, rewrite, &r);
  gfree(reference);
  gfree(r.colours);
  gfree(r.linetypes);
  gfree(r.newLayers);
  freeBlockTable(&r.blocks);
  if (!summary.written) summary = KeptTargetSummary{};
  return summary;
}
