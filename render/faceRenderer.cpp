#include "render/faceRenderer.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "model/vectors.h"
#include "render/renderImage.h"
#include "render/renderMesh.h"
#include "render/renderView.h"
#include "textfiles/scopedBlocks.h"

namespace {

constexpr double kMarginShare = 0.04;  // of the picture's smaller side, on every edge
constexpr float kThinArea = 1.0f;      // twice a triangle's pixel area below which edges are drawn
constexpr float kAmbient = 0.35f;      // light on a face seen edge-on
constexpr int32_t kHatchPeriod = 6;    // pixels between the starts of two stripes
constexpr int32_t kHatchWidth = 2;     // pixels of a stripe

// A point in picture coordinates: x right, y down, depth away from the eye; x is NaN when the
// point is not drawn.
struct ScreenPoint {
  float x, y, depth;
};

bool usable(const Vec3& p) {
  return std::fabs(p.x) <= kLargestDrawnCoordinate && std::fabs(p.y) <= kLargestDrawnCoordinate &&
         std::fabs(p.z) <= kLargestDrawnCoordinate;  // false for NaN too
}

Vec3 meshPoint(const RenderMesh& mesh, int32_t i) {
  const double* p = mesh.points + 3 * size_t(i);
  return {p[0], p[1], p[2]};
}

// The scale and centre that fit the usable points' projected bounds into the picture.
struct Fit {
  double scale, centreX, centreY;
};

Fit fitBounds(const RenderMesh& mesh, const ViewAxes& axes, const RenderImage& image, double zoom) {
  double lowX = std::numeric_limits<double>::infinity(), highX = -lowX;
  double lowY = lowX, highY = -lowX;
  for (int32_t i = 0; i < mesh.pointCount; ++i) {
    Vec3 v = meshPoint(mesh, i);
    if (!usable(v)) continue;
    double x = dot(v, axes.right), y = dot(v, axes.up);
    lowX = std::min(lowX, x), highX = std::max(highX, x);
    lowY = std::min(lowY, y), highY = std::max(highY, y);
  }
  if (!(lowX <= highX)) return {1.0, 0.0, 0.0};  // nothing usable
  double margin = kMarginShare * std::min(image.width, image.height);
  double roomX = std::max(1.0, image.width - 2 * margin);
  double roomY = std::max(1.0, image.height - 2 * margin);
  double spanX = highX - lowX, spanY = highY - lowY;
  double scale = std::numeric_limits<double>::infinity();
  if (spanX > 0) scale = roomX / spanX;
  if (spanY > 0) scale = std::min(scale, roomY / spanY);
  if (!std::isfinite(scale)) scale = 1.0;  // one point, or spans too small to divide by
  return {scale * (zoom > 0 ? zoom : 1.0), lowX + spanX / 2, lowY + spanY / 2};
}

void projectPoints(const RenderMesh& mesh, const ViewAxes& axes, const Fit& fit,
                   const RenderImage& image, ScreenPoint* out) {
  const double halfWidth = image.width / 2.0, halfHeight = image.height / 2.0;
  for (int32_t i = 0; i < mesh.pointCount; ++i) {
    Vec3 v = meshPoint(mesh, i);
    if (!usable(v)) {
      out[i] = {std::numeric_limits<float>::quiet_NaN(), 0.0f, 0.0f};
      continue;
    }
    out[i].x = static_cast<float>(halfWidth + (dot(v, axes.right) - fit.centreX) * fit.scale);
    out[i].y = static_cast<float>(halfHeight - (dot(v, axes.up) - fit.centreY) * fit.scale);
    out[i].depth = static_cast<float>(dot(v, axes.forward) * fit.scale);
  }
}

// Writes `colour` at (x, y) when `depth` is nearer than what is there.
inline void plot(RenderImage& image, int32_t x, int32_t y, float depth, uint32_t colour) {
  size_t at = static_cast<size_t>(y) * image.width + x;
  if (!(depth < image.depth[at])) return;
  image.depth[at] = depth;
  bool stripe = (colour & kFaceHatched) && (x + y) % kHatchPeriod < kHatchWidth;
  uint32_t c = stripe ? (colour >> 2) & 0x3F3F3F : colour;
  uint8_t* p = image.rgb + at * 3;
  p[0] = static_cast<uint8_t>(c >> 16), p[1] = static_cast<uint8_t>(c >> 8);
  p[2] = static_cast<uint8_t>(c);
}

// Cuts the segment a-b to its part inside [0, width] x [0, height] (Liang-Barsky), depth
// along; false when no part of it is inside.
bool clipSegment(const RenderImage& image, ScreenPoint* a, ScreenPoint* b) {
  const float dx = b->x - a->x, dy = b->y - a->y;
  const float p[4] = {-dx, dx, -dy, dy};
  const float q[4] = {a->x, image.width - a->x, a->y, image.height - a->y};
  float t0 = 0.0f, t1 = 1.0f;
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
      continue;
    }
    float r = q[i] / p[i];
    if (p[i] < 0) t0 = std::max(t0, r);
    if (p[i] > 0) t1 = std::min(t1, r);
  }
  if (!(t0 <= t1)) return false;
  const ScreenPoint from = *a;
  const float dDepth = b->depth - from.depth;
  *a = {from.x + dx * t0, from.y + dy * t0, from.depth + dDepth * t0};
  *b = {from.x + dx * t1, from.y + dy * t1, from.depth + dDepth * t1};
  return true;
}

