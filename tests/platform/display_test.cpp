#include "platform/display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

namespace {

SurfaceRequest ChainRequest(bool systemMemory = false) {
  SurfaceRequest r;
  r.caps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE |
           (systemMemory ? DDSCAPS_SYSTEMMEMORY : 0u);
  r.backBufferCount = 1;
  return r;
}

SurfaceRequest PlainRequest(int w, int h, unsigned caps = DDSCAPS_OFFSCREENPLAIN) {
  SurfaceRequest r;
  r.caps = caps;
  r.width = w;
  r.height = h;
  return r;
}

class DisplayTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetDisplaySettings(); }
  void TearDown() override { ResetDisplaySettings(); }

  // A display in full-screen exclusive mode at 640 x 480.
  static void Exclusive(Display& d) {
    ASSERT_EQ(d.SetCooperativeLevel(nullptr, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DD_OK);
    ASSERT_EQ(d.SetDisplayMode(640, 480, 16), DD_OK);
  }
  static DisplaySurface* Plain(Display& d, int w, int h, PixelFormat f) {
    SurfaceRequest r = PlainRequest(w, h);
    r.hasPixelFormat = true;
    r.format = f;
    DisplaySurface* s = nullptr;
    EXPECT_EQ(d.CreateSurface(r, &s), DD_OK);
    return s;
  }
};

TEST_F(DisplayTest, ReportsThePrimaryDriverAndTheEightSixteenBitModes) {
  const std::vector<DisplayDriver> drivers = EnumerateDisplayDrivers();
  ASSERT_EQ(drivers.size(), 1u);
  EXPECT_TRUE(drivers[0].primary);
  EXPECT_FALSE(drivers[0].description.empty());
  Display d;
  const std::vector<DisplayModeDesc> modes = d.EnumDisplayModes();
  const int sizes[8][2] = {{320, 200}, {320, 240}, {400, 300}, {512, 384},
                           {640, 400}, {640, 480}, {800, 600}, {1024, 768}};
  ASSERT_EQ(modes.size(), 8u);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(modes[i].width, sizes[i][0]);
    EXPECT_EQ(modes[i].height, sizes[i][1]);
    EXPECT_EQ(modes[i].bitsPerPixel, 16);
  }
}

TEST_F(DisplayTest, VideoMemoryIsReportedAndItsQueryCanFail) {
  CurrentDisplaySettings().videoMemoryBytes = 4u * 1024 * 1024;
  Display four;
  uint32_t total = 0, free = 0;
  ASSERT_EQ(four.GetAvailableVidMem(&total, &free), DD_OK);
  EXPECT_EQ(total, 4194304u);
  EXPECT_EQ(free, total);
  // 4 MB is below 1024 x 768 x 6 but not below 800 x 600 x 6.
  EXPECT_LT(total, 1024u * 768 * 6);
  EXPECT_GT(total, 800u * 600 * 6);
  CurrentDisplaySettings().videoMemoryQueryFails = true;
  Display failing;
  EXPECT_NE(failing.GetAvailableVidMem(&total, &free), DD_OK);
}

