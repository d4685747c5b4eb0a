// The software 3D device. Per triangle: transform and light the three
// vertices, clip in homogeneous space, divide, cull by screen winding, then
// walk scanlines with plane-equation gradients. Lighting follows Direct3D's
// fixed pipeline per vertex; the specular term is Blinn's (the half-way
// vector between the direction to the light and the direction to the eye,
// the eye at the view-space origin).
#include "platform/device3d.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// ---- Small helpers ----------------------------------------------------------

float Clamp01(float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; }  // NaN gives 0
float ClampTo(float v, float lo, float hi) { return v > lo ? (v < hi ? v : hi) : lo; }
int ToByte(float v) { return int(ClampTo(v, 0.0f, 255.0f)); }

// floor for values already clamped into int range (std::floor is a call
// on plain x86-64).
inline int FloorToInt(float v) {
  const int i = int(v);
  return i - (v < float(i) ? 1 : 0);
}

bool IsPowerOfTwo(int v) { return v > 0 && (v & (v - 1)) == 0; }

// x * y / 255, rounded, for bytes.
inline int Mul255(int x, int y) {
  const int t = x * y + 128;
  return (t + (t >> 8)) >> 8;
}

D3DVECTOR Normalized(D3DVECTOR v) {
  const float lengthSquared = v.x * v.x + v.y * v.y + v.z * v.z;
  if (!(lengthSquared > 1e-30f) || !std::isfinite(lengthSquared)) return {0, 0, 0};
  const float s = 1.0f / std::sqrt(lengthSquared);
  return {v.x * s, v.y * s, v.z * s};
}

float Dot(const D3DVECTOR& a, const D3DVECTOR& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// The direction part of p * M (no translation).
D3DVECTOR TransformDirection(const D3DVECTOR& p, const D3DMATRIX& m) {
  return {p.x * m._11 + p.y * m._21 + p.z * m._31, p.x * m._12 + p.y * m._22 + p.z * m._32,
          p.x * m._13 + p.y * m._23 + p.z * m._33};
}

D3DCOLORVALUE ColorOf(D3DCOLOR c) {
  const float s = 1.0f / 255.0f;
  return {float((c >> 16) & 255) * s, float((c >> 8) & 255) * s, float(c & 255) * s, float(c >> 24) * s};
}

// ---- Handles ----------------------------------------------------------------

// Handles are 1-based slot numbers; freed slots are reused.
template <typename Record>
Record* Find(std::vector<Record>& table, uint32_t handle) {
  if (handle == 0 || handle > table.size() || !table[handle - 1].inUse) return nullptr;
  return &table[handle - 1];
}
template <typename Record>
const Record* Find(const std::vector<Record>& table, uint32_t handle) {
  if (handle == 0 || handle > table.size() || !table[handle - 1].inUse) return nullptr;
  return &table[handle - 1];
}
template <typename Record>
uint32_t Allocate(std::vector<Record>& table) {
  for (size_t i = 0; i < table.size(); ++i) {
    if (!table[i].inUse) {
      table[i] = Record();
      table[i].inUse = true;
      return uint32_t(i + 1);
    }
  }
  table.emplace_back();
  table.back().inUse = true;
  return uint32_t(table.size());
}

// ---- Pixel formats of the target --------------------------------------------

bool IsTargetFormat(PixelFormat f) {
  return f == PixelFormat::Rgb565 || f == PixelFormat::Rgb555 || f == PixelFormat::Argb1555 ||
         f == PixelFormat::Argb4444;
}

// A 16-bit surface whose rows and pixels lie inside its storage.
bool Fits16(const Surface& s, int width, int height) {
  return BytesPerPixel(s.format) == 2 && s.width >= width && s.height >= height && width > 0 && height > 0 &&
         s.pitch >= width * 2 && size_t(s.pitch) * size_t(height - 1) + size_t(width) * 2 <= s.pixels.size();
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

bool IsTextureFormat(PixelFormat f) { return BytesPerPixel(f) == 2 || BytesPerPixel(f) == 4; }

int32_t CheckTextureImage(const Surface& image) {
  if (!IsTextureFormat(image.format)) return DDERR_INVALIDPIXELFORMAT;
  if (!IsPowerOfTwo(image.width) || !IsPowerOfTwo(image.height) || image.width > 4096 || image.height > 4096)
    return D3DERR_TEXTURE_BADSIZE;
  const int bpp = BytesPerPixel(image.format);
  if (image.pitch < image.width * bpp ||
      size_t(image.pitch) * size_t(image.height - 1) + size_t(image.width) * size_t(bpp) >
          image.pixels.size())
    return DDERR_INVALIDPARAMS;
  return D3D_OK;
}

void Widen(const Surface& image, DeviceTexture& texture) {
  texture.width = image.width;
  texture.height = image.height;
  texture.hasAlpha = MasksOf(image.format).alpha != 0;
  texture.texels.resize(size_t(image.width) * size_t(image.height));
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      uint8_t r, g, b, a;
      UnpackPixel(image.format, image.Get(x, y), r, g, b, a);
      texture.texels[size_t(y) * size_t(image.width) + size_t(x)] =
          uint32_t(a) << 24 | uint32_t(r) << 16 | uint32_t(g) << 8 | b;
    }
  }
}

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

