// The 2D side of the library: Windows bitmaps in off-screen surfaces, blits
// between them and the back buffer, clipped one-pixel lines and colours in
// the back buffer's 16-bit format.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/bmp.h"
#include "render/library_state.h"
#include "render/qlt.h"

QltBitmap _qlt_Bitmap[QltMaxBitmaps];
int32_t _qlt_BitmapIndex;
QltClipRect _qlt_LineClip;

namespace {

const char* const OpLoad = "qlt_BitmapLoad";

int Fail(const char* operation, const char* message, int32_t result) {
  _qlt_SetError(operation, message, result);
  return 0;
}

// Formats a message around a file name, cut short if the name is very long.
int FailNamed(const char* operation, const char* format, const char* name) {
  char message[QltErrorStringSize];
  snprintf(message, sizeof message, format, name ? name : "");
  return Fail(operation, message, 0);
}

// The first free entry below the count, else the one at the count; -1 when
// all are taken.
int FreeEntry() {
  for (int i = 0; i < _qlt_BitmapIndex; ++i)
    if (_qlt_Bitmap[i].lpSurface == nullptr) return i;
  return _qlt_BitmapIndex < QltMaxBitmaps ? _qlt_BitmapIndex : -1;
}

int TableFull() {
  char message[96];
  snprintf(message, sizeof message, "All %d bitmap entries are in use; free one first.", QltMaxBitmaps);
  return Fail(OpLoad, message, 0);
}

void Occupy(int index, DisplaySurface* surface, int width, int height) {
  _qlt_Bitmap[index] = QltBitmap{width, height, surface, surface, 0, 0, 0};
  if (index >= _qlt_BitmapIndex) _qlt_BitmapIndex = index + 1;
}

int CreatePlainSurface(int width, int height, DisplaySurface** out, const char* createText) {
  if (_qlt_DirectDraw2 == nullptr) return Fail(OpLoad, createText, DDERR_NOCOOPERATIVELEVELSET);
  SurfaceRequest request;
  request.caps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
  request.width = width;
  request.height = height;
  const int32_t r = _qlt_DirectDraw2->CreateSurface(request, out);
  if (r != DD_OK) return Fail(OpLoad, createText, r);
  return 1;
}

// Reads and checks the file's headers; the pixels are decoded only when the
// headers describe an uncompressed bitmap.
int ReadBitmapFile(const char* fileName, BmpImage* image) {
  const int handle = fileName ? qlt_FileOpen(fileName, QLT_FILE_READ) : -1;
  if (handle < 0) return FailNamed(OpLoad, "Can not load windows bitmap file: %s ", fileName);
  std::vector<uint8_t> data(qlt_FileSize(handle));
  int32_t done = 0;
  const bool read = data.size() <= size_t(INT32_MAX) && qlt_FileRead(handle, data.data(), int32_t(data.size()), &done) &&
                    size_t(done) == data.size();
  qlt_FileClose(handle);
  if (!read) return FailNamed(OpLoad, "Can not load windows bitmap file: %s ", fileName);
  BmpHeaders headers{};
  const BmpResult headerResult = ReadBmpHeaders(data.data(), data.size(), &headers);
  if (headerResult == BmpResult::Compressed || (headerResult == BmpResult::Ok && headers.compression != BI_RGB))
    return FailNamed(OpLoad, "%s\n\nCan not process compressed windows bitmaps!\nManual conversion required.",
                     fileName);
  if (headerResult != BmpResult::Ok || DecodeBmp(data.data(), data.size(), image) != BmpResult::Ok)
    return FailNamed(OpLoad, "Can not load: %s bitmap", fileName);
  return 1;
}

// What GDI's BitBlt into the surface's device context does: the image
// converted into the surface's format.
int CopyImage(DisplaySurface* surface, const BmpImage& image) {
  Surface converted;
  BmpToSurface(image, surface->Format(), &converted);
  LockedSurface locked;
  const int32_t r = surface->Lock(&locked);
  if (r != DD_OK) return Fail(OpLoad, "_qlt_Bitmap[BitmapIndex].lpSurface->GetDC(&hdc)", r);
  const size_t rowBytes = size_t(converted.pitch);
  for (int y = 0; y < converted.height && y < locked.height; ++y)
    memcpy(locked.bits + size_t(y) * size_t(locked.pitch), converted.pixels.data() + size_t(y) * rowBytes,
           std::min(rowBytes, size_t(locked.pitch)));
  surface->Unlock();
  return 1;
}

int ApplyColourKey(QltBitmap& entry, int keyX, int keyY, const char* fileName) {
  // The key pixel must lie on the bitmap; anything else would read outside it.
  if (keyX < 0 || keyY < 0 || keyX >= entry.width || keyY >= entry.height) {
    char message[QltErrorStringSize];
    snprintf(message, sizeof message, "%s\n\nThe colour key pixel (%d, %d) lies outside the %d x %d bitmap.",
             fileName, keyX, keyY, entry.width, entry.height);
    return Fail(OpLoad, message, 0);
  }
  LockedSurface locked;
  int32_t r = entry.lpSurface->Lock(&locked);
  if (r != DD_OK)
    return Fail(OpLoad,
                "_qlt_Bitmap[BitmapIndex].lpSurface->Lock(NULL,&ddsd,DDLOCK_NOSYSLOCK|DDLOCK_READONLY|"
                "DDLOCK_SURFACEMEMORYPTR|DDLOCK_WAIT,NULL)",
                r);
  const uint8_t* p = locked.bits + size_t(keyY) * size_t(locked.pitch) + 2 * size_t(keyX);
  const int32_t key = p[0] | p[1] << 8;
  r = entry.lpSurface->Unlock();
  if (r != DD_OK) return Fail(OpLoad, "_qlt_Bitmap[BitmapIndex].lpSurface->Unlock(NULL)", r);
  entry.lpSurface->SetColorKey(uint32_t(key), uint32_t(key));
  entry.colorKeyed = 1;
  entry.keyLow = entry.keyHigh = key;
  return 1;
}

void Release(QltBitmap& entry) {
  if (entry.lpSurface && _qlt_DirectDraw2) _qlt_DirectDraw2->Release(entry.lpSurface);
  entry = QltBitmap{};
}

// The surface a blit index names; null for an index that names none.
DisplaySurface* BlitSurface(int index, int32_t* keyed) {
  *keyed = 0;
  if (index == QltBackBufferIndex) return _qlt_BackBuffer3;
  if (index < 0 || index >= _qlt_BitmapIndex) return nullptr;
  *keyed = _qlt_Bitmap[index].colorKeyed;
  return _qlt_Bitmap[index].lpSurface;
}

}  // namespace