TEST_F(DisplayTest, CooperativeLevelAndDisplayModeRules) {
  CurrentDisplaySettings().refusedModes = {{800, 600, 16, 1600}};
  Display d;
  DisplaySurface* s = nullptr;
  EXPECT_EQ(d.CreateSurface(ChainRequest(), &s), DDERR_NOCOOPERATIVELEVELSET);
  EXPECT_EQ(d.SetDisplayMode(640, 480, 16), DDERR_NOEXCLUSIVEMODE);
  EXPECT_EQ(d.SetCooperativeLevel(nullptr, DDSCL_FULLSCREEN), DDERR_INVALIDPARAMS);
  ASSERT_EQ(d.SetCooperativeLevel(nullptr, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DD_OK);
  EXPECT_EQ(d.SetDisplayMode(700, 500, 16), DDERR_INVALIDMODE) << "not a listed mode";
  EXPECT_EQ(d.SetDisplayMode(640, 480, 32), DDERR_INVALIDMODE) << "only 16 bits per pixel";
  EXPECT_EQ(d.SetDisplayMode(800, 600, 16), DDERR_INVALIDMODE) << "listed but refused";
  ASSERT_EQ(d.SetDisplayMode(1024, 768, 16), DD_OK);
  EXPECT_EQ(d.CurrentMode().width, 1024);
}

TEST_F(DisplayTest, FlipChainWithAttachedZBufferTakesVideoMemory) {
  Display d;
  Exclusive(d);
  DisplaySurface *front = nullptr, *back = nullptr, *z = nullptr, *again = nullptr;
  ASSERT_EQ(d.CreateSurface(ChainRequest(), &front), DD_OK);
  EXPECT_EQ(d.CreateSurface(ChainRequest(), &again), DDERR_PRIMARYSURFACEALREADYEXISTS);
  ASSERT_EQ(front->GetAttachedSurface(DDSCAPS_BACKBUFFER, &back), DD_OK);
  EXPECT_EQ(back->Width(), 640);
  EXPECT_EQ(back->Height(), 480);
  EXPECT_EQ(back->Format(), PixelFormat::Rgb565);
  EXPECT_TRUE(back->InVideoMemory());

  SurfaceRequest zr = PlainRequest(640, 480, DDSCAPS_ZBUFFER);
  EXPECT_EQ(d.CreateSurface(zr, &z), DDERR_INVALIDPARAMS) << "no depth given";
  zr.zBufferBitDepth = 16;
  ASSERT_EQ(d.CreateSurface(zr, &z), DD_OK);
  EXPECT_EQ(back->GetAttachedSurface(DDSCAPS_ZBUFFER, &again), DDERR_NOTFOUND);
  ASSERT_EQ(back->AddAttachedSurface(z), DD_OK);
  EXPECT_EQ(back->AddAttachedSurface(z), DDERR_SURFACEALREADYATTACHED);
  ASSERT_EQ(back->GetAttachedSurface(DDSCAPS_ZBUFFER, &again), DD_OK);
  EXPECT_EQ(again, z);
  EXPECT_EQ(d.VideoMemoryUsed(), 3u * 640 * 480 * 2);

  EXPECT_EQ(front->DeleteAttachedSurface(back), DDERR_CANNOTDETACHSURFACE);
  EXPECT_EQ(back->DeleteAttachedSurface(z), DD_OK);
  EXPECT_EQ(d.Release(z), DD_OK);
  EXPECT_EQ(d.Release(front), DD_OK);
  EXPECT_EQ(d.VideoMemoryUsed(), 0u) << "the back buffer goes with its front surface";
  EXPECT_EQ(d.Primary(), nullptr);
}

TEST_F(DisplayTest, ExhaustedVideoMemoryRefusesOrFallsBackToSystemMemory) {
  CurrentDisplaySettings().videoMemoryBytes = 1000000;  // the front surface fits, the back buffer not
  Display d;
  Exclusive(d);
  DisplaySurface* s = nullptr;
  EXPECT_EQ(d.CreateSurface(ChainRequest(), &s), DDERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(d.VideoMemoryUsed(), 0u) << "a failed chain gives its front surface back";
  ASSERT_EQ(d.CreateSurface(ChainRequest(true), &s), DD_OK) << "the emulation device's chain";
  EXPECT_FALSE(s->InVideoMemory());

  struct Case {
    unsigned caps;
    int32_t result;
    bool video;
  };
  const Case cases[] = {
      {DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY, DD_OK, true},  // 800 KB of the 1 MB
      {DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY, DDERR_OUTOFVIDEOMEMORY, false},
      {DDSCAPS_TEXTURE | DDSCAPS_ALLOCONLOAD, DD_OK, false},  // lands in system memory
      {DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY, DD_OK, false},
  };
  for (const Case& c : cases) {
    DisplaySurface* t = nullptr;
    ASSERT_EQ(d.CreateSurface(PlainRequest(640, 640, c.caps), &t), c.result) << std::hex << c.caps;
    if (t) {
      EXPECT_EQ(t->InVideoMemory(), c.video) << std::hex << c.caps;
    }
  }
  EXPECT_EQ(d.VideoMemoryUsed(), 640u * 640 * 2);
}

TEST_F(DisplayTest, LockBusyAndLostCodes) {
  Display d;
  Exclusive(d);
  DisplaySurface* a = Plain(d, 4, 4, PixelFormat::Rgb565);
  DisplaySurface* b = Plain(d, 4, 4, PixelFormat::Rgb565);
  LockedSurface lock;
  ASSERT_EQ(a->Lock(&lock), DD_OK);
  EXPECT_EQ(lock.pitch, 8);
  EXPECT_EQ(lock.format, PixelFormat::Rgb565);
  lock.bits[lock.pitch * 2 + 2 * 3] = 0x1F;  // (3, 2)
  EXPECT_EQ(a->Lock(&lock), DDERR_SURFACEBUSY);
  EXPECT_EQ(b->Blt(nullptr, a, nullptr, DDBLT_WAIT), DDERR_SURFACEBUSY) << "locked source";
  TextStyle* dc = nullptr;
  EXPECT_EQ(a->GetDC(&dc), DDERR_SURFACEBUSY);
  ASSERT_EQ(a->Unlock(), DD_OK);
  EXPECT_EQ(a->Unlock(), DDERR_NOTLOCKED);
  EXPECT_EQ(a->Pixels().Get(3, 2), 0x1Fu);

  ASSERT_EQ(a->GetDC(&dc), DD_OK);
  EXPECT_EQ(a->Lock(&lock), DDERR_SURFACEBUSY) << "a held device context counts as a lock";
  ASSERT_EQ(a->ReleaseDC(), DD_OK);

  a->MarkLost();
  EXPECT_EQ(a->IsLost(), DDERR_SURFACELOST);
  EXPECT_EQ(a->Lock(&lock), DDERR_SURFACELOST);
  EXPECT_EQ(b->Blt(nullptr, a, nullptr, 0), DDERR_SURFACELOST);
  EXPECT_EQ(a->Restore(), DD_OK);
  EXPECT_EQ(a->IsLost(), DD_OK);
  EXPECT_EQ(a->Lock(&lock), DD_OK);
  EXPECT_EQ(a->Unlock(), DD_OK);

  // A mode switch loses every video-memory surface, the flip chain too.
  DisplaySurface* front = nullptr;
  ASSERT_EQ(d.CreateSurface(ChainRequest(), &front), DD_OK);
  ASSERT_EQ(d.SetDisplayMode(800, 600, 16), DD_OK);
  EXPECT_EQ(front->Flip(), DDERR_SURFACELOST);
  EXPECT_EQ(b->IsLost(), DDERR_SURFACELOST);
  EXPECT_EQ(front->Restore(), DD_OK);
  DisplaySurface* back = nullptr;
  ASSERT_EQ(front->GetAttachedSurface(DDSCAPS_BACKBUFFER, &back), DD_OK);
  EXPECT_EQ(back->IsLost(), DD_OK) << "restoring the front restores its chain";
  EXPECT_EQ(front->Flip(), DD_OK);
}

TEST_F(DisplayTest, StretchBlitConvertsFormatsAndSkipsTheKeyColour) {
  Display d;
  Exclusive(d);
  // A 2 x 2 32-bit source: red, green / blue, white.
  DisplaySurface* src = Plain(d, 2, 2, PixelFormat::Argb8888);
  const uint32_t colours[4] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu};
  for (int i = 0; i < 4; ++i) src->Pixels().Put(i % 2, i / 2, colours[i]);
  DisplaySurface* dst = Plain(d, 6, 6, PixelFormat::Rgb565);
  ASSERT_EQ(dst->ColorFill(nullptr, 0x1234), DD_OK);

  const DdRect to{1, 1, 5, 5};
  EXPECT_EQ(dst->Blt(&to, src, nullptr, DDBLT_KEYSRC), DDERR_NOCOLORKEY);
  ASSERT_EQ(src->SetColorKey(0xFF00FF00u, 0xFF00FF00u), DD_OK);
  ASSERT_EQ(dst->Blt(&to, src, nullptr, DDBLT_KEYSRC | DDBLT_WAIT), DD_OK);
  // Each source pixel covers a 2 x 2 block; the keyed green one leaves the fill.
  const struct {
    int x, y;
    uint32_t pixel;
  } expected[] = {{1, 1, 0xF800}, {2, 2, 0xF800}, {3, 1, 0x1234}, {4, 2, 0x1234}, {1, 3, 0x001F},
                  {4, 4, 0xFFFF}, {0, 0, 0x1234}, {5, 5, 0x1234}, {5, 1, 0x1234}};
  for (const auto& e : expected) EXPECT_EQ(dst->Pixels().Get(e.x, e.y), e.pixel) << e.x << "," << e.y;

  // Shrinking takes the top-left pixel of each block; unkeyed copies all.
  DisplaySurface* small = Plain(d, 2, 2, PixelFormat::Argb4444);
  const DdRect from{1, 1, 5, 5};
  ASSERT_EQ(small->Blt(nullptr, dst, &from, DDBLT_WAIT), DD_OK);
  EXPECT_EQ(small->Pixels().Get(0, 0), 0xFF00u);
  EXPECT_EQ(small->Pixels().Get(1, 0), PackPixel(PixelFormat::Argb4444, 0x10, 0x44, 0xA5))
      << "0x1234 widened";
  EXPECT_EQ(small->Pixels().Get(1, 1), 0xFFFFu);

  const DdRect outside[] = {{0, 0, 7, 1}, {-1, 0, 1, 1}, {2, 2, 2, 3}, {3, 0, 1, 1}};
  for (const DdRect& r : outside) {
    EXPECT_EQ(dst->Blt(&r, src, nullptr, 0), DDERR_INVALIDRECT);
    EXPECT_EQ(dst->Blt(nullptr, src, &r, 0), DDERR_INVALIDRECT);
  }
}

TEST_F(DisplayTest, BlitWithinOneSurfaceReadsThePixelsAsTheyWere) {
  Display d;
  Exclusive(d);
  DisplaySurface* s = Plain(d, 4, 1, PixelFormat::Rgb565);
  for (int x = 0; x < 4; ++x) s->Pixels().Put(x, 0, uint32_t(x + 1));
  const DdRect from{0, 0, 3, 1}, to{1, 0, 4, 1};
  ASSERT_EQ(s->Blt(&to, s, &from, 0), DD_OK);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(s->Pixels().Get(x, 0), uint32_t(x == 0 ? 1 : x)) << x;
}

TEST_F(DisplayTest, FlipShowsTheBackBufferAndFlipToGdiReturnsToTheDesktopSurface) {
  Display d;
  Exclusive(d);
  DisplaySurface *front = nullptr, *back = nullptr;
  ASSERT_EQ(d.CreateSurface(ChainRequest(), &front), DD_OK);
  ASSERT_EQ(front->GetAttachedSurface(DDSCAPS_BACKBUFFER, &back), DD_OK);
  EXPECT_EQ(back->Flip(), DDERR_NOTFLIPPABLE);
  front->Pixels().Put(0, 0, 0x1111);
  back->Pixels().Put(0, 0, 0x2222);
  EXPECT_TRUE(d.GdiSurfaceVisible());
  ASSERT_EQ(front->Flip(), DD_OK);
  EXPECT_EQ(front->Pixels().Get(0, 0), 0x2222u);
  EXPECT_EQ(back->Pixels().Get(0, 0), 0x1111u);
  EXPECT_FALSE(d.GdiSurfaceVisible());
  ASSERT_EQ(d.FlipToGDISurface(), DD_OK);
  EXPECT_TRUE(d.GdiSurfaceVisible());
  EXPECT_EQ(front->Pixels().Get(0, 0), 0x1111u);
  EXPECT_EQ(d.FlipToGDISurface(), DD_OK);
  EXPECT_EQ(d.FlipCount(), 2u) << "already visible: no flip";
  LockedSurface lock;
  ASSERT_EQ(back->Lock(&lock), DD_OK);
  EXPECT_EQ(front->Flip(), DDERR_SURFACEBUSY);
}

TEST_F(DisplayTest, BackBufferFormatAndOfferedTextureFormatsFollowTheSettings) {
  struct Case {
    PixelFormat backBuffer;
    unsigned textures;
    std::vector<PixelFormat> offered;
  };
  const Case cases[] = {
      {PixelFormat::Rgb565,
       TextureAllFormats,
       {PixelFormat::Rgb565, PixelFormat::Argb1555, PixelFormat::Argb4444, PixelFormat::Argb8888}},
      {PixelFormat::Rgb555, TextureRgb565, {PixelFormat::Rgb565}},
      {PixelFormat::Argb4444, TextureRgb565 | TextureArgb1555, {PixelFormat::Rgb565, PixelFormat::Argb1555}},
      {PixelFormat::Rgb565, TextureArgb8888, {PixelFormat::Argb8888}},
      {PixelFormat::Rgb565, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.textures);
    CurrentDisplaySettings().backBufferFormat = c.backBuffer;
    CurrentDisplaySettings().textureFormats = c.textures;
    Display d;
    Exclusive(d);
    DisplaySurface* front = nullptr;
    ASSERT_EQ(d.CreateSurface(ChainRequest(), &front), DD_OK);
    EXPECT_EQ(front->Format(), c.backBuffer);
    EXPECT_EQ(d.TextureFormats(), c.offered);
    for (PixelFormat f :
         {PixelFormat::Rgb565, PixelFormat::Argb1555, PixelFormat::Argb4444, PixelFormat::Argb8888}) {
      SurfaceRequest r = PlainRequest(32, 32, DDSCAPS_TEXTURE | DDSCAPS_SYSTEMMEMORY);
      r.hasPixelFormat = true;
      r.format = f;
      DisplaySurface* t = nullptr;
      const bool offered = std::find(c.offered.begin(), c.offered.end(), f) != c.offered.end();
      EXPECT_EQ(d.CreateSurface(r, &t), offered ? DD_OK : DDERR_INVALIDPIXELFORMAT) << int(f);
    }
  }
}

TEST_F(DisplayTest, EveryGlyphHasInkAndNoTwoAreAlike) {
  std::set<std::string> seen;
  for (int c = 33; c <= 126; ++c) {
    const std::string rows(reinterpret_cast<const char*>(FontGlyph(uint8_t(c))), FontCellHeight);
    EXPECT_NE(rows, std::string(FontCellHeight, '\0')) << char(c);
    EXPECT_TRUE(seen.insert(rows).second) << char(c) << " repeats another glyph";
  }
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(FontGlyph(' ')), FontCellHeight),
            std::string(FontCellHeight, '\0'));
  EXPECT_EQ(FontGlyph(200), FontGlyph(7)) << "bytes outside the table share the box";
}

