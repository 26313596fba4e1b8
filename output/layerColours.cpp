#include "output/layerColours.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "model/faceModel.h"
#include "output/outputLayer.h"
#include "render/faceRenderer.h"
#include "textfiles/allocator.h"
#include "textfiles/scopedBlocks.h"

namespace {

// Well apart in hue and lightness, and readable on the light background; no reds.
constexpr uint32_t kPalette[] = {
    0x0067A5, 0xF38400, 0x008856, 0x875692, 0xF3C300, 0xA1CAF1, 0x8DB600,
    0xE68FAC, 0x654522, 0xC2B280, 0x604E97, 0x2B3D26, 0x848482, 0x00A0A0,
    0xDCD300, 0x1F3A93, 0xB07AA1, 0x6B8E23, 0x5AC8FA, 0xFFB07C,
};
constexpr int32_t kPaletteSize = sizeof(kPalette) / sizeof(kPalette[0]);

constexpr uint32_t kHowColours[kHowMatchedKinds] = {
    kUnmatchedColour,  // unmatched
    0x2E8B57,          // coincident: green
    0x1F3A93,          // aligned: dark blue
    0x5AC8FA,          // tests: light blue
    0xF3A600,          // propagation: amber
};

uint64_t nameHash(const char* name) {
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(name); *c; ++c)
    hash = (hash ^ *c) * 1099511628211ull;
  return hash;
}

// Layer names while the table is built: an open-addressing index over the entries.
struct NameIndex {
  int32_t* slots;     // entry + 1, 0 empty
  uint64_t capacity;  // a power of two
};

bool growIndex(const LayerTable& table, NameIndex* index) {
  uint64_t capacity = index->capacity ? index->capacity * 2 : 64;
  auto* slots = static_cast<int32_t*>(gcalloc(capacity * sizeof(int32_t)));
  if (!slots) return false;
  for (int32_t e = 0; e < table.count; ++e) {
    uint64_t at = nameHash(table.entries[e].name) & (capacity - 1);
    while (slots[at])
      at = (at + 1) & (capacity - 1);
    slots[at] = e + 1;
  }
  gfree(index->slots);
  index->slots = slots;
  index->capacity = capacity;
  return true;
}

// Entry of `name`, added when new; -1 when memory failed.
int32_t entryOf(LayerTable* table, NameIndex* index, int32_t* entryCapacity, const char* name) {
  if (uint64_t(table->count) * 2 >= index->capacity && !growIndex(*table, index)) return -1;
  uint64_t at = nameHash(name) & (index->capacity - 1);
  for (; index->slots[at]; at = (at + 1) & (index->capacity - 1)) {
    int32_t e = index->slots[at] - 1;
    if (std::strcmp(table->entries[e].name, name) == 0) return e;
  }
  if (table->count == *entryCapacity) {
    int32_t capacity = *entryCapacity ? *entryCapacity * 2 : 32;
    void* grown = gcrealloc(table->entries, size_t(capacity) * sizeof(LayerEntry));
    if (!grown) return -1;
    table->entries = static_cast<LayerEntry*>(grown);
    *entryCapacity = capacity;
  }
  table->entries[table->count].name = name;
  index->slots[at] = table->count + 1;
  return table->count++;
}

// Fills one entry per face of `model` into `layerOf`; false when memory failed.
bool enterFaces(LayerTable* table, NameIndex* index, int32_t* entryCapacity, const FaceModel& model,
                bool written, int32_t* layerOf) {
  for (int32_t f = 0; f < model.faceCount; ++f) {
    const ModelFace& face = model.faces[f];
    int32_t e = entryOf(table, index, entryCapacity, written ? outputLayer(face) : faceLayer(face));
    if (e < 0) return false;
    layerOf[f] = e;
    LayerEntry& entry = table->entries[e];
    ++(written ? entry.outputFaces : entry.referenceFaces);
    if (written && howMatched(referenceModel, model, f) == HowMatched::unmatched)
      ++entry.unmatchedFaces;
  }
  return true;
}

// Sorts the entries by name and renumbers the faces' entries; gives the colours.
bool sortEntries(LayerTable* table, const FaceModel* reference, const FaceModel* target) {
  ScopedBlocks blocks;
  int32_t* order = blocks.raw<int32_t>(table->count + 1);
  int32_t* rank = blocks.raw<int32_t>(table->count + 1);
  LayerEntry* sorted = blocks.raw<LayerEntry>(table->count + 1);
  if (!order || !rank || !sorted) return false;
  for (int32_t e = 0; e < table->count; ++e)
    order[e] = e;
  const LayerEntry* entries = table->entries;
  std::sort(order, order + table->count, [entries](int32_t a, int32_t b) {
    return std::strcmp(entries[a].name, entries[b].name) < 0;  // names are distinct
  });
  for (int32_t r = 0; r < table->count; ++r) {
    rank[order[r]] = r;
    sorted[r] = entries[order[r]];
    sorted[r].colour = paletteColour(r);
  }
  std::memcpy(table->entries, sorted, size_t(table->count) * sizeof(LayerEntry));
  for (int32_t f = 0; reference && f < reference->faceCount; ++f)
    table->referenceLayer[f] = rank[table->referenceLayer[f]];
  for (int32_t f = 0; target && f < target->faceCount; ++f)
    table->outputLayer[f] = rank[table->outputLayer[f]];
  return true;
}

