#pragma once
// A picture in memory: rows of 8-bit red, green, blue triples from the top-left corner, with the
// depth of each pixel's nearest face. Plain record, valid when zero-filled (no picture).
#include <cstdint>

struct RenderImage {
  int32_t width;   // pixels
  int32_t height;  // pixels
  uint8_t* rgb;    // owned: width * height * 3 bytes, row after row
  float* depth;    // owned: width * height view depths; +infinity where nothing was drawn
};

// Gives `image` blocks for width x height pixels (both 1 to 16384), releasing its old ones.
// Returns 1, or 0 when the size is out of range or memory failed (the image is then empty).
int allocateRenderImage(RenderImage* image, int32_t width, int32_t height) noexcept;
// Releases the image's blocks; the record becomes zero. Null does nothing.
void releaseRenderImage(RenderImage* image) noexcept;
// The colour of pixel (x, y) as 0xRRGGBB; 0 outside the picture.
uint32_t pixelColour(const RenderImage& image, int32_t x, int32_t y) noexcept;
