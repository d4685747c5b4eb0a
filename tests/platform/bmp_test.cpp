#include "platform/bmp.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  Put16(b, at, v);
  Put16(b, at + 2, v >> 16);
}

// What a test bitmap holds; the rows are given in file order, unpadded.
struct BmpLayout {
  uint32_t headerSize = 40;
  int32_t width = 3;
  int32_t height = 2;  // negative: top-down
  uint16_t bitCount = 24;
  uint32_t compression = BI_RGB;
  uint32_t coloursUsed = 0;
  std::vector<uint32_t> palette;  // 0xRRGGBB
  std::vector<uint32_t> masks;    // after a 40-byte header, inside larger ones
  std::vector<std::vector<uint8_t>> rows;
};

std::vector<uint8_t> BuildBmp(const BmpLayout& s) {
  const bool core = s.headerSize == 12;
  std::vector<uint8_t> b(14 + s.headerSize, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 14, s.headerSize);
  if (core) {
    Put16(b, 18, uint32_t(s.width));
    Put16(b, 20, uint32_t(s.height));
    Put16(b, 22, 1);
    Put16(b, 24, s.bitCount);
  } else {
    Put32(b, 18, uint32_t(s.width));
    Put32(b, 22, uint32_t(s.height));
    Put16(b, 26, 1);
    Put16(b, 28, s.bitCount);
    Put32(b, 30, s.compression);
    Put32(b, 46, s.coloursUsed);
  }
  for (size_t i = 0; i < s.masks.size(); ++i) {
    if (s.headerSize > 40) {
      Put32(b, 54 + 4 * i, s.masks[i]);
    } else {
      b.resize(b.size() + 4);
      Put32(b, b.size() - 4, s.masks[i]);
    }
  }
  for (uint32_t c : s.palette) {
    b.push_back(uint8_t(c));
    b.push_back(uint8_t(c >> 8));
    b.push_back(uint8_t(c >> 16));
    if (!core) b.push_back(0);
  }
  Put32(b, 10, uint32_t(b.size()));
  for (const auto& row : s.rows) b.insert(b.end(), row.begin(), row.end());
  Put32(b, 2, uint32_t(b.size()));
  return b;
}

// A row padded to a multiple of four bytes, as files store them.
std::vector<uint8_t> Padded(std::vector<uint8_t> row) {
  while (row.size() % 4) row.push_back(0);
  return row;
}

// The picture every depth encodes: 3 x 2, top row first.
constexpr uint32_t Colours[6] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x000000, 0x808080};
constexpr int Picture[2][3] = {{0, 1, 2}, {3, 4, 5}};

using Encoder = std::function<void(std::vector<uint8_t>& row, int x, int index)>;

BmpLayout Encode(BmpLayout layout, const Encoder& encode) {
  const bool topDown = layout.height < 0;
  for (int i = 0; i < 2; ++i) {
    const int y = topDown ? i : 1 - i;
    std::vector<uint8_t> row;
    for (int x = 0; x < 3; ++x) encode(row, x, Picture[y][x]);
    layout.rows.push_back(Padded(row));
  }
  return layout;
}

void Bytes(std::vector<uint8_t>& row, std::initializer_list<uint32_t> values) {
  for (uint32_t v : values) row.push_back(uint8_t(v));
}

struct DepthCase {
  const char* name;
  BmpLayout layout;
  int tolerance;  // for channels narrower than 8 bits
  int colours;    // 2 when the picture is folded onto two colours
  int alpha;      // expected alpha of every pixel
};

