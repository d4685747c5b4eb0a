// The software 3D device. Per triangle: transform and light the three
// vertices, clip in homogeneous space, divide, cull by screen winding, then
// walk scanlines with plane-equation gradients. Lighting follows Direct3D's
// fixed pipeline per vertex; the specular term is Blinn's (the half-way
// vector between the direction to the light and the direction to the eye,
// the eye at the view-space origin).
#include "platform/rasteriser.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace {

// ---- Small helpers ----------------------------------------------------------

float ClampTo(float v, float lo, float hi) { return v > lo ? (v < hi ? v : hi) : lo; }

// Four floats or ints in one register, for a pixel's colour channels.
typedef float Float4 __attribute__((vector_size(16)));
typedef int Int4 __attribute__((vector_size(16)));

// int(ClampTo(v, 0, 255)) for each channel at once: NaN gives 0 here too,
// and the lanes are added and converted exactly as single floats are.
inline Int4 ToBytes(Float4 v) {
  const Float4 zero = {0, 0, 0, 0}, top = {255, 255, 255, 255};
  v = v > zero ? v : zero;
  v = v < top ? v : top;
  return __builtin_convertvector(v, Int4);
}

// floor for values already clamped into int range (std::floor is a call
// on plain x86-64).
inline int FloorToInt(float v) {
  const int i = int(v);
  return i - (v < float(i) ? 1 : 0);
}

// x * y / 255, rounded, for bytes.
inline int Mul255(int x, int y) {
  const int t = x * y + 128;
  return (t + (t >> 8)) >> 8;
}

