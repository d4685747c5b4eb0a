// Conversion of texture and alpha bitmaps into square 24-bit BMP files of
// 32, 64, 128 or 256 pixels per side: the display stretches the image into a
// square surface, which is read back and written out. PPM images (binary
// "P6" and text "P3") first become an ordinary 24-bit BMP, "temp_ppm.bmp".

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/bmp.h"
#include "platform/bytes.h"
#include "render/library_state.h"
#include "render/qlt.h"
#include "render/texture_files.h"

namespace {

const char* const OpBmp = "_qlt_AnyBMPtoSquare24BitBMP";
const char* const OpPpm = "_qlt_AnyPPMtoSquare24BitBMP";
const char* const TempPpmBmp = "temp_ppm.bmp";
constexpr int HeaderSize = 54;

int FailNamed(const char* operation, const char* format, const char* name) {
  char message[QltErrorStringSize];
  snprintf(message, sizeof message, format, name ? name : "");
  _qlt_SetError(operation, message, 0);
  return 0;
}

// The 54-byte header of an uncompressed, bottom-up 24-bit bitmap.
void MakeHeader(uint8_t* h, int width, int height, uint32_t imageSize, uint32_t resolution) {
  memset(h, 0, HeaderSize);
  h[0] = 'B';
  h[1] = 'M';
  Put32(h + 2, HeaderSize + imageSize);
  Put32(h + 10, HeaderSize);
  Put32(h + 14, 40);
  Put32(h + 18, uint32_t(width));
  Put32(h + 22, uint32_t(height));
  Put16(h + 26, 1);
  Put16(h + 28, 24);
  Put32(h + 34, imageSize);
  Put32(h + 38, resolution);
  Put32(h + 42, resolution);
}

int SquareSide(int w, int h) {
  if (w > 128 || h > 128) return 256;
  if (w > 64 || h > 64) return 128;
  if (w > 32 || h > 32) return 64;
  return 32;
}

// One 16-bit pixel of the display format as blue, green, red.
void ToBgr(uint16_t p, uint8_t* out) {
  switch (_qlt_GreenBits) {
    case 6:
      out[0] = uint8_t((p & 0x1F) << 3);
      out[1] = uint8_t((p >> 3) & 0xFC);
      out[2] = uint8_t((p >> 8) & 0xF8);
      break;
    case 5:
      out[0] = uint8_t((p & 0x1F) << 3);
      out[1] = uint8_t((p >> 2) & 0xF8);
      out[2] = uint8_t((p >> 7) & 0xF8);
      break;
    default:
      out[0] = uint8_t((p & 0x0F) << 4);
      out[1] = uint8_t(p & 0xF0);
      out[2] = uint8_t((p >> 4) & 0xF0);
      break;
  }
}

bool WriteAll(int handle, const void* data, size_t size) {
  int32_t done = 0;
  return qlt_FileWrite(handle, data, int32_t(size), &done) == 1 && size_t(done) == size;
}

// Writes the square surface bottom row first; rows are read at the
// surface's own pitch.
int WriteSquarePixels(int handle, int square, int side, const char* targetFile) {
  DisplaySurface* surface = qlt_BitmapSurface(square);
  LockedSurface locked;
  const int32_t r = surface->Lock(&locked);
  if (r != DD_OK) {
    _qlt_SetError(OpBmp, "_qlt_Bitmap[square].lpSurface->Lock(NULL,&ddsd,DDLOCK_WAIT|DDLOCK_READONLY,NULL)",
                  r);
    return 0;
  }
  std::vector<uint8_t> row(size_t(side) * 3);
  bool written = true;
  for (int y = side - 1; y >= 0 && written; --y) {
    const uint8_t* line = locked.bits + size_t(y) * size_t(locked.pitch);
    for (int x = 0; x < side; ++x) ToBgr(uint16_t(line[2 * x] | line[2 * x + 1] << 8), &row[size_t(x) * 3]);
    written = WriteAll(handle, row.data(), row.size());
  }
  surface->Unlock();
  if (!written) return FailNamed(OpBmp, "Could not write windows bitmap file: %s", targetFile);
  return 1;
}

int Stretch(int source, int side, int handle, const char* targetFile) {
  const int w = qlt_BitmapWidth(source), h = qlt_BitmapHeight(source);
  uint8_t header[HeaderSize];
  MakeHeader(header, side, side, uint32_t(side) * uint32_t(side) * 3, 3937);
  if (!WriteAll(handle, header, sizeof header))
    return FailNamed(OpBmp, "Could not write windows bitmap file: %s", targetFile);
  int square = -1;
  if (!_qlt_MakeSquareBitmap(side, &square)) return 0;
  const int ok = qlt_BitmapBlit(source, square, 0, w, 0, h, 0, side, 0, side) &&
                 WriteSquarePixels(handle, square, side, targetFile);
  qlt_BitmapFree(square);
  return ok;
}

}  // namespace