std::vector<DepthCase> DepthCases() {
  std::vector<uint32_t> six(Colours, Colours + 6);
  auto packed = [](int bits) {
    return [bits](std::vector<uint8_t>& row, int x, int index) {
      const int perByte = 8 / bits;
      if (x % perByte == 0) row.push_back(0);
      row.back() |= uint8_t((bits == 1 ? index % 2 : index) << (8 - bits * (x % perByte + 1)));
    };
  };
  auto bgr = [](std::vector<uint8_t>& row, int, int i) {
    Bytes(row, {Colours[i], Colours[i] >> 8, Colours[i] >> 16});
  };
  auto five = [](uint32_t c, int shift) { return ((c >> shift) & 0xFF) >> 3; };
  std::vector<DepthCase> cases;
  BmpLayout s;
  s.bitCount = 1;
  s.palette = {Colours[0], Colours[1]};
  cases.push_back({"1-bit", Encode(s, packed(1)), 0, 2, 255});
  s.bitCount = 4;
  s.palette = six;
  s.coloursUsed = 6;
  s.height = -2;
  cases.push_back({"4-bit top-down", Encode(s, packed(4)), 0, 6, 255});
  s.bitCount = 8;
  s.height = 2;
  cases.push_back({"8-bit", Encode(s, packed(8)), 0, 6, 255});
  s.headerSize = 12;
  s.coloursUsed = 0;
  s.palette.resize(256, 0);
  cases.push_back({"8-bit core header", Encode(s, packed(8)), 0, 6, 255});
  s = BmpLayout();
  s.bitCount = 16;
  cases.push_back({"16-bit 555",
                   Encode(s,
                          [&](std::vector<uint8_t>& row, int, int i) {
                            const uint32_t c = Colours[i];
                            const uint32_t p = five(c, 16) << 10 | five(c, 8) << 5 | five(c, 0);
                            Bytes(row, {p, p >> 8});
                          }),
                   4, 6, 255});
  s.compression = BI_BITFIELDS;
  s.masks = {0xF800, 0x07E0, 0x001F};
  cases.push_back({"16-bit 565 bit fields",
                   Encode(s,
                          [&](std::vector<uint8_t>& row, int, int i) {
                            const uint32_t c = Colours[i];
                            const uint32_t p = five(c, 16) << 11 | (((c >> 8) & 0xFF) >> 2) << 5 | five(c, 0);
                            Bytes(row, {p, p >> 8});
                          }),
                   4, 6, 255});
  s = BmpLayout();
  cases.push_back({"24-bit", Encode(s, bgr), 0, 6, 255});
  s.height = -2;
  cases.push_back({"24-bit top-down", Encode(s, bgr), 0, 6, 255});
  s = BmpLayout();
  s.bitCount = 32;
  cases.push_back({"32-bit, fourth byte unused",
                   Encode(s,
                          [&](std::vector<uint8_t>& row, int x, int i) {
                            bgr(row, x, i);
                            row.push_back(0x12);
                          }),
                   0, 6, 255});
  s.headerSize = 124;
  s.compression = BI_BITFIELDS;
  s.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
  cases.push_back({"32-bit V5 with alpha",
                   Encode(s,
                          [&](std::vector<uint8_t>& row, int x, int i) {
                            bgr(row, x, i);
                            row.push_back(0x80);
                          }),
                   0, 6, 0x80});
  s.headerSize = 108;
  s.height = -2;
  s.masks = {0x000000FF, 0x0000FF00, 0x00FF0000, 0};
  cases.push_back({"32-bit V4 RGBX top-down",
                   Encode(s,
                          [&](std::vector<uint8_t>& row, int, int i) {
                            Bytes(row, {Colours[i] >> 16, Colours[i] >> 8, Colours[i], 0x55});
                          }),
                   0, 6, 255});
  return cases;
}

TEST(BmpTest, DecodesEveryDepthAndRowOrder) {
  for (const DepthCase& c : DepthCases()) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> file = BuildBmp(c.layout);
    BmpImage image;
    ASSERT_EQ(DecodeBmp(file.data(), file.size(), &image), BmpResult::Ok);
    ASSERT_EQ(image.width, 3);
    ASSERT_EQ(image.height, 2);
    EXPECT_EQ(image.hasAlpha, c.alpha != 255);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) {
        const uint32_t want = Colours[Picture[y][x] % c.colours];
        const uint8_t* p = image.At(x, y);
        EXPECT_NEAR(p[0], int(want >> 16), c.tolerance) << x << "," << y;
        EXPECT_NEAR(p[1], int((want >> 8) & 0xFF), c.tolerance) << x << "," << y;
        EXPECT_NEAR(p[2], int(want & 0xFF), c.tolerance) << x << "," << y;
        EXPECT_EQ(p[3], c.alpha);
      }
    // Full and empty channels widen exactly.
    EXPECT_EQ(image.At(0, 0)[0], 255);
    EXPECT_EQ(image.At(0, 0)[1], 0);
  }
}

