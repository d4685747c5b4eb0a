// The readers take files: each input is written to one of this process's
// own, under the extension that names its kind.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

inline std::string InputPath(const char* extension) {
  return "/tmp/vornix_fuzz_" + std::to_string(getpid()) + extension;
}

// False when the file could not be written whole.
inline bool WriteInput(const std::string& path, const uint8_t* data, size_t size) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool written = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}
