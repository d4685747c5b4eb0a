#include "platform/resample.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// One row or column of grey levels in a 32-bit surface, along x or y.
Surface Line(const std::vector<int>& levels, bool across) {
  Surface s;
  const int n = int(levels.size());
  s.Allocate(across ? n : 1, across ? 1 : n, PixelFormat::Argb8888);
  for (int i = 0; i < n; ++i) {
    const uint8_t v = uint8_t(levels[size_t(i)]);
    s.Put(across ? i : 0, across ? 0 : i, PackPixel(PixelFormat::Argb8888, v, v, v));
  }
  return s;
}

std::vector<int> Levels(const Surface& s) {
  std::vector<int> out;
  for (int y = 0; y < s.height; ++y)
    for (int x = 0; x < s.width; ++x) {
      uint8_t r, g, b, a;
      UnpackPixel(s.format, s.Get(x, y), r, g, b, a);
      EXPECT_TRUE(r == g && g == b);
      out.push_back(r);
    }
  return out;
}

// Shrinking averages the covered area, fractions of pixels included;
// enlarging interpolates between pixel centres and repeats the edges; the
// same size copies. Each along either axis.
TEST(ResampleTest, ShrinksByAreaEnlargesBilinearlyAlongEitherAxis) {
  const struct {
    std::vector<int> in;
    int size;
    std::vector<int> out;
  } cases[] = {
      {{0, 90, 180}, 2, {30, 150}},
      {{0, 40, 80, 120}, 2, {20, 100}},
      {{0, 200}, 4, {0, 50, 150, 200}},
      {{10, 20, 30}, 3, {10, 20, 30}},
  };
  for (const auto& c : cases)
    for (const bool across : {true, false}) {
      const Surface line = Line(c.in, across);
      const int n = int(c.in.size());
      const Surface out =
          ScaleRect(line, {0, 0, line.width, line.height}, across ? c.size : 1, across ? 1 : c.size);
      EXPECT_EQ(Levels(out), c.out) << n << " to " << c.size << (across ? " across" : " down");
    }
}

// A rectangle of a 16-bit frame: only its pixels count, a flat colour stays
// exact at any ratio, and a rectangle outside the frame gives nothing.
TEST(ResampleTest, TakesTheRectangleOfA16BitFrame) {
  Surface frame;
  frame.Allocate(40, 30, PixelFormat::Rgb565);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      const bool inside = x >= 10 && x < 17 && y >= 5 && y < 12;
      frame.Put(x, y, inside ? PackPixel(PixelFormat::Rgb565, 255, 0, 255) : 0u);
    }
  for (const int size : {3, 7, 16}) {
    const Surface out = ScaleRect(frame, {10, 5, 7, 7}, size, size);
    ASSERT_EQ(out.width, size);
    ASSERT_EQ(out.height, size);
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x)
        ASSERT_EQ(out.Get(x, y) & 0xFFFFFFu, 0xFF00FFu) << size << ": " << x << "," << y;
  }
  EXPECT_EQ(ScaleRect(frame, {35, 0, 7, 7}, 4, 4).width, 0);
  EXPECT_EQ(ScaleRect(frame, {0, 0, 7, 7}, 0, 4).width, 0);
}

}  // namespace