TEST(BmpTest, EveryShortenedFileIsRefused) {
  for (const DepthCase& c : DepthCases()) {
    const std::vector<uint8_t> file = BuildBmp(c.layout);
    for (size_t n = 0; n < file.size(); ++n) {
      BmpImage image;
      const BmpResult r = DecodeBmp(file.data(), n, &image);
      ASSERT_NE(r, BmpResult::Ok) << c.name << " cut to " << n;
    }
  }
}

TEST(BmpTest, LyingOrUnsupportedHeadersAreRefused) {
  const std::vector<uint8_t> good = BuildBmp(Encode(BmpLayout(), [](std::vector<uint8_t>& row, int, int i) {
    Bytes(row, {Colours[i], Colours[i] >> 8, Colours[i] >> 16});
  }));
  BmpLayout paletted;
  paletted.bitCount = 8;
  paletted.palette = {0xFF0000, 0x00FF00};
  paletted.coloursUsed = 2;
  paletted.rows = {Padded({0, 1, 0}), Padded({1, 0, 1})};
  const std::vector<uint8_t> eight = BuildBmp(paletted);
  struct Case {
    const char* name;
    const std::vector<uint8_t>* base;
    size_t at;
    int width;  // 2 or 4 bytes
    uint32_t value;
    BmpResult result;
  };
  const Case cases[] = {
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
  for (const Case& c : cases) {
    std::vector<uint8_t> file = *c.base;
    if (c.width == 2)
      Put16(file, c.at, c.value);
    else
      Put32(file, c.at, c.value);
    BmpImage image;
    EXPECT_EQ(DecodeBmp(file.data(), file.size(), &image), c.result) << c.name;
  }
  std::vector<uint8_t> huge = good;  // each side allowed, the product not
  Put32(huge, 18, 20000);
  Put32(huge, 22, 20000);
  BmpImage image;
  EXPECT_EQ(DecodeBmp(huge.data(), huge.size(), &image), BmpResult::TooLarge);
}

TEST(BmpTest, BadMasksAreRefusedAndOutOfRangeIndexesReadBlack) {
  const std::vector<std::vector<uint32_t>> masks = {
      {0xF800, 0x07E0, 0},         // a channel without bits
      {0xF800, 0x0FE0, 0x001F},    // overlapping
      {0xF0F0, 0x0F00, 0x000F},    // not one run
      {0x1F0000, 0x07E0, 0x001F},  // beyond 16 bits
  };
  for (const auto& m : masks) {
    BmpLayout s;
    s.bitCount = 16;
    s.compression = BI_BITFIELDS;
    s.masks = m;
    s.rows = {Padded({0, 0, 0, 0, 0, 0}), Padded({0, 0, 0, 0, 0, 0})};
    const std::vector<uint8_t> file = BuildBmp(s);
    BmpImage image;
    EXPECT_EQ(DecodeBmp(file.data(), file.size(), &image), BmpResult::BadHeader) << std::hex << m[0] << m[1];
  }
  BmpLayout s;
  s.bitCount = 8;
  s.palette = {0xFF0000, 0x00FF00};
  s.coloursUsed = 2;
  s.rows = {Padded({1, 200, 0}), Padded({1, 1, 1})};
  const std::vector<uint8_t> file = BuildBmp(s);
  BmpImage image;
  ASSERT_EQ(DecodeBmp(file.data(), file.size(), &image), BmpResult::Ok);
  const uint8_t* p = image.At(1, 1);  // index 200 of a two-colour palette
  EXPECT_EQ(p[0] + p[1] + p[2], 0);
  EXPECT_EQ(image.At(0, 1)[1], 255);
}

TEST(BmpTest, TwentyFourBitFilesRoundTripWithTheSquareHeader) {
  for (int width : {32, 3, 5}) {
    BmpImage image;
    image.width = width;
    image.height = 4;
    for (int i = 0; i < width * 4 * 4; ++i) image.rgba.push_back(i % 4 == 3 ? 255 : uint8_t(i * 37 + 11));
    const std::vector<uint8_t> file = EncodeBmp24(image);
    const size_t stride = (size_t(width) * 3 + 3) / 4 * 4;
    ASSERT_EQ(file.size(), 54 + stride * 4);
    BmpImage back;
    ASSERT_EQ(DecodeBmp(file.data(), file.size(), &back), BmpResult::Ok);
    EXPECT_EQ(back.rgba, image.rgba) << width;
  }
  BmpImage square;
  square.width = square.height = 32;
  square.rgba.assign(32 * 32 * 4, 0);
  const std::vector<uint8_t> file = EncodeBmp24(square);
  ASSERT_EQ(file.size(), 3126u);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "BM6\f");
  const uint32_t fields[][2] = {{10, 54}, {14, 40}, {34, 3072}, {38, 3937}, {42, 3937}, {46, 0}};
  for (const auto& f : fields)
    EXPECT_EQ(file[f[0]] | file[f[0] + 1] << 8 | file[f[0] + 2] << 16 | file[f[0] + 3] << 24, int(f[1]))
        << f[0];
  EXPECT_FALSE(WriteBmp24File("/nonexistent-folder/x.bmp", square));
  BmpImage lying = square;
  lying.rgba.resize(10);
  EXPECT_TRUE(EncodeBmp24(lying).empty()) << "fewer pixels than the size says";
}

