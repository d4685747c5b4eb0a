#include "platform/bmp.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <utility>
#include <vector>

namespace {

void Put(std::vector<uint8_t>& b, size_t at, int bytes, uint32_t v) {
  for (int k = 0; k < bytes; ++k) b[at + k] = uint8_t(v >> 8 * k);
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
  std::vector<uint32_t> masks;  // red, green, blue[, alpha]; after a 40-byte header, inside larger ones
  uint32_t coloursUsed;         // palette entries written (0: all the depth allows): Colours, then black
};

// A palette index, or the colour placed by the masks (alpha 0x80). Bits no
// mask covers hold junk that the decoder must ignore.
uint32_t PixelValue(const BmpLayout& l, int i) {
  if (l.bitCount <= 8) return l.bitCount == 1 ? i % 2 : i;
  std::vector<uint32_t> masks = l.masks;
  if (masks.empty())
    masks = l.bitCount == 16 ? std::vector<uint32_t>{0x7C00, 0x03E0, 0x001F}
                             : std::vector<uint32_t>{0xFF0000, 0x00FF00, 0x0000FF};
  const uint32_t channels[4] = {Colours[i] >> 16, (Colours[i] >> 8) & 0xFF, Colours[i] & 0xFF, 0x80};
  uint32_t p = 0, used = 0;
  for (size_t k = 0; k < masks.size(); ++k) {
    if (masks[k] == 0) continue;
    int shift = 0;
    while (!((masks[k] >> shift) & 1)) ++shift;
    p |= (channels[k] * (masks[k] >> shift) + 127) / 255 << shift;
    used |= masks[k];
  }
  return p | (0xAAAAAAAAu & ~used);
}

std::vector<uint8_t> BuildBmp(const BmpLayout& l) {
  const bool core = l.headerSize == 12;
  std::vector<uint8_t> b(14 + l.headerSize, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put(b, 14, 4, l.headerSize);
  const int field = core ? 2 : 4;  // width and height
  Put(b, 18, field, 3);
  Put(b, 18 + field, field, uint32_t(l.height));
  Put(b, 18 + 2 * field, 2, 1);
  Put(b, 20 + 2 * field, 2, l.bitCount);
  if (!core) {
    Put(b, 30, 4, l.compression);
    Put(b, 46, 4, l.coloursUsed);
  }
  for (size_t i = 0; i < l.masks.size(); ++i) {
    if (l.headerSize == 40) b.resize(b.size() + 4);
    Put(b, l.headerSize == 40 ? b.size() - 4 : 54 + 4 * i, 4, l.masks[i]);
  }
  const uint32_t entries = l.bitCount > 8 ? 0 : l.coloursUsed ? l.coloursUsed : 1u << l.bitCount;
  for (uint32_t i = 0; i < entries; ++i) {
    const uint32_t c = i < 6 ? Colours[i] : 0;
    b.insert(b.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)});
    if (!core) b.push_back(0);
  }
  Put(b, 10, 4, uint32_t(b.size()));
  const int bits = l.bitCount;
  for (int i = 0; i < 2; ++i) {
    const int y = l.height < 0 ? i : 1 - i;
    std::vector<uint8_t> row((3 * bits + 31) / 32 * 4, 0);
    for (int x = 0; x < 3; ++x) {
      const uint32_t v = PixelValue(l, Picture[y][x]);
      if (bits < 8) row[x * bits / 8] |= uint8_t(v << (8 - bits - x * bits % 8));
      for (int k = 0; k < bits / 8; ++k) row[x * bits / 8 + k] = uint8_t(v >> 8 * k);
    }
    b.insert(b.end(), row.begin(), row.end());
  }
  Put(b, 2, 4, uint32_t(b.size()));
  return b;
}

