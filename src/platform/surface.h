// Pixels in the formats the display and the software 3D device use: the
// 16-bit display formats and the texture formats, one layout per format.
#pragma once

#include <cstdint>
#include <vector>

enum class PixelFormat {
  Rgb565,    // display default, opaque textures
  Rgb555,    // display (top bit unused)
  Argb1555,  // textures with one alpha bit
  Argb4444,  // display and textures with four alpha bits
  Argb8888,  // 32-bit textures
};

struct PixelMasks {
  int bitCount;
  uint32_t alpha, red, green, blue;
};

PixelMasks MasksOf(PixelFormat format);
int BytesPerPixel(PixelFormat format);

// Packs 8-bit channels into a pixel of the format (alpha ignored where the
// format has none), and the reverse with each channel widened to 8 bits.
uint32_t PackPixel(PixelFormat format, uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255);
void UnpackPixel(PixelFormat format, uint32_t pixel, uint8_t& r, uint8_t& g, uint8_t& b, uint8_t& a);

// A rectangle of pixels, rows `pitch` bytes apart.
struct Surface {
  int width = 0;
  int height = 0;
  int pitch = 0;
  PixelFormat format = PixelFormat::Rgb565;
  std::vector<uint8_t> pixels;

  void Allocate(int w, int h, PixelFormat f);
  uint32_t Get(int x, int y) const;
  void Put(int x, int y, uint32_t pixel);
};
