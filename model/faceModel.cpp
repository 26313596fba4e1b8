#include "model/faceModel.h"

#include <cstddef>
#include <cstring>

#include "textfiles/allocator.h"
#include "textfiles/lineList.h"

FaceModel* referenceModel = nullptr;
FaceModel* targetModel = nullptr;
LineList* commentList = nullptr;

namespace {

constexpr int32_t kPointStep = 512;
constexpr int32_t kFaceStep = 256;
constexpr int32_t kMinIndexSlots = 1024;
constexpr int32_t kMaxIndexSlots = int32_t{1} << 30;
// A block size the allocator always refuses (and reports): asked for when an array would
// need more entries than its int32 count can address.
constexpr size_t kRefusedSize = ~size_t{0};

// The exact bit patterns of a position: two positions are the same point when all three
// patterns are equal (0.0 and -0.0 differ; a NaN equals only a NaN with the same bits).
struct PointKey {
  uint64_t x, y, z;
};

PointKey keyOf(double x, double y, double z) noexcept {
  PointKey key;
  std::memcpy(&key.x, &x, sizeof x);
  std::memcpy(&key.y, &y, sizeof y);
  std::memcpy(&key.z, &z, sizeof z);
  return key;
}

bool sameKey(const PointKey& key, const PointSlot& slot) noexcept {
  return key.x == slot.x && key.y == slot.y && key.z == slot.z;
}

uint64_t hashOf(const PointKey& key) noexcept {
  uint64_t h = key.x * 0x9E3779B97F4A7C15ull;
  h ^= (key.y + 0x632BE59BD9B4E019ull) * 0xC2B2AE3D27D4EB4Full;
  h = (h << 31) | (h >> 33);
  h ^= key.z * 0x165667B19E3779F9ull;
  // Final avalanche, so that coordinates differing only in low mantissa bits spread well.
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  return h;
}

// An index slot holds the point's index + 1 (0 for an empty slot), the upper half of the
// position's hash (compared first) and the position's bits.
struct Probe {
  PointKey key;
  uint64_t hash;
};

Probe probeOf(double x, double y, double z) noexcept {
  Probe probe;
  probe.key = keyOf(x, y, z);
  probe.hash = hashOf(probe.key);
  return probe;
}

uint32_t slotMask(const FaceModel* model) noexcept {
  return static_cast<uint32_t>(model->pointIndexCapacity) - 1;
}

int32_t hashTag(uint64_t hash) noexcept {
  return static_cast<int32_t>(hash >> 32);
}

// Starts loading the slot a probe begins at, so that several lookups overlap their misses.
void prefetchSlot(const FaceModel* model, uint64_t hash) noexcept {
  __builtin_prefetch(model->pointIndex + (static_cast<uint32_t>(hash) & slotMask(model)));
}

// Looks a position up in the index. Returns the point's index, or -1 with `*emptySlot` set to
// the slot where it would be entered. The index must have an empty slot.
int32_t findIndexed(const FaceModel* model, const Probe& probe, uint32_t* emptySlot) noexcept {
  uint32_t mask = slotMask(model);
  uint32_t slot = static_cast<uint32_t>(probe.hash) & mask;
  int32_t tag = hashTag(probe.hash);
  for (;;) {
    const PointSlot& at = model->pointIndex[slot];
    int32_t entry = at.entry;
    if (entry == 0) {
      *emptySlot = slot;
      return -1;
    }
    if (at.tag == tag && sameKey(probe.key, at)) {
      return entry - 1;
    }
    slot = (slot + 1) & mask;
  }
}

void enterPoint(FaceModel* model, uint32_t slot, int32_t index, const Probe& probe) noexcept {
  PointSlot& at = model->pointIndex[slot];
  at.entry = index + 1;
  at.tag = hashTag(probe.hash);
  at.x = probe.key.x;
  at.y = probe.key.y;
  at.z = probe.key.z;
}

Probe probeOfPoint(const ModelPoint& p) noexcept {
  return probeOf(p.x, p.y, p.z);
}

// Enters the points from pointIndexCount up to pointCount; a point whose coordinates are
// already entered keeps the earlier (lower) index, as a scan from index 0 would find it.
void indexNewPoints(FaceModel* model) noexcept {
  constexpr int32_t kLookahead = 16;
  int32_t count = model->pointCount;
  for (int32_t i = model->pointIndexCount; i < count; ++i) {
    if (i + kLookahead < count)
      prefetchSlot(model, probeOfPoint(model->points[i + kLookahead]).hash);
    Probe probe = probeOfPoint(model->points[i]);
    uint32_t slot = 0;
    if (findIndexed(model, probe, &slot) < 0) enterPoint(model, slot, i, probe);
  }
  model->pointIndexCount = count;
}

// Brings the index up to date with the point array and makes room for `extra` more points,
// keeping it at most half full. False when memory failed (the old index stays usable).
bool prepareIndex(FaceModel* model, int32_t extra) noexcept {
  if (model->pointIndexCount > model->pointCount) {
    // Points were taken away behind the index's back: start it again.
    if (model->pointIndex) {
      std::memset(model->pointIndex, 0,
                  sizeof(PointSlot) * static_cast<size_t>(model->pointIndexCapacity));
    }
    model->pointIndexCount = 0;
  }
  int64_t needed = 2 * (static_cast<int64_t>(model->pointCount) + extra);
  if (model->pointIndex && needed <= model->pointIndexCapacity) {
    indexNewPoints(model);
    return true;
  }
  int64_t slots = model->pointIndexCapacity > 0 ? model->pointIndexCapacity : kMinIndexSlots;
  while (slots < needed && slots < kMaxIndexSlots) {
    slots *= 2;
  }
  // More points than the index can hold: a request no allocator grants, so that the failure
  // is reported like any other.
  size_t bytes = slots < needed ? kRefusedSize : sizeof(PointSlot) * static_cast<size_t>(slots);
  auto* table = static_cast<PointSlot*>(gcalloc(bytes));
  if (!table) return false;
  gfree(model->pointIndex);
  model->pointIndex = table;
  model->pointIndexCapacity = static_cast<int32_t>(slots);
  model->pointIndexCount = 0;
  indexNewPoints(model);
  return true;
}

// The next capacity of an array that grows in multiples of `step`: a quarter more, at least
// one step, so that millions of entries need few reallocations.
int64_t grownCapacity(int64_t capacity, int32_t step) noexcept {
  int64_t extra = (capacity / 4 + step - 1) / step * step;
  if (extra < step) extra = step;
  return capacity + extra;
}

// Makes room for `extra` more entries of an array of `T` that grows in multiples of `step`.
// The new slots are zero-filled. False when memory failed (the array is unchanged).
template <typename T>
bool reserveSlots(T** array, int32_t* capacity, int32_t count, int32_t extra,
                  int32_t step) noexcept {
  int64_t needed = static_cast<int64_t>(count) + extra;
  if (*array && needed <= *capacity) return true;
  constexpr int64_t kLimit = INT32_MAX / kPointStep * kPointStep;  // a multiple of both steps
  int64_t slots = *array ? grownCapacity(*capacity, step) : step;
  while (slots < needed && slots < kLimit) {
    slots = grownCapacity(slots, step);
  }
  if (slots > kLimit) slots = kLimit;
  size_t bytes = needed > kLimit ? kRefusedSize : sizeof(T) * static_cast<size_t>(slots);
  auto* grown = static_cast<T*>(gcrealloc(*array, bytes));
  if (!grown) return false;
  *array = grown;
  *capacity = static_cast<int32_t>(slots);
  return true;
}

bool reservePoints(FaceModel* model, int32_t extra) noexcept {
  return reserveSlots(&model->points, &model->pointCapacity, model->pointCount, extra,
                      kPointStep) &&
         prepareIndex(model, extra);
}

// The point at the probed position, appended when new. Room must have been reserved.
int32_t findOrAppendPoint(FaceModel* model, const Probe& probe) noexcept {
  uint32_t slot = 0;
  int32_t found = findIndexed(model, probe, &slot);
  if (found >= 0) return found;
  int32_t index = model->pointCount;
  ModelPoint& point = model->points[index];
  std::memset(&point, 0, sizeof point);
  std::memcpy(&point.x, &probe.key.x, sizeof point.x);
  std::memcpy(&point.y, &probe.key.y, sizeof point.y);
  std::memcpy(&point.z, &probe.key.z, sizeof point.z);
  point.partner = -1;
  enterPoint(model, slot, index, probe);
  model->pointCount = index + 1;
  model->pointIndexCount = model->pointCount;
  return index;
}

uint64_t textHash(const char* text, size_t length) noexcept {
  uint64_t h = 0xCBF29CE484222325ull;  // FNV-1a
  for (size_t i = 0; i < length; ++i)
    h = (h ^ static_cast<unsigned char>(text[i])) * 0x100000001B3ull;
  return h;
}

// The index in layerNames of the `length` bytes at `text` as a name, -1 when none.
int32_t findLayerNameIn(const FaceModel* model, const char* text, size_t length) noexcept {
  if (model->layerIndexCapacity == 0) return -1;
  uint32_t mask = static_cast<uint32_t>(model->layerIndexCapacity) - 1;
  for (uint32_t slot = static_cast<uint32_t>(textHash(text, length)) & mask;
       model->layerIndex[slot] != 0; slot = (slot + 1) & mask) {
    int32_t index = model->layerIndex[slot] - 1;
    const char* name = model->layerNames[index];
    if (std::strncmp(name, text, length) == 0 && name[length] == '\0') return index;
  }
  return -1;
}

// Enters name `index` into the layer table (which has an empty slot).
void enterLayer(FaceModel* model, int32_t index) noexcept {
  uint32_t mask = static_cast<uint32_t>(model->layerIndexCapacity) - 1;
  const char* name = model->layerNames[index];
  uint32_t slot = static_cast<uint32_t>(textHash(name, std::strlen(name))) & mask;
  while (model->layerIndex[slot] != 0)
    slot = (slot + 1) & mask;
  model->layerIndex[slot] = index + 1;
}

// Room for one more layer name: the name array and a table kept at most half full.
bool reserveLayer(FaceModel* model) noexcept {
  if (!reserveSlots(&model->layerNames, &model->layerCapacity, model->layerCount, 1, 16))
    return false;
  if (2 * (int64_t{model->layerCount} + 1) <= model->layerIndexCapacity) return true;
  int64_t slots = model->layerIndexCapacity > 0 ? 2 * int64_t{model->layerIndexCapacity} : 64;
  if (slots > kMaxIndexSlots) return gcalloc(kRefusedSize) != nullptr;
  auto* table = static_cast<int32_t*>(gcalloc(sizeof(int32_t) * static_cast<size_t>(slots)));
  if (!table) return false;
  gfree(model->layerIndex);
  model->layerIndex = table;
  model->layerIndexCapacity = static_cast<int32_t>(slots);
  for (int32_t i = 0; i < model->layerCount; ++i)
    enterLayer(model, i);
  return true;
}

// The model's copy of the layer name of `length` bytes at `text`, stored on its first use. Null
// when memory failed.
char* layerName(FaceModel* model, const char* text, size_t length) noexcept {
  int32_t found = findLayerNameIn(model, text, length);
  if (found >= 0) return model->layerNames[found];
  if (!reserveLayer(model)) return nullptr;
  auto* name = static_cast<char*>(gcalloc(length + 1));
  if (!name) return nullptr;
  std::memcpy(name, text, length);
  model->layerNames[model->layerCount] = name;
  enterLayer(model, model->layerCount++);
  return name;
}

}  // namespace