const BmpLayout Layouts[] = {
    {"1-bit", 1, 2, 40, BI_RGB, {}, 0},
    {"4-bit top-down", 4, -2, 40, BI_RGB, {}, 6},
    {"8-bit", 8, 2, 40, BI_RGB, {}, 6},
    {"8-bit, indexes past the colours used", 8, 2, 40, BI_RGB, {}, 2},  // read black
    {"8-bit core header", 8, 2, 12, BI_RGB, {}, 0},
    {"16-bit 555", 16, 2, 40, BI_RGB, {}, 0},
    {"16-bit 565 bit fields", 16, 2, 40, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}, 0},
    {"24-bit", 24, 2, 40, BI_RGB, {}, 0},
    {"24-bit top-down", 24, -2, 40, BI_RGB, {}, 0},
    {"32-bit, fourth byte unused", 32, 2, 40, BI_RGB, {}, 0},
    {"32-bit V5 with alpha", 32, 2, 124, BI_BITFIELDS, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, 0},
    {"32-bit V4 RGBX top-down", 32, -2, 108, BI_BITFIELDS, {0xFF, 0xFF00, 0xFF0000, 0}, 0},
};

TEST(BmpTest, DecodesEveryDepthAndRowOrder) {
  for (const BmpLayout& l : Layouts) {
    SCOPED_TRACE(l.name);
    const std::vector<uint8_t> file = BuildBmp(l);
    BmpImage image;
    ASSERT_EQ(DecodeBmp(file.data(), file.size(), &image), BmpResult::Ok);
    ASSERT_EQ(std::make_pair(image.width, image.height), std::make_pair(3, 2));
    const bool alpha = l.masks.size() == 4 && l.masks[3] != 0;
    EXPECT_EQ(image.hasAlpha, alpha);
    const int tolerance = l.bitCount == 16 ? 4 : 0;  // five-bit channels
    for (int i = 0; i < 6; ++i) {
      const int index = Picture[i / 3][i % 3] % (l.bitCount == 1 ? 2 : 6);
      const uint32_t want = l.coloursUsed == 0 || index < int(l.coloursUsed) ? Colours[index] : 0;
      const uint8_t* p = image.At(i % 3, i / 3);
      EXPECT_NEAR(p[0], int(want >> 16), tolerance) << i;
      EXPECT_NEAR(p[1], int((want >> 8) & 0xFF), tolerance) << i;
      EXPECT_NEAR(p[2], int(want & 0xFF), tolerance) << i;
      EXPECT_EQ(p[3], alpha ? 0x80 : 255) << i;
    }
    EXPECT_EQ(image.At(0, 0)[0], 255) << "full and empty channels widen exactly";
    EXPECT_EQ(image.At(0, 0)[1], 0);
  }
}

TEST(BmpTest, EveryShortenedFileIsRefused) {
  for (const BmpLayout& l : Layouts) {
    const std::vector<uint8_t> file = BuildBmp(l);
    for (size_t n = 0; n < file.size(); ++n) {
      BmpImage image;
      ASSERT_NE(DecodeBmp(file.data(), n, &image), BmpResult::Ok) << l.name << " cut to " << n;
    }
  }
}

TEST(BmpTest, LyingOrUnsupportedHeadersAndBadMasksAreRefused) {
  const std::vector<uint8_t> good = BuildBmp(Layouts[7]), eight = BuildBmp(Layouts[3]);
  const struct {
    const char* name;
    const std::vector<uint8_t>* base;
    size_t at;
    int bytes;
    uint32_t value;
    BmpResult result;
  } cases[] = {
      {"signature", &good, 0, 2, 'B' | 'A' << 8, BmpResult::NotBmp},
      {"run-length 8", &eight, 30, 4, BI_RLE8, BmpResult::Compressed},
      {"run-length 4", &eight, 30, 4, BI_RLE4, BmpResult::Compressed},
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
      {"rows start inside the header", &good, 10, 4, 20, BmpResult::BadHeader},
      {"rows start past the end", &good, 10, 4, 0xFFFFFFF0u, BmpResult::Truncated},
      {"more colours than the depth allows", &eight, 46, 4, 257, BmpResult::BadHeader},
      {"palette runs past the rows' start", &eight, 46, 4, 100, BmpResult::Truncated},
  };
  BmpImage image;
  for (const auto& c : cases) {
    std::vector<uint8_t> file = *c.base;
    Put(file, c.at, c.bytes, c.value);
    EXPECT_EQ(DecodeBmp(file.data(), file.size(), &image), c.result) << c.name;
  }
  std::vector<uint8_t> huge = good;  // each side allowed, the product not
  Put(huge, 18, 4, 20000);
  Put(huge, 22, 4, 20000);
  EXPECT_EQ(DecodeBmp(huge.data(), huge.size(), &image), BmpResult::TooLarge);

  const std::vector<uint32_t> masks[] = {
      {0xF800, 0x07E0, 0},         // a channel without bits
      {0xF800, 0x0FE0, 0x001F},    // overlapping
      {0xF0F0, 0x0F00, 0x000F},    // not one run
      {0x1F0000, 0x07E0, 0x001F},  // beyond 16 bits
  };
  for (const auto& m : masks) {
    const std::vector<uint8_t> file = BuildBmp({"", 16, 2, 40, BI_BITFIELDS, m, 0});
    EXPECT_EQ(DecodeBmp(file.data(), file.size(), &image), BmpResult::BadHeader) << std::hex << m[0] << m[1];
  }
}

