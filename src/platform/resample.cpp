#include "platform/resample.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

struct Tap {
  int index;
  float weight;
};

// For each output pixel along one axis, the source pixels it is made of and
// their weights, which sum to 1.
std::vector<std::vector<Tap>> AxisTaps(int in, int out) {
  std::vector<std::vector<Tap>> taps(static_cast<size_t>(out));
  const double ratio = double(in) / double(out);
  for (int o = 0; o < out; ++o) {
    std::vector<Tap>& t = taps[size_t(o)];
    if (out < in) {
      // The output pixel covers [from, to) of the source; each source pixel
      // counts by the part of it that lies inside.
      const double from = o * ratio, to = (o + 1) * ratio;
      for (int i = int(from); i < in && i < to; ++i) {
        const double overlap = std::min(to, i + 1.0) - std::max(from, double(i));
        if (overlap > 0) t.push_back({i, float(overlap / ratio)});
      }
    } else {
      // Pixel centres line up: output centre o + 0.5 lies at source
      // (o + 0.5) * ratio; the edges repeat the outermost pixels.
      const double at = std::clamp((o + 0.5) * ratio - 0.5, 0.0, in - 1.0);
      const int i = int(at);
      const float f = float(at - i);
      t.push_back({i, 1.0f - f});
      if (f > 0 && i + 1 < in) t.push_back({i + 1, f});
    }
  }
  return taps;
}

}  // namespace

Surface ScaleRect(const Surface& source, const PixelRect& rect, int outWidth, int outHeight) {
  Surface out;
  const PixelRect& r = rect;
  if (outWidth <= 0 || outHeight <= 0 || r.width <= 0 || r.height <= 0 || r.left < 0 || r.top < 0 ||
      r.left + r.width > source.width || r.top + r.height > source.height)
    return out;
  // Three floats a pixel: the rectangle, then scaled along x, then along y.
  std::vector<float> rows(size_t(r.width) * size_t(r.height) * 3);
  for (int y = 0; y < r.height; ++y)
    for (int x = 0; x < r.width; ++x) {
      uint8_t red, green, blue, alpha;
      UnpackPixel(source.format, source.Get(r.left + x, r.top + y), red, green, blue, alpha);
      float* p = &rows[(size_t(y) * size_t(r.width) + size_t(x)) * 3];
      p[0] = red, p[1] = green, p[2] = blue;
    }
  const auto across = AxisTaps(r.width, outWidth);
  std::vector<float> wide(size_t(outWidth) * size_t(r.height) * 3, 0.0f);
  for (int y = 0; y < r.height; ++y)
    for (int x = 0; x < outWidth; ++x) {
      float* p = &wide[(size_t(y) * size_t(outWidth) + size_t(x)) * 3];
      for (const Tap& t : across[size_t(x)]) {
        const float* s = &rows[(size_t(y) * size_t(r.width) + size_t(t.index)) * 3];
        for (int c = 0; c < 3; ++c) p[c] += t.weight * s[c];
      }
    }
  const auto down = AxisTaps(r.height, outHeight);
  out.Allocate(outWidth, outHeight, PixelFormat::Argb8888);
  for (int y = 0; y < outHeight; ++y)
    for (int x = 0; x < outWidth; ++x) {
      float sum[3] = {0, 0, 0};
      for (const Tap& t : down[size_t(y)]) {
        const float* s = &wide[(size_t(t.index) * size_t(outWidth) + size_t(x)) * 3];
        for (int c = 0; c < 3; ++c) sum[c] += t.weight * s[c];
      }
      uint8_t level[3];
      for (int c = 0; c < 3; ++c) level[c] = uint8_t(std::clamp(std::lround(sum[c]), 0L, 255L));
      out.Put(x, y, PackPixel(PixelFormat::Argb8888, level[0], level[1], level[2]));
    }
  return out;
}
