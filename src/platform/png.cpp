#include "platform/png.h"

#include <cstdio>

#include "platform/bytes.h"

namespace {

// The largest payload of one stored deflate block.
constexpr size_t StoredBlockMax = 65535;

void Put32BigEndian(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}

struct CrcTable {
  uint32_t entries[256];
  CrcTable() {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      entries[n] = c;
    }
  }
};

void AppendChunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& body) {
  Put32BigEndian(out, uint32_t(body.size()));
  const size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), body.begin(), body.end());
  Put32BigEndian(out, Crc32(&out[typeAt], out.size() - typeAt));
}

// Rows of filter byte 0 followed by red, green, blue of each pixel.
std::vector<uint8_t> RawRows(const Surface& surface) {
  std::vector<uint8_t> raw;
  raw.reserve(size_t(surface.height) * (size_t(surface.width) * 3 + 1));
  for (int y = 0; y < surface.height; ++y) {
    raw.push_back(0);
    for (int x = 0; x < surface.width; ++x) {
      uint8_t r, g, b, a;
      UnpackPixel(surface.format, surface.Get(x, y), r, g, b, a);
      raw.push_back(r);
      raw.push_back(g);
      raw.push_back(b);
    }
  }
  return raw;
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
  static const CrcTable table;
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = table.entries[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

uint32_t Adler32(const uint8_t* data, size_t size, uint32_t adler) {
  constexpr uint32_t Base = 65521;
  uint32_t a = adler & 0xFFFF, b = adler >> 16;
  while (size > 0) {
    // 5552 bytes is the most that can be summed before b could overflow.
    const size_t n = size < 5552 ? size : 5552;
    for (size_t i = 0; i < n; ++i) {
      a += data[i];
      b += a;
    }
    a %= Base;
    b %= Base;
    data += n;
    size -= n;
  }
  return b << 16 | a;
}

std::vector<uint8_t> ZlibStore(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out = {0x78, 0x01};  // deflate, 32K window, no dictionary; 0x7801 % 31 == 0
  size_t at = 0;
  do {
    const size_t n = size - at < StoredBlockMax ? size - at : StoredBlockMax;
    const bool last = at + n == size;
    out.push_back(last ? 1 : 0);  // BFINAL, BTYPE 00 (stored)
    out.push_back(uint8_t(n));
    out.push_back(uint8_t(n >> 8));
    out.push_back(uint8_t(~n));
    out.push_back(uint8_t(~n >> 8));
    out.insert(out.end(), data + at, data + at + n);
    at += n;
  } while (at < size);
  Put32BigEndian(out, Adler32(data, size));
  return out;
}

std::vector<uint8_t> EncodePng(const Surface& surface) {
  if (surface.width <= 0 || surface.height <= 0 ||
      surface.pixels.size() < size_t(surface.pitch) * size_t(surface.height))
    return {};
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  Put32BigEndian(header, uint32_t(surface.width));
  Put32BigEndian(header, uint32_t(surface.height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, truecolour, deflate, filter 0, no interlace
  AppendChunk(png, "IHDR", header);
  const std::vector<uint8_t> raw = RawRows(surface);
  AppendChunk(png, "IDAT", ZlibStore(raw.data(), raw.size()));
  AppendChunk(png, "IEND", {});
  return png;
}

bool WritePngFile(const char* path, const Surface& surface) {
  return WriteWholeFile(path, EncodePng(surface));
}
