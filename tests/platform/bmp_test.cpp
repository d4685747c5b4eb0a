#include "platform/bmp.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <strings.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

namespace {

void Put(std::vector<uint8_t>& b, size_t at, int bytes, uint64_t v) {
  for (int k = 0; k < bytes; ++k) b[at + k] = uint8_t(v >> 8 * k);
}
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

// The picture every test bitmap holds: 3 x 2, top row first.
constexpr uint32_t Colours[6] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x000000, 0x808080};
constexpr int Picture[2][3] = {{0, 1, 2}, {3, 4, 5}};

struct BmpLayout {
  const char* name;
  uint16_t bitCount;
  int32_t height;  // negative: top-down
  uint32_t headerSize;
  uint32_t compression;
  std::vector<uint32_t> masks;  // red, green, blue[, alpha]; written after a 40-byte header or inside
                                // larger ones unless the compression is BI_RGB
  uint32_t coloursUsed;         // palette entries written (0: all the depth allows): Colours, then black
};

// A palette index, or the colour placed by the masks (alpha 0x80). Bits no
// mask covers hold junk that the decoder must ignore.
uint32_t PixelValue(const BmpLayout& l, int i) {
  if (l.bitCount <= 8) return l.bitCount == 1 ? i % 2 : i;
  const std::vector<uint32_t>& masks = l.masks;
  const uint32_t channels[4] = {Colours[i] >> 16, (Colours[i] >> 8) & 0xFF, Colours[i] & 0xFF, 0x80};
  uint32_t p = 0, used = 0;
  for (size_t k = 0; k < masks.size(); ++k) {
    if (masks[k] == 0) continue;
    const int shift = __builtin_ctz(masks[k]);
    p |= (channels[k] * (masks[k] >> shift) + 127) / 255 << shift;
    used |= masks[k];
  }
  return p | (0xAAAAAAAAu & ~used);
}

std::vector<uint8_t> BuildBmp(const BmpLayout& l) {
  const bool core = l.headerSize == 12;
  const bool written = l.compression != BI_RGB;  // the masks
  std::vector<uint8_t> b(std::max<size_t>(14 + l.headerSize, written ? 54 + 4 * l.masks.size() : 0), 0);
  Put(b, 0, 2, 'B' | 'M' << 8);
  Put(b, 14, 4, l.headerSize);
  const int field = core ? 2 : 4;  // width and height
  Put(b, 18, field, 3);
  Put(b, 18 + field, field, uint32_t(l.height));
  Put(b, 18 + 2 * field, 4, 1 | l.bitCount << 16);  // planes, bits per pixel
  if (!core) {
    Put(b, 30, 4, l.compression);
    Put(b, 46, 4, l.coloursUsed);
  }
  for (size_t i = 0; written && i < l.masks.size(); ++i) Put(b, 54 + 4 * i, 4, l.masks[i]);
  const uint32_t entries = l.bitCount > 8 ? 0 : l.coloursUsed ? l.coloursUsed : 1u << l.bitCount;
  for (uint32_t i = 0; i < entries; ++i) {
    const uint32_t c = i < 6 ? Colours[i] : 0;
    b.insert(b.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)});
    if (!core) b.push_back(0);
  }
  Put(b, 10, 4, uint32_t(b.size()));
  const int bits = l.bitCount;
  for (int i = 0; i < 2; ++i) {
    std::vector<uint8_t> row((3 * bits + 31) / 32 * 4, 0);
    for (int x = 0; x < 3; ++x) {
      const uint32_t v = PixelValue(l, Picture[l.height < 0 ? i : 1 - i][x]);
      if (bits < 8) row[x * bits / 8] |= uint8_t(v << (8 - bits - x * bits % 8));
      for (int k = 0; k < bits / 8; ++k) row[x * bits / 8 + k] = uint8_t(v >> 8 * k);
    }
    b.insert(b.end(), row.begin(), row.end());
  }
  Put(b, 2, 4, uint32_t(b.size()));
  return b;
}