TEST(BmpTest, ConvertsIntoSurfacesOfEveryFormat) {
  BmpImage image;
  image.width = 2;
  image.height = 1;
  image.rgba = {255, 0, 0, 255, 0x84, 0x42, 0x10, 0x80};
  for (PixelFormat f : {PixelFormat::Rgb565, PixelFormat::Rgb555, PixelFormat::Argb1555,
                        PixelFormat::Argb4444, PixelFormat::Argb8888}) {
    Surface s;
    BmpToSurface(image, f, &s);
    ASSERT_EQ(s.width, 2);
    EXPECT_EQ(s.Get(0, 0), MasksOf(f).red | MasksOf(f).alpha) << int(f);
    EXPECT_EQ(s.Get(1, 0), PackPixel(f, 0x84, 0x42, 0x10, 0x80)) << int(f);
    BmpImage back;
    SurfaceToBmpImage(s, &back);
    EXPECT_NEAR(back.At(1, 0)[0], 0x84, 16) << int(f);
    EXPECT_NEAR(back.At(1, 0)[2], 0x10, 16) << int(f);
  }
}

TEST(BmpTest, DecodesTheCorpusBitmapsAndRefusesTheRunLengthOne) {
  const std::string folder = std::string(VORNIX_CORPUS_DIR) + "/x";
  DIR* dir = opendir(folder.c_str());
  if (!dir) GTEST_SKIP() << "no corpus at " << folder;
  int decoded = 0;
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() < 4) continue;
    std::string ext = name.substr(name.size() - 4);
    for (char& ch : ext) ch = char(std::tolower(static_cast<unsigned char>(ch)));
    if (ext != ".bmp") continue;
    BmpImage image;
    const BmpResult r = ReadBmpFile((folder + "/" + name).c_str(), &image);
    if (name == "F15.BMP") {
      EXPECT_EQ(r, BmpResult::Compressed);
      continue;
    }
    ASSERT_EQ(r, BmpResult::Ok) << name << ": " << BmpResultText(r);
    EXPECT_GE(image.width, 64) << name;
    EXPECT_EQ(image.width, image.height) << name;
    // A real picture has more than one colour.
    bool varied = false;
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
