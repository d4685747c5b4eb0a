// The text clean-ups' way of taking sixteen characters at once on x86-64
// processors with SSSE3: of a block, keep the bytes a mask marks and pack
// them together, in order. Elsewhere CanKeepBytes is false and the clean-ups
// go byte by byte.
#pragma once

#if defined(__x86_64__)
#include <immintrin.h>

#include <cstdint>

// For every mask of eight bytes, the shuffle that moves the kept ones to the
// front in their order.
struct KeptByteShuffles {
  uint8_t of[256][8];
  constexpr KeptByteShuffles() : of{} {
    for (int mask = 0; mask < 256; ++mask) {
      int kept = 0;
      for (int bit = 0; bit < 8; ++bit)
        if (mask & (1 << bit)) of[mask][kept++] = uint8_t(bit);
      while (kept < 8) of[mask][kept++] = 0x80;
    }
  }
};
inline constexpr KeptByteShuffles keptByteShuffles{};

inline bool CanKeepBytes() { return __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt"); }

// Writes the bytes whose bit is set in keep (bit i for byte i) at out and
// returns how many there are. Up to sixteen bytes at out are overwritten.
__attribute__((target("ssse3,popcnt"))) inline int StoreKeptBytes(char* out, __m128i bytes, unsigned keep) {
  const __m128i halves[2] = {bytes, _mm_srli_si128(bytes, 8)};
  int written = 0;
  for (int half = 0; half < 2; ++half) {
    const unsigned mask = (keep >> (8 * half)) & 0xFFu;
    const __m128i order = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(keptByteShuffles.of[mask]));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + written), _mm_shuffle_epi8(halves[half], order));
    written += __builtin_popcount(mask);
  }
  return written;
}
#else
inline bool CanKeepBytes() { return false; }
#endif