int _qlt_AnyBMPtoSquare24BitBMP(const char* sourceFile, const char* targetFile) {
  int source = -1;
  if (!qlt_BitmapLoad(&source, sourceFile, 0, 0, 0)) return 0;
  const int handle =
      targetFile ? qlt_FileOpen(targetFile, QLT_FILE_WRITE | QLT_FILE_CREATE | QLT_FILE_TRUNCATE) : -1;
  if (handle < 0) {
    qlt_BitmapFree(source);
    _qlt_SetError(OpBmp, "Can not create temporary windows bitmap file: TMP_ofilename", 0);
    return 0;
  }
  const int side = SquareSide(qlt_BitmapWidth(source), qlt_BitmapHeight(source));
  const int ok = Stretch(source, side, handle, targetFile);
  qlt_BitmapFree(source);
  qlt_FileClose(handle);
  return ok;
}

// ---- PPM --------------------------------------------------------------------------------

namespace {

struct PpmReader {
  const uint8_t* data;
  size_t size;
  size_t pos = 0;

  bool AtEnd() const { return pos >= size; }
  bool Peek(uint8_t* c) const {
    if (AtEnd()) return false;
    *c = data[pos];
    return true;
  }
  void SkipComment() {
    while (!AtEnd() && data[pos] != '\n' && data[pos] != '\r') ++pos;
  }
  // Whitespace and comments before a number.
  void SkipSpace(bool withVerticalTabAndFormFeed) {
    uint8_t c;
    while (Peek(&c)) {
      const bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r' ||
                         (withVerticalTabAndFormFeed && (c == '\v' || c == '\f'));
      if (c == '#')
        SkipComment();
      else if (space)
        ++pos;
      else
        return;
    }
  }
  // An unsigned decimal number; its terminating character is consumed. A
  // number past 32 bits is refused, and so is one that runs into the end of
  // the data, except a text sample (the file's last one needs no terminator).
  bool Number(uint32_t* out, bool mayEndFile = false) {
    SkipSpace(true);
    uint64_t value = 0;
    int digits = 0;
    while (!AtEnd() && data[pos] >= '0' && data[pos] <= '9') {
      value = value * 10 + uint32_t(data[pos++] - '0');
      if (value > 0xFFFFFFFFu) return false;
      ++digits;
    }
    if (digits == 0 || (AtEnd() && !mayEndFile)) return false;
    if (!AtEnd()) ++pos;
    *out = uint32_t(value);
    return true;
  }
};

struct PpmImage {
  bool text;
  uint32_t width, height, maxValue;
};

enum class PpmStatus { Ok, NotPpm, BadMaximum, TooLarge, Short };

PpmStatus ReadPpmHeader(PpmReader& in, PpmImage* image) {
  if (in.size < 2 || in.data[0] != 'P' || (in.data[1] != '6' && in.data[1] != '3')) return PpmStatus::NotPpm;
  image->text = in.data[1] == '3';
  in.pos = 2;
  if (!in.Number(&image->width) || !in.Number(&image->height) || !in.Number(&image->maxValue))
    return PpmStatus::NotPpm;
  if (image->width == 0 || image->height == 0) return PpmStatus::NotPpm;
  if (image->maxValue == 0 || image->maxValue > 65535) return PpmStatus::BadMaximum;
  if (image->width > uint32_t(BmpMaxSide) || image->height > uint32_t(BmpMaxSide) ||
      uint64_t(image->width) * image->height > uint64_t(BmpMaxPixels))
    return PpmStatus::TooLarge;
  // Binary pixels begin right after the one character that ended the
  // maximum value, so a first pixel byte that looks like a space or "#" is
  // still a pixel.
  return PpmStatus::Ok;
}

uint8_t Scale(uint32_t sample, uint32_t maxValue) {
  const uint64_t scaled = uint64_t(sample) * 255 / maxValue;
  return uint8_t(scaled > 255 ? 255 : scaled);
}

bool BinarySample(PpmReader& in, uint32_t maxValue, uint32_t* out) {
  const size_t bytes = maxValue > 255 ? 2 : 1;  // wide samples are stored high byte first
  if (in.size - in.pos < bytes) return false;
  *out = bytes == 2 ? uint32_t(in.data[in.pos] << 8 | in.data[in.pos + 1]) : in.data[in.pos];
  in.pos += bytes;
  return true;
}

// The pixels as a bottom-up 24-bit bitmap: the last PPM row is stored first,
// so the picture keeps its way up; rows padded to four bytes.
PpmStatus ConvertPixels(PpmReader& in, const PpmImage& image, std::vector<uint8_t>* bmp) {
  // A short file that claims a large image is refused before the bitmap is
  // made, which would cost the claimed size in memory. A text sample takes
  // at least a digit and a separator, except the last.
  const uint64_t samples = uint64_t(image.width) * image.height * 3;
  const uint64_t rest = in.size - in.pos;
  const uint64_t least = image.text ? 2 * samples - 1 : samples * (image.maxValue > 255 ? 2 : 1);
  if (rest < least) return PpmStatus::Short;
  const size_t stride = (size_t(image.width) * 3 + 3) & ~size_t(3);
  bmp->assign(HeaderSize + stride * image.height, 0);
  MakeHeader(bmp->data(), int(image.width), int(image.height), uint32_t(stride * image.height), 3930);
  for (uint32_t y = 0; y < image.height; ++y) {
    uint8_t* row = bmp->data() + HeaderSize + stride * (image.height - 1 - y);
    for (uint32_t x = 0; x < image.width; ++x) {
      uint32_t rgb[3];
      for (uint32_t& sample : rgb) {
        const bool read = image.text ? in.Number(&sample, true) : BinarySample(in, image.maxValue, &sample);
        if (!read) return PpmStatus::Short;
      }
      row[x * 3 + 0] = Scale(rgb[2], image.maxValue);
      row[x * 3 + 1] = Scale(rgb[1], image.maxValue);
      row[x * 3 + 2] = Scale(rgb[0], image.maxValue);
    }
  }
  return PpmStatus::Ok;
}

int PpmFailure(const char* operation, PpmStatus status, const char* sourceFile) {
  switch (status) {
    case PpmStatus::BadMaximum:
      return FailNamed(operation, "%s : The maximum sample value of a PPM file must lie between 1 and 65535!",
                       sourceFile);
    case PpmStatus::TooLarge:
      return FailNamed(operation, "%s : The PPM image is too large!", sourceFile);
    case PpmStatus::Short:
      return FailNamed(operation, "%s : The PPM pixel data is shorter than its header announces!", sourceFile);
    default:
      return FailNamed(operation, "%s : Not a valid PPM file!", sourceFile);
  }
}

bool ReadWholeFile(int handle, std::vector<uint8_t>* data) {
  data->resize(qlt_FileSize(handle));
  int32_t done = 0;
  return data->size() <= size_t(INT32_MAX) &&
         qlt_FileRead(handle, data->data(), int32_t(data->size()), &done) == 1 &&
         size_t(done) == data->size();
}

// The PPM as an ordinary 24-bit bitmap in bmpFile.
int PpmToBmpFile(const char* sourceFile, const char* bmpFile, const char* operation) {
  const int source = sourceFile ? qlt_FileOpen(sourceFile, QLT_FILE_READ) : -1;
  if (source < 0) return FailNamed(operation, "Could not open PPM file: %s", sourceFile);
  const int temp = qlt_FileOpen(bmpFile, QLT_FILE_WRITE | QLT_FILE_CREATE | QLT_FILE_TRUNCATE);
  if (temp < 0) {
    qlt_FileClose(source);
    return FailNamed(operation, "Could not open BMP file: %s", bmpFile);
  }
  std::vector<uint8_t> ppm;
  const bool read = ReadWholeFile(source, &ppm);
  qlt_FileClose(source);
  PpmReader in{ppm.data(), ppm.size()};
  PpmImage image{};
  std::vector<uint8_t> bmp;
  PpmStatus status = read ? ReadPpmHeader(in, &image) : PpmStatus::NotPpm;
  if (status == PpmStatus::Ok) status = ConvertPixels(in, image, &bmp);
  if (status != PpmStatus::Ok) {
    qlt_FileClose(temp);
    return PpmFailure(operation, status, sourceFile);
  }
  const bool written = WriteAll(temp, bmp.data(), bmp.size());
  if (!qlt_FileClose(temp) || !written)
    return FailNamed(operation, "Could not close PPM->BMP BMP file: %s", bmpFile);
  return 1;
}

}  // namespace

int _qlt_PPMto24BitBMP(const char* sourceFile, const char* operation) {
  return PpmToBmpFile(sourceFile, TempPpmBmp, operation);
}

int _qlt_AnyPPMtoSquare24BitBMP(const char* sourceFile, const char* targetFile) {
  // Through a bitmap of its own, outside the model's folder.
  const QltTemporaryFile bitmap;
  if (bitmap.path().empty()) return FailNamed(OpPpm, "Could not open BMP file: %s", TempPpmBmp);
  return PpmToBmpFile(sourceFile, bitmap.path().c_str(), OpPpm) &&
         _qlt_AnyBMPtoSquare24BitBMP(bitmap.path().c_str(), targetFile);
}