int qlt_BitmapLoad(int* outIndex, const char* fileName, int colourKeyed, int keyX, int keyY) {
  const int index = FreeEntry();
  if (index < 0) return TableFull();
  BmpImage image;
  if (!ReadBitmapFile(fileName, &image)) return 0;
  DisplaySurface* surface = nullptr;
  if (!CreatePlainSurface(image.width, image.height, &surface,
                          "_qlt_DirectDraw2->CreateSurface(&ddsd, &_qlt_Bitmap[BitmapIndex].lpTMPSurface, NULL)"))
    return 0;
  QltBitmap entry{image.width, image.height, surface, surface, 0, 0, 0};
  if (!CopyImage(surface, image) || (colourKeyed == 1 && !ApplyColourKey(entry, keyX, keyY, fileName))) {
    _qlt_DirectDraw2->Release(surface);
    return 0;
  }
  Occupy(index, surface, image.width, image.height);
  _qlt_Bitmap[index] = entry;
  if (outIndex) *outIndex = index;
  return 1;
}

int _qlt_MakeSquareBitmap(int size, int* outIndex) {
  if (_qlt_BitmapIndex >= QltMaxBitmaps) return TableFull();
  DisplaySurface* surface = nullptr;
  if (!CreatePlainSurface(size, size, &surface,
                          "_qlt_DirectDraw2->CreateSurface(&ddsd, &_qlt_Bitmap[_qlt_BitmapIndex].lpTMPSurface, NULL)"))
    return 0;
  const int index = _qlt_BitmapIndex;
  Occupy(index, surface, size, size);
  *outIndex = index;
  return 1;
}