bool fillTable(LayerTable* table, NameIndex* index) {
  const FaceModel* reference = referenceModel;
  const FaceModel* target = targetModel;
  int32_t entryCapacity = 0;
  if (reference) {
    table->referenceLayer =
        static_cast<int32_t*>(gmalloc(size_t(reference->faceCount + 1) * sizeof(int32_t)));
    if (!table->referenceLayer ||
        !enterFaces(table, index, &entryCapacity, *reference, false, table->referenceLayer))
      return false;
  }
  if (target) {
    table->outputLayer =
        static_cast<int32_t*>(gmalloc(size_t(target->faceCount + 1) * sizeof(int32_t)));
    if (!table->outputLayer ||
        !enterFaces(table, index, &entryCapacity, *target, true, table->outputLayer))
      return false;
  }
  return sortEntries(table, reference, target);
}

}  // namespace

int buildLayerTable(LayerTable* table) noexcept {
  if (!table) return 0;
  releaseLayerTable(table);
  NameIndex index{};
  bool built = fillTable(table, &index);
  gfree(index.slots);
  if (!built) releaseLayerTable(table);
  return built ? 1 : 0;
}

void releaseLayerTable(LayerTable* table) noexcept {
  if (!table) return;
  gfree(table->entries);
  gfree(table->referenceLayer);
  gfree(table->outputLayer);
  *table = LayerTable{};
}

uint32_t paletteColour(int32_t index) noexcept {
  if (index < 0) index = 0;
  if (index < kPaletteSize) return kPalette[index];
  // Hues 40 to 320 degrees (red left out) stepped by the golden angle, in six bands of
  // lightness and saturation taken in turn: distinct colours for the first 500 layers.
  static constexpr double kBands[6][2] = {{0.9, 0.8}, {0.9, 0.5}, {0.7, 0.8},
                                          {0.7, 0.5}, {0.5, 0.8}, {0.5, 0.5}};
  int32_t n = index - kPaletteSize, band = n % 6, step = n / 6;
  double hue = 40.0 + std::fmod(step * 137.50776405003785, 280.0);
  double value = kBands[band][0], chroma = value * kBands[band][1], h = hue / 60.0;
  double x = chroma * (1.0 - std::fabs(std::fmod(h, 2.0) - 1.0)), m = value - chroma;
  double rgb[3] = {};
  int sector = static_cast<int>(h) % 6;
  static constexpr int kOrder[6][3] = {{0, 1, 2}, {1, 0, 2}, {1, 2, 0},
                                       {2, 1, 0}, {2, 0, 1}, {0, 2, 1}};  // chroma, x, 0
  rgb[kOrder[sector][0]] = chroma, rgb[kOrder[sector][1]] = x, rgb[kOrder[sector][2]] = 0.0;
  uint32_t colour = 0;
  for (double channel : rgb)
    colour = (colour << 8) | static_cast<uint32_t>((channel + m) * 255.0 + 0.5);
  return colour;
}

uint32_t howMatchedColour(HowMatched how) noexcept {
  int32_t kind = static_cast<int32_t>(how);
  return kind >= 0 && kind < kHowMatchedKinds ? kHowColours[kind] : kUnmatchedColour;
}

uint32_t* referenceFaceColours(const LayerTable& table) noexcept {
  const FaceModel* reference = referenceModel;
  if (!reference || !table.referenceLayer) return nullptr;
  auto* colours = static_cast<uint32_t*>(gmalloc(size_t(reference->faceCount + 1) * 4));
  for (int32_t f = 0; colours && f < reference->faceCount; ++f)
    colours[f] = table.entries[table.referenceLayer[f]].colour;
  return colours;
}

uint32_t* outputFaceColours(const LayerTable& table, bool byHow) noexcept {
  const FaceModel* target = targetModel;
  if (!target || !table.outputLayer) return nullptr;
  auto* colours = static_cast<uint32_t*>(gmalloc(size_t(target->faceCount + 1) * 4));
  for (int32_t f = 0; colours && f < target->faceCount; ++f) {
    HowMatched how = howMatched(referenceModel, *target, f);
    uint32_t colour = byHow || how == HowMatched::unmatched
                          ? howMatchedColour(how)
                          : table.entries[table.outputLayer[f]].colour;
    colours[f] = colour | (isGuessedLayer(referenceModel, *target, f) ? kFaceHatched : 0);
  }
  return colours;
}