unsigned OutCode(const Plane planes[kPlaneCount], const ClipVertex& v) {
  unsigned code = 0;
  for (int i = 0; i < kPlaneCount; ++i)
    if (planes[i].Distance(v) < 0) code |= 1u << i;
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

struct Gradients {
  float dx[kAttributeCount];
  float dy[kAttributeCount];
};

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
  float r = at[kR], g = at[kG], b = at[kB], a = at[kA];
  float sr = at[kSR], sg = at[kSG], sb = at[kSB];
  const float dDepth = dx[kDepth], dRhw = dx[kRhw], dU = dx[kU], dV = dx[kV];
  const float dR = dx[kR], dG = dx[kG], dB = dx[kB], dA = dx[kA];
  const float dSR = dx[kSR], dSG = dx[kSG], dSB = dx[kSB];
  for (int x = x0; x < x1; ++x) {
    const uint32_t z = uint32_t(ClampTo(depth, 0.0f, 65535.0f));
    uint8_t* zp = depthRow + size_t(x) * 2;
    if (!zTest || DepthPasses(zFunc, z, Load16(zp))) {
      Rgba c{ToByte(r), ToByte(g), ToByte(b), ToByte(a)};
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
        c.r = std::min(255, c.r + ToByte(sr));
        c.g = std::min(255, c.g + ToByte(sg));
        c.b = std::min(255, c.b + ToByte(sb));
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
    r += dR;
    g += dG;
    b += dB;
    a += dA;
    sr += dSR;
    sg += dSG;
    sb += dSB;
  }
}

using SpanFunction = void (*)(const Direct3DDevice::Frame&, int, int, int, float*, const float*);

SpanFunction ChooseSpan(const Direct3DDevice::Frame& f) {
  if (f.texture) return f.blend ? DrawSpan<true, true> : DrawSpan<true, false>;
  return f.blend ? DrawSpan<false, true> : DrawSpan<false, false>;
}

// x of the edge p -> q (p above q) on the scanline through y. Evaluated
// directly, not stepped, so both triangles sharing an edge agree exactly.
inline float EdgeX(const ScreenVertex& p, const ScreenVertex& q, float y) {
  return p.x + (y - p.y) * ((q.x - p.x) / (q.y - p.y));
}

// Pixel centres lie on integer coordinates; a centre on a left or top edge
// belongs to the triangle, one on a right or bottom edge does not.
void RasterTriangle(const Direct3DDevice::Frame& f, SpanFunction span, const ScreenVertex* a,
                    const ScreenVertex* b, const ScreenVertex* c) {
  if (a->y > b->y) std::swap(a, b);
  if (b->y > c->y) std::swap(b, c);
  if (a->y > b->y) std::swap(a, b);
  const float area = (b->x - a->x) * (c->y - a->y) - (c->x - a->x) * (b->y - a->y);
  if (!(std::fabs(area) > 1e-12f)) return;

  Gradients grad;
  const float inv = 1.0f / area;
  const float e1x = b->x - a->x, e1y = b->y - a->y, e2x = c->x - a->x, e2y = c->y - a->y;
  for (int i = 0; i < kAttributeCount; ++i) {
    const float d1 = b->at[i] - a->at[i], d2 = c->at[i] - a->at[i];
    grad.dx[i] = (d1 * e2y - d2 * e1y) * inv;
    grad.dy[i] = (d2 * e1x - d1 * e2x) * inv;
  }
  const bool middleOnRight = area > 0;
  const int yStart = std::max(int(std::ceil(a->y)), f.clipTop);
  const int yEnd = std::min(int(std::ceil(c->y)), f.clipBottom);
  float at[kAttributeCount];
  for (int y = yStart; y < yEnd; ++y) {
    const float fy = float(y);
    const float xLong = EdgeX(*a, *c, fy);
    const float xShort = fy < b->y ? EdgeX(*a, *b, fy) : EdgeX(*b, *c, fy);
    const float xl = middleOnRight ? xLong : xShort;
    const float xr = middleOnRight ? xShort : xLong;
    const int x0 = std::max(int(std::ceil(xl)), f.clipLeft);
    const int x1 = std::min(int(std::ceil(xr)), f.clipRight);
    if (x0 >= x1) continue;
    const float ox = float(x0) - a->x, oy = fy - a->y;
    for (int i = 0; i < kAttributeCount; ++i) at[i] = a->at[i] + ox * grad.dx[i] + oy * grad.dy[i];
    span(f, y, x0, x1, at, grad.dx);
  }
}

ScreenVertex Project(const Direct3DDevice::Frame& f, const ClipVertex& v) {
  const float rhw = 1.0f / v.w;
  ScreenVertex s;
  s.x = f.kx * v.x * rhw + f.ox;
  s.y = f.ky * v.y * rhw + f.oy;
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
  return s;
}

bool Finite(const ClipVertex& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && std::isfinite(v.w);
}

ClipVertex TransformAndLight(const Direct3DDevice::Frame& f, const D3DVERTEX& in) {
  const D3DMATRIX& m = f.worldViewProjection;
  ClipVertex out;
  out.x = in.x * m._11 + in.y * m._21 + in.z * m._31 + m._41;
  out.y = in.x * m._12 + in.y * m._22 + in.z * m._32 + m._42;
  out.z = in.x * m._13 + in.y * m._23 + in.z * m._33 + m._43;
  out.w = in.x * m._14 + in.y * m._24 + in.z * m._34 + m._44;
  out.u = std::isfinite(in.tu) ? in.tu : 0.0f;
  out.v = std::isfinite(in.tv) ? in.tv : 0.0f;

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
  return out;
}

// ---- Render-state values ----------------------------------------------------

bool InRange(uint32_t v, uint32_t lo, uint32_t hi) { return v >= lo && v <= hi; }

bool IsLinear(uint32_t filter) {
  return filter == D3DFILTER_LINEAR || filter == D3DFILTER_MIPLINEAR ||
         filter == D3DFILTER_LINEARMIPNEAREST || filter == D3DFILTER_LINEARMIPLINEAR;
}

}  // namespace

