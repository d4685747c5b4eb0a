// libFuzzer target: the bitmap decoder either refuses the bytes or gives an
// image within its limits that survives the 16-bit display conversion and
// encodes and decodes again to the same pixels.
//   fuzz_bmp_decode corpus_dir ../shared/corpus/x ../shared/corpus/3ds
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/bmp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  BmpHeaders headers{};
  ReadBmpHeaders(data, size, &headers);
  BmpImage image;
  if (DecodeBmp(data, size, &image) != BmpResult::Ok) return 0;
  const int64_t pixels = int64_t(image.width) * image.height;
  if (image.width <= 0 || image.height <= 0 || image.width > BmpMaxSide || image.height > BmpMaxSide ||
      pixels > BmpMaxPixels || image.rgba.size() != size_t(pixels) * 4)
    std::abort();

  Surface surface;
  BmpToSurface(image, PixelFormat::Rgb565, &surface);
  if (surface.width != image.width || surface.height != image.height) std::abort();

  const std::vector<uint8_t> encoded = EncodeBmp24(image);
  BmpImage again;
  if (DecodeBmp(encoded.data(), encoded.size(), &again) != BmpResult::Ok || again.width != image.width ||
      again.height != image.height)
    std::abort();
  for (int64_t p = 0; p < pixels; ++p)
    if (std::memcmp(&again.rgba[size_t(p) * 4], &image.rgba[size_t(p) * 4], 3) != 0) std::abort();
  return 0;
}
