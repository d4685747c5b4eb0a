#include "platform/display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

// A flip chain of front surface and one back buffer, as the 3D device wants it.
SurfaceRequest ChainRequest(bool systemMemory = false) {
  const unsigned caps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE;
  return {caps | (systemMemory ? DDSCAPS_SYSTEMMEMORY : 0u), 0, 0, 1};
}

SurfaceRequest PlainRequest(int w, int h, unsigned caps = DDSCAPS_OFFSCREENPLAIN) { return {caps, w, h}; }

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
    const SurfaceRequest r{DDSCAPS_OFFSCREENPLAIN, w, h, 0, true, f};
    DisplaySurface* s = nullptr;
    EXPECT_EQ(d.CreateSurface(r, &s), DD_OK);
    return s;
  }
};

// A mode switch also loses every video-memory surface, the flip chain too.
TEST_F(DisplayTest, CooperativeLevelAndModeRulesAndAModeSwitchLosesSurfaces) {
  CurrentDisplaySettings().refusedModes = {{800, 600, 16, 1600}};
  Display d;
  DisplaySurface* front = nullptr;
  EXPECT_EQ(d.CreateSurface(ChainRequest(), &front), DDERR_NOCOOPERATIVELEVELSET);
  EXPECT_EQ(d.SetDisplayMode(640, 480, 16), DDERR_NOEXCLUSIVEMODE);
  EXPECT_EQ(d.SetCooperativeLevel(nullptr, DDSCL_FULLSCREEN), DDERR_INVALIDPARAMS);
  Exclusive(d);
  EXPECT_EQ(d.SetDisplayMode(700, 500, 16), DDERR_INVALIDMODE) << "not a listed mode";
  EXPECT_EQ(d.SetDisplayMode(640, 480, 32), DDERR_INVALIDMODE) << "only 16 bits per pixel";
  EXPECT_EQ(d.SetDisplayMode(800, 600, 16), DDERR_INVALIDMODE) << "listed but refused";
  ASSERT_EQ(d.CreateSurface(ChainRequest(), &front), DD_OK);
  DisplaySurface* plain = Plain(d, 4, 4, PixelFormat::Rgb565);
  ASSERT_EQ(d.SetDisplayMode(1024, 768, 16), DD_OK);
  EXPECT_EQ(d.CurrentMode().width, 1024);
  EXPECT_EQ(plain->IsLost(), DDERR_SURFACELOST);
  EXPECT_EQ(front->Flip(), DDERR_SURFACELOST);
  EXPECT_EQ(front->Restore(), DD_OK);
  EXPECT_EQ(front->Flip(), DD_OK) << "restoring the front restores its chain";
}

TEST_F(DisplayTest, FlipChainWithAttachedZBufferFlipsAndTakesVideoMemory) {
  Display d;
  Exclusive(d);
  DisplaySurface *front = nullptr, *back = nullptr, *z = nullptr, *again = nullptr;
  ASSERT_EQ(d.CreateSurface(ChainRequest(), &front), DD_OK);
  EXPECT_EQ(d.CreateSurface(ChainRequest(), &again), DDERR_PRIMARYSURFACEALREADYEXISTS);
  ASSERT_EQ(front->GetAttachedSurface(DDSCAPS_BACKBUFFER, &back), DD_OK);
  EXPECT_EQ(back->Flip(), DDERR_NOTFLIPPABLE);
  front->Pixels().Put(0, 0, 0x1111);
  back->Pixels().Put(0, 0, 0x2222);
  ASSERT_EQ(front->Flip(), DD_OK);
  EXPECT_EQ(front->Pixels().Get(0, 0) << 16 | back->Pixels().Get(0, 0), 0x22221111u);
  // Showing the desktop flips once; when it already shows, nothing flips.
  ASSERT_EQ(d.FlipToGDISurface(), DD_OK);
  ASSERT_EQ(d.FlipToGDISurface(), DD_OK);
  EXPECT_EQ(d.FlipCount(), 2u);
  LockedSurface lock;
  ASSERT_EQ(back->Lock(&lock), DD_OK);
  EXPECT_EQ(front->Flip(), DDERR_SURFACEBUSY);
  ASSERT_EQ(back->Unlock(), DD_OK);

  SurfaceRequest zr = PlainRequest(640, 480, DDSCAPS_ZBUFFER);
  EXPECT_EQ(d.CreateSurface(zr, &z), DDERR_INVALIDPARAMS) << "no depth given";
  zr.zBufferBitDepth = 16;
  ASSERT_EQ(d.CreateSurface(zr, &z), DD_OK);
  EXPECT_EQ(back->GetAttachedSurface(DDSCAPS_ZBUFFER, &again), DDERR_NOTFOUND);
  ASSERT_EQ(back->AddAttachedSurface(z), DD_OK);
  EXPECT_EQ(back->AddAttachedSurface(z), DDERR_SURFACEALREADYATTACHED);
  ASSERT_EQ(back->GetAttachedSurface(DDSCAPS_ZBUFFER, &again), DD_OK);
  EXPECT_EQ(again, z);
  uint32_t total = 0, free = 0;
  ASSERT_EQ(d.GetAvailableVidMem(&total, &free), DD_OK);
  EXPECT_EQ(total - free, 3u * 640 * 480 * 2);

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
  EXPECT_EQ(d.VideoMemoryUsed(), 0u) << "a failed chain gives its front surface back";
  ASSERT_EQ(d.CreateSurface(ChainRequest(true), &s), DD_OK) << "the emulation device's chain";
  EXPECT_FALSE(s->InVideoMemory());
  // 640 x 640 surfaces of these caps: the result, and whether in video memory.
  const std::tuple<unsigned, int32_t, bool> cases[] = {
      {DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY, DD_OK, true},  // 800 KB of the 1 MB
      {DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY, DDERR_OUTOFVIDEOMEMORY, false},
      {DDSCAPS_TEXTURE | DDSCAPS_ALLOCONLOAD, DD_OK, false}};  // lands in system memory
  for (const auto& [caps, result, video] : cases) {
    DisplaySurface* t = nullptr;
    ASSERT_EQ(d.CreateSurface(PlainRequest(640, 640, caps), &t), result) << std::hex << caps;
    EXPECT_EQ(t != nullptr && t->InVideoMemory(), video) << std::hex << caps;
  }
  EXPECT_EQ(d.VideoMemoryUsed(), 640u * 640 * 2);
}

