#include "platform/png.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

namespace {

uint32_t SlowAdler(const uint8_t* p, size_t n) {
  uint32_t a = 1, b = 0;
  for (size_t i = 0; i < n; ++i) a = (a + p[i]) % 65521, b = (b + a) % 65521;
  return b << 16 | a;
}

uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// An independent reader of what the writer promises: IHDR (8-bit RGB of the
// size given), IDAT and IEND with their CRCs, the IDAT data a zlib stream of
// the number of stored blocks given. Leaves the inflated rows in raw;
// false at the first thing out of place.
bool ReadPng(const std::vector<uint8_t>& png, uint32_t width, uint32_t height, int blocks,
             std::vector<uint8_t>* raw) {
  const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (png.size() < 8 || !std::equal(signature, signature + 8, png.begin())) return false;
  std::string order;
  std::vector<uint8_t> z;
  for (size_t at = 8, length = 0; at < png.size(); at += 12 + length) {
    if (at + 12 > png.size() || at + 12 + (length = Be32(&png[at])) > png.size()) return false;
    if (Crc32(&png[at + 4], length + 4) != Be32(&png[at + 8 + length])) return false;
    const uint8_t* body = &png[at + 8];
    order += std::string(png.begin() + long(at) + 4, png.begin() + long(at) + 8);
    if (order == "IHDR") {
      if (length != 13 || Be32(body) != width || Be32(body + 4) != height) return false;
      if (body[8] != 8 || body[9] != 2 || body[10] || body[11] || body[12]) return false;
    }
    if (order.size() == 8) z.assign(body, body + length);
  }
  if (order != "IHDRIDATIEND" || z.size() < 6 || (z[0] & 0x0F) != 8 || (z[0] << 8 | z[1]) % 31 != 0)
    return false;
  size_t at = 2;
  for (bool last = false; !last; --blocks) {
    if (at + 5 > z.size() || (z[at] & 0x06) != 0) return false;  // stored blocks only
    last = z[at] & 1;
    const size_t len = z[at + 1] | z[at + 2] << 8, nlen = z[at + 3] | z[at + 4] << 8;
    if ((len ^ 0xFFFF) != nlen || at + 5 + len > z.size()) return false;
    raw->insert(raw->end(), z.begin() + long(at) + 5, z.begin() + long(at + 5 + len));
    at += 5 + len;
  }
  return blocks == 0 && at + 4 == z.size() && Be32(&z[at]) == SlowAdler(raw->data(), raw->size());
}

TEST(PngTest, SmallAndMultiBlockImagesReadBackExactly) {
  // Width, height, format and stored blocks: 200 x 120 gives 72,120 bytes of rows.
  const std::tuple<int, int, PixelFormat, int> cases[] = {
      {1, 1, PixelFormat::Rgb565, 1}, {7, 2, PixelFormat::Argb4444, 1}, {200, 120, PixelFormat::Rgb565, 2}};
  for (const auto& [w, h, f, blocks] : cases) {
    Surface s;
    s.Allocate(w, h, f);
    // Per row a zero filter byte and the widened channels.
    std::vector<uint8_t> rows;
    for (int y = 0; y < h; ++y) {
      rows.push_back(0);
      for (int x = 0; x < w; ++x) {
        s.Put(x, y, PackPixel(f, uint8_t(x * 7), uint8_t(y * 5), uint8_t(x ^ y)));
        uint8_t r, g, b, a;
        UnpackPixel(f, s.Get(x, y), r, g, b, a);
        rows.insert(rows.end(), {r, g, b});
      }
    }
    std::vector<uint8_t> raw;
    ASSERT_TRUE(ReadPng(EncodePng(s), w, h, blocks, &raw)) << w;
    EXPECT_EQ(raw, rows) << w;
  }
  EXPECT_TRUE(EncodePng(Surface()).empty());
}

TEST(PngTest, ChecksumsMatchTheirKnownValues) {
  const std::string text = "123456789";
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  EXPECT_EQ(Crc32(p, text.size()), 0xCBF43926u);
  EXPECT_EQ(Crc32(p + 4, 5, Crc32(p, 4)), 0xCBF43926u) << "continued in two parts";
  const std::string wiki = "Wikipedia";
  EXPECT_EQ(Adler32(reinterpret_cast<const uint8_t*>(wiki.data()), wiki.size()), 0x11E60398u);
  // Long runs of 0xFF are where a missing modulo would overflow.
  const std::vector<uint8_t> ones(100000, 0xFF);
  EXPECT_EQ(Adler32(ones.data(), ones.size()), SlowAdler(ones.data(), ones.size()));
}

}  // namespace
