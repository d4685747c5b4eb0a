// The display: what the rendering library asks of DirectDraw. One primary
// driver, its 16-bpp display modes, a flip chain of front and back surface
// with an attached 16-bit z-buffer, off-screen and texture surfaces in system
// or "video" memory, locks, stretch blits with a source colour key, flips and
// lost surfaces. Every operation answers with the DirectDraw result code.
//
// What the machine offers (modes, video memory, back-buffer format, texture
// formats) comes from DisplaySettings, so that tests reach every branch the
// library has for them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/surface.h"

// ---- Result codes (DirectDraw values) --------------------------------------
constexpr int32_t DdCode(uint32_t code) { return int32_t(0x88760000u + code); }

constexpr int32_t DD_OK = 0;
constexpr int32_t DDERR_UNSUPPORTED = int32_t(0x80004001u);
constexpr int32_t DDERR_GENERIC = int32_t(0x80004005u);
constexpr int32_t DDERR_OUTOFMEMORY = int32_t(0x8007000Eu);
constexpr int32_t DDERR_INVALIDPARAMS = int32_t(0x80070057u);
constexpr int32_t DDERR_CANNOTATTACHSURFACE = DdCode(10);
constexpr int32_t DDERR_CANNOTDETACHSURFACE = DdCode(20);
constexpr int32_t DDERR_INVALIDMODE = DdCode(120);
constexpr int32_t DDERR_INVALIDPIXELFORMAT = DdCode(145);
constexpr int32_t DDERR_INVALIDRECT = DdCode(150);
constexpr int32_t DDERR_NOCOOPERATIVELEVELSET = DdCode(212);
constexpr int32_t DDERR_NOCOLORKEY = DdCode(215);
constexpr int32_t DDERR_NOEXCLUSIVEMODE = DdCode(225);
constexpr int32_t DDERR_NOTFOUND = DdCode(255);
constexpr int32_t DDERR_OUTOFVIDEOMEMORY = DdCode(380);
constexpr int32_t DDERR_SURFACEALREADYATTACHED = DdCode(410);
constexpr int32_t DDERR_SURFACEBUSY = DdCode(430);
constexpr int32_t DDERR_SURFACELOST = DdCode(450);
constexpr int32_t DDERR_SURFACENOTATTACHED = DdCode(460);
constexpr int32_t DDERR_TOOBIGSIZE = DdCode(480);
constexpr int32_t DDERR_WASSTILLDRAWING = DdCode(540);
constexpr int32_t DDERR_PRIMARYSURFACEALREADYEXISTS = DdCode(564);
constexpr int32_t DDERR_NOTFLIPPABLE = DdCode(582);
constexpr int32_t DDERR_NOTLOCKED = DdCode(584);

// ---- Surface capabilities (DDSCAPS values) ---------------------------------
enum DdSurfaceCaps : unsigned {
  DDSCAPS_BACKBUFFER = 0x4,
  DDSCAPS_COMPLEX = 0x8,
  DDSCAPS_FLIP = 0x10,
  DDSCAPS_FRONTBUFFER = 0x20,
  DDSCAPS_OFFSCREENPLAIN = 0x40,
  DDSCAPS_PRIMARYSURFACE = 0x200,
  DDSCAPS_SYSTEMMEMORY = 0x800,
  DDSCAPS_TEXTURE = 0x1000,
  DDSCAPS_3DDEVICE = 0x2000,
  DDSCAPS_VIDEOMEMORY = 0x4000,
  DDSCAPS_ZBUFFER = 0x20000,
  DDSCAPS_ALLOCONLOAD = 0x4000000,
};

// Cooperative levels (DDSCL values).
enum DdCooperativeLevel : unsigned {
  DDSCL_FULLSCREEN = 0x1,
  DDSCL_NORMAL = 0x8,
  DDSCL_EXCLUSIVE = 0x10,
};

// Blit flags (DDBLT values); the wait flag is accepted and means nothing
// here, as every blit finishes at once.
enum DdBltFlags : unsigned {
  DDBLT_COLORFILL = 0x400,
  DDBLT_KEYSRC = 0x8000,
  DDBLT_WAIT = 0x1000000,
};

// A rectangle with right and bottom exclusive, as DirectDraw's.
struct DdRect {
  int left, top, right, bottom;
};

struct DisplayModeDesc {
  int width;
  int height;
  int bitsPerPixel;
  int pitch;  // bytes per row of the display memory in this mode
};

// The mode table's eight sizes, all at 16 bits per pixel.
std::vector<DisplayModeDesc> StandardDisplayModes();

