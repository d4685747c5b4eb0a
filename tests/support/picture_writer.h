// Pictures in the common formats made from a decoded bitmap, for the tests
// of picture textures: PNG and JPEG through gdk-pixbuf, TGA by hand (the
// library cannot write it).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/bmp.h"

// An opaque image with every pixel from colour(x, y) as 0xRRGGBB.
template <typename Colour>
BmpImage MakeImage(int width, int height, Colour colour) {
  BmpImage image{width, height, false, std::vector<uint8_t>(size_t(width) * height * 4, 255)};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint32_t c = colour(x, y);
      uint8_t* p = &image.rgba[(size_t(y) * width + x) * 4];
      p[0] = uint8_t(c >> 16), p[1] = uint8_t(c >> 8), p[2] = uint8_t(c);
    }
  return image;
}

#ifdef VORNIX_HAVE_PIXBUF

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "platform/bmp.h"

// type is "png" or "jpeg" (saved at the best quality); a PNG keeps the
// image's alpha when it has one.
inline bool SavePicture(const BmpImage& image, const std::string& path, const char* type) {
  const int channels = image.hasAlpha ? 4 : 3;
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, image.hasAlpha, 8, image.width, image.height);
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  guint8* pixels = gdk_pixbuf_get_pixels(pixbuf);
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x)
      for (int c = 0; c < channels; ++c) pixels[y * stride + x * channels + c] = image.At(x, y)[c];
  char quality[] = "quality", best[] = "100";
  char* keys[] = {quality, nullptr};
  char* values[] = {best, nullptr};
  const bool jpeg = std::string(type) == "jpeg";
  const bool saved =
      gdk_pixbuf_savev(pixbuf, path.c_str(), type, jpeg ? keys : nullptr, jpeg ? values : nullptr, nullptr);
  g_object_unref(pixbuf);
  return saved;
}

// An uncompressed true-colour TGA, rows stored top first.
inline bool SaveTga(const BmpImage& image, const std::string& path) {
  std::vector<uint8_t> file = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (int side : {image.width, image.height}) file.insert(file.end(), {uint8_t(side), uint8_t(side >> 8)});
  file.insert(file.end(), {24, 0x20});
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x)
      file.insert(file.end(), {image.At(x, y)[2], image.At(x, y)[1], image.At(x, y)[0]});
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  return bool(out);
}

#endif
