#include "platform/surface.h"

#include <gtest/gtest.h>

namespace {

TEST(SurfaceTest, PackingFillsExactlyTheChannelMasksAndUnpackingWidensThem) {
  const PixelFormat formats[] = {PixelFormat::Rgb565, PixelFormat::Rgb555, PixelFormat::Argb1555,
                                 PixelFormat::Argb4444, PixelFormat::Argb8888};
  for (PixelFormat f : formats) {
    SCOPED_TRACE(int(f));
    const PixelMasks m = MasksOf(f);
    EXPECT_EQ(PackPixel(f, 255, 0, 0, 0), m.red);
    EXPECT_EQ(PackPixel(f, 0, 255, 0, 0), m.green);
    EXPECT_EQ(PackPixel(f, 0, 0, 255, 0), m.blue);
    EXPECT_EQ(PackPixel(f, 0, 0, 0, 255), m.alpha);
    uint8_t r, g, b, a;
    UnpackPixel(f, m.red | m.green | m.blue | m.alpha, r, g, b, a);
    EXPECT_EQ(r, 255);
    EXPECT_EQ(g, 255);
    EXPECT_EQ(b, 255);
    EXPECT_EQ(a, 255) << "full channels widen to 255, a missing alpha reads as opaque";
    UnpackPixel(f, PackPixel(f, 0x84, 0x42, 0x10, 0), r, g, b, a);
    EXPECT_NEAR(r, 0x84, 16);
    EXPECT_NEAR(g, 0x42, 16);
    EXPECT_NEAR(b, 0x10, 16);
  }
  uint8_t r, g, b, a;
  UnpackPixel(PixelFormat::Rgb565, 0x8410, r, g, b, a);  // 10000 100000 10000
  EXPECT_EQ(r, 0x84);
  EXPECT_EQ(g, 0x82);
  EXPECT_EQ(b, 0x84);
}

TEST(SurfaceTest, PixelsLieAtTheirRowAndColumn) {
  for (PixelFormat f : {PixelFormat::Rgb565, PixelFormat::Argb8888}) {
    Surface s;
    s.Allocate(3, 2, f);
    EXPECT_EQ(s.pitch, 3 * BytesPerPixel(f));
    s.Put(2, 1, 0x1234);
    EXPECT_EQ(s.Get(2, 1), 0x1234u);
    EXPECT_EQ(s.Get(1, 1), 0u);
    EXPECT_EQ(s.pixels[size_t(s.pitch) + 2 * BytesPerPixel(f)], 0x34);
  }
}

}  // namespace
