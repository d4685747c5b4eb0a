#include "platform/png.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/model_builder.h"

namespace {

// An independent reader of what the writer promises: PNG chunks with
// bit-by-bit CRCs, and a zlib stream of stored blocks only.
uint32_t SlowCrc(const uint8_t* p, size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

uint32_t SlowAdler(const std::vector<uint8_t>& bytes) {
  uint32_t a = 1, b = 0;
  for (uint8_t byte : bytes) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  return b << 16 | a;
}

uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

struct Decoded {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> zlib;  // the IDAT contents
  std::vector<uint8_t> raw;   // inflated
  int blocks = 0;
};

// False at the first thing out of place.
bool Inflate(const std::vector<uint8_t>& z, Decoded* out) {
  if (z.size() < 6 || (z[0] & 0x0F) != 8 || (z[0] << 8 | z[1]) % 31 != 0) return false;
  size_t at = 2;
  for (bool last = false; !last; ++out->blocks) {
    if (at + 5 > z.size() || (z[at] & 0x06) != 0) return false;  // stored blocks only
    last = z[at] & 1;
    const size_t len = z[at + 1] | z[at + 2] << 8, nlen = z[at + 3] | z[at + 4] << 8;
    if ((len ^ 0xFFFF) != nlen || at + 5 + len > z.size()) return false;
    out->raw.insert(out->raw.end(), z.begin() + long(at) + 5, z.begin() + long(at + 5 + len));
    at += 5 + len;
  }
  return at + 4 == z.size() && Be32(&z[at]) == SlowAdler(out->raw);
}

bool ReadPng(const std::vector<uint8_t>& png, Decoded* out) {
  const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (png.size() < 8 || !std::equal(signature, signature + 8, png.begin())) return false;
  std::string order;
  for (size_t at = 8; at < png.size();) {
    if (at + 12 > png.size() || at + 12 + Be32(&png[at]) > png.size()) return false;
    const uint32_t length = Be32(&png[at]);
    const std::string type(png.begin() + long(at) + 4, png.begin() + long(at) + 8);
    if (SlowCrc(&png[at + 4], length + 4) != Be32(&png[at + 8 + length])) return false;
    const uint8_t* body = &png[at + 8];
    if (type == "IHDR") {
      if (length != 13 || body[8] != 8 || body[9] != 2 || body[10] || body[11] || body[12]) return false;
      out->width = Be32(body);
      out->height = Be32(body + 4);
    }
    if (type == "IDAT") out->zlib.insert(out->zlib.end(), body, body + length);
    order += type;
    at += 12 + length;
  }
  return order == "IHDRIDATIEND" && Inflate(out->zlib, out);
}

Surface Gradient(int w, int h, PixelFormat f) {
  Surface s;
  s.Allocate(w, h, f);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) s.Put(x, y, PackPixel(f, uint8_t(x * 7), uint8_t(y * 5), uint8_t(x ^ y)));
  return s;
}

// The bytes the file must hold: per row a zero filter byte and the widened
// channels.
std::vector<uint8_t> ExpectedRows(const Surface& s) {
  std::vector<uint8_t> rows;
  for (int y = 0; y < s.height; ++y) {
    rows.push_back(0);
    for (int x = 0; x < s.width; ++x) {
      uint8_t r, g, b, a;
      UnpackPixel(s.format, s.Get(x, y), r, g, b, a);
      rows.insert(rows.end(), {r, g, b});
    }
  }
  return rows;
}

TEST(PngTest, SmallAndMultiBlockImagesReadBackExactly) {
  // 200 x 120 gives 72,120 bytes of rows: two stored blocks.
  const struct {
    int w, h;
    PixelFormat f;
    int blocks;
  } cases[] = {{1, 1, PixelFormat::Rgb565, 1},
               {5, 3, PixelFormat::Rgb555, 1},
               {200, 120, PixelFormat::Rgb565, 2},
               {7, 2, PixelFormat::Argb4444, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.w);
    const Surface s = Gradient(c.w, c.h, c.f);
    Decoded d;
    ASSERT_TRUE(ReadPng(EncodePng(s), &d));
    EXPECT_EQ(d.width, uint32_t(c.w));
    EXPECT_EQ(d.height, uint32_t(c.h));
    EXPECT_EQ(d.blocks, c.blocks);
    EXPECT_EQ(d.raw, ExpectedRows(s));
  }
  // White stays white: every channel widened to the full 255.
  Surface white;
  white.Allocate(1, 1, PixelFormat::Rgb565);
  white.Put(0, 0, 0xFFFF);
  Decoded d;
  ASSERT_TRUE(ReadPng(EncodePng(white), &d));
  EXPECT_EQ(d.raw, (std::vector<uint8_t>{0, 255, 255, 255}));
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
  EXPECT_EQ(Adler32(ones.data(), ones.size()), SlowAdler(ones));
}

TEST(PngTest, PythonZlibChecksAndInflatesTheFile) {
  const Surface s = Gradient(300, 90, PixelFormat::Rgb565);  // 81,090 bytes: two blocks
  const std::string path = TempPath("stream.png"), out = TempPath("stream.raw");
  ASSERT_TRUE(WritePngFile(path.c_str(), s));
  // Python walks the chunks itself, checks their CRCs and inflates the IDAT data.
  const std::string command =
      "python3 -c '\nimport sys,zlib,struct\nd=open(sys.argv[1],\"rb\").read();i=8;z=b\"\"\n"
      "while i<len(d):\n n,t=struct.unpack(\">I4s\",d[i:i+8])\n"
      " assert zlib.crc32(d[i+4:i+8+n])==struct.unpack(\">I\",d[i+8+n:i+12+n])[0]\n"
      " z+=d[i+8:i+8+n] if t==b\"IDAT\" else b\"\"\n i+=12+n\n"
      "open(sys.argv[2],\"wb\").write(zlib.decompress(z))' '" +
      path + "' '" + out + "'";
  const int status = std::system(command.c_str());
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) GTEST_SKIP() << "no python3";
  ASSERT_EQ(status, 0);
  FILE* f = std::fopen(out.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::vector<uint8_t> raw;
  for (int c; (c = std::fgetc(f)) != EOF;) raw.push_back(uint8_t(c));
  std::fclose(f);
  EXPECT_EQ(raw, ExpectedRows(s));
  std::remove(path.c_str());
  std::remove(out.c_str());
  EXPECT_FALSE(WritePngFile("/nonexistent-folder/x.png", s));
}

}  // namespace
