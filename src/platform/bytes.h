// Little-endian fields and whole-file writes, shared by the image writers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

inline void Put16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

inline void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

// Writes all bytes; false when the file cannot be created, written or closed.
inline bool WriteWholeFile(const char* path, const std::vector<uint8_t>& bytes) {
  if (bytes.empty() || path == nullptr) return false;
  FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && written;
}
