// Writing a surface as a 24-bit RGB PNG, with no library: the image data is
// a zlib stream of stored (uncompressed) deflate blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/surface.h"

// The checksums a PNG file carries: CRC-32 of each chunk, Adler-32 of the
// zlib stream. Each continues from the value given (start with the default).
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);
uint32_t Adler32(const uint8_t* data, size_t size, uint32_t adler = 1);

// A zlib stream holding the bytes in stored deflate blocks.
std::vector<uint8_t> ZlibStore(const uint8_t* data, size_t size);

// The whole PNG file of the surface (any format; each channel widened to 8
// bits, alpha dropped). Empty for a surface without pixels.
std::vector<uint8_t> EncodePng(const Surface& surface);
// Returns false when the file cannot be written in full.
bool WritePngFile(const char* path, const Surface& surface);