const BmpLayout Eight{"8-bit, indexes past the colours used", 8, 2, 40, BI_RGB, {}, 2};  // read black
const BmpLayout TwentyFour{"24-bit", 24, 2, 40, BI_RGB, {0xFF0000, 0xFF00, 0xFF}, 0};
const BmpLayout Fields565{"16-bit 565 bit fields", 16, 2, 40, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}, 0};
const BmpLayout Layouts[] = {
    {"1-bit", 1, 2, 40, BI_RGB, {}, 0},
    {"4-bit top-down", 4, -2, 40, BI_RGB, {}, 6},
    Eight,
    {"8-bit core header", 8, 2, 12, BI_RGB, {}, 0},
    {"16-bit 555", 16, 2, 40, BI_RGB, {0x7C00, 0x03E0, 0x001F}, 0},
    Fields565,
    TwentyFour,
    {"32-bit, fourth byte unused", 32, 2, 40, BI_RGB, {0xFF0000, 0xFF00, 0xFF}, 0},
    {"32-bit V5 BGRA top-down", 32, -2, 124, BI_BITFIELDS, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, 0},
};

// Every depth and row order decodes; every shortened copy is refused. Each
// copy is sized exactly, so the sanitizers see any read past its end.
TEST(BmpTest, DecodesEveryDepthAndRowOrderButNoShortenedCopy) {
  for (const BmpLayout& l : Layouts) {
    SCOPED_TRACE(l.name);
    const std::vector<uint8_t> file = BuildBmp(l);
    BmpImage image;
    for (size_t n = 0; n < file.size(); ++n) {
      const std::vector<uint8_t> copy(file.begin(), file.begin() + ptrdiff_t(n));
      ASSERT_NE(DecodeBmp(n ? copy.data() : nullptr, n, &image), BmpResult::Ok) << "cut to " << n;
    }
    ASSERT_EQ(DecodeBmp(file.data(), file.size(), &image), BmpResult::Ok);
    ASSERT_TRUE(image.width == 3 && image.height == 2);
    const bool alpha = l.masks.size() == 4 && l.masks[3] != 0;
    EXPECT_EQ(image.hasAlpha, alpha);
    const int tolerance = l.bitCount == 16 ? 4 : 0;  // five-bit channels
    for (int i = 0; i < 6; ++i) {
      const int index = Picture[i / 3][i % 3] % (l.bitCount == 1 ? 2 : 6);
      const uint32_t want = l.coloursUsed == 0 || index < int(l.coloursUsed) ? Colours[index] : 0;
      const uint8_t* p = image.At(i % 3, i / 3);
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(p[c], int(want >> (16 - 8 * c) & 0xFF), tolerance) << i << c;
      EXPECT_EQ(p[3], alpha ? 0x80 : 255) << i;
    }
    EXPECT_EQ(image.At(0, 0)[0] << 8 | image.At(0, 0)[1], 0xFF00) << "full and empty channels widen exactly";
  }
}

TEST(BmpTest, LyingOrUnsupportedHeadersAndBadMasksAreRefused) {
  const std::vector<uint8_t> good = BuildBmp(TwentyFour), eight = BuildBmp(Eight),
                             fields = BuildBmp(Fields565);
  // What is changed: in which file, where, how many bytes, to what; then the result.
  const std::tuple<const char*, const std::vector<uint8_t>*, size_t, int, uint64_t, BmpResult> cases[] = {
      {"signature", &good, 0, 2, 'B' | 'A' << 8, BmpResult::NotBmp},
      {"run-length", &eight, 30, 4, BI_RLE4, BmpResult::Compressed},
      {"unknown compression", &good, 30, 4, 77, BmpResult::Unsupported},
      {"bit fields on 24 bits", &good, 30, 4, BI_BITFIELDS, BmpResult::BadHeader},
      {"header size", &good, 14, 4, 1000, BmpResult::BadHeader},
      {"OS/2 header", &good, 14, 4, 64, BmpResult::Unsupported},
      {"zero width", &good, 18, 4, 0, BmpResult::BadHeader},
      {"negative width", &good, 18, 4, uint32_t(-3), BmpResult::BadHeader},
      {"zero height", &good, 22, 4, 0, BmpResult::BadHeader},
      {"most negative height", &good, 22, 4, 0x80000000u, BmpResult::BadHeader},
      {"planes", &good, 26, 2, 2, BmpResult::BadHeader},
      {"bit count", &good, 28, 2, 7, BmpResult::BadHeader},
      {"wider than the rows given", &good, 18, 4, 1000, BmpResult::Truncated},
      {"too wide", &good, 18, 4, 100000, BmpResult::TooLarge},
      {"each side allowed, the product not", &good, 18, 8, 20000 | uint64_t(20000) << 32,
       BmpResult::TooLarge},
      {"rows start inside the header", &good, 10, 4, 20, BmpResult::BadHeader},
      {"rows start past the end", &good, 10, 4, 0xFFFFFFF0u, BmpResult::Truncated},
      {"more colours than the depth allows", &eight, 46, 4, 257, BmpResult::BadHeader},
      {"palette runs past the rows' start", &eight, 46, 4, 100, BmpResult::Truncated},
      {"a mask without bits", &fields, 62, 4, 0, BmpResult::BadHeader},
      {"overlapping masks", &fields, 58, 4, 0x0FE0, BmpResult::BadHeader},
      {"a mask of two runs", &fields, 54, 4, 0xD800, BmpResult::BadHeader},
      {"a mask beyond 16 bits", &fields, 54, 4, 0x1F0000, BmpResult::BadHeader},
  };
  BmpImage image;
  for (const auto& [name, base, at, bytes, value, result] : cases) {
    std::vector<uint8_t> file = *base;
    Put(file, at, bytes, value);
    EXPECT_EQ(DecodeBmp(file.data(), file.size(), &image), result) << name;
  }
}

