// Scaling part of a picture to another size, as thumbnails need: area
// averaging (a box filter) along an axis that shrinks, bilinear
// interpolation along one that grows, a plain copy along one that keeps its
// size.
#pragma once

#include "platform/surface.h"

struct PixelRect {
  int left, top, width, height;
};

// The rectangle of `source` scaled to outWidth x outHeight, as an opaque
// Argb8888 surface with 8 bits a channel. An empty surface when the
// rectangle does not lie inside the source or a size is not positive.
Surface ScaleRect(const Surface& source, const PixelRect& rect, int outWidth, int outHeight);
