#include "output/layerColours.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "output/keptResult.h"
#include "render/faceRenderer.h"
#include "textfiles/allocator.h"

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

}  // namespace

int buildLayerTable(const KeptResult& kept, LayerTable* table) noexcept {
  if (!table) return 0;
  releaseLayerTable(table);
  table->entries =
      static_cast<LayerEntry*>(gcalloc(size_t(kept.layerCount + 1) * sizeof(LayerEntry)));
  if (!table->entries) return 0;
  table->count = kept.layerCount;
  for (int32_t e = 0; e < kept.layerCount; ++e) {
    table->entries[e].name = kept.layerNames[e];
    table->entries[e].colour = paletteColour(e);
  }
  for (int32_t f = 0; f < kept.reference.faceCount; ++f)
    ++table->entries[kept.referenceLayer[f]].referenceFaces;
  for (int32_t f = 0; f < kept.target.faceCount; ++f) {
    LayerEntry& entry = table->entries[kept.outputLayer[f]];
    ++entry.outputFaces;
    entry.unmatchedFaces += keptHow(kept, f) == HowMatched::unmatched;
  }
  return 1;
}

void releaseLayerTable(LayerTable* table) noexcept {
  if (!table) return;
  gfree(table->entries);
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

uint32_t* referenceFaceColours(const KeptResult& kept, const LayerTable& table) noexcept {
  if (!kept.hasReference || table.count != kept.layerCount) return nullptr;
  auto* colours = static_cast<uint32_t*>(gmalloc(size_t(kept.reference.faceCount + 1) * 4));
  for (int32_t f = 0; colours && f < kept.reference.faceCount; ++f)
    colours[f] = table.entries[kept.referenceLayer[f]].colour;
  return colours;
}

uint32_t* outputFaceColours(const KeptResult& kept, const LayerTable& table, bool byHow) noexcept {
  if (!kept.how || table.count != kept.layerCount) return nullptr;
  auto* colours = static_cast<uint32_t*>(gmalloc(size_t(kept.target.faceCount + 1) * 4));
  for (int32_t f = 0; colours && f < kept.target.faceCount; ++f) {
    HowMatched how = keptHow(kept, f);
    uint32_t colour = byHow || how == HowMatched::unmatched
                          ? howMatchedColour(how)
                          : table.entries[kept.outputLayer[f]].colour;
    colours[f] = colour | (keptGuess(kept, f) ? kFaceHatched : 0);
  }
  return colours;
}
