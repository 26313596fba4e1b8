#include "match/coincidence.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "model/faceModel.h"
#include "textfiles/scopedBlocks.h"

// Both pairings give exactly what a plain scan in index order gives (the first reference
// element that fits; each reference element remembers the last target element that chose it),
// but find the candidates through an index instead of scanning the whole reference model.

namespace {

constexpr double kTolerance = 0.001;  // per axis, strict
// Grid cells are 1/256 wide: wider than the tolerance, and a power of two so that scaling a
// coordinate to cell units is exact.
constexpr double kCellsPerUnit = 256.0;
// Points within the tolerance differ by less than 0.0011, i.e. 0.2816 cell units: the cell below
// can hold one only when the point sits in the lowest 0.3 of its cell, the cell above only when
// it sits in the highest 0.3.
constexpr double kNearLowerBorder = 0.3;
constexpr double kNearUpperBorder = 0.7;
// Coordinates up to 2^50 go to grid cells (at most 2^58 in cell units). Beyond that, adjacent
// doubles are at least 0.25 apart, so only an equal coordinate is within the tolerance.
constexpr double kGridLimit = 1125899906842624.0;

bool validIndex(int32_t index, int32_t count) {
  return index >= 0 && index < count;
}

uint64_t mixBits(uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  h ^= h >> 33;
  return h;
}

// Slots of an open-addressing table for `count` entries: a power of two, at least twice as many.
size_t tableSlots(int32_t count) {
  size_t slots = 16;
  while (slots < 2 * static_cast<size_t>(count))
    slots *= 2;
  return slots;
}

// Position of one coordinate in the grid: its cell and whether a point in range may lie in the
// neighbouring cells.
struct AxisCell {
  int64_t cell;
  bool lower, upper;
};

AxisCell axisCell(double v) {
  if (std::fabs(v) < kGridLimit) {
    double scaled = v * kCellsPerUnit;
    double cell = std::floor(scaled);
    double within = scaled - cell;
    return {static_cast<int64_t>(cell), within<kNearLowerBorder, within> kNearUpperBorder};
  }
  // Keyed by the bit pattern of the magnitude, signed: at least 2^62 away from any grid cell.
  int64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  bits &= INT64_MAX;
  return {v < 0 ? -bits : bits, false, false};
}

struct CellKey {
  int64_t x, y, z;
  bool operator==(const CellKey&) const = default;
};

uint64_t hashCell(const CellKey& key) {
  return mixBits(static_cast<uint64_t>(key.x) * 0x9e3779b97f4a7c15ULL ^
                 static_cast<uint64_t>(key.y) * 0xc2b2ae3d27d4eb4fULL ^
                 static_cast<uint64_t>(key.z));
}

bool finitePoint(const ModelPoint& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

bool withinTolerance(const ModelPoint& t, const ModelPoint& r) {
  return std::fabs(t.x - r.x) < kTolerance && std::fabs(t.y - r.y) < kTolerance &&
         std::fabs(t.z - r.z) < kTolerance;
}

struct GridEntry {
  CellKey key;
  int32_t point;
};

// The reference points with finite coordinates (no other can be within the tolerance of
// anything), sorted by cell and, within a cell, by index; a hash table finds a cell's run.
struct PointGrid {
  GridEntry* entries;
  int32_t entryCount;
  int32_t* slots;  // start of a cell's run in `entries` + 1; 0 empty
  size_t slotMask;
};

bool buildPointGrid(const FaceModel* reference, ScopedBlocks& scratch, PointGrid* grid) {
  int32_t count = reference->pointCount > 0 ? reference->pointCount : 0;
  size_t slotCount = tableSlots(count);
  grid->entries = scratch.raw<GridEntry>(static_cast<size_t>(count) + 1);
  grid->slots = scratch.zeroed<int32_t>(slotCount);
  if (!grid->entries || !grid->slots) return false;
  grid->slotMask = slotCount - 1;
  grid->entryCount = 0;
  for (int32_t i = 0; i < count; ++i) {
    const ModelPoint& p = reference->points[i];
    if (!finitePoint(p)) continue;
    grid->entries[grid->entryCount++] = {
        {axisCell(p.x).cell, axisCell(p.y).cell, axisCell(p.z).cell}, i};
  }
  std::sort(grid->entries, grid->entries + grid->entryCount,
            [](const GridEntry& a, const GridEntry& b) {
              if (a.key.x != b.key.x) return a.key.x < b.key.x;
              if (a.key.y != b.key.y) return a.key.y < b.key.y;
              if (a.key.z != b.key.z) return a.key.z < b.key.z;
              return a.point < b.point;
            });
  for (int32_t e = 0; e < grid->entryCount; ++e) {
    if (e > 0 && grid->entries[e].key == grid->entries[e - 1].key) continue;
    size_t slot = hashCell(grid->entries[e].key) & grid->slotMask;
    while (grid->slots[slot] != 0)
      slot = (slot + 1) & grid->slotMask;
    grid->slots[slot] = e + 1;
  }
  return true;
}

// The lowest-indexed reference point in cell `key` within the tolerance of `target`; -1 none.
int32_t firstInCell(const PointGrid& grid, const CellKey& key, const FaceModel* reference,
                    const ModelPoint& target) {
  size_t slot = hashCell(key) & grid.slotMask;
  for (; grid.slots[slot] != 0; slot = (slot + 1) & grid.slotMask) {
    int32_t e = grid.slots[slot] - 1;
    if (!(grid.entries[e].key == key)) continue;
    for (; e < grid.entryCount && grid.entries[e].key == key; ++e) {
      int32_t i = grid.entries[e].point;
      if (withinTolerance(target, reference->points[i])) return i;
    }
    return -1;
  }
  return -1;
}

// The lowest-indexed reference point within the tolerance of `target` on all three axes; -1.
int32_t findPartnerPoint(const PointGrid& grid, const FaceModel* reference,
                         const ModelPoint& target) {
  if (!finitePoint(target)) return -1;
  AxisCell axes[3] = {axisCell(target.x), axisCell(target.y), axisCell(target.z)};
  int32_t best = -1;
  for (int dx = axes[0].lower ? -1 : 0; dx <= (axes[0].upper ? 1 : 0); ++dx) {
    for (int dy = axes[1].lower ? -1 : 0; dy <= (axes[1].upper ? 1 : 0); ++dy) {
      for (int dz = axes[2].lower ? -1 : 0; dz <= (axes[2].upper ? 1 : 0); ++dz) {
        CellKey key{axes[0].cell + dx, axes[1].cell + dy, axes[2].cell + dz};
        int32_t found = firstInCell(grid, key, reference, target);
        if (found >= 0 && (best < 0 || found < best)) best = found;
      }
    }
  }
  return best;
}

// Reference faces keyed by their first cornerCount sorted corners; each key keeps its
// lowest-indexed face, the one a scan in index order meets first.
struct FaceTable {
  int32_t* slots;  // face index + 1; 0 empty
  size_t slotMask;
  unsigned lengths;  // bit m set: some reference face compares m entries
};

uint64_t hashCorners(const int32_t* values, int32_t length) {
  uint64_t h = static_cast<uint64_t>(length) * 0x9e3779b97f4a7c15ULL;
  for (int32_t i = 0; i < length; ++i)
    h = mixBits(h ^ static_cast<uint32_t>(values[i])) + 0x632be59bd9b4e019ULL;
  return h;
}

bool sameCorners(const ModelFace& face, const int32_t* values, int32_t length) {
  if (cornersOf(face) != length) return false;
  for (int32_t i = 0; i < length; ++i)
    if (face.sortedCorners[i] != values[i]) return false;
  return true;
}

bool buildFaceTable(const FaceModel* reference, ScopedBlocks& scratch, FaceTable* table) {
  int32_t count = reference->faceCount > 0 ? reference->faceCount : 0;
  size_t slotCount = tableSlots(count);
  table->slots = scratch.zeroed<int32_t>(slotCount);
  if (!table->slots) return false;
  table->slotMask = slotCount - 1;
  table->lengths = 0;
  for (int32_t k = 0; k < count; ++k) {
    const ModelFace& face = reference->faces[k];
    int32_t length = cornersOf(face);
    table->lengths |= 1u << length;
    size_t slot = hashCorners(face.sortedCorners, length) & table->slotMask;
    bool known = false;
    for (; table->slots[slot] != 0; slot = (slot + 1) & table->slotMask) {
      if (sameCorners(reference->faces[table->slots[slot] - 1], face.sortedCorners, length)) {
        known = true;
        break;
      }
    }
    if (!known) table->slots[slot] = k + 1;
  }
  return true;
}

int32_t lookUpFace(const FaceTable& table, const FaceModel* reference, const int32_t* values,
                   int32_t length) {
  size_t slot = hashCorners(values, length) & table.slotMask;
  for (; table.slots[slot] != 0; slot = (slot + 1) & table.slotMask) {
    int32_t k = table.slots[slot] - 1;
    if (sameCorners(reference->faces[k], values, length)) return k;
  }
  return -1;
}

void pairPoints(FaceModel* reference, FaceModel* target, const PointGrid& grid) {
  for (int32_t i = 0; i < reference->pointCount; ++i)
    reference->points[i].partner = -1;
  for (int32_t j = 0; j < target->pointCount; ++j) {
    ModelPoint& point = target->points[j];
    point.partner = findPartnerPoint(grid, reference, point);
    if (point.partner >= 0) reference->points[point.partner].partner = j;
  }
}

void pairFaces(FaceModel* reference, FaceModel* target, const FaceTable& table) {
  for (int32_t k = 0; k < reference->faceCount; ++k)
    reference->faces[k].partnerFace = -1;
  for (int32_t j = 0; j < target->faceCount; ++j) {
    ModelFace& face = target->faces[j];
    face.partnerFace = -1;
    // The partners of the corners, the first cornerCount sorted; a triangle's fourth entry
    // stays -2, which equals no point index, so it never matches a four-corner face.
    int32_t list[4] = {-2, -2, -2, -2};
    int32_t corners = cornersOf(face);
    bool complete = true;
    for (int32_t c = 0; c < corners && complete; ++c) {
      int32_t point = face.corners[c];
      list[c] = validIndex(point, target->pointCount) ? target->points[point].partner : -1;
      complete = list[c] != -1;
    }
    if (!complete) continue;
    std::sort(list, list + corners);
    // A reference face compares its own number of entries, so a four-corner target face also
    // meets a triangle on its three lowest partners: the first such face in index order wins.
    int32_t best = -1;
    for (int32_t length = 0; length <= 4; ++length) {
      if (!(table.lengths & (1u << length))) continue;
      int32_t k = lookUpFace(table, reference, list, length);
      if (k >= 0 && (best < 0 || k < best)) best = k;
    }
    if (best < 0) continue;
    face.partnerFace = best;
    reference->faces[best].partnerFace = j;
  }
}

// The reference part index a target part is anchored to: the part of its first paired face,
// confirmed by a later paired face in the same part; -1 when never confirmed.
int32_t anchorPart(const FaceModel* reference, const FaceModel* target, const ModelPart& part) {
  int32_t candidate = 0;
  int32_t listLength = part.faces ? part.faceCount : 0;
  for (int32_t s = 0; s < listLength; ++s) {
    int32_t f = part.faces[s];
    if (!validIndex(f, target->faceCount)) continue;
    int32_t partner = target->faces[f].partnerFace;
    if (!validIndex(partner, reference->faceCount)) continue;
    int32_t number = reference->faces[partner].part;
    if (candidate == 0) {
      candidate = number;
    } else if (number == candidate) {
      return candidate - 1;
    }
  }
  return -1;
}

}  // namespace

int pairCoincidentGeometry(FaceModel* reference, FaceModel* target) noexcept {
  if (!reference || !target) return 0;
  // Every working block is had before any field changes: a failure leaves both models as
  // they were.
  ScopedBlocks scratch;
  PointGrid grid{};
  FaceTable table{};
  if (!buildPointGrid(reference, scratch, &grid)) return 0;
  if (!buildFaceTable(reference, scratch, &table)) return 0;

  pairPoints(reference, target, grid);
  pairFaces(reference, target, table);
  for (int32_t p = 0; p < target->partCount && target->parts; ++p) {
    ModelPart& part = target->parts[p];
    part.coincidentPart = anchorPart(reference, target, part);
    part.matchedPart = part.coincidentPart;
  }
  return 1;
}
