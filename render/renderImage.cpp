#include "render/renderImage.h"

#include <cstddef>

#include "textfiles/allocator.h"

namespace {
constexpr int32_t kLargestSide = 16384;
}  // namespace

int allocateRenderImage(RenderImage* image, int32_t width, int32_t height) noexcept {
  if (!image) return 0;
  releaseRenderImage(image);
  if (width < 1 || height < 1 || width > kLargestSide || height > kLargestSide) return 0;
  size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  image->rgb = static_cast<uint8_t*>(gmalloc(pixels * 3));
  image->depth = image->rgb ? static_cast<float*>(gmalloc(pixels * sizeof(float))) : nullptr;
  if (!image->depth) {
    releaseRenderImage(image);
    return 0;
  }
  image->width = width;
  image->height = height;
  return 1;
}

void releaseRenderImage(RenderImage* image) noexcept {
  if (!image) return;
  gfree(image->rgb);
  gfree(image->depth);
  *image = RenderImage{};
}

uint32_t pixelColour(const RenderImage& image, int32_t x, int32_t y) noexcept {
  if (!image.rgb || x < 0 || y < 0 || x >= image.width || y >= image.height) return 0;
  const uint8_t* p = image.rgb + (static_cast<size_t>(y) * image.width + x) * 3;
  return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}
