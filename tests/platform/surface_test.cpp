#include "platform/surface.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

TEST(SurfaceTest, PackingFillsExactlyTheChannelMasksAndUnpackingWidensThem) {
  for (PixelFormat f : {PixelFormat::Rgb565, PixelFormat::Rgb555, PixelFormat::Argb1555,
                        PixelFormat::Argb4444, PixelFormat::Argb8888}) {
    const PixelMasks m = MasksOf(f);
    EXPECT_EQ((std::vector<uint32_t>{PackPixel(f, 255, 0, 0, 0), PackPixel(f, 0, 255, 0, 0),
                                     PackPixel(f, 0, 0, 255, 0), PackPixel(f, 0, 0, 0, 255)}),
              (std::vector<uint32_t>{m.red, m.green, m.blue, m.alpha}))
        << int(f);
    uint8_t r, g, b, a;
    UnpackPixel(f, m.red | m.green | m.blue | m.alpha, r, g, b, a);
    EXPECT_EQ(r & g & b & a, 255) << int(f) << ": full channels widen to 255, no alpha is opaque";
    UnpackPixel(f, PackPixel(f, 0x84, 0x42, 0x10, 0), r, g, b, a);  // the top bits of each channel kept
    EXPECT_LE(std::max({std::abs(r - 0x84), std::abs(g - 0x42), std::abs(b - 0x10)}), 16) << int(f);
  }
  uint8_t r, g, b, a;
  UnpackPixel(PixelFormat::Rgb565, 0x8410, r, g, b, a);  // 10000 100000 10000: the top bits repeated
  EXPECT_EQ((std::vector<int>{r, g, b}), (std::vector<int>{0x84, 0x82, 0x84}));
}

TEST(SurfaceTest, PixelsLieAtTheirRowAndColumn) {
  for (PixelFormat f : {PixelFormat::Rgb565, PixelFormat::Argb8888}) {
    Surface s;
    s.Allocate(3, 2, f);
    s.Put(2, 1, 0x1234);
    EXPECT_EQ(s.pitch, 3 * BytesPerPixel(f));
    EXPECT_EQ(std::vector<uint32_t>({s.Get(2, 1), s.Get(1, 1)}), std::vector<uint32_t>({0x1234, 0}));
    EXPECT_EQ(s.pixels[size_t(s.pitch) + 2 * BytesPerPixel(f)], 0x34) << "little-endian";
  }
}

}  // namespace
