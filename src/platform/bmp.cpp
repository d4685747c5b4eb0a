#include "platform/bmp.h"

#include <cstdio>
#include <cstring>

#include "platform/bytes.h"

namespace {

constexpr uint32_t FileHeaderSize = 14;
constexpr uint32_t CoreHeaderSize = 12;
constexpr uint32_t InfoHeaderSize = 40;

uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// One colour channel of a bit-field pixel: where it lies and how wide it is.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  int bits = 0;

  uint8_t Of(uint32_t pixel) const {
    if (bits == 0) return 255;
    const uint64_t max = (uint64_t(1) << bits) - 1;
    const uint64_t value = (pixel & mask) >> shift;
    return uint8_t((value * 255 + max / 2) / max);
  }
};

// A mask is usable when its set bits form one run inside the pixel.
bool MakeChannel(uint32_t mask, int bitCount, Channel* out) {
  out->mask = mask;
  out->shift = 0;
  out->bits = 0;
  if (mask == 0) return true;
  if (bitCount < 32 && (mask >> bitCount) != 0) return false;
  while (((mask >> out->shift) & 1u) == 0) ++out->shift;
  while (out->shift + out->bits < 32 && ((mask >> (out->shift + out->bits)) & 1u)) ++out->bits;
  return out->shift + out->bits == 32 || (mask >> (out->shift + out->bits)) == 0;
}

// Everything the pixel loop needs, worked out and checked from the headers.
struct Layout {
  BmpHeaders h;
  bool core = false;
  int width = 0, height = 0;
  bool topDown = false;
  uint64_t stride = 0;
  const uint8_t* palette = nullptr;
  uint32_t paletteEntries = 0;
  int paletteEntrySize = 4;
  Channel red, green, blue, alpha;
};

BmpResult ReadMasks(const uint8_t* data, size_t size, Layout* l) {
  const BmpHeaders& h = l->h;
  uint32_t masks[4] = {0, 0, 0, 0};
  if (h.compression == BI_RGB) {
    if (h.bitCount == 16) {
      masks[0] = 0x7C00;
      masks[1] = 0x03E0;
      masks[2] = 0x001F;
    } else {
      masks[0] = 0xFF0000;
      masks[1] = 0x00FF00;
      masks[2] = 0x0000FF;
    }
  } else {
    // The masks follow a 40-byte header, or sit inside the larger ones.
    const int count = (h.compression == BI_ALPHABITFIELDS || h.headerSize >= 56) ? 4 : 3;
    const uint64_t at = FileHeaderSize + InfoHeaderSize;
    if (at + uint64_t(count) * 4 > size) return BmpResult::Truncated;
    for (int i = 0; i < count; ++i) masks[i] = U32(data + at + 4 * i);
  }
  if (!MakeChannel(masks[0], h.bitCount, &l->red) || !MakeChannel(masks[1], h.bitCount, &l->green) ||
      !MakeChannel(masks[2], h.bitCount, &l->blue) || !MakeChannel(masks[3], h.bitCount, &l->alpha))
    return BmpResult::BadHeader;
  if (masks[0] == 0 || masks[1] == 0 || masks[2] == 0) return BmpResult::BadHeader;
  if ((masks[0] & masks[1]) || (masks[0] & masks[2]) || (masks[1] & masks[2]) ||
      ((masks[0] | masks[1] | masks[2]) & masks[3]))
    return BmpResult::BadHeader;
  return BmpResult::Ok;
}