int32_t findLayerName(const FaceModel* model, const char* text) noexcept {
  if (!model || !text) return -1;
  return findLayerNameIn(model, text, std::strlen(text));
}

int32_t enterLayerName(FaceModel* model, const char* text) noexcept {
  if (!model || !text) return -1;
  const size_t length = std::strlen(text);
  const int32_t found = findLayerNameIn(model, text, length);
  if (found >= 0) return found;
  return layerName(model, text, length) ? model->layerCount - 1 : -1;
}

FaceModel* createModel(const char* name) noexcept {
  auto* model = static_cast<FaceModel*>(gcalloc(sizeof(FaceModel)));
  if (!model) return nullptr;
  if (name) {
    model->sourceName = copyText(name);
    if (!model->sourceName) {
      gfree(model);
      return nullptr;
    }
  }
  return model;
}

int32_t addPoint(FaceModel* model, double x, double y, double z) noexcept {
  if (!model) return -1;
  if (!prepareIndex(model, 1)) return -1;
  Probe probe = probeOf(x, y, z);
  uint32_t slot = 0;
  int32_t found = findIndexed(model, probe, &slot);
  if (found >= 0) return found;
  if (!reservePoints(model, 1)) return -1;
  return findOrAppendPoint(model, probe);
}

void prefetchPoint(const FaceModel* model, const Vec3& position) noexcept {
  if (!model || model->pointIndexCapacity == 0) return;
  prefetchSlot(model, probeOf(position.x, position.y, position.z).hash);
}