struct DisplayDriver {
  bool primary;  // true for the primary display driver (a null GUID)
  uint8_t guid[16];
  std::string description;
  std::string name;
};

// The texture formats the 3D hardware may offer, as bits of a mask.
enum TextureFormatBits : unsigned {
  TextureRgb565 = 0x1,
  TextureArgb1555 = 0x2,
  TextureArgb4444 = 0x4,
  TextureArgb8888 = 0x8,
  TextureAllFormats = 0xF,
};

struct DisplaySettings {
  std::string driverDescription = "Primary Display Driver";
  std::string driverName = "display";
  std::vector<DisplayModeDesc> modes = StandardDisplayModes();
  // Listed modes that SetDisplayMode nevertheless refuses (by size).
  std::vector<DisplayModeDesc> refusedModes;
  uint32_t videoMemoryBytes = 8u * 1024 * 1024;
  bool videoMemoryQueryFails = false;
  PixelFormat backBufferFormat = PixelFormat::Rgb565;
  unsigned textureFormats = TextureAllFormats;
};

// The settings a newly created Display takes; tests change them and put the
// defaults back with ResetDisplaySettings.
DisplaySettings& CurrentDisplaySettings();
void ResetDisplaySettings();

// The display drivers of the machine: one, the primary.
std::vector<DisplayDriver> EnumerateDisplayDrivers();

// What CreateSurface is asked for (the fields of a surface description the
// library fills in).
struct SurfaceRequest {
  unsigned caps = 0;
  int width = 0;  // not used for the primary surface (the mode's size)
  int height = 0;
  int backBufferCount = 0;
  bool hasPixelFormat = false;  // otherwise the display's format
  PixelFormat format = PixelFormat::Rgb565;
  int zBufferBitDepth = 0;
};

// What a lock hands out.
struct LockedSurface {
  uint8_t* bits = nullptr;
  int pitch = 0;
  int width = 0;
  int height = 0;
  PixelFormat format = PixelFormat::Rgb565;
};

// Text drawing state of a surface's device context (GDI's SetTextColor,
// SetBkColor, SetBkMode, SetTextAlign). Colours are 0x00BBGGRR.
enum TextAlignFlags : unsigned {
  TA_LEFT = 0,
  TA_TOP = 0,
  TA_RIGHT = 2,
  TA_CENTER = 6,
  TA_BOTTOM = 8,
  TA_BASELINE = 24,
};
enum BackgroundMode : int { TRANSPARENT = 1, OPAQUE = 2 };

struct TextStyle {
  uint32_t textColour = 0x000000;
  uint32_t backgroundColour = 0xFFFFFF;
  int backgroundMode = OPAQUE;
  unsigned align = TA_LEFT | TA_TOP;
};

constexpr uint32_t RGBColour(uint8_t r, uint8_t g, uint8_t b) {
  return uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16;
}

// The built-in font: every character of ASCII 32..126 in an 8 x 16 cell;
// other bytes draw as a box. Rows 0..11 stand above the baseline, descenders below.
constexpr int FontCellWidth = 8;
constexpr int FontCellHeight = 16;
constexpr int FontBaseline = 12;
// Row bits of one glyph, the leftmost pixel in the top bit.
const uint8_t* FontGlyph(unsigned char c);

// Draws text onto a surface of any format as TextOut would, clipped to it.
void DrawText(Surface& surface, int x, int y, const char* text, int length, const TextStyle& style);

class Display;

// A DirectDraw surface. Made and destroyed by its Display only.
class DisplaySurface {
 public:
  int Width() const { return pixels_.width; }
  int Height() const { return pixels_.height; }
  PixelFormat Format() const { return pixels_.format; }
  unsigned Caps() const { return caps_; }
  bool InVideoMemory() const { return (caps_ & DDSCAPS_VIDEOMEMORY) != 0; }
  bool IsZBuffer() const { return (caps_ & DDSCAPS_ZBUFFER) != 0; }

  int32_t Lock(LockedSurface* out);
  int32_t Unlock();
  bool IsLocked() const { return locked_; }

  int32_t IsLost() const { return lost_ ? DDERR_SURFACELOST : DD_OK; }
  int32_t Restore();
  // What a mode switch or another program taking the display does.
  void MarkLost() { lost_ = true; }

  // Source colour key: raw pixel values low..high are not copied by a keyed
  // blit.
  int32_t SetColorKey(uint32_t low, uint32_t high);
  bool HasColorKey() const { return keyed_; }

  // Stretches the source rectangle onto the destination rectangle (null =
  // the whole surface) with nearest sampling, converting between formats.
  int32_t Blt(const DdRect* destination, DisplaySurface* source, const DdRect* sourceRect, unsigned flags);
  // Fills the rectangle (null = whole surface) with a raw pixel value.
  int32_t ColorFill(const DdRect* destination, uint32_t pixel);