// Checks the headers and finds palette, masks and rows; nothing past the
// file's end is ever addressed afterwards.
BmpResult Prepare(const uint8_t* data, size_t size, Layout* l) {
  BmpResult result = ReadBmpHeaders(data, size, &l->h);
  if (result != BmpResult::Ok) return result;
  const BmpHeaders& h = l->h;
  l->core = h.headerSize == CoreHeaderSize;
  if (h.compression == BI_RLE8 || h.compression == BI_RLE4 || h.compression == 4 || h.compression == 5)
    return BmpResult::Compressed;
  if (h.compression != BI_RGB && h.compression != BI_BITFIELDS && h.compression != BI_ALPHABITFIELDS)
    return BmpResult::Unsupported;
  if (h.planes != 1) return BmpResult::BadHeader;
  const uint16_t b = h.bitCount;
  if (b != 1 && b != 4 && b != 8 && b != 16 && b != 24 && b != 32) return BmpResult::BadHeader;
  if (h.compression != BI_RGB && b != 16 && b != 32) return BmpResult::BadHeader;
  if (h.width <= 0 || h.height == 0 || h.height == INT32_MIN) return BmpResult::BadHeader;
  const int64_t height = h.height < 0 ? -int64_t(h.height) : h.height;
  if (h.width > BmpMaxSide || height > BmpMaxSide || int64_t(h.width) * height > BmpMaxPixels)
    return BmpResult::TooLarge;
  l->width = h.width;
  l->height = int(height);
  l->topDown = h.height < 0;

  uint64_t end = FileHeaderSize + h.headerSize;  // end of what precedes the rows
  if (b <= 8) {
    const uint32_t most = 1u << b;
    l->paletteEntries = h.coloursUsed == 0 ? most : h.coloursUsed;
    if (l->paletteEntries > most) return BmpResult::BadHeader;
    l->paletteEntrySize = l->core ? 3 : 4;
    l->palette = data + end;
    end += uint64_t(l->paletteEntries) * l->paletteEntrySize;
  } else {
    result = ReadMasks(data, size, l);
    if (result != BmpResult::Ok) return result;
    if (h.compression != BI_RGB && h.headerSize == InfoHeaderSize)
      end += h.compression == BI_ALPHABITFIELDS ? 16 : 12;
  }
  if (end > size) return BmpResult::Truncated;
  if (h.pixelOffset < end) return BmpResult::BadHeader;
  l->stride = (uint64_t(l->width) * b + 31) / 32 * 4;
  if (uint64_t(h.pixelOffset) + l->stride * uint64_t(l->height) > size) return BmpResult::Truncated;
  return BmpResult::Ok;
}

void PaletteColour(const Layout& l, uint32_t index, uint8_t* rgba) {
  // An index past the palette draws black rather than reading beyond it.
  if (index >= l.paletteEntries) {
    rgba[0] = rgba[1] = rgba[2] = 0;
    rgba[3] = 255;
    return;
  }
  const uint8_t* e = l.palette + size_t(index) * size_t(l.paletteEntrySize);
  rgba[0] = e[2];
  rgba[1] = e[1];
  rgba[2] = e[0];
  rgba[3] = 255;
}

void DecodeRow(const Layout& l, const uint8_t* row, uint8_t* out) {
  const int b = l.h.bitCount;
  for (int x = 0; x < l.width; ++x, out += 4) {
    if (b <= 8) {
      const int bit = x * b;
      const uint32_t index = (row[bit / 8] >> (8 - b - bit % 8)) & ((1u << b) - 1);
      PaletteColour(l, index, out);
    } else if (b == 24 && l.h.compression == BI_RGB) {
      out[0] = row[3 * x + 2];
      out[1] = row[3 * x + 1];
      out[2] = row[3 * x];
      out[3] = 255;
    } else {
      const uint32_t p = b == 16 ? U16(row + 2 * x) : U32(row + 4 * x);
      out[0] = l.red.Of(p);
      out[1] = l.green.Of(p);
      out[2] = l.blue.Of(p);
      out[3] = l.alpha.Of(p);
    }
  }
}

}  // namespace

const char* BmpResultText(BmpResult result) {
  switch (result) {
    case BmpResult::Ok:
      return "The bitmap was read.";
    case BmpResult::CannotOpen:
      return "The bitmap file could not be opened or read.";
    case BmpResult::NotBmp:
      return "The file is not a Windows bitmap.";
    case BmpResult::Truncated:
      return "The bitmap file is shorter than its headers say.";
    case BmpResult::BadHeader:
      return "The bitmap's headers hold impossible values.";
    case BmpResult::Compressed:
      return "Compressed bitmaps are not supported.";
    case BmpResult::Unsupported:
      return "This kind of bitmap is not supported.";
    case BmpResult::TooLarge:
      return "The bitmap is too large.";
  }
  return "Unknown bitmap result.";
}