// ---- Matrices -----------------------------------------------------------------

D3DMATRIX D3DIdentityMatrix() {
  D3DMATRIX m{};
  m._11 = m._22 = m._33 = m._44 = 1.0f;
  return m;
}

D3DMATRIX D3DMultiply(const D3DMATRIX& a, const D3DMATRIX& b) {
  const float* pa = &a._11;
  const float* pb = &b._11;
  D3DMATRIX r;
  float* pr = &r._11;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      pr[i * 4 + j] = pa[i * 4] * pb[j] + pa[i * 4 + 1] * pb[4 + j] + pa[i * 4 + 2] * pb[8 + j] +
                      pa[i * 4 + 3] * pb[12 + j];
  return r;
}

// ---- Device -------------------------------------------------------------------

Direct3DDevice::Direct3DDevice()
    : world_(D3DIdentityMatrix()), view_(D3DIdentityMatrix()), projection_(D3DIdentityMatrix()) {
  uint32_t* s = renderStates_;
  s[D3DRENDERSTATE_TEXTUREADDRESS] = D3DTADDRESS_WRAP;
  s[D3DRENDERSTATE_TEXTUREADDRESSU] = D3DTADDRESS_WRAP;
  s[D3DRENDERSTATE_TEXTUREADDRESSV] = D3DTADDRESS_WRAP;
  s[D3DRENDERSTATE_TEXTUREPERSPECTIVE] = 1;
  s[D3DRENDERSTATE_ZENABLE] = D3DZB_TRUE;
  s[D3DRENDERSTATE_FILLMODE] = D3DFILL_SOLID;
  s[D3DRENDERSTATE_SHADEMODE] = D3DSHADE_GOURAUD;
  s[D3DRENDERSTATE_ROP2] = 13;  // R2_COPYPEN
  s[D3DRENDERSTATE_PLANEMASK] = 0xFFFFFFFFu;
  s[D3DRENDERSTATE_ZWRITEENABLE] = 1;
  s[D3DRENDERSTATE_LASTPIXEL] = 1;
  s[D3DRENDERSTATE_TEXTUREMAG] = D3DFILTER_NEAREST;
  s[D3DRENDERSTATE_TEXTUREMIN] = D3DFILTER_NEAREST;
  s[D3DRENDERSTATE_SRCBLEND] = D3DBLEND_ONE;
  s[D3DRENDERSTATE_DESTBLEND] = D3DBLEND_ZERO;
  s[D3DRENDERSTATE_TEXTUREMAPBLEND] = D3DTBLEND_MODULATE;
  s[D3DRENDERSTATE_CULLMODE] = D3DCULL_CCW;
  s[D3DRENDERSTATE_ZFUNC] = D3DCMP_LESSEQUAL;
  s[D3DRENDERSTATE_ALPHAFUNC] = D3DCMP_ALWAYS;
  s[D3DRENDERSTATE_SPECULARENABLE] = 1;  // Direct3D 5 starts with specular on
  s[D3DRENDERSTATE_SUBPIXEL] = 1;
  lightStates_[D3DLIGHTSTATE_COLORMODEL] = D3DCOLOR_RGB;
  const float one = 1.0f;
  std::memcpy(&lightStates_[D3DLIGHTSTATE_FOGEND], &one, 4);
  std::memcpy(&lightStates_[D3DLIGHTSTATE_FOGDENSITY], &one, 4);
}

