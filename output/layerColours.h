#pragma once
// Colours of the pictures: one fixed, well-separated colour per layer name, shared by the
// reference and the output picture, a warning colour for faces left unmatched, and one colour
// per kind of match.
#include <cstdint>

#include "match/howMatched.h"

struct KeptResult;

constexpr uint32_t kUnmatchedColour = 0xFF0000;  // no palette colour is a red

struct LayerEntry {
  const char* name;        // borrowed from the kept result's layerNames
  int32_t referenceFaces;  // reference faces on this layer
  int32_t outputFaces;     // target faces written under it (outputLayer)
  int32_t unmatchedFaces;  // of those, faces left unmatched (their own layer)
  uint32_t colour;         // 0xRRGGBB
};

// The layers of a run, one entry per name of the kept result's layerNames, in the same (byte)
// order. Valid when zero-filled (no layers).
struct LayerTable {
  int32_t count;
  LayerEntry* entries;  // owned
};

// Builds the table of `kept` into `table`, releasing what it held. Layers take palette colours
// in name order, so the same names give the same colours in both pictures and in every run
// with those names. Returns 1, or 0 when memory failed (the table is then empty).
int buildLayerTable(const KeptResult& kept, LayerTable* table) noexcept;
// Releases the table's blocks and zeroes it; null does nothing.
void releaseLayerTable(LayerTable* table) noexcept;

// Colour `index` (from 0) of the palette: a fixed list of well-separated colours, then hues
// spread by the golden angle, none of them red; the first 500 all differ.
uint32_t paletteColour(int32_t index) noexcept;
// The colour of a kind of match; unmatched is kUnmatchedColour.
uint32_t howMatchedColour(HowMatched how) noexcept;

// Face colours for renderFaces, as a new block of one entry per face (release with gfree);
// null when memory failed or the model is absent. The reference: its layers' colours. The
// output: its written layers' colours, or with `byHow` the colour of how each face was matched;
// either way unmatched faces in kUnmatchedColour and faces whose layer is a guess hatched.
uint32_t* referenceFaceColours(const KeptResult& kept, const LayerTable& table) noexcept;
uint32_t* outputFaceColours(const KeptResult& kept, const LayerTable& table, bool byHow) noexcept;