TEST_F(DisplayTest, LockDeviceContextBusyAndLostCodes) {
  Display d;
  Exclusive(d);
  DisplaySurface* a = Plain(d, 16, 16, PixelFormat::Rgb565);
  DisplaySurface* b = Plain(d, 4, 4, PixelFormat::Rgb565);
  LockedSurface lock;
  ASSERT_EQ(a->Lock(&lock), DD_OK);
  lock.bits[lock.pitch * 2 + 2 * 3] = 0x1F;  // (3, 2)
  EXPECT_EQ(a->Lock(&lock), DDERR_SURFACEBUSY);
  EXPECT_EQ(b->Blt(nullptr, a, nullptr, DDBLT_WAIT), DDERR_SURFACEBUSY) << "locked source";
  TextStyle* dc = nullptr;
  EXPECT_EQ(a->GetDC(&dc), DDERR_SURFACEBUSY);
  ASSERT_EQ(a->Unlock(), DD_OK);
  EXPECT_EQ(a->Unlock(), DDERR_NOTLOCKED);
  EXPECT_EQ(a->Pixels().Get(3, 2), 0x1Fu);

  EXPECT_EQ(a->TextOut(0, 0, "x", 1), DDERR_NOTLOCKED) << "no context held";
  ASSERT_EQ(a->GetDC(&dc), DD_OK);
  EXPECT_EQ(a->Lock(&lock), DDERR_SURFACEBUSY) << "a held device context counts as a lock";
  dc->textColour = RGBColour(255, 0, 0);
  ASSERT_EQ(a->TextOut(0, 0, "Top", 1), DD_OK);
  ASSERT_EQ(a->ReleaseDC(), DD_OK);
  EXPECT_EQ(a->Pixels().Get(3, 5), 0xF800u) << "the bar of the T";
  EXPECT_EQ(a->Pixels().Get(0, 0), 0xFFFFu) << "opaque white background";
  EXPECT_EQ(a->Pixels().Get(8, 0), 0u) << "only one character asked for";

  a->MarkLost();
  EXPECT_EQ(a->Lock(&lock), DDERR_SURFACELOST);
  EXPECT_EQ(b->Blt(nullptr, a, nullptr, 0), DDERR_SURFACELOST);
  EXPECT_EQ(a->Restore(), DD_OK);
  EXPECT_EQ(a->Lock(&lock), DD_OK);
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
  const char* expected[6] = {"......", ".rr...", ".rr...", ".bbww.", ".bbww.", "......"};
  const auto pixel = [](char c) {
    return c == 'r' ? 0xF800u : c == 'b' ? 0x001Fu : c == 'w' ? 0xFFFFu : 0x1234u;
  };
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(dst->Pixels().Get(x, y), pixel(expected[y][x])) << x << "," << y;

  const DdRect outside[] = {{0, 0, 7, 1}, {-1, 0, 1, 1}, {2, 2, 2, 3}, {3, 0, 1, 1}};
  for (const DdRect& r : outside) {
    EXPECT_EQ(dst->Blt(&r, src, nullptr, 0), DDERR_INVALIDRECT);
    EXPECT_EQ(dst->Blt(nullptr, src, &r, 0), DDERR_INVALIDRECT);
  }

  // Within one surface the source is read as it was before the blit.
  DisplaySurface* row = Plain(d, 4, 1, PixelFormat::Rgb565);
  for (int x = 0; x < 4; ++x) row->Pixels().Put(x, 0, uint32_t(x + 1));
  const DdRect left{0, 0, 3, 1}, right{1, 0, 4, 1};
  ASSERT_EQ(row->Blt(&right, row, &left, 0), DD_OK);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(row->Pixels().Get(x, 0), uint32_t(x == 0 ? 1 : x)) << x;
}