int reservePointIndex(FaceModel* model, int32_t count) noexcept {
  if (!model) return 0;
  return prepareIndex(model, count > model->pointCount ? count - model->pointCount : 0);
}

int reserveFaces(FaceModel* model, int32_t count) noexcept {
  if (!model || count <= model->faceCount) return model != nullptr;
  return reserveSlots(&model->faces, &model->faceCapacity, model->faceCount,
                      count - model->faceCount, kFaceStep);
}

int addFace(FaceModel* model, const char* layer, const Vec3 corners[4]) noexcept {
  return addFaceOnLayer(model, layer, layer ? std::strlen(layer) : 0, corners);
}

int addFaceOnLayer(FaceModel* model, const char* layer, size_t length,
                   const Vec3 corners[4]) noexcept {
  if (!model || !corners) return 0;
  // Everything that can fail comes first, so a failure leaves neither a face nor its points.
  if (!reserveSlots(&model->faces, &model->faceCapacity, model->faceCount, 1, kFaceStep)) return 0;
  if (!reservePoints(model, 4)) return 0;
  char* layerCopy = layer ? layerName(model, layer, length) : layerName(model, "", 0);
  if (!layerCopy) return 0;

  ModelFace& face = model->faces[model->faceCount];
  std::memset(&face, 0, sizeof face);
  Probe probes[4];
  for (int i = 0; i < 4; ++i) {
    probes[i] = probeOf(corners[i].x, corners[i].y, corners[i].z);
    prefetchSlot(model, probes[i].hash);
  }
  for (int i = 0; i < 4; ++i) {
    int32_t index = findOrAppendPoint(model, probes[i]);
    face.corners[i] = index;
    face.sortedCorners[i] = index;
  }
  face.cornerCount = face.corners[2] == face.corners[3] ? 3 : 4;
  for (int i = 1; i < face.cornerCount; ++i) {  // insertion sort of three or four entries
    int32_t value = face.sortedCorners[i];
    int j = i;
    for (; j > 0 && face.sortedCorners[j - 1] > value; --j) {
      face.sortedCorners[j] = face.sortedCorners[j - 1];
    }
    face.sortedCorners[j] = value;
  }
  face.layer = layerCopy;
  face.partnerFace = -1;
  face.matchedFace = -1;
  ++model->faceCount;
  return 1;
}

void releaseModel(FaceModel* model) noexcept {
  if (!model) return;
  if (model->points) {
    for (int32_t i = 0; i < model->pointCount; ++i)
      gfree(model->points[i].faces);
    gfree(model->points);
  }
  if (model->faces) {
    for (int32_t i = 0; i < model->faceCount; ++i) {
      ModelFace& face = model->faces[i];
      gfree(face.profile);
    }
    gfree(model->faces);
  }
  if (model->parts) {
    for (int32_t i = 0; i < model->partCount; ++i)
      gfree(model->parts[i].faces);
    gfree(model->parts);
  }
  gfree(model->pointIndex);
  for (int32_t i = 0; i < model->layerCount; ++i)
    gfree(model->layerNames[i]);
  gfree(model->layerNames);
  gfree(model->layerIndex);
  gfree(model->faceSignatures);
  gfree(model->sourceBytes);
  gfree(model->origins);
  gfree(model->sourceName);
  gfree(model);
}

void releaseRunData() noexcept {
  freeLineList(commentList);
  commentList = nullptr;
  releaseModel(referenceModel);
  referenceModel = nullptr;
  releaseModel(targetModel);
  targetModel = nullptr;
}
