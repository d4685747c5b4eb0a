// The software device's rasteriser: one triangle of a draw call through
// transform and lighting, clipping, projection, culling and scan conversion
// with texturing, blending and the depth test, into the frame the device
// has bound. The device keeps the state and the handles.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform/device3d.h"

// A triangle is drawn in two stages, which a draw call may share between
// two threads: the first works out what of it lands on the screen, the
// second writes its rows. Every pixel comes out the same whichever thread
// writes it, as each row is worked out from the triangle alone.

constexpr int kRasterAttributes = 11;  // depth, 1/w, u, v, colour, specular
constexpr int kStripeRows = 8;         // the rows two threads take in turn
// Clipped by seven planes, a triangle has at most ten corners: eight
// triangles.
constexpr int kMaxPreparedPerTriangle = 8;

// Ready to scan: corners sorted top to bottom, the edges' slopes, the
// attributes at the top corner and their change per pixel across and down,
// and the rows within the scissor.
struct PreparedTriangle {
  float ax, ay, bx, by, cx, cy;
  float slopeAC, slopeAB, slopeBC;  // change of x per row along each edge
  float at[kRasterAttributes], dx[kRasterAttributes], dy[kRasterAttributes];
  int yStart, yEnd;
  bool middleOnRight;
};

// The corners a draw call last transformed and lit, as a graphics card's
// vertex cache: neighbouring triangles share corners, and while the frame
// stays what a corner gets depends only on its position and normal. Reset
// whenever the frame may have changed.
struct CornerCache {
  static constexpr int kSize = 1024;
  struct Entry {
    uint32_t key[6];  // the bits of x, y, z, nx, ny, nz
    uint32_t generation;
    bool lit;
    float clip[4];    // homogeneous position
    float colour[7];  // diffuse r, g, b, a and specular r, g, b, 0 .. 255
  };
  Entry entries[kSize] = {};
  uint32_t generation = 1;

  void Reset() {
    if (++generation == 0) {
      for (Entry& e : entries) e.generation = 0;
      generation = 1;
    }
  }
};

// Transforms, lights, clips, projects and culls; writes the pieces with
// area to out and their number to count. False when nothing reached the
// rasteriser (not finite, outside the view or culled).
bool PrepareTriangle(const Direct3DDevice::Frame& f, CornerCache& cache, const D3DVERTEX& a, const D3DVERTEX& b,
                     const D3DVERTEX& c, PreparedTriangle out[kMaxPreparedPerTriangle], int* count);

// Writes the rows of the triangles, in order, that lie in the stripes of
// kStripeRows rows numbered part modulo parts.
void ScanTriangles(const Direct3DDevice::Frame& f, const PreparedTriangle* triangles, size_t count, int part,
                   int parts);

// Both stages on one thread; false as PrepareTriangle.
bool RasteriseTriangle(const Direct3DDevice::Frame& f, CornerCache& cache, const D3DVERTEX& a,
                       const D3DVERTEX& b, const D3DVERTEX& c);

// Helpers the device shares with it.

inline float Clamp01(float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; }  // NaN gives 0

inline D3DVECTOR Normalized(D3DVECTOR v) {
  const float lengthSquared = v.x * v.x + v.y * v.y + v.z * v.z;
  if (!(lengthSquared > 1e-30f) || !std::isfinite(lengthSquared)) return {0, 0, 0};
  const float s = 1.0f / std::sqrt(lengthSquared);
  return {v.x * s, v.y * s, v.z * s};
}

// The direction part of p * M (no translation).
inline D3DVECTOR TransformDirection(const D3DVECTOR& p, const D3DMATRIX& m) {
  return {p.x * m._11 + p.y * m._21 + p.z * m._31, p.x * m._12 + p.y * m._22 + p.z * m._32,
          p.x * m._13 + p.y * m._23 + p.z * m._33};
}

inline uint16_t Load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline void Store16(uint8_t* p, uint32_t v) {
  const uint16_t w = uint16_t(v);
  std::memcpy(p, &w, 2);
}

inline uint32_t PackTarget(PixelFormat f, int r, int g, int b, int a) {
  switch (f) {
    case PixelFormat::Rgb565:
      return uint32_t((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
    case PixelFormat::Rgb555:
      return uint32_t((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
    case PixelFormat::Argb1555:
      return uint32_t((a >= 128 ? 0x8000 : 0) | (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
    default:
      return uint32_t((a >> 4) << 12 | (r >> 4) << 8 | (g >> 4) << 4 | (b >> 4));
  }
}