// Each texture format offered exactly when its settings bit is set.
TEST_F(DisplayTest, BackBufferFormatAndOfferedTextureFormatsFollowTheSettings) {
  CurrentDisplaySettings().backBufferFormat = PixelFormat::Rgb555;
  CurrentDisplaySettings().textureFormats = TextureRgb565 | TextureArgb8888;
  Display d;
  Exclusive(d);
  DisplaySurface *front = nullptr, *t = nullptr;
  ASSERT_EQ(d.CreateSurface(ChainRequest(), &front), DD_OK);
  EXPECT_EQ(front->Format(), PixelFormat::Rgb555);
  EXPECT_EQ(d.TextureFormats(), (std::vector<PixelFormat>{PixelFormat::Rgb565, PixelFormat::Argb8888}));
  for (PixelFormat f : {PixelFormat::Argb1555, PixelFormat::Argb8888}) {
    const SurfaceRequest r{DDSCAPS_TEXTURE | DDSCAPS_SYSTEMMEMORY, 32, 32, 0, true, f};
    EXPECT_EQ(d.CreateSurface(r, &t), f == PixelFormat::Argb8888 ? DD_OK : DDERR_INVALIDPIXELFORMAT);
  }
}

// The pixel of a glyph's cell: ink when its bit is set.
bool Ink(char c, int column, int row) { return (FontGlyph(uint8_t(c))[row] & (0x80 >> column)) != 0; }

TEST_F(DisplayTest, EveryGlyphHasInkAndNoTwoAreAlike) {
  std::set<std::string> seen;
  for (int c = 32; c <= 126; ++c) {
    const std::string rows(reinterpret_cast<const char*>(FontGlyph(uint8_t(c))), FontCellHeight);
    EXPECT_EQ(rows == std::string(FontCellHeight, '\0'), c == ' ') << char(c);
    EXPECT_TRUE(seen.insert(rows).second) << char(c) << " repeats another glyph";
  }
  const std::string box(reinterpret_cast<const char*>(FontGlyph(7)), FontCellHeight);
  EXPECT_TRUE(FontGlyph(200) == FontGlyph(7) && seen.insert(box).second)
      << "bytes outside the table share a box";
  // The letters stand on the baseline and descenders go below it.
  EXPECT_TRUE(Ink('A', 3, 5) && Ink('g', 2, FontBaseline) && !Ink('A', 3, FontBaseline));
}

TEST_F(DisplayTest, TextIsDrawnWithItsColoursAlignedAndClipped) {
  const uint32_t white = 0xFFFF, blue = 0x001F, old = 0x0841;
  // The reference point, and where the text's cell then begins.
  const int cases[][5] = {{TA_LEFT | TA_TOP, 10, 5, 10, 5},
                          {TA_RIGHT | TA_BOTTOM, 26, 21, 10, 5},
                          {TA_CENTER | TA_BASELINE, 18, 5 + FontBaseline, 10, 5},
                          {TA_LEFT | TA_TOP, -4, 20, -4, 20}};  // cut by the left and bottom edges
  for (const auto& [align, x, y, left, top] : cases) {
    for (int mode : {OPAQUE, TRANSPARENT}) {
      SCOPED_TRACE(testing::Message() << align << " mode " << mode << " at " << x);
      Surface s;
      s.Allocate(40, 30, PixelFormat::Rgb565);
      for (int i = 0; i < 40 * 30; ++i) s.Put(i % 40, i / 40, old);
      DrawText(s, x, y, "Ag", 2, {RGBColour(255, 255, 255), RGBColour(0, 0, 255), mode, unsigned(align)});
      for (int i = 0; i < 40 * 30; ++i) {
        const int cx = i % 40 - left, cy = i / 40 - top;
        uint32_t want = old;
        if (cx >= 0 && cx < 16 && cy >= 0 && cy < 16)
          want = Ink("Ag"[cx / 8], cx % 8, cy) ? white : mode == OPAQUE ? blue : old;
        ASSERT_EQ(s.Get(i % 40, i / 40), want) << i % 40 << "," << i / 40;
      }
    }
  }
  // Far off the surface, even where the text's far end would overflow an int.
  const int positions[][2] = {{-4, -3}, {35, 25}, {-100000, 0}, {0, 2000000000}, {-2000000000, -2000000000}};
  for (const auto& p : positions) {
    Surface s;
    s.Allocate(40, 30, PixelFormat::Argb8888);
    DrawText(s, p[0], p[1], "Hello, world", 12, {RGBColour(255, 0, 0)});
    const bool touched = std::any_of(s.pixels.begin(), s.pixels.end(), [](uint8_t v) { return v != 0; });
    EXPECT_EQ(touched, p[0] > -100 && p[1] < 100 && p[1] > -100) << p[0] << "," << p[1];
  }
}

}  // namespace