// A line of pixels from a to b, depth interpolated, cut to the picture.
void drawEdge(RenderImage& image, ScreenPoint a, ScreenPoint b, uint32_t colour) {
  if (!clipSegment(image, &a, &b)) return;
  float dx = b.x - a.x, dy = b.y - a.y;
  int32_t steps = static_cast<int32_t>(std::ceil(std::max(std::fabs(dx), std::fabs(dy))));
  for (int32_t s = 0; s <= steps; ++s) {
    float t = steps ? static_cast<float>(s) / steps : 0.0f;
    int32_t x = static_cast<int32_t>(std::floor(a.x + dx * t));
    int32_t y = static_cast<int32_t>(std::floor(a.y + dy * t));
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) continue;
    plot(image, x, y, a.depth + (b.depth - a.depth) * t, colour);
  }
}

// Fills the triangle a, b, c at the pixel centres it covers; a triangle thinner than a pixel
// is drawn as its edges so that small faces never vanish.
void drawTriangle(RenderImage& image, ScreenPoint a, ScreenPoint b, ScreenPoint c,
                  uint32_t colour) {
  float area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
  if (std::fabs(area) < kThinArea) {
    drawEdge(image, a, b, colour), drawEdge(image, b, c, colour), drawEdge(image, c, a, colour);
    return;
  }
  if (area < 0) std::swap(b, c), area = -area;
  // Bounds clamped as floats first: a face far outside the picture must not overflow an int.
  auto clampTo = [](float v, int32_t high) {
    return static_cast<int32_t>(std::clamp(v, 0.0f, static_cast<float>(high)));
  };
  int32_t x0 = clampTo(std::floor(std::min({a.x, b.x, c.x})), image.width - 1);
  int32_t x1 = clampTo(std::ceil(std::max({a.x, b.x, c.x})), image.width - 1);
  int32_t y0 = clampTo(std::floor(std::min({a.y, b.y, c.y})), image.height - 1);
  int32_t y1 = clampTo(std::ceil(std::max({a.y, b.y, c.y})), image.height - 1);
  for (int32_t y = y0; y <= y1; ++y) {
    float py = y + 0.5f;
    for (int32_t x = x0; x <= x1; ++x) {
      float px = x + 0.5f;
      float wa = (c.x - b.x) * (py - b.y) - (c.y - b.y) * (px - b.x);
      float wb = (a.x - c.x) * (py - c.y) - (a.y - c.y) * (px - c.x);
      float wc = (b.x - a.x) * (py - a.y) - (b.y - a.y) * (px - a.x);
      if (wa < 0 || wb < 0 || wc < 0) continue;
      plot(image, x, y, (wa * a.depth + wb * b.depth + wc * c.depth) / area, colour);
    }
  }
}

// The colour scaled by the light the face gets: kAmbient edge-on, full facing the eye.
uint32_t shaded(uint32_t colour, const ScreenPoint& a, const ScreenPoint& b, const ScreenPoint& c) {
  float ux = b.x - a.x, uy = b.y - a.y, uz = b.depth - a.depth;
  float vx = c.x - a.x, vy = c.y - a.y, vz = c.depth - a.depth;
  float nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
  float length = std::sqrt(nx * nx + ny * ny + nz * nz);
  float facing = length > 0 ? std::fabs(nz) / length : 1.0f;
  float light = kAmbient + (1.0f - kAmbient) * facing;
  uint32_t out = colour & kFaceHatched;
  for (int shift = 0; shift <= 16; shift += 8) {
    auto channel = static_cast<uint32_t>(((colour >> shift) & 0xFF) * light + 0.5f);
    out |= std::min<uint32_t>(channel, 255) << shift;
  }
  return out;
}

void clearImage(RenderImage& image) {
  size_t pixels = static_cast<size_t>(image.width) * image.height;
  for (size_t i = 0; i < pixels; ++i) {
    image.rgb[i * 3] = (kRenderBackground >> 16) & 0xFF;
    image.rgb[i * 3 + 1] = (kRenderBackground >> 8) & 0xFF;
    image.rgb[i * 3 + 2] = kRenderBackground & 0xFF;
    image.depth[i] = std::numeric_limits<float>::infinity();
  }
}

// The face's corners in picture coordinates; false when one of them is not drawn.
bool faceCorners(const RenderMesh& mesh, int32_t f, const ScreenPoint* screen,
                 ScreenPoint (&out)[4], int32_t* count) {
  *count = meshFaceCorners(mesh, f);
  for (int32_t k = 0; k < *count; ++k) {
    int32_t point = mesh.corners[4 * size_t(f) + k];
    if (point < 0 || point >= mesh.pointCount || std::isnan(screen[point].x)) return false;
    out[k] = screen[point];
  }
  return true;
}

}  // namespace

int renderFaces(const RenderMesh& mesh, const uint32_t* colours, const RenderView& view,
                int32_t step, RenderImage* image, RenderCounts* counts) noexcept {
  RenderCounts tally{};
  if (counts) *counts = tally;
  if (!image || !image->rgb || !image->depth) return 0;
  clearImage(*image);
  ScopedBlocks blocks;
  ScreenPoint* screen = blocks.raw<ScreenPoint>(mesh.pointCount > 0 ? mesh.pointCount : 1);
  if (!screen) return 0;
  ViewAxes axes = viewAxes(view);
  projectPoints(mesh, axes, fitBounds(mesh, axes, *image, view.zoom), *image, screen);
  if (step < 1) step = 1;
  for (int32_t f = 0; f < mesh.faceCount; f += step) {
    ScreenPoint corner[4];
    int32_t count = 0;
    if (!faceCorners(mesh, f, screen, corner, &count)) {
      ++tally.leftOut;
      continue;
    }
    uint32_t colour = shaded(colours ? colours[f] : 0x808080, corner[0], corner[1], corner[2]);
    drawTriangle(*image, corner[0], corner[1], corner[2], colour);
    if (count == 4) drawTriangle(*image, corner[0], corner[2], corner[3], colour);
    ++tally.drawn;
  }
  if (counts) *counts = tally;
  return 1;
}