BmpResult ReadBmpHeaders(const uint8_t* data, size_t size, BmpHeaders* out) {
  if (data == nullptr || size < 2 || data[0] != 'B' || data[1] != 'M') return BmpResult::NotBmp;
  if (size < FileHeaderSize + 4) return BmpResult::Truncated;
  BmpHeaders h{};
  h.pixelOffset = U32(data + 10);
  h.headerSize = U32(data + 14);
  const uint32_t s = h.headerSize;
  if (s != CoreHeaderSize && s != InfoHeaderSize && s != 52 && s != 56 && s != 108 && s != 124)
    return (s > CoreHeaderSize && s < 124) ? BmpResult::Unsupported : BmpResult::BadHeader;
  if (FileHeaderSize + uint64_t(s) > size) return BmpResult::Truncated;
  const uint8_t* p = data + FileHeaderSize;
  if (s == CoreHeaderSize) {
    h.width = U16(p + 4);
    h.height = U16(p + 6);
    h.planes = U16(p + 8);
    h.bitCount = U16(p + 10);
    h.compression = BI_RGB;
  } else {
    h.width = int32_t(U32(p + 4));
    h.height = int32_t(U32(p + 8));
    h.planes = U16(p + 12);
    h.bitCount = U16(p + 14);
    h.compression = U32(p + 16);
    h.coloursUsed = U32(p + 32);
  }
  *out = h;
  return BmpResult::Ok;
}

BmpResult DecodeBmp(const uint8_t* data, size_t size, BmpImage* out) {
  Layout l;
  const BmpResult result = Prepare(data, size, &l);
  if (result != BmpResult::Ok) return result;
  out->width = l.width;
  out->height = l.height;
  out->hasAlpha = l.alpha.bits != 0;
  out->rgba.assign(size_t(l.width) * size_t(l.height) * 4, 0);
  for (int y = 0; y < l.height; ++y) {
    const int fileRow = l.topDown ? y : l.height - 1 - y;
    const uint8_t* row = data + l.h.pixelOffset + l.stride * uint64_t(fileRow);
    DecodeRow(l, row, &out->rgba[size_t(y) * size_t(l.width) * 4]);
  }
  return BmpResult::Ok;
}

BmpResult ReadBmpFile(const char* path, BmpImage* out) {
  FILE* f = path ? std::fopen(path, "rb") : nullptr;
  if (f == nullptr) return BmpResult::CannotOpen;
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) return BmpResult::CannotOpen;
  return DecodeBmp(bytes.data(), bytes.size(), out);
}

void BmpToSurface(const BmpImage& image, PixelFormat format, Surface* out) {
  out->Allocate(image.width, image.height, format);
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const uint8_t* p = image.At(x, y);
      out->Put(x, y, PackPixel(format, p[0], p[1], p[2], p[3]));
    }
}

void SurfaceToBmpImage(const Surface& surface, BmpImage* out) {
  out->width = surface.width;
  out->height = surface.height;
  out->hasAlpha = MasksOf(surface.format).alpha != 0;
  out->rgba.assign(size_t(surface.width) * size_t(surface.height) * 4, 0);
  for (int y = 0; y < surface.height; ++y)
    for (int x = 0; x < surface.width; ++x) {
      uint8_t* p = &out->rgba[(size_t(y) * size_t(surface.width) + size_t(x)) * 4];
      UnpackPixel(surface.format, surface.Get(x, y), p[0], p[1], p[2], p[3]);
    }
}

std::vector<uint8_t> EncodeBmp24(const BmpImage& image) {
  if (image.width < 0 || image.height < 0 || image.width > BmpMaxSide || image.height > BmpMaxSide ||
      image.rgba.size() < size_t(image.width) * size_t(image.height) * 4)
    return {};
  const uint32_t stride = (uint32_t(image.width) * 3 + 3) & ~3u;
  const uint32_t imageSize = stride * uint32_t(image.height);
  std::vector<uint8_t> file(FileHeaderSize + InfoHeaderSize + size_t(imageSize), 0);
  uint8_t* h = file.data();
  h[0] = 'B';
  h[1] = 'M';
  Put32(h + 2, uint32_t(file.size()));
  Put32(h + 10, FileHeaderSize + InfoHeaderSize);
  Put32(h + 14, InfoHeaderSize);
  Put32(h + 18, uint32_t(image.width));
  Put32(h + 22, uint32_t(image.height));
  Put16(h + 26, 1);
  Put16(h + 28, 24);
  Put32(h + 34, imageSize);
  Put32(h + 38, 3937);
  Put32(h + 42, 3937);
  for (int y = 0; y < image.height; ++y) {
    uint8_t* row = h + FileHeaderSize + InfoHeaderSize + size_t(stride) * size_t(image.height - 1 - y);
    for (int x = 0; x < image.width; ++x) {
      const uint8_t* p = image.At(x, y);
      row[3 * x] = p[2];
      row[3 * x + 1] = p[1];
      row[3 * x + 2] = p[0];
    }
  }
  return file;
}

bool WriteBmp24File(const char* path, const BmpImage& image) {
  return WriteWholeFile(path, EncodeBmp24(image));
}
