// Windows bitmap files: decoding the uncompressed kinds (1, 4 and 8-bit
// paletted, 16-bit 5-5-5 or with bit-field masks, 24 and 32-bit; rows
// bottom-up or top-down; the 12-byte core header, the 40-byte information
// header and the larger V4/V5 ones) and writing uncompressed 24-bit files.
// Every header field is checked against the file's size before a pixel is
// read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/surface.h"

enum class BmpResult {
  Ok,
  CannotOpen,   // the file could not be opened or read
  NotBmp,       // no "BM" signature
  Truncated,    // a header, the palette or the pixel rows end past the file
  BadHeader,    // a field holds an impossible value
  Compressed,   // run-length or other compression
  Unsupported,  // a valid bitmap of a kind not decoded here
  TooLarge,     // more pixels than the decoder accepts
};

// A short English sentence for the result.
const char* BmpResultText(BmpResult result);

// Decoded pixels: top row first, four bytes per pixel in red, green, blue,
// alpha order. Alpha is 255 unless the file has an alpha mask.
struct BmpImage {
  int width = 0;
  int height = 0;
  bool hasAlpha = false;
  std::vector<uint8_t> rgba;

  const uint8_t* At(int x, int y) const { return &rgba[(size_t(y) * size_t(width) + size_t(x)) * 4]; }
};

// The fields of the two headers that a reader looks at before deciding to
// decode (the library refuses compressed files by this alone).
struct BmpHeaders {
  uint32_t pixelOffset;
  uint32_t headerSize;
  int32_t width;
  int32_t height;  // negative: rows stored top-down
  uint16_t planes;
  uint16_t bitCount;
  uint32_t compression;
  uint32_t coloursUsed;
};

constexpr uint32_t BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3, BI_ALPHABITFIELDS = 6;

// The largest image decoded, in pixels, and the largest side.
constexpr int64_t BmpMaxPixels = int64_t(1) << 26;
constexpr int BmpMaxSide = 32768;

BmpResult ReadBmpHeaders(const uint8_t* data, size_t size, BmpHeaders* out);
BmpResult DecodeBmp(const uint8_t* data, size_t size, BmpImage* out);
BmpResult ReadBmpFile(const char* path, BmpImage* out);

// Converts the image into a surface of the format, channel by channel
// (each narrowed by dropping its low bits).
void BmpToSurface(const BmpImage& image, PixelFormat format, Surface* out);
// The reverse: each channel widened to 8 bits.
void SurfaceToBmpImage(const Surface& surface, BmpImage* out);

// An uncompressed 24-bit bitmap of the image: 54-byte header, rows
// bottom-up, each padded to four bytes, 3937 pixels per metre.
std::vector<uint8_t> EncodeBmp24(const BmpImage& image);
// Returns false when the file cannot be written in full.
bool WriteBmp24File(const char* path, const BmpImage& image);