TEST(BmpTest, TwentyFourBitFilesRoundTrip) {
  for (const int width : {32, 3, 5}) {  // rows padded by 0, 3 and 1 bytes
    BmpImage image{width, 4, false, {}};
    for (int i = 0; i < width * 4 * 4; ++i) image.rgba.push_back(i % 4 == 3 ? 255 : uint8_t(i * 37 + 11));
    const std::vector<uint8_t> file = EncodeBmp24(image);
    ASSERT_EQ(file.size(), 54 + (width * 3 + 3) / 4 * 4 * 4u);
    EXPECT_EQ(Get32(file, 34), file.size() - 54) << "image size";
    EXPECT_EQ(Get32(file, 42), 3937u) << "pixels per metre";
    BmpImage back;
    ASSERT_EQ(DecodeBmp(file.data(), file.size(), &back), BmpResult::Ok);
    EXPECT_EQ(back.rgba, image.rgba) << width;
    EXPECT_FALSE(WriteBmp24File("/nonexistent-folder/x.bmp", image));
    image.rgba.pop_back();
    EXPECT_TRUE(EncodeBmp24(image).empty()) << "fewer pixels than the size says";
  }
}

TEST(BmpTest, ConvertsIntoSurfacesChannelByChannelAndBack) {
  const BmpImage image{2, 1, true, {0x84, 0x42, 0x10, 0x80, 0xFF, 0xFF, 0xFF, 0xFF}};
  Surface s;
  BmpToSurface(image, PixelFormat::Argb4444, &s);
  EXPECT_EQ(s.Get(0, 0), 0x8841u);
  EXPECT_EQ(s.Get(1, 0), 0xFFFFu);
  BmpImage back;
  SurfaceToBmpImage(s, &back);
  EXPECT_EQ(back.rgba, (std::vector<uint8_t>{0x88, 0x44, 0x11, 0x88, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(BmpTest, DecodesTheCorpusBitmapsAndRefusesTheRunLengthOne) {
  const std::string folder = std::string(VORNIX_CORPUS_DIR) + "/x";
  DIR* dir = opendir(folder.c_str());
  if (!dir) GTEST_SKIP() << "no corpus at " << folder;
  int decoded = 0;
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() < 4 || strcasecmp(name.c_str() + name.size() - 4, ".bmp") != 0) continue;
    BmpImage image;
    const BmpResult r = ReadBmpFile((folder + "/" + name).c_str(), &image);
    if (name == "F15.BMP") {
      EXPECT_EQ(r, BmpResult::Compressed);
      continue;
    }
    ASSERT_EQ(r, BmpResult::Ok) << name << ": " << BmpResultText(r);
    EXPECT_GE(image.width, 64) << name;
    EXPECT_EQ(image.width, image.height) << name;
    bool varied = false;  // a real picture has more than one colour
    for (size_t i = 4; i < image.rgba.size() && !varied; ++i) varied = image.rgba[i] != image.rgba[i % 4];
    EXPECT_TRUE(varied) << name;
    ++decoded;
  }
  closedir(dir);
  EXPECT_GE(decoded, 10);
  BmpImage image;
  EXPECT_EQ(ReadBmpFile((folder + "/no-such-file.bmp").c_str(), &image), BmpResult::CannotOpen);
}

}  // namespace