int32_t Direct3DDevice::SetRenderTarget(Surface* target, Surface* zBuffer) {
  if (inBegin_) return D3DERR_INBEGIN;
  if (target == nullptr) return DDERR_INVALIDPARAMS;
  if (!IsTargetFormat(target->format)) return DDERR_INVALIDPIXELFORMAT;
  if (!Fits16(*target, target->width, target->height)) return DDERR_INVALIDPARAMS;
  if (zBuffer && !Fits16(*zBuffer, target->width, target->height)) return DDERR_INVALIDPARAMS;
  target_ = target;
  zSurface_ = zBuffer;
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::BeginScene() {
  if (inScene_) return D3DERR_SCENE_IN_SCENE;
  inScene_ = true;
  trianglesDrawn_ = 0;
  return D3D_OK;
}

int32_t Direct3DDevice::EndScene() {
  if (!inScene_) return D3DERR_SCENE_NOT_IN_SCENE;
  if (inBegin_) return D3DERR_INBEGIN;
  inScene_ = false;
  return D3D_OK;
}

int32_t Direct3DDevice::SetTransform(D3DTRANSFORMSTATETYPE type, const D3DMATRIX* matrix) {
  if (matrix == nullptr) return DDERR_INVALIDPARAMS;
  switch (type) {
    case D3DTRANSFORMSTATE_WORLD:
      world_ = *matrix;
      break;
    case D3DTRANSFORMSTATE_VIEW:
      view_ = *matrix;
      break;
    case D3DTRANSFORMSTATE_PROJECTION:
      projection_ = *matrix;
      break;
    default:
      return DDERR_INVALIDPARAMS;
  }
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::GetTransform(D3DTRANSFORMSTATETYPE type, D3DMATRIX* matrix) const {
  if (matrix == nullptr) return DDERR_INVALIDPARAMS;
  switch (type) {
    case D3DTRANSFORMSTATE_WORLD:
      *matrix = world_;
      return D3D_OK;
    case D3DTRANSFORMSTATE_VIEW:
      *matrix = view_;
      return D3D_OK;
    case D3DTRANSFORMSTATE_PROJECTION:
      *matrix = projection_;
      return D3D_OK;
  }
  return DDERR_INVALIDPARAMS;
}

int32_t Direct3DDevice::SetRenderState(D3DRENDERSTATETYPE state, uint32_t value) {
  if (state == 0 || state >= D3DRENDERSTATE_COUNT) return DDERR_INVALIDPARAMS;
  bool valid = true;
  switch (state) {
    case D3DRENDERSTATE_TEXTUREHANDLE:
      valid = value == 0 || Find(textures_, value) != nullptr;
      break;
    case D3DRENDERSTATE_CULLMODE:
      valid = InRange(value, D3DCULL_NONE, D3DCULL_CCW);
      break;
    case D3DRENDERSTATE_ZFUNC:
    case D3DRENDERSTATE_ALPHAFUNC:
      valid = InRange(value, D3DCMP_NEVER, D3DCMP_ALWAYS);
      break;
    case D3DRENDERSTATE_SRCBLEND:
    case D3DRENDERSTATE_DESTBLEND:
      valid = InRange(value, D3DBLEND_ZERO, D3DBLEND_BOTHINVSRCALPHA);
      break;
    case D3DRENDERSTATE_TEXTUREMAG:
    case D3DRENDERSTATE_TEXTUREMIN:
      valid = InRange(value, D3DFILTER_NEAREST, D3DFILTER_LINEARMIPLINEAR);
      break;
    case D3DRENDERSTATE_TEXTUREMAPBLEND:
      valid = InRange(value, D3DTBLEND_DECAL, D3DTBLEND_ADD);
      break;
    case D3DRENDERSTATE_SHADEMODE:
      valid = InRange(value, D3DSHADE_FLAT, D3DSHADE_PHONG);
      break;
    case D3DRENDERSTATE_FILLMODE:
      valid = InRange(value, D3DFILL_POINT, D3DFILL_SOLID);
      break;
    case D3DRENDERSTATE_TEXTUREADDRESS:
    case D3DRENDERSTATE_TEXTUREADDRESSU:
    case D3DRENDERSTATE_TEXTUREADDRESSV:
      valid = InRange(value, D3DTADDRESS_WRAP, D3DTADDRESS_CLAMP);
      break;
    case D3DRENDERSTATE_ZENABLE:
      valid = value <= 2;
      break;  // 2: w-buffer, drawn as a z-buffer
    default:
      break;
  }
  if (!valid) return DDERR_INVALIDPARAMS;
  renderStates_[state] = value;
  if (state == D3DRENDERSTATE_TEXTUREADDRESS) {
    renderStates_[D3DRENDERSTATE_TEXTUREADDRESSU] = renderStates_[D3DRENDERSTATE_TEXTUREADDRESSV] = value;
  }
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::GetRenderState(D3DRENDERSTATETYPE state, uint32_t* value) const {
  if (value == nullptr || state == 0 || state >= D3DRENDERSTATE_COUNT) return DDERR_INVALIDPARAMS;
  *value = renderStates_[state];
  return D3D_OK;
}

int32_t Direct3DDevice::SetLightState(D3DLIGHTSTATETYPE state, uint32_t value) {
  bool valid = true;
  switch (state) {
    case D3DLIGHTSTATE_MATERIAL:
      valid = value == 0 || Find(materials_, value) != nullptr;
      break;
    case D3DLIGHTSTATE_COLORMODEL:
      valid = InRange(value, D3DCOLOR_MONO, D3DCOLOR_RGB);
      break;
    case D3DLIGHTSTATE_FOGMODE:
      valid = value <= D3DFOG_LINEAR;
      break;
    case D3DLIGHTSTATE_AMBIENT:
    case D3DLIGHTSTATE_FOGSTART:
    case D3DLIGHTSTATE_FOGEND:
    case D3DLIGHTSTATE_FOGDENSITY:
      break;
    default:
      return DDERR_INVALIDPARAMS;
  }
  if (!valid) return DDERR_INVALIDPARAMS;
  lightStates_[state] = value;
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::GetLightState(D3DLIGHTSTATETYPE state, uint32_t* value) const {
  if (value == nullptr || state < D3DLIGHTSTATE_MATERIAL || state > D3DLIGHTSTATE_FOGDENSITY)
    return DDERR_INVALIDPARAMS;
  *value = lightStates_[state];
  return D3D_OK;
}

// ---- Materials ------------------------------------------------------------------

int32_t Direct3DDevice::CreateMaterial(D3DMATERIALHANDLE* out) {
  if (out == nullptr) return DDERR_INVALIDPARAMS;
  *out = Allocate(materials_);
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::SetMaterial(D3DMATERIALHANDLE material, const D3DMATERIAL* data) {
  MaterialRecord* record = Find(materials_, material);
  if (record == nullptr || data == nullptr) return DDERR_INVALIDPARAMS;
  record->data = *data;
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::GetMaterial(D3DMATERIALHANDLE material, D3DMATERIAL* data) const {
  const MaterialRecord* record = Find(materials_, material);
  if (record == nullptr || data == nullptr) return DDERR_INVALIDPARAMS;
  *data = record->data;
  return D3D_OK;
}

int32_t Direct3DDevice::ReleaseMaterial(D3DMATERIALHANDLE material) {
  MaterialRecord* record = Find(materials_, material);
  if (record == nullptr) return DDERR_INVALIDPARAMS;
  record->inUse = false;
  // Nothing may keep drawing with, or clearing to, a material that is gone.
  if (lightStates_[D3DLIGHTSTATE_MATERIAL] == material) lightStates_[D3DLIGHTSTATE_MATERIAL] = 0;
  for (ViewportRecord& v : viewports_)
    if (v.background == material) v.background = 0;
  Changed();
  return D3D_OK;
}

// ---- Textures ---------------------------------------------------------------------

int32_t Direct3DDevice::CreateTexture(const Surface& image, D3DTEXTUREHANDLE* out) {
  if (out == nullptr) return DDERR_INVALIDPARAMS;
  const int32_t usable = CheckTextureImage(image);
  if (usable != D3D_OK) return usable;
  const D3DTEXTUREHANDLE handle = Allocate(textures_);
  Widen(image, textures_[handle - 1]);
  *out = handle;
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::UpdateTexture(D3DTEXTUREHANDLE texture, const Surface& image) {
  DeviceTexture* record = Find(textures_, texture);
  if (record == nullptr) return DDERR_INVALIDPARAMS;
  const int32_t usable = CheckTextureImage(image);
  if (usable != D3D_OK) return usable;
  Widen(image, *record);
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::Load(D3DTEXTUREHANDLE destination, D3DTEXTUREHANDLE source) {
  DeviceTexture* to = Find(textures_, destination);
  const DeviceTexture* from = Find(textures_, source);
  if (to == nullptr || from == nullptr) return DDERR_INVALIDPARAMS;
  if (to->width != from->width || to->height != from->height) return D3DERR_TEXTURE_BADSIZE;
  if (to != from) {
    to->hasAlpha = from->hasAlpha;
    to->texels = from->texels;
  }
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::ReleaseTexture(D3DTEXTUREHANDLE texture) {
  DeviceTexture* record = Find(textures_, texture);
  if (record == nullptr) return DDERR_INVALIDPARAMS;
  record->inUse = false;
  record->texels.clear();
  record->texels.shrink_to_fit();
  if (renderStates_[D3DRENDERSTATE_TEXTUREHANDLE] == texture) renderStates_[D3DRENDERSTATE_TEXTUREHANDLE] = 0;
  Changed();
  return D3D_OK;
}

const DeviceTexture* Direct3DDevice::Texture(D3DTEXTUREHANDLE texture) const {
  return Find(textures_, texture);
}

// ---- Lights -------------------------------------------------------------------------

int32_t Direct3DDevice::CreateLight(D3DLIGHTHANDLE* out) {
  if (out == nullptr) return DDERR_INVALIDPARAMS;
  *out = Allocate(lights_);
  return D3D_OK;
}

int32_t Direct3DDevice::SetLight(D3DLIGHTHANDLE light, const D3DLIGHT2* data) {
  LightRecord* record = Find(lights_, light);
  if (record == nullptr || data == nullptr) return DDERR_INVALIDPARAMS;
  if (data->dltType != D3DLIGHT_DIRECTIONAL) return DDERR_UNSUPPORTED;
  record->data = *data;
  record->set = true;
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::GetLight(D3DLIGHTHANDLE light, D3DLIGHT2* data) const {
  const LightRecord* record = Find(lights_, light);
  if (record == nullptr || data == nullptr) return DDERR_INVALIDPARAMS;
  *data = record->data;
  return D3D_OK;
}

int32_t Direct3DDevice::ReleaseLight(D3DLIGHTHANDLE light) {
  LightRecord* record = Find(lights_, light);
  if (record == nullptr) return DDERR_INVALIDPARAMS;
  record->inUse = false;
  for (ViewportRecord& v : viewports_) {
    if (v.inUse) DeleteLight(D3DVIEWPORTHANDLE(&v - viewports_.data() + 1), light);
  }
  Changed();
  return D3D_OK;
}

// ---- Viewports ------------------------------------------------------------------------

int32_t Direct3DDevice::CreateViewport(D3DVIEWPORTHANDLE* out) {
  if (out == nullptr) return DDERR_INVALIDPARAMS;
  *out = Allocate(viewports_);
  return D3D_OK;
}

int32_t Direct3DDevice::ReleaseViewport(D3DVIEWPORTHANDLE viewport) {
  ViewportRecord* record = Find(viewports_, viewport);
  if (record == nullptr) return DDERR_INVALIDPARAMS;
  record->inUse = false;
  if (currentViewport_ == viewport) currentViewport_ = 0;
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::SetViewport2(D3DVIEWPORTHANDLE viewport, const D3DVIEWPORT2* data) {
  ViewportRecord* record = Find(viewports_, viewport);
  if (record == nullptr || data == nullptr) return DDERR_INVALIDPARAMS;
  // Sizes come from arithmetic on floats and may arrive wrapped around.
  constexpr uint32_t kLimit = 1u << 15;
  if (data->dwWidth == 0 || data->dwHeight == 0 || data->dwX >= kLimit || data->dwY >= kLimit ||
      data->dwWidth > kLimit || data->dwHeight > kLimit)
    return DDERR_INVALIDPARAMS;
  const float fields[] = {data->dvClipX,      data->dvClipY, data->dvClipWidth,
                          data->dvClipHeight, data->dvMinZ,  data->dvMaxZ};
  for (float v : fields)
    if (!std::isfinite(v)) return DDERR_INVALIDPARAMS;
  if (!(data->dvClipWidth > 0) || !(data->dvClipHeight > 0)) return DDERR_INVALIDPARAMS;
  record->data = *data;
  record->set = true;
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::GetViewport2(D3DVIEWPORTHANDLE viewport, D3DVIEWPORT2* data) const {
  const ViewportRecord* record = Find(viewports_, viewport);
  if (record == nullptr || data == nullptr) return DDERR_INVALIDPARAMS;
  if (!record->set) return D3DERR_VIEWPORTDATANOTSET;
  *data = record->data;
  return D3D_OK;
}

int32_t Direct3DDevice::SetBackground(D3DVIEWPORTHANDLE viewport, D3DMATERIALHANDLE material) {
  ViewportRecord* record = Find(viewports_, viewport);
  if (record == nullptr || Find(materials_, material) == nullptr) return DDERR_INVALIDPARAMS;
  record->background = material;
  return D3D_OK;
}

int32_t Direct3DDevice::AddLight(D3DVIEWPORTHANDLE viewport, D3DLIGHTHANDLE light) {
  ViewportRecord* record = Find(viewports_, viewport);
  if (record == nullptr || Find(lights_, light) == nullptr) return DDERR_INVALIDPARAMS;
  for (int i = 0; i < record->lightCount; ++i)
    if (record->lights[i] == light) return DDERR_INVALIDPARAMS;
  if (record->lightCount == MaxViewportLights) return DDERR_OUTOFMEMORY;
  record->lights[record->lightCount++] = light;
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::DeleteLight(D3DVIEWPORTHANDLE viewport, D3DLIGHTHANDLE light) {
  ViewportRecord* record = Find(viewports_, viewport);
  if (record == nullptr) return DDERR_INVALIDPARAMS;
  for (int i = 0; i < record->lightCount; ++i) {
    if (record->lights[i] != light) continue;
    std::copy(record->lights + i + 1, record->lights + record->lightCount, record->lights + i);
    --record->lightCount;
    Changed();
    return D3D_OK;
  }
  return DDERR_INVALIDPARAMS;
}

int32_t Direct3DDevice::AddViewport(D3DVIEWPORTHANDLE viewport) {
  ViewportRecord* record = Find(viewports_, viewport);
  if (record == nullptr || record->added) return DDERR_INVALIDPARAMS;
  record->added = true;
  return D3D_OK;
}

int32_t Direct3DDevice::DeleteViewport(D3DVIEWPORTHANDLE viewport) {
  ViewportRecord* record = Find(viewports_, viewport);
  if (record == nullptr || !record->added) return DDERR_INVALIDPARAMS;
  record->added = false;
  if (currentViewport_ == viewport) currentViewport_ = 0;
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::SetCurrentViewport(D3DVIEWPORTHANDLE viewport) {
  const ViewportRecord* record = Find(viewports_, viewport);
  if (record == nullptr || !record->added) return DDERR_INVALIDPARAMS;
  currentViewport_ = viewport;
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::Clear(D3DVIEWPORTHANDLE viewport, uint32_t count, const D3DRECT* rects,
                              uint32_t flags) {
  const ViewportRecord* record = Find(viewports_, viewport);
  if (record == nullptr || (count > 0 && rects == nullptr)) return DDERR_INVALIDPARAMS;
  if (!record->added) return D3DERR_VIEWPORTHASNODEVICE;
  if (inBegin_) return D3DERR_INBEGIN;
  const int32_t bound = BindSurfaces();
  if (bound != D3D_OK) return bound;
  uint32_t pixel = PackTarget(frame_.format, 0, 0, 0, 255);
  if (const MaterialRecord* background = Find(materials_, record->background)) {
    const D3DCOLORVALUE& c = background->data.diffuse;
    pixel = PackTarget(frame_.format, int(Clamp01(c.r) * 255.0f + 0.5f), int(Clamp01(c.g) * 255.0f + 0.5f),
                       int(Clamp01(c.b) * 255.0f + 0.5f), int(Clamp01(c.a) * 255.0f + 0.5f));
  }
  for (uint32_t i = 0; i < count; ++i) {
    const int x1 = std::max(rects[i].x1, 0), y1 = std::max(rects[i].y1, 0);
    const int x2 = std::min(rects[i].x2, target_->width), y2 = std::min(rects[i].y2, target_->height);
    for (int y = y1; y < y2; ++y) {
      for (int x = x1; x < x2; ++x) {
        if (flags & D3DCLEAR_TARGET)
          Store16(frame_.color + size_t(y) * frame_.colorPitch + size_t(x) * 2, pixel);
        if (flags & D3DCLEAR_ZBUFFER)
          Store16(frame_.depth + size_t(y) * frame_.depthPitch + size_t(x) * 2, 0xFFFF);
      }
    }
  }
  return D3D_OK;
}

// ---- Drawing -------------------------------------------------------------------------

int32_t Direct3DDevice::BindSurfaces() {
  if (target_ == nullptr) return D3DERR_INVALID_DEVICE;
  const int w = target_->width, h = target_->height;
  if (!IsTargetFormat(target_->format) || !Fits16(*target_, w, h)) return DDERR_INVALIDPARAMS;
  frame_.format = target_->format;
  frame_.color = target_->pixels.data();
  frame_.colorPitch = target_->pitch;
  if (zSurface_ != nullptr) {
    if (!Fits16(*zSurface_, w, h)) return DDERR_INVALIDPARAMS;
    frame_.depth = zSurface_->pixels.data();
    frame_.depthPitch = zSurface_->pitch;
  } else {
    const size_t needed = size_t(w) * size_t(h);
    if (ownZ_.size() != needed) ownZ_.assign(needed, 0xFFFF);
    frame_.depth = reinterpret_cast<uint8_t*>(ownZ_.data());
    frame_.depthPitch = w * 2;
  }
  return D3D_OK;
}

int32_t Direct3DDevice::BindFrame() {
  const int32_t bound = BindSurfaces();
  if (bound != D3D_OK) return bound;
  if (frame_.valid) return D3D_OK;
  const ViewportRecord* vp = Find(viewports_, currentViewport_);
  if (vp == nullptr) return D3DERR_NOCURRENTVIEWPORT;
  if (!vp->set) return D3DERR_VIEWPORTDATANOTSET;
  Frame& f = frame_;
  const D3DVIEWPORT2& d = vp->data;

  f.clipLeft = std::min<int>(int(d.dwX), target_->width);
  f.clipTop = std::min<int>(int(d.dwY), target_->height);
  f.clipRight = std::min<int>(int(d.dwX + d.dwWidth), target_->width);
  f.clipBottom = std::min<int>(int(d.dwY + d.dwHeight), target_->height);
  f.kx = float(d.dwWidth) / d.dvClipWidth;
  f.ox = float(d.dwX) - f.kx * d.dvClipX;
  f.ky = -float(d.dwHeight) / d.dvClipHeight;
  f.oy = float(d.dwY) - f.ky * d.dvClipY;
  f.minZ = d.dvMinZ;
  f.zScale = d.dvMaxZ - d.dvMinZ;
  constexpr float kGuard = 4096.0f;
  f.guardLeft = float(f.clipLeft) - kGuard;
  f.guardRight = float(f.clipRight) + kGuard;
  f.guardTop = float(f.clipTop) - kGuard;
  f.guardBottom = float(f.clipBottom) + kGuard;

  f.worldView = D3DMultiply(world_, view_);
  f.worldViewProjection = D3DMultiply(f.worldView, projection_);

  const uint32_t* s = renderStates_;
  D3DMATERIAL material{};
  if (const MaterialRecord* m = Find(materials_, lightStates_[D3DLIGHTSTATE_MATERIAL])) material = m->data;
  const D3DCOLORVALUE ambient = ColorOf(lightStates_[D3DLIGHTSTATE_AMBIENT]);
  f.base = {ambient.r * material.ambient.r + material.emissive.r,
            ambient.g * material.ambient.g + material.emissive.g,
            ambient.b * material.ambient.b + material.emissive.b, 0};
  f.alpha = material.diffuse.a;
  f.power = material.power;
  f.specular = s[D3DRENDERSTATE_SPECULARENABLE] != 0;
  f.flat = s[D3DRENDERSTATE_SHADEMODE] == D3DSHADE_FLAT;
  f.lightCount = 0;
  for (int i = 0; i < vp->lightCount; ++i) {
    const LightRecord* light = Find(lights_, vp->lights[i]);
    if (light == nullptr || !light->set || !(light->data.dwFlags & D3DLIGHT_ACTIVE)) continue;
    const D3DVECTOR& dir = light->data.dvDirection;
    const D3DVECTOR toLight = Normalized(TransformDirection({-dir.x, -dir.y, -dir.z}, view_));
    const D3DCOLORVALUE& c = light->data.dcvColor;
    const bool noSpecular = (light->data.dwFlags & D3DLIGHT_NO_SPECULAR) != 0;
    f.toLight[f.lightCount] = toLight;
    f.lightDiffuse[f.lightCount] = {c.r * material.diffuse.r, c.g * material.diffuse.g,
                                    c.b * material.diffuse.b, 0};
    f.lightSpecular[f.lightCount] = noSpecular
                                        ? D3DCOLORVALUE{0, 0, 0, 0}
                                        : D3DCOLORVALUE{c.r * material.specular.r, c.g * material.specular.g,
                                                        c.b * material.specular.b, 0};
    ++f.lightCount;
  }

  f.texture = Find(textures_, s[D3DRENDERSTATE_TEXTUREHANDLE]);
  if (f.texture != nullptr && f.texture->texels.empty()) f.texture = nullptr;
  // One filter for the whole triangle: magnification decides.
  f.bilinear = IsLinear(s[D3DRENDERSTATE_TEXTUREMAG]);
  f.textureBlend = s[D3DRENDERSTATE_TEXTUREMAPBLEND];
  f.blend = s[D3DRENDERSTATE_ALPHABLENDENABLE] != 0;
  f.srcBlend = s[D3DRENDERSTATE_SRCBLEND];
  f.destBlend = s[D3DRENDERSTATE_DESTBLEND];
  f.zTest = s[D3DRENDERSTATE_ZENABLE] != D3DZB_FALSE;
  f.zWrite = f.zTest && s[D3DRENDERSTATE_ZWRITEENABLE] != 0;
  f.zFunc = s[D3DRENDERSTATE_ZFUNC];
  f.cull = s[D3DRENDERSTATE_CULLMODE];
  f.valid = true;
  return D3D_OK;
}

int32_t Direct3DDevice::CheckDrawCall(D3DPRIMITIVETYPE type, D3DVERTEXTYPE vertexType) const {
  if (!inScene_) return D3DERR_SCENE_NOT_IN_SCENE;
  if (vertexType != D3DVT_VERTEX) return D3DERR_INVALIDVERTEXTYPE;
  if (type != D3DPT_TRIANGLELIST && type != D3DPT_TRIANGLESTRIP && type != D3DPT_TRIANGLEFAN)
    return D3DERR_INVALIDPRIMITIVETYPE;
  return D3D_OK;
}

void Direct3DDevice::DrawTriangle(const D3DVERTEX& a, const D3DVERTEX& b, const D3DVERTEX& c) {
  const Frame& f = frame_;
  ClipVertex poly[kMaxPolygon] = {TransformAndLight(f, a), TransformAndLight(f, b), TransformAndLight(f, c)};
  if (!Finite(poly[0]) || !Finite(poly[1]) || !Finite(poly[2])) return;
  if (f.flat) {
    for (int i = 1; i < 3; ++i) {
      poly[i].r = poly[0].r, poly[i].g = poly[0].g, poly[i].b = poly[0].b, poly[i].a = poly[0].a;
      poly[i].sr = poly[0].sr, poly[i].sg = poly[0].sg, poly[i].sb = poly[0].sb;
    }
  }
  // Wrapping makes whole repeats of the texture irrelevant; dropping them
  // keeps the per-pixel coordinates small.
  const float baseU = std::floor(poly[0].u), baseV = std::floor(poly[0].v);
  for (int i = 0; i < 3; ++i) poly[i].u -= baseU, poly[i].v -= baseV;

  Plane planes[kPlaneCount];
  MakePlanes(f, planes);
  const unsigned c0 = OutCode(planes, poly[0]), c1 = OutCode(planes, poly[1]), c2 = OutCode(planes, poly[2]);
  if (c0 & c1 & c2) return;
  int count = 3;
  if (c0 | c1 | c2) count = ClipPolygon(planes, c0 | c1 | c2, poly, count);
  if (count < 3) return;

  ScreenVertex screen[kMaxPolygon];
  float area = 0;
  for (int i = 0; i < count; ++i) screen[i] = Project(f, poly[i]);
  for (int i = 0; i < count; ++i) {
    const ScreenVertex& p = screen[i];
    const ScreenVertex& q = screen[(i + 1) % count];
    area += p.x * q.y - q.x * p.y;
  }
  // y grows downwards, so a positive area is clockwise on the screen.
  if (!(area != 0)) return;
  if (f.cull == D3DCULL_CW && area > 0) return;
  if (f.cull == D3DCULL_CCW && area < 0) return;

  const SpanFunction span = ChooseSpan(f);
  for (int i = 1; i + 1 < count; ++i) RasterTriangle(f, span, &screen[0], &screen[i], &screen[i + 1]);
  ++trianglesDrawn_;
}

int32_t Direct3DDevice::Begin(D3DPRIMITIVETYPE type, D3DVERTEXTYPE vertexType, uint32_t /*flags*/) {
  if (inBegin_) return D3DERR_INBEGIN;
  const int32_t ok = CheckDrawCall(type, vertexType);
  if (ok != D3D_OK) return ok;
  const int32_t bound = BindFrame();
  if (bound != D3D_OK) return bound;
  inBegin_ = true;
  beginType_ = type;
  pendingCount_ = 0;
  streamIndex_ = 0;
  return D3D_OK;
}

int32_t Direct3DDevice::Vertex(const D3DVERTEX* vertex) {
  if (!inBegin_) return D3DERR_NOTINBEGIN;
  if (vertex == nullptr) return DDERR_INVALIDPARAMS;
  // State may have changed since Begin; surfaces are looked at every time.
  const int32_t bound = BindFrame();
  if (bound != D3D_OK) return bound;
  const uint32_t n = streamIndex_++;
  if (beginType_ == D3DPT_TRIANGLELIST) {
    pending_[pendingCount_++] = *vertex;
    if (pendingCount_ == 3) {
      DrawTriangle(pending_[0], pending_[1], pending_[2]);
      pendingCount_ = 0;
    }
    return D3D_OK;
  }
  if (n < 2) {
    pending_[n] = *vertex;
    return D3D_OK;
  }
  if (beginType_ == D3DPT_TRIANGLEFAN) {
    DrawTriangle(pending_[0], pending_[1], *vertex);
    pending_[1] = *vertex;
  } else {
    // Every second strip triangle is reversed so that all keep one winding.
    if (n % 2 == 0)
      DrawTriangle(pending_[0], pending_[1], *vertex);
    else
      DrawTriangle(pending_[1], pending_[0], *vertex);
    pending_[0] = pending_[1];
    pending_[1] = *vertex;
  }
  return D3D_OK;
}

int32_t Direct3DDevice::End(uint32_t /*flags*/) {
  if (!inBegin_) return D3DERR_NOTINBEGIN;
  inBegin_ = false;
  pendingCount_ = 0;
  return D3D_OK;
}

int32_t Direct3DDevice::DrawPrimitive(D3DPRIMITIVETYPE type, D3DVERTEXTYPE vertexType,
                                      const D3DVERTEX* vertices, uint32_t count, uint32_t /*flags*/) {
  if (inBegin_) return D3DERR_INBEGIN;
  const int32_t ok = CheckDrawCall(type, vertexType);
  if (ok != D3D_OK) return ok;
  if (vertices == nullptr && count > 0) return DDERR_INVALIDPARAMS;
  const int32_t bound = BindFrame();
  if (bound != D3D_OK) return bound;
  if (type == D3DPT_TRIANGLELIST) {
    for (uint32_t i = 0; i + 2 < count; i += 3) DrawTriangle(vertices[i], vertices[i + 1], vertices[i + 2]);
  } else if (type == D3DPT_TRIANGLEFAN) {
    for (uint32_t i = 1; i + 1 < count; ++i) DrawTriangle(vertices[0], vertices[i], vertices[i + 1]);
  } else {
    for (uint32_t i = 0; i + 2 < count; ++i) {
      if (i % 2 == 0)
        DrawTriangle(vertices[i], vertices[i + 1], vertices[i + 2]);
      else
        DrawTriangle(vertices[i + 1], vertices[i], vertices[i + 2]);
    }
  }
  return D3D_OK;
}
