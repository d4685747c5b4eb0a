#include "platform/surface.h"

#include <cstring>

PixelMasks MasksOf(PixelFormat format) {
  switch (format) {
    case PixelFormat::Rgb565: return {16, 0, 0xF800, 0x07E0, 0x001F};
    case PixelFormat::Rgb555: return {16, 0, 0x7C00, 0x03E0, 0x001F};
    case PixelFormat::Argb1555: return {16, 0x8000, 0x7C00, 0x03E0, 0x001F};
    case PixelFormat::Argb4444: return {16, 0xF000, 0x0F00, 0x00F0, 0x000F};
    case PixelFormat::Argb8888: return {32, 0xFF000000u, 0x00FF0000, 0x0000FF00, 0x000000FF};
  }
  return {16, 0, 0xF800, 0x07E0, 0x001F};
}

int BytesPerPixel(PixelFormat format) { return MasksOf(format).bitCount / 8; }

namespace {

int ShiftOf(uint32_t mask) {
  int shift = 0;
  while (mask != 0 && (mask & 1u) == 0) {
    mask >>= 1;
    ++shift;
  }
  return shift;
}

int WidthOf(uint32_t mask) {
  int width = 0;
  for (mask >>= ShiftOf(mask); mask & 1u; mask >>= 1) ++width;
  return width;
}

// A channel's mask with its position and width, worked out once per format:
// blits between formats convert every pixel.
struct Channel {
  uint32_t mask;
  int shift, width;
  explicit Channel(uint32_t m) : mask(m), shift(ShiftOf(m)), width(WidthOf(m)) {}
};

struct FormatChannels {
  Channel alpha, red, green, blue;
  explicit FormatChannels(const PixelMasks& m) : alpha(m.alpha), red(m.red), green(m.green), blue(m.blue) {}
};

const FormatChannels& ChannelsOf(PixelFormat format) {
  static const FormatChannels table[] = {
      FormatChannels(MasksOf(PixelFormat::Rgb565)), FormatChannels(MasksOf(PixelFormat::Rgb555)),
      FormatChannels(MasksOf(PixelFormat::Argb1555)), FormatChannels(MasksOf(PixelFormat::Argb4444)),
      FormatChannels(MasksOf(PixelFormat::Argb8888))};
  const unsigned index = unsigned(format);
  return table[index < sizeof table / sizeof *table ? index : 0];
}

// The top bits of an 8-bit channel, placed under the mask.
uint32_t Place(uint8_t value, const Channel& c) {
  if (c.mask == 0) return 0;
  return (uint32_t(value) >> (8 - c.width)) << c.shift;
}

// A channel under the mask, widened to 8 bits by repeating its top bits.
uint8_t Take(uint32_t pixel, const Channel& c) {
  if (c.width == 0) return 255;
  const uint32_t value = (pixel & c.mask) >> c.shift;
  uint32_t wide = value << (8 - c.width);
  for (int filled = c.width; filled < 8; filled += c.width) wide |= (value << (8 - c.width)) >> filled;
  return uint8_t(wide);
}

}  // namespace

uint32_t PackPixel(PixelFormat format, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  const FormatChannels& c = ChannelsOf(format);
  return Place(a, c.alpha) | Place(r, c.red) | Place(g, c.green) | Place(b, c.blue);
}

void UnpackPixel(PixelFormat format, uint32_t pixel, uint8_t& r, uint8_t& g, uint8_t& b, uint8_t& a) {
  const FormatChannels& c = ChannelsOf(format);
  r = Take(pixel, c.red);
  g = Take(pixel, c.green);
  b = Take(pixel, c.blue);
  a = Take(pixel, c.alpha);
}

void Surface::Allocate(int w, int h, PixelFormat f) {
  width = w > 0 ? w : 0;
  height = h > 0 ? h : 0;
  format = f;
  pitch = width * BytesPerPixel(f);
  pixels.assign(size_t(pitch) * size_t(height), 0);
}

uint32_t Surface::Get(int x, int y) const {
  const uint8_t* p = &pixels[size_t(y) * size_t(pitch) + size_t(x) * size_t(BytesPerPixel(format))];
  if (BytesPerPixel(format) == 2) return uint32_t(p[0]) | uint32_t(p[1]) << 8;
  uint32_t value;
  std::memcpy(&value, p, 4);
  return value;
}

void Surface::Put(int x, int y, uint32_t pixel) {
  uint8_t* p = &pixels[size_t(y) * size_t(pitch) + size_t(x) * size_t(BytesPerPixel(format))];
  if (BytesPerPixel(format) == 2) {
    p[0] = uint8_t(pixel);
    p[1] = uint8_t(pixel >> 8);
    return;
  }
  std::memcpy(p, &pixel, 4);
}