float Dot(const D3DVECTOR& a, const D3DVECTOR& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// ---- Pixels of the target -------------------------------------------------

inline void UnpackTarget(PixelFormat f, uint32_t p, int& r, int& g, int& b, int& a) {
  auto five = [](uint32_t v) { return int((v << 3) | (v >> 2)); };
  switch (f) {
    case PixelFormat::Rgb565: {
      const uint32_t g6 = (p >> 5) & 63;
      r = five((p >> 11) & 31);
      g = int((g6 << 2) | (g6 >> 4));
      b = five(p & 31);
      a = 255;
      return;
    }
    case PixelFormat::Rgb555:
    case PixelFormat::Argb1555:
      r = five((p >> 10) & 31);
      g = five((p >> 5) & 31);
      b = five(p & 31);
      a = (f == PixelFormat::Rgb555 || (p & 0x8000)) ? 255 : 0;
      return;
    default:
      a = int(((p >> 12) & 15) * 17);
      r = int(((p >> 8) & 15) * 17);
      g = int(((p >> 4) & 15) * 17);
      b = int((p & 15) * 17);
      return;
  }
}

// ---- Textures ---------------------------------------------------------------

// u, v in texels (u = 0 at the left edge, v = 0 at the top), wrapped.
struct Texel {
  int r, g, b, a;
};

inline Texel SampleNearest(const DeviceTexture& t, float u, float v) {
  u = ClampTo(u, -4194304.0f, 4194304.0f);
  v = ClampTo(v, -4194304.0f, 4194304.0f);
  const int x = FloorToInt(u) & (t.width - 1);
  const int y = FloorToInt(v) & (t.height - 1);
  const uint32_t c = t.texels[size_t(y) * size_t(t.width) + size_t(x)];
  return {int((c >> 16) & 255), int((c >> 8) & 255), int(c & 255), int(c >> 24)};
}

inline Texel SampleBilinear(const DeviceTexture& t, float u, float v) {
  // Texel centres lie at half-integers.
  const int fu = FloorToInt(ClampTo(u - 0.5f, -4194304.0f, 4194304.0f) * 256.0f);
  const int fv = FloorToInt(ClampTo(v - 0.5f, -4194304.0f, 4194304.0f) * 256.0f);
  const int wx = fu & 255, wy = fv & 255;
  const int mx = t.width - 1, my = t.height - 1;
  const int x0 = (fu >> 8) & mx, x1 = (x0 + 1) & mx;
  const int y0 = (fv >> 8) & my, y1 = (y0 + 1) & my;
  const uint32_t* row0 = &t.texels[size_t(y0) * size_t(t.width)];
  const uint32_t* row1 = &t.texels[size_t(y1) * size_t(t.width)];
  const uint32_t c00 = row0[x0], c10 = row0[x1], c01 = row1[x0], c11 = row1[x1];
  auto channel = [&](int shift) {
    const int a = int((c00 >> shift) & 255), b = int((c10 >> shift) & 255);
    const int c = int((c01 >> shift) & 255), d = int((c11 >> shift) & 255);
    const int top = a * 256 + (b - a) * wx;
    const int bottom = c * 256 + (d - c) * wx;
    return (top * 256 + (bottom - top) * wy + 32768) >> 16;
  };
  return {channel(16), channel(8), channel(0), channel(24)};
}

// ---- Blending ---------------------------------------------------------------

struct Rgba {
  int r, g, b, a;
};

inline Rgba Factor(uint32_t kind, const Rgba& s, const Rgba& d) {
  switch (kind) {
    case D3DBLEND_ZERO:
      return {0, 0, 0, 0};
    case D3DBLEND_ONE:
      return {255, 255, 255, 255};
    case D3DBLEND_SRCCOLOR:
      return s;
    case D3DBLEND_INVSRCCOLOR:
      return {255 - s.r, 255 - s.g, 255 - s.b, 255 - s.a};
    case D3DBLEND_SRCALPHA:
    case D3DBLEND_BOTHSRCALPHA:
      return {s.a, s.a, s.a, s.a};
    case D3DBLEND_INVSRCALPHA:
    case D3DBLEND_BOTHINVSRCALPHA:
      return {255 - s.a, 255 - s.a, 255 - s.a, 255 - s.a};
    case D3DBLEND_DESTALPHA:
      return {d.a, d.a, d.a, d.a};
    case D3DBLEND_INVDESTALPHA:
      return {255 - d.a, 255 - d.a, 255 - d.a, 255 - d.a};
    case D3DBLEND_DESTCOLOR:
      return d;
    case D3DBLEND_INVDESTCOLOR:
      return {255 - d.r, 255 - d.g, 255 - d.b, 255 - d.a};
    case D3DBLEND_SRCALPHASAT: {
      const int f = std::min(s.a, 255 - d.a);
      return {f, f, f, 255};
    }
  }
  return {255, 255, 255, 255};
}

inline Rgba Blend(uint32_t srcKind, uint32_t destKind, const Rgba& s, const Rgba& d) {
  // The "both" source factors fix the destination factor as well.
  if (srcKind == D3DBLEND_BOTHSRCALPHA) destKind = D3DBLEND_INVSRCALPHA;
  if (srcKind == D3DBLEND_BOTHINVSRCALPHA) destKind = D3DBLEND_SRCALPHA;
  const Rgba fs = Factor(srcKind, s, d), fd = Factor(destKind, s, d);
  return {std::min(255, Mul255(s.r, fs.r) + Mul255(d.r, fd.r)),
          std::min(255, Mul255(s.g, fs.g) + Mul255(d.g, fd.g)),
          std::min(255, Mul255(s.b, fs.b) + Mul255(d.b, fd.b)),
          std::min(255, Mul255(s.a, fs.a) + Mul255(d.a, fd.a))};
}

inline bool DepthPasses(uint32_t func, uint32_t z, uint32_t stored) {
  switch (func) {
    case D3DCMP_LESSEQUAL:
      return z <= stored;
    case D3DCMP_LESS:
      return z < stored;
    case D3DCMP_EQUAL:
      return z == stored;
    case D3DCMP_GREATER:
      return z > stored;
    case D3DCMP_NOTEQUAL:
      return z != stored;
    case D3DCMP_GREATEREQUAL:
      return z >= stored;
    case D3DCMP_ALWAYS:
      return true;
    default:
      return false;  // NEVER
  }
}

// ---- Vertices after transform and lighting ----------------------------------

// Attributes carried through clipping and interpolation, in this order.
enum Attribute { kDepth, kRhw, kU, kV, kR, kG, kB, kA, kSR, kSG, kSB, kAttributeCount };
static_assert(kAttributeCount == kRasterAttributes, "PreparedTriangle holds every attribute");

struct ClipVertex {
  float x, y, z, w;  // homogeneous clip position
  float u, v;
  float r, g, b, a;  // 0 .. 255
  float sr, sg, sb;  // specular, 0 .. 255
};

struct ScreenVertex {
  float x, y;
  float at[kAttributeCount];
};

ClipVertex Lerp(const ClipVertex& p, const ClipVertex& q, float t) {
  auto mix = [t](float a, float b) { return a + (b - a) * t; };
  return {mix(p.x, q.x),   mix(p.y, q.y),   mix(p.z, q.z),  mix(p.w, q.w), mix(p.u, q.u),
          mix(p.v, q.v),   mix(p.r, q.r),   mix(p.g, q.g),  mix(p.b, q.b), mix(p.a, q.a),
          mix(p.sr, q.sr), mix(p.sg, q.sg), mix(p.sb, q.sb)};
}

// Clip planes as a*x + b*y + c*z + d*w + e >= 0.
struct Plane {
  float a, b, c, d, e;
  float Distance(const ClipVertex& v) const { return a * v.x + b * v.y + c * v.z + d * v.w + e; }
};
constexpr int kPlaneCount = 7;
constexpr int kMaxPolygon = 3 + kPlaneCount;

void MakePlanes(const Direct3DDevice::Frame& f, Plane planes[kPlaneCount]) {
  planes[0] = {0, 0, 1, 0, 0};       // near: z >= 0
  planes[1] = {0, 0, -1, 1, 0};      // far: z <= w
  planes[2] = {0, 0, 0, 1, -1e-6f};  // in front of the eye, so the divide is safe
  // A guard band around the scissor keeps screen coordinates small; the
  // scissor itself trims the pixels.
  planes[3] = {f.kx, 0, 0, f.ox - f.guardLeft, 0};
  planes[4] = {-f.kx, 0, 0, f.guardRight - f.ox, 0};
  planes[5] = {0, f.ky, 0, f.oy - f.guardTop, 0};
  planes[6] = {0, -f.ky, 0, f.guardBottom - f.oy, 0};
}

// Distance < 0 for each plane, with the terms whose coefficient MakePlanes
// sets to zero left out: they add only zeros, so the signs are the same.
unsigned OutCode(const Plane planes[kPlaneCount], const ClipVertex& v) {
  unsigned code = 0;
  if (v.z < 0) code |= 1u << 0;
  if (-v.z + v.w < 0) code |= 1u << 1;
  if (v.w + planes[2].e < 0) code |= 1u << 2;
  if (planes[3].a * v.x + planes[3].d * v.w < 0) code |= 1u << 3;
  if (planes[4].a * v.x + planes[4].d * v.w < 0) code |= 1u << 4;
  if (planes[5].b * v.y + planes[5].d * v.w < 0) code |= 1u << 5;
  if (planes[6].b * v.y + planes[6].d * v.w < 0) code |= 1u << 6;
  return code;
}

// Sutherland-Hodgman against the planes in mask. Intersections are always
// computed from the inside vertex towards the outside one, so two triangles
// sharing an edge produce the very same point.
int ClipPolygon(const Plane planes[kPlaneCount], unsigned mask, ClipVertex* poly, int count) {
  ClipVertex scratch[kMaxPolygon];
  ClipVertex* in = poly;
  ClipVertex* out = scratch;
  for (int p = 0; p < kPlaneCount && count >= 3; ++p) {
    if (!(mask & (1u << p))) continue;
    int n = 0;
    for (int i = 0; i < count; ++i) {
      const ClipVertex& a = in[i];
      const ClipVertex& b = in[(i + 1) % count];
      const float da = planes[p].Distance(a), db = planes[p].Distance(b);
      if (da >= 0) out[n++] = a;
      if ((da >= 0) != (db >= 0)) {
        out[n++] = da >= 0 ? Lerp(a, b, da / (da - db)) : Lerp(b, a, db / (db - da));
      }
    }
    count = n;
    std::swap(in, out);
  }
  if (in != poly) std::copy(in, in + count, poly);
  return count;
}

// ---- Scanline rasteriser ----------------------------------------------------

template <bool kTextured, bool kBlend>
void DrawSpan(const Direct3DDevice::Frame& f, int y, int x0, int x1, float at[kAttributeCount],
              const float dx[kAttributeCount]) {
  // Locals, not frame fields: the pixel stores are byte stores, which the
  // compiler must assume could change the frame.
  uint8_t* const colorRow = f.color + size_t(y) * size_t(f.colorPitch);
  uint8_t* const depthRow = f.depth + size_t(y) * size_t(f.depthPitch);
  const PixelFormat format = f.format;
  const bool zTest = f.zTest, zWrite = f.zWrite, bilinear = f.bilinear, specular = f.specular;
  const uint32_t zFunc = f.zFunc, textureBlend = f.textureBlend, srcBlend = f.srcBlend,
                 destBlend = f.destBlend;
  const DeviceTexture* const t = f.texture;
  const float texWidth = kTextured ? float(t->width) : 0.0f, texHeight = kTextured ? float(t->height) : 0.0f;
  float depth = at[kDepth], rhw = at[kRhw], u = at[kU], v = at[kV];
  Float4 colour = {at[kR], at[kG], at[kB], at[kA]};
  Float4 specularColour = {at[kSR], at[kSG], at[kSB], 0.0f};
  const float dDepth = dx[kDepth], dRhw = dx[kRhw], dU = dx[kU], dV = dx[kV];
  const Float4 dColour = {dx[kR], dx[kG], dx[kB], dx[kA]};
  const Float4 dSpecular = {dx[kSR], dx[kSG], dx[kSB], 0.0f};
  for (int x = x0; x < x1; ++x) {
    const uint32_t z = uint32_t(ClampTo(depth, 0.0f, 65535.0f));
    uint8_t* zp = depthRow + size_t(x) * 2;
    if (!zTest || DepthPasses(zFunc, z, Load16(zp))) {
      const Int4 bytes = ToBytes(colour);
      Rgba c{bytes[0], bytes[1], bytes[2], bytes[3]};
      if (kTextured) {
        const float w = 1.0f / (rhw > 1e-20f ? rhw : 1e-20f);
        const float tu = u * w * texWidth, tv = v * w * texHeight;
        const Texel s = bilinear ? SampleBilinear(*t, tu, tv) : SampleNearest(*t, tu, tv);
        switch (textureBlend) {
          case D3DTBLEND_MODULATEALPHA:
            c = {Mul255(s.r, c.r), Mul255(s.g, c.g), Mul255(s.b, c.b), Mul255(s.a, c.a)};
            break;
          case D3DTBLEND_DECAL:
          case D3DTBLEND_COPY:
          case D3DTBLEND_DECALMASK:
            c = {s.r, s.g, s.b, s.a};
            break;
          case D3DTBLEND_DECALALPHA:
            c = {c.r + Mul255(s.r - c.r, s.a), c.g + Mul255(s.g - c.g, s.a), c.b + Mul255(s.b - c.b, s.a),
                 c.a};
            break;
          case D3DTBLEND_ADD:
            c = {std::min(255, s.r + c.r), std::min(255, s.g + c.g), std::min(255, s.b + c.b), c.a};
            break;
          default:  // MODULATE: alpha from the texture when it has any
            c = {Mul255(s.r, c.r), Mul255(s.g, c.g), Mul255(s.b, c.b), t->hasAlpha ? s.a : c.a};
            break;
        }
      }
      if (specular) {
        const Int4 added = ToBytes(specularColour);
        c.r = std::min(255, c.r + added[0]);
        c.g = std::min(255, c.g + added[1]);
        c.b = std::min(255, c.b + added[2]);
      }
      uint8_t* cp = colorRow + size_t(x) * 2;
      if (kBlend) {
        Rgba d;
        UnpackTarget(format, Load16(cp), d.r, d.g, d.b, d.a);
        c = Blend(srcBlend, destBlend, c, d);
      }
      Store16(cp, PackTarget(format, c.r, c.g, c.b, c.a));
      if (zWrite) Store16(zp, z);
    }
    depth += dDepth;
    rhw += dRhw;
    u += dU;
    v += dV;
    colour += dColour;
    specularColour += dSpecular;
  }
}

using SpanFunction = void (*)(const Direct3DDevice::Frame&, int, int, int, float*, const float*);

SpanFunction ChooseSpan(const Direct3DDevice::Frame& f) {
  if (f.texture) return f.blend ? DrawSpan<true, true> : DrawSpan<true, false>;
  return f.blend ? DrawSpan<false, true> : DrawSpan<false, false>;
}

// x of the edge from p (above) on the scanline through y, from the edge's
// slope. Evaluated directly, not stepped, so both triangles sharing an edge
// agree exactly, and a row comes out the same whichever thread draws it.
inline float EdgeSlope(float px, float py, float qx, float qy) { return (qx - px) / (qy - py); }
inline float EdgeX(float px, float py, float slope, float y) { return px + (y - py) * slope; }

// Pixel centres lie on integer coordinates; a centre on a left or top edge
// belongs to the triangle, one on a right or bottom edge does not. Sorts the
// corners, works out the gradients and the rows; false for no area.
bool SetUp(const Direct3DDevice::Frame& f, const ScreenVertex* a, const ScreenVertex* b, const ScreenVertex* c,
           PreparedTriangle& t) {
  if (a->y > b->y) std::swap(a, b);
  if (b->y > c->y) std::swap(b, c);
  if (a->y > b->y) std::swap(a, b);
  const float area = (b->x - a->x) * (c->y - a->y) - (c->x - a->x) * (b->y - a->y);
  if (!(std::fabs(area) > 1e-12f)) return false;

  const float inv = 1.0f / area;
  const float e1x = b->x - a->x, e1y = b->y - a->y, e2x = c->x - a->x, e2y = c->y - a->y;
  for (int i = 0; i < kAttributeCount; ++i) {
    const float d1 = b->at[i] - a->at[i], d2 = c->at[i] - a->at[i];
    t.dx[i] = (d1 * e2y - d2 * e1y) * inv;
    t.dy[i] = (d2 * e1x - d1 * e2x) * inv;
    t.at[i] = a->at[i];
  }
  t.ax = a->x, t.ay = a->y, t.bx = b->x, t.by = b->y, t.cx = c->x, t.cy = c->y;
  t.slopeAC = EdgeSlope(a->x, a->y, c->x, c->y);
  t.slopeAB = EdgeSlope(a->x, a->y, b->x, b->y);
  t.slopeBC = EdgeSlope(b->x, b->y, c->x, c->y);
  t.middleOnRight = area > 0;
  t.yStart = std::max(int(std::ceil(a->y)), f.clipTop);
  t.yEnd = std::min(int(std::ceil(c->y)), f.clipBottom);
  return true;
}

void ScanRows(const Direct3DDevice::Frame& f, SpanFunction span, const PreparedTriangle& t, int yBegin,
              int yEnd) {
  float at[kAttributeCount];
  for (int y = yBegin; y < yEnd; ++y) {
    const float fy = float(y);
    const float xLong = EdgeX(t.ax, t.ay, t.slopeAC, fy);
    const float xShort = fy < t.by ? EdgeX(t.ax, t.ay, t.slopeAB, fy) : EdgeX(t.bx, t.by, t.slopeBC, fy);
    const float xl = t.middleOnRight ? xLong : xShort;
    const float xr = t.middleOnRight ? xShort : xLong;
    const int x0 = std::max(int(std::ceil(xl)), f.clipLeft);
    const int x1 = std::min(int(std::ceil(xr)), f.clipRight);
    if (x0 >= x1) continue;
    const float ox = float(x0) - t.ax, oy = fy - t.ay;
    for (int i = 0; i < kAttributeCount; ++i) at[i] = t.at[i] + ox * t.dx[i] + oy * t.dy[i];
    span(f, y, x0, x1, at, t.dx);
  }
}

// The screen position alone, rhw being 1 / w.
void ProjectXY(const Direct3DDevice::Frame& f, const ClipVertex& v, float rhw, ScreenVertex& s) {
  s.x = f.kx * v.x * rhw + f.ox;
  s.y = f.ky * v.y * rhw + f.oy;
}

// The attributes the spans interpolate, beside the position.
void ProjectAttributes(const Direct3DDevice::Frame& f, const ClipVertex& v, float rhw, ScreenVertex& s) {
  s.at[kDepth] = Clamp01(f.minZ + f.zScale * (v.z * rhw)) * 65535.0f;
  s.at[kRhw] = rhw;
  s.at[kU] = v.u * rhw;
  s.at[kV] = v.v * rhw;
  s.at[kR] = v.r;
  s.at[kG] = v.g;
  s.at[kB] = v.b;
  s.at[kA] = v.a;
  s.at[kSR] = v.sr;
  s.at[kSG] = v.sg;
  s.at[kSB] = v.sb;
}

ScreenVertex Project(const Direct3DDevice::Frame& f, const ClipVertex& v) {
  const float rhw = 1.0f / v.w;
  ScreenVertex s;
  ProjectXY(f, v, rhw, s);
  ProjectAttributes(f, v, rhw, s);
  return s;
}

bool Finite(const ClipVertex& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && std::isfinite(v.w);
}

// Twice the signed screen area of the polygon; y grows downwards, so a
// positive area is clockwise on the screen.
float ScreenArea(const ScreenVertex* screen, int count) {
  float area = 0;
  for (int i = 0; i < count; ++i) {
    const ScreenVertex& p = screen[i];
    const ScreenVertex& q = screen[(i + 1) % count];
    area += p.x * q.y - q.x * p.y;
  }
  return area;
}

bool Culled(const Direct3DDevice::Frame& f, float area) {
  if (!(area != 0)) return true;
  return (f.cull == D3DCULL_CW && area > 0) || (f.cull == D3DCULL_CCW && area < 0);
}

// ---- Corners through the cache ----------------------------------------------

constexpr size_t kKeyBytes = sizeof(CornerCache::Entry::key);
static_assert(offsetof(D3DVERTEX, nz) + sizeof(float) == kKeyBytes, "the key is the position and normal");

CornerCache::Entry& Slot(CornerCache& cache, const D3DVERTEX& v) {
  uint32_t bits[3];
  std::memcpy(bits, &v.x, sizeof bits);
  const uint32_t h = bits[0] * 0x9E3779B1u ^ bits[1] * 0x85EBCA77u ^ bits[2] * 0xC2B2AE3Du;
  return cache.entries[(h >> 16) % CornerCache::kSize];
}

bool Holds(const CornerCache& cache, const CornerCache::Entry& e, const D3DVERTEX& v) {
  return e.generation == cache.generation && std::memcmp(e.key, &v.x, kKeyBytes) == 0;
}

// Position and texture coordinates; the colours are Light's. Written in
// place field by field: a whole vertex built and copied in stalls on the
// stores that built it.
void Transform(const Direct3DDevice::Frame& f, CornerCache& cache, const D3DVERTEX& in, ClipVertex& out) {
  CornerCache::Entry& e = Slot(cache, in);
  if (!Holds(cache, e, in)) {
    const D3DMATRIX& m = f.worldViewProjection;
    std::memcpy(e.key, &in.x, kKeyBytes);
    e.generation = cache.generation;
    e.lit = false;
    e.clip[0] = in.x * m._11 + in.y * m._21 + in.z * m._31 + m._41;
    e.clip[1] = in.x * m._12 + in.y * m._22 + in.z * m._32 + m._42;
    e.clip[2] = in.x * m._13 + in.y * m._23 + in.z * m._33 + m._43;
    e.clip[3] = in.x * m._14 + in.y * m._24 + in.z * m._34 + m._44;
  }
  out.x = e.clip[0], out.y = e.clip[1], out.z = e.clip[2], out.w = e.clip[3];
  out.u = std::isfinite(in.tu) ? in.tu : 0.0f;
  out.v = std::isfinite(in.tv) ? in.tv : 0.0f;
}

void Light(const Direct3DDevice::Frame& f, const D3DVERTEX& in, ClipVertex& out) {
  D3DCOLORVALUE color = f.base;
  D3DCOLORVALUE specular = {0, 0, 0, 0};
  const D3DVECTOR normal = Normalized(TransformDirection({in.nx, in.ny, in.nz}, f.worldView));
  D3DVECTOR toEye = {0, 0, 0};
  if (f.specular) {
    const D3DMATRIX& wv = f.worldView;
    toEye = Normalized({-(in.x * wv._11 + in.y * wv._21 + in.z * wv._31 + wv._41),
                        -(in.x * wv._12 + in.y * wv._22 + in.z * wv._32 + wv._42),
                        -(in.x * wv._13 + in.y * wv._23 + in.z * wv._33 + wv._43)});
  }
  for (int i = 0; i < f.lightCount; ++i) {
    const float nDotL = Dot(normal, f.toLight[i]);
    if (!(nDotL > 0)) continue;
    color.r += f.lightDiffuse[i].r * nDotL;
    color.g += f.lightDiffuse[i].g * nDotL;
    color.b += f.lightDiffuse[i].b * nDotL;
    if (!f.specular) continue;
    const D3DVECTOR& l = f.toLight[i];
    const D3DVECTOR half = Normalized({l.x + toEye.x, l.y + toEye.y, l.z + toEye.z});
    const float nDotH = Dot(normal, half);
    if (!(nDotH > 0)) continue;
    const float k = std::pow(nDotH, f.power);
    specular.r += f.lightSpecular[i].r * k;
    specular.g += f.lightSpecular[i].g * k;
    specular.b += f.lightSpecular[i].b * k;
  }
  out.r = Clamp01(color.r) * 255.0f;
  out.g = Clamp01(color.g) * 255.0f;
  out.b = Clamp01(color.b) * 255.0f;
  out.a = Clamp01(f.alpha) * 255.0f;
  out.sr = Clamp01(specular.r) * 255.0f;
  out.sg = Clamp01(specular.g) * 255.0f;
  out.sb = Clamp01(specular.b) * 255.0f;
}

// The colours from the cache, lighting the corner only the first time. A
// later corner of the same triangle may have taken its entry; it is then
// lit without keeping the result.
void LightCached(const Direct3DDevice::Frame& f, CornerCache& cache, const D3DVERTEX& in, ClipVertex& out) {
  CornerCache::Entry& e = Slot(cache, in);
  const bool held = Holds(cache, e, in);
  if (held && e.lit) {
    out.r = e.colour[0], out.g = e.colour[1], out.b = e.colour[2], out.a = e.colour[3];
    out.sr = e.colour[4], out.sg = e.colour[5], out.sb = e.colour[6];
    return;
  }
  Light(f, in, out);
  if (!held) return;
  e.colour[0] = out.r, e.colour[1] = out.g, e.colour[2] = out.b, e.colour[3] = out.a;
  e.colour[4] = out.sr, e.colour[5] = out.sg, e.colour[6] = out.sb;
  e.lit = true;
}

// Lights the corners, gives a flat-shaded triangle its first corner's
// colours, and drops whole repeats of the texture (wrapping makes them
// irrelevant, and the per-pixel coordinates stay small).
void Shade(const Direct3DDevice::Frame& f, CornerCache& cache, const D3DVERTEX* const corners[3],
           ClipVertex* poly) {
  for (int i = 0; i < 3; ++i) LightCached(f, cache, *corners[i], poly[i]);
  if (f.flat) {
    for (int i = 1; i < 3; ++i) {
      poly[i].r = poly[0].r, poly[i].g = poly[0].g, poly[i].b = poly[0].b, poly[i].a = poly[0].a;
      poly[i].sr = poly[0].sr, poly[i].sg = poly[0].sg, poly[i].sb = poly[0].sb;
    }
  }
  const float baseU = std::floor(poly[0].u), baseV = std::floor(poly[0].v);
  for (int i = 0; i < 3; ++i) poly[i].u -= baseU, poly[i].v -= baseV;
}

// The polygon as a fan of triangles ready to scan; returns their number.
int SetUpPolygon(const Direct3DDevice::Frame& f, const ScreenVertex* screen, int count, PreparedTriangle* out) {
  int n = 0;
  for (int i = 1; i + 1 < count; ++i) n += SetUp(f, &screen[0], &screen[i], &screen[i + 1], out[n]) ? 1 : 0;
  return n;
}

}  // namespace

