#pragma once
// The faces of a model drawn into a RenderImage: orthographic, through a depth buffer, each
// face one flat colour shaded by how squarely it faces the eye. No display, no GPU; the same
// mesh, colours and view give the same pixels.
#include <cstdint>

struct RenderImage;
struct RenderMesh;
struct RenderView;

// Bits of a face colour: 0xRRGGBB, plus kFaceHatched to stripe the face with a darker shade.
constexpr uint32_t kFaceHatched = 1u << 24;
constexpr uint32_t kRenderBackground = 0xF2F2F2;
// Coordinates beyond this (or not finite) are not drawn: such faces are left out and counted.
constexpr double kLargestDrawnCoordinate = 1e12;

struct RenderCounts {
  int32_t drawn;    // faces drawn (every step-th face with usable corners)
  int32_t leftOut;  // faces left out for a corner that is not finite or beyond the limit
};

// Clears `image` (already allocated) to kRenderBackground and draws the faces of `mesh` with
// `colours` (one per face) seen along `view`, fitted to the bounds of the mesh's usable
// points with a margin. `step` > 1 draws only every step-th face (a quick preview); the fit
// stays that of the whole mesh. A single point or a flat model edge-on still gives a picture
// (faces thinner than a pixel are drawn as their edges). Fills *counts when given. Returns 1,
// or 0 when memory for the projected points failed (the image is then only cleared).
int renderFaces(const RenderMesh& mesh, const uint32_t* colours, const RenderView& view,
                int32_t step, RenderImage* image, RenderCounts* counts) noexcept;