int qlt_BitmapBlit(int source, int destination, int srcLeft, int srcRight, int srcTop, int srcBottom, int dstLeft,
                   int dstRight, int dstTop, int dstBottom) {
  if (_qlt_RenderActive)
    return Fail("qlt_BitmapBlit",
                "Standard blitting is not allowed between an\nqlt_RenderBegin() & qlt_RenderEnd() pair.", 0);
  int32_t keyed = 0, unused = 0;
  DisplaySurface* from = BlitSurface(source, &keyed);
  DisplaySurface* to = BlitSurface(destination, &unused);
  const char* call = keyed ? "lpDestination->Blt(rectSrc, lpSource, &rectDst, DDBLT_KEYSRC|DDBLT_WAIT, NULL)"
                           : "lpDestination->Blt(rectSrc, lpSource, &rectDst, DDBLT_WAIT, NULL)";
  if (from == nullptr || to == nullptr) return Fail("qlt_BitmapBlit", call, DDERR_INVALIDPARAMS);
  const DdRect dst{dstLeft, dstTop, dstRight, dstBottom};
  const DdRect src{srcLeft, srcTop, srcRight, srcBottom};
  const int32_t r = to->Blt(&dst, from, &src, DDBLT_WAIT | (keyed ? DDBLT_KEYSRC : 0u));
  if (r != DD_OK) return Fail("qlt_BitmapBlit", call, r);
  return 1;
}

int qlt_BitmapFree(int index) {
  // The count itself is no entry: index == count would lie past the table
  // once it is full.
  if (index < 0 || index >= _qlt_BitmapIndex) return 0;
  Release(_qlt_Bitmap[index]);
  if (index == _qlt_BitmapIndex - 1) --_qlt_BitmapIndex;
  return 1;
}

void _qlt_FreeAllBitmaps() {
  for (int i = 0; i < _qlt_BitmapIndex; ++i) Release(_qlt_Bitmap[i]);
  _qlt_BitmapIndex = 0;
}

int qlt_BitmapWidth(int index) { return index >= 0 && index < _qlt_BitmapIndex ? _qlt_Bitmap[index].width : 0; }

int qlt_BitmapHeight(int index) {
  return index >= 0 && index < _qlt_BitmapIndex ? _qlt_Bitmap[index].height : 0;
}

DisplaySurface* qlt_BitmapSurface(int index) {
  return index >= 0 && index < _qlt_BitmapIndex ? _qlt_Bitmap[index].lpSurface : nullptr;
}

// ---- Lines ----------------------------------------------------------------------------