// The pixel of a glyph's cell: ink when its bit is set.
bool Ink(char c, int column, int row) { return (FontGlyph(uint8_t(c))[row] & (0x80 >> column)) != 0; }

TEST_F(DisplayTest, TextIsDrawnWithItsColoursAlignedAndClipped) {
  const uint32_t white = PackPixel(PixelFormat::Rgb565, 255, 255, 255);
  const uint32_t blue = PackPixel(PixelFormat::Rgb565, 0, 0, 255);
  const uint32_t old = 0x0841;
  struct Case {
    unsigned align;
    int x, y;       // the reference point
    int left, top;  // where the text's cell begins
  };
  const Case cases[] = {
      {TA_LEFT | TA_TOP, 10, 5, 10, 5},
      {TA_RIGHT | TA_BOTTOM, 26, 21, 10, 5},
      {TA_CENTER | TA_BASELINE, 18, 5 + FontBaseline, 10, 5},
  };
  for (const Case& c : cases) {
    for (int mode : {OPAQUE, TRANSPARENT}) {
      SCOPED_TRACE(testing::Message() << c.align << " mode " << mode);
      Surface s;
      s.Allocate(40, 30, PixelFormat::Rgb565);
      for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) s.Put(x, y, old);
      TextStyle style;
      style.textColour = RGBColour(255, 255, 255);
      style.backgroundColour = RGBColour(0, 0, 255);
      style.backgroundMode = mode;
      style.align = c.align;
      DrawText(s, c.x, c.y, "Ag", 2, style);
      const uint32_t paper = mode == OPAQUE ? blue : old;
      for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
          const int cx = x - c.left, cy = y - c.top;
          uint32_t want = old;
          if (cx >= 0 && cx < 16 && cy >= 0 && cy < 16) want = Ink("Ag"[cx / 8], cx % 8, cy) ? white : paper;
          ASSERT_EQ(s.Get(x, y), want) << x << "," << y;
        }
    }
  }
  // Spot checks against the design: the bar of 'A' and the descender of 'g'.
  EXPECT_TRUE(Ink('A', 3, 5));
  EXPECT_FALSE(Ink('A', 1, 5));
  EXPECT_TRUE(Ink('g', 2, 12));
  EXPECT_FALSE(Ink('A', 3, 12));
}