TEST(BmpTest, TwentyFourBitFilesRoundTripWithTheSquareHeader) {
  const int sizes[][2] = {{32, 32}, {3, 4}, {5, 2}};
  for (const auto& size : sizes) {
    BmpImage image;
    image.width = size[0];
    image.height = size[1];
    for (int i = 0; i < size[0] * size[1] * 4; ++i)
      image.rgba.push_back(i % 4 == 3 ? 255 : uint8_t(i * 37 + 11));
    const std::vector<uint8_t> file = EncodeBmp24(image);
    ASSERT_EQ(file.size(), 54 + (size_t(size[0]) * 3 + 3) / 4 * 4 * size[1]);
    BmpImage back;
    ASSERT_EQ(DecodeBmp(file.data(), file.size(), &back), BmpResult::Ok);
    EXPECT_EQ(back.rgba, image.rgba) << size[0];
  }
  BmpImage square;
  square.width = square.height = 32;
  square.rgba.assign(32 * 32 * 4, 0);
  const std::vector<uint8_t> file = EncodeBmp24(square);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 6), std::string("BM6\f\0\0", 6));
  const uint32_t fields[][2] = {{10, 54}, {14, 40}, {34, 3072}, {38, 3937}, {42, 3937}, {46, 0}};
  for (const auto& f : fields)
    EXPECT_EQ(file[f[0]] | file[f[0] + 1] << 8 | file[f[0] + 2] << 16 | file[f[0] + 3] << 24, int(f[1]))
        << f[0];
  EXPECT_FALSE(WriteBmp24File("/nonexistent-folder/x.bmp", square));
  square.rgba.resize(10);
  EXPECT_TRUE(EncodeBmp24(square).empty()) << "fewer pixels than the size says";
}

TEST(BmpTest, ConvertsIntoSurfacesOfEveryFormatAndBack) {
  const BmpImage image{1, 1, true, {0x84, 0x42, 0x10, 0x80}};
  for (PixelFormat f : {PixelFormat::Rgb565, PixelFormat::Rgb555, PixelFormat::Argb1555,
                        PixelFormat::Argb4444, PixelFormat::Argb8888}) {
    Surface s;
    BmpToSurface(image, f, &s);
    EXPECT_EQ(s.Get(0, 0), PackPixel(f, 0x84, 0x42, 0x10, 0x80)) << int(f);
    BmpImage back;
    SurfaceToBmpImage(s, &back);
    EXPECT_NEAR(back.At(0, 0)[0] - back.At(0, 0)[2], 0x84 - 0x10, 16) << int(f);
  }
}

TEST(BmpTest, DecodesTheCorpusBitmapsAndRefusesTheRunLengthOne) {
  const std::string folder = std::string(VORNIX_CORPUS_DIR) + "/x";
  DIR* dir = opendir(folder.c_str());
  if (!dir) GTEST_SKIP() << "no corpus at " << folder;
  int decoded = 0;
  while (const dirent* e = readdir(dir)) {
    std::string name = e->d_name, lower = name;
    for (char& ch : lower) ch = char(std::tolower(static_cast<unsigned char>(ch)));
    if (lower.size() < 4 || lower.substr(lower.size() - 4) != ".bmp") continue;
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
