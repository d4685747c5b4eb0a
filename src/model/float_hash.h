// Hashing that agrees with float equality, for the passes that find equal
// positions or records in hash tables instead of comparing every pair.
#pragma once

#include <cstdint>
#include <cstring>

// -0 and +0 compare equal, so they hash alike. NaN equals nothing; callers
// keep it out of their tables.
inline uint32_t EqualityBits(float f) {
  if (f == 0.0f) return 0;
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

// One step of the multiplicative mix the tables share.
inline uint64_t HashStep(uint64_t h, uint64_t value) { return h * 0x9E3779B97F4A7C15ull ^ value; }

// The top 32 bits of the final mix.
inline uint32_t HashFinish(uint64_t h) { return uint32_t((h * 0xD6E8FEB86659FD93ull) >> 32); }