TEST_F(DisplayTest, TextPartlyOrWhollyOffTheSurfaceIsClipped) {
  const int positions[][2] = {{-4, -3}, {35, 25}, {-100000, 0}, {0, 2000000000}, {-2000000000, -2000000000}};
  for (const auto& p : positions) {
    Surface s;
    s.Allocate(40, 30, PixelFormat::Argb8888);
    TextStyle style;
    style.textColour = RGBColour(255, 0, 0);
    DrawText(s, p[0], p[1], "Hello, world", 12, style);
    int touched = 0;
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x) touched += s.Get(x, y) != 0;
    const bool visible = p[0] > -100 && p[1] < 100 && p[1] > -100;
    EXPECT_EQ(touched > 0, visible) << p[0] << "," << p[1];
  }
  // The glyph cut at the left edge keeps its right half where it belongs.
  Surface s;
  s.Allocate(8, 16, PixelFormat::Rgb565);
  TextStyle style;
  style.backgroundMode = TRANSPARENT;
  style.textColour = RGBColour(255, 255, 255);
  DrawText(s, -4, 0, "M", 1, style);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(s.Get(x, y) != 0, x < 4 && Ink('M', x + 4, y)) << x << "," << y;
}

TEST_F(DisplayTest, TextOutThroughTheDeviceContext) {
  Display d;
  Exclusive(d);
  DisplaySurface* s = Plain(d, 16, 16, PixelFormat::Rgb565);
  EXPECT_EQ(s->TextOut(0, 0, "x", 1), DDERR_NOTLOCKED) << "no context held";
  TextStyle* dc = nullptr;
  ASSERT_EQ(s->GetDC(&dc), DD_OK);
  dc->textColour = RGBColour(255, 0, 0);
  dc->backgroundColour = RGBColour(0, 255, 0);
  ASSERT_EQ(s->TextOut(0, 0, "Top", 1), DD_OK);
  ASSERT_EQ(s->ReleaseDC(), DD_OK);
  EXPECT_EQ(s->Pixels().Get(3, 5), 0xF800u) << "the bar of the T";
  EXPECT_EQ(s->Pixels().Get(0, 0), 0x07E0u) << "opaque background";
  EXPECT_EQ(s->Pixels().Get(8, 0), 0u) << "only one character asked for";
}

}  // namespace