namespace {

struct LinePoint {
  int64_t x, y;
};

// Moves `p` along the line towards `q` until its coordinate `a` (x or y)
// equals `to`; the other coordinate follows, truncated toward zero.
void MoveAlong(LinePoint& p, const LinePoint& q, bool alongX, int64_t to) {
  int64_t& a = alongX ? p.x : p.y;
  int64_t& b = alongX ? p.y : p.x;
  const int64_t qa = alongX ? q.x : q.y, qb = alongX ? q.y : q.x;
  b += (qb - b) * (to - a) / (qa - a);
  a = to;
}

bool BothOutsideY(const LinePoint& p, const LinePoint& q, const QltClipRect& c) {
  return (p.y < c.ymin && q.y < c.ymin) || (p.y > c.ymax && q.y > c.ymax);
}

bool Inside(const LinePoint& p, const QltClipRect& c) {
  return p.x >= c.xmin && p.x <= c.xmax && p.y >= c.ymin && p.y <= c.ymax;
}

// Clips the line to the rectangle; false when nothing of it is visible.
bool ClipLine(LinePoint& p, LinePoint& q, const QltClipRect& c) {
  if ((p.x < c.xmin && q.x < c.xmin) || (p.x > c.xmax && q.x > c.xmax) || BothOutsideY(p, q, c)) return false;
  if (Inside(p, c) && Inside(q, c)) return true;
  LinePoint* left = p.x <= q.x ? &p : &q;
  LinePoint* right = left == &p ? &q : &p;
  if (left->x < c.xmin) {
    MoveAlong(*left, *right, true, c.xmin);
    if (BothOutsideY(p, q, c)) return false;
  }
  if (right->x > c.xmax) {
    MoveAlong(*right, *left, true, c.xmax);
    if (BothOutsideY(p, q, c)) return false;
  }
  LinePoint* top = p.y <= q.y ? &p : &q;
  LinePoint* bottom = top == &p ? &q : &p;
  if (top->y < c.ymin) MoveAlong(*top, *bottom, false, c.ymin);
  if (bottom->y > c.ymax) MoveAlong(*bottom, *top, false, c.ymax);
  // A line that passes outside a corner keeps an end outside: it misses.
  return Inside(p, c) && Inside(q, c);
}

void Plot(const LockedSurface& s, int64_t x, int64_t y, uint16_t colour) {
  uint8_t* p = s.bits + size_t(y) * size_t(s.pitch) + 2 * size_t(x);
  p[0] = uint8_t(colour);
  p[1] = uint8_t(colour >> 8);
}

// Bresenham from the end with the smaller major coordinate to the other.
void DrawClipped(const LockedSurface& s, LinePoint p, LinePoint q, uint16_t colour) {
  const bool majorX = std::llabs(q.x - p.x) >= std::llabs(q.y - p.y);
  if ((majorX && p.x > q.x) || (!majorX && p.y > q.y)) std::swap(p, q);
  const int64_t major = majorX ? q.x - p.x : q.y - p.y;
  const int64_t minorDelta = majorX ? q.y - p.y : q.x - p.x;
  const int64_t minor = std::llabs(minorDelta), step = minorDelta < 0 ? -1 : 1;
  int64_t decision = 2 * minor - major;
  int64_t x = p.x, y = p.y;
  for (int64_t i = 0; i <= major; ++i) {
    Plot(s, x, y, colour);
    if (decision >= 0) {
      (majorX ? y : x) += step;
      decision += 2 * (minor - major);
    } else {
      decision += 2 * minor;
    }
    (majorX ? x : y) += 1;
  }
}

}  // namespace

int qlt_DrawLine(int x1, int y1, int x2, int y2, uint16_t colour) {
  if (_qlt_RenderActive)
    return Fail("qlt_DrawLine",
                "Drawing lines are not allowed between an qlt_RenderBegin() & qlt_RenderEnd() pair.",
                DDERR_SURFACEBUSY);
  if (_qlt_BackBuffer3 == nullptr) return Fail("qlt_DrawLine", "_qlt_BackBuffer3->Lock()", DDERR_NOTFOUND);
  // The clipping rectangle never reaches past the back buffer.
  QltClipRect clip = _qlt_LineClip;
  clip.xmin = std::max(clip.xmin, 0);
  clip.ymin = std::max(clip.ymin, 0);
  clip.xmax = std::min(clip.xmax, _qlt_BackBuffer3->Width() - 1);
  clip.ymax = std::min(clip.ymax, _qlt_BackBuffer3->Height() - 1);
  LinePoint p{x1, y1}, q{x2, y2};
  if (clip.xmin > clip.xmax || clip.ymin > clip.ymax || !ClipLine(p, q, clip)) return 1;
  LockedSurface locked;
  const int32_t r = _qlt_BackBuffer3->Lock(&locked);
  if (r != DD_OK) return Fail("qlt_DrawLine", "_qlt_BackBuffer3->Lock()", r);
  DrawClipped(locked, p, q, colour);
  _qlt_BackBuffer3->Unlock();
  return 1;
}

namespace {

// A channel outside 0 .. 1 would spill into its neighbours.
float Unit(float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; }

}  // namespace

uint16_t qlt_MakeCompatible16bppColor(float r, float g, float b) {
  r = Unit(r);
  g = Unit(g);
  b = Unit(b);
  switch (_qlt_GreenBits) {
    case 6:
      return uint16_t(int(31 * r) << 11 | int(63 * g) << 5 | int(31 * b));
    case 5:
      return uint16_t(0x8000 | int(31 * r) << 10 | int(31 * g) << 5 | int(31 * b));
    case 4:
      return uint16_t(0xF000 | int(15 * r) << 8 | int(15 * g) << 4 | int(15 * b));
    default:
      _qlt_SetError("qlt_MakeCompatible16bppColor", "BackBuffer 16 Bit Color Format Is Not 565, 1555, or 4444", 0);
      return 0;
  }
}