  // Only the front surface of a flip chain flips: the back buffer's
  // contents become visible.
  int32_t Flip();

  // The attached back buffer (asked of the front) or z-buffer (asked of
  // the back buffer) by its caps bit.
  int32_t GetAttachedSurface(unsigned caps, DisplaySurface** out);
  int32_t AddAttachedSurface(DisplaySurface* zBuffer);
  int32_t DeleteAttachedSurface(DisplaySurface* attached);

  // A device context for text: holding one counts as a lock.
  int32_t GetDC(TextStyle** out);
  int32_t ReleaseDC();
  int32_t TextOut(int x, int y, const char* text, int length);

  // Raw access for the software 3D device and the window, which draw and
  // show the pixels without locking.
  Surface& Pixels() { return pixels_; }
  const Surface& Pixels() const { return pixels_; }

 private:
  friend class Display;
  DisplaySurface(Display* owner, unsigned caps) : owner_(owner), caps_(caps) {}
  int32_t Usable() const;

  Display* owner_;
  unsigned caps_;
  Surface pixels_;
  bool locked_ = false;
  bool dcHeld_ = false;
  bool lost_ = false;
  bool keyed_ = false;
  uint32_t keyLow_ = 0, keyHigh_ = 0;
  TextStyle dc_;
  DisplaySurface* backBuffer_ = nullptr;   // front surface: its back buffer
  DisplaySurface* frontBuffer_ = nullptr;  // back buffer: its front surface
  DisplaySurface* zBuffer_ = nullptr;      // back buffer: the attached z-buffer
  DisplaySurface* attachedTo_ = nullptr;   // z-buffer: the surface holding it
};

// A DirectDraw object. It owns every surface it creates; pointers to them
// stay valid until Release (of them, or of the front surface for its back
// buffer) or the Display's end.
class Display {
 public:
  explicit Display(const DisplaySettings& settings = CurrentDisplaySettings());
  ~Display();
  Display(const Display&) = delete;
  Display& operator=(const Display&) = delete;

  const DisplaySettings& Settings() const { return settings_; }

  int32_t SetCooperativeLevel(void* window, unsigned flags);
  std::vector<DisplayModeDesc> EnumDisplayModes() const { return settings_.modes; }
  int32_t SetDisplayMode(int width, int height, int bitsPerPixel);
  // The mode in use: the desktop's 640 x 480 until one is set.
  DisplayModeDesc CurrentMode() const { return mode_; }

  // Total and free video memory, in bytes.
  int32_t GetAvailableVidMem(uint32_t* total, uint32_t* free) const;
  uint32_t VideoMemoryUsed() const { return videoUsed_; }

  // Texture formats the 3D hardware offers, in the order 565, 1555, 4444,
  // 8888, without the withheld ones.
  std::vector<PixelFormat> TextureFormats() const;

  int32_t CreateSurface(const SurfaceRequest& request, DisplaySurface** out);
  int32_t Release(DisplaySurface* surface);

  // Makes the surface that the desktop shows visible again, so that windows
  // and dialogs are seen over the full-screen display.
  int32_t FlipToGDISurface();
  // True while the surface holding the desktop is the front one.
  bool GdiSurfaceVisible() const { return (flips_ % 2) == 0; }
  uint64_t FlipCount() const { return flips_; }

  // Marks every video-memory surface lost, as a mode switch does.
  void LoseVideoSurfaces();

  DisplaySurface* Primary() const { return primary_; }

 private:
  friend class DisplaySurface;
  int32_t CreatePrimary(const SurfaceRequest& request, DisplaySurface** out);
  int32_t CreateZBuffer(const SurfaceRequest& request, DisplaySurface** out);
  int32_t CreatePlain(const SurfaceRequest& request, DisplaySurface** out);
  // Places the surface in video memory (or, when allowed, system memory).
  int32_t Place(DisplaySurface* surface, bool videoOnly, bool systemOnly);
  DisplaySurface* Make(unsigned caps, int width, int height, PixelFormat format);
  void Destroy(DisplaySurface* surface);
  bool Owns(const DisplaySurface* surface) const;

  DisplaySettings settings_;
  unsigned cooperativeLevel_ = 0;
  DisplayModeDesc mode_{640, 480, 16, 1280};
  uint32_t videoUsed_ = 0;
  uint64_t flips_ = 0;
  DisplaySurface* primary_ = nullptr;
  std::vector<std::unique_ptr<DisplaySurface>> surfaces_;
};