bool PrepareTriangle(const Direct3DDevice::Frame& f, CornerCache& cache, const D3DVERTEX& a, const D3DVERTEX& b,
                     const D3DVERTEX& c, PreparedTriangle out[kMaxPreparedPerTriangle], int* count) {
  *count = 0;
  const D3DVERTEX* const corners[3] = {&a, &b, &c};
  // Only the first three corners are set, and their colours only by
  // Shade: clipping writes the other corners before it reads them, and
  // clearing them cost a third of this stage.
  ClipVertex poly[kMaxPolygon];
  for (int i = 0; i < 3; ++i) Transform(f, cache, *corners[i], poly[i]);
  if (!Finite(poly[0]) || !Finite(poly[1]) || !Finite(poly[2])) return false;
  Plane planes[kPlaneCount];
  MakePlanes(f, planes);
  const unsigned c0 = OutCode(planes, poly[0]), c1 = OutCode(planes, poly[1]), c2 = OutCode(planes, poly[2]);
  if (c0 & c1 & c2) return false;
  ScreenVertex screen[kMaxPolygon];
  if ((c0 | c1 | c2) == 0) {
    // Wholly inside, the corners stay as they are, so the winding is known
    // before any lighting: a culled triangle costs none.
    float rhw[3];
    for (int i = 0; i < 3; ++i) ProjectXY(f, poly[i], rhw[i] = 1.0f / poly[i].w, screen[i]);
    if (Culled(f, ScreenArea(screen, 3))) return false;
    Shade(f, cache, corners, poly);
    for (int i = 0; i < 3; ++i) ProjectAttributes(f, poly[i], rhw[i], screen[i]);
    *count = SetUpPolygon(f, screen, 3, out);
    return true;
  }
  Shade(f, cache, corners, poly);
  const int n = ClipPolygon(planes, c0 | c1 | c2, poly, 3);
  if (n < 3) return false;
  for (int i = 0; i < n; ++i) screen[i] = Project(f, poly[i]);
  if (Culled(f, ScreenArea(screen, n))) return false;
  *count = SetUpPolygon(f, screen, n, out);
  return true;
}

void ScanTriangles(const Direct3DDevice::Frame& f, const PreparedTriangle* triangles, size_t count, int part,
                   int parts) {
  const SpanFunction span = ChooseSpan(f);
  for (size_t k = 0; k < count; ++k) {
    const PreparedTriangle& t = triangles[k];
    for (int stripe = t.yStart / kStripeRows; stripe * kStripeRows < t.yEnd; ++stripe) {
      if (stripe % parts != part) continue;
      ScanRows(f, span, t, std::max(t.yStart, stripe * kStripeRows), std::min(t.yEnd, (stripe + 1) * kStripeRows));
    }
  }
}

bool RasteriseTriangle(const Direct3DDevice::Frame& f, CornerCache& cache, const D3DVERTEX& a,
                       const D3DVERTEX& b, const D3DVERTEX& c) {
  PreparedTriangle pieces[kMaxPreparedPerTriangle];
  int count = 0;
  const bool drawn = PrepareTriangle(f, cache, a, b, c, pieces, &count);
  ScanTriangles(f, pieces, size_t(count), 0, 1);
  return drawn;
}
