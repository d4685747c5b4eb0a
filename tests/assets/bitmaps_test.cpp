// The screen bitmaps written by the build: the sizes and regions the shell
// blits from, and the colour keys as the library applies them.

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/bmp.h"
#include "platform/display.h"
#include "platform/scripted/scripted_ui.h"
#include "platform/surface.h"
#include "render/library_state.h"
#include "render/qlt.h"

namespace {

std::string BuiltFile(const char* name) { return std::string(VORNIX_BUILD_DIR) + "/" + name; }

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

Rgb At(const BmpImage& image, int x, int y) {
  const uint8_t* p = image.At(x, y);
  return {p[0], p[1], p[2]};
}

// Whether two column ranges of the image differ anywhere on the rows.
bool RegionsDiffer(const BmpImage& image, int leftA, int leftB, int width, int top, int bottom) {
  for (int y = top; y <= bottom; ++y)
    for (int x = 0; x < width; ++x)
      if (!(At(image, leftA + x, y) == At(image, leftB + x, y))) return true;
  return false;
}

class ScreenBitmaps : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"title.bmp", "mouse.bmp", "mater2.bmp", "topleft.bmp"})
      if (access(BuiltFile(name).c_str(), R_OK) != 0) GTEST_SKIP() << name << " was not built (no pango)";
  }
  static BmpImage Read(const char* name) {
    BmpImage image;
    EXPECT_EQ(BmpResult::Ok, ReadBmpFile(BuiltFile(name).c_str(), &image)) << name;
    return image;
  }
};

constexpr int ItemRows[19][2] = {{55, 67},   {68, 80},   {81, 93},   {94, 106},  {107, 119},
                                 {120, 132}, {159, 171}, {172, 184}, {185, 197}, {198, 210},
                                 {211, 223}, {250, 262}, {263, 275}, {276, 288}, {289, 301},
                                 {302, 314}, {341, 353}, {354, 366}, {367, 379}};

// Every item has a hover look of its own, the current mode's look differs
// from the plain hover, and the mode marker shows on the panel's own
// background, so the blit at x 0..19 leaves no box.
TEST_F(ScreenBitmaps, PanelHasEveryRegionTheShellBlits) {
  EXPECT_EQ(640, Read("title.bmp").width);
  const BmpImage panel = Read("mater2.bmp");
  ASSERT_EQ(640, panel.width);
  ASSERT_EQ(480, panel.height);
  for (int item = 0; item < 19; ++item)
    EXPECT_TRUE(RegionsDiffer(panel, 0, 128, 127, ItemRows[item][0], ItemRows[item][1])) << "item " << item;
  for (int item = 6; item <= 8; ++item) {
    EXPECT_TRUE(RegionsDiffer(panel, 128, 384, 127, ItemRows[item][0], ItemRows[item][1])) << "item " << item;
    EXPECT_TRUE(RegionsDiffer(panel, 0, 256, 20, ItemRows[item][0], ItemRows[item][1])) << "item " << item;
    EXPECT_TRUE(At(panel, 0, ItemRows[item][0]) == At(panel, 256, ItemRows[item][0])) << "item " << item;
    EXPECT_TRUE(At(panel, 19, ItemRows[item][1]) == At(panel, 275, ItemRows[item][1])) << "item " << item;
    int marked = 0;
    for (int y = ItemRows[item][0]; y <= ItemRows[item][1]; ++y)
      for (int x = 256; x < 276; ++x) marked += !(At(panel, x, y) == At(panel, 256, ItemRows[item][0]));
    EXPECT_GT(marked, 20) << "item " << item << " has no visible marker";
  }
}

int Choose640x480(int, char (*)[128], int32_t (*)[8], int* device, int* mode) {
  *device = 0;
  *mode = 6;
  return 1;
}

class KeyedBitmaps : public ScreenBitmaps {
 protected:
  void SetUp() override {
    ScreenBitmaps::SetUp();
    if (IsSkipped()) return;
    _qlt_ResetLibraryForTests();
    ResetDisplaySettings();
    ASSERT_TRUE(qlt_Enumerate(nullptr, "Vornix 3D!", Choose640x480) &&
                qlt_Initialize(nullptr, 10000.0f, 60.0f))
        << qlt_GetErrorString();
    ASSERT_EQ(1, qlt_SetBackgroundMaterialColor(0, 0, 1));
  }
  void TearDown() override {
    _qlt_ResetLibraryForTests();
    ResetDisplaySettings();
  }
  // Loads the file as the shell does and blits its region 1:1 to the top
  // left of a blue screen.
  void Blit(const char* name, int keyX, int keyY, int width, int height) {
    int slot = -1;
    ASSERT_EQ(1, qlt_BitmapLoad(&slot, BuiltFile(name).c_str(), 1, keyX, keyY)) << qlt_GetErrorString();
    ASSERT_EQ(1, qlt_SetRenderArea(1, 1, 0, 640, 0, 480));
    ASSERT_EQ(1, qlt_BitmapBlit(slot, QltBackBufferIndex, 0, width, 0, height, 0, width, 0, height))
        << qlt_GetErrorString();
  }
  static Rgb Screen(int x, int y) {
    uint8_t r, g, b, a;
    UnpackPixel(PixelFormat::Rgb565, _qlt_BackBuffer3->Pixels().Get(x, y), r, g, b, a);
    return {r, g, b};
  }
  static bool IsBlue(Rgb p) { return p.r == 0 && p.g == 0 && p.b > 200; }
  ScopedScriptedUI scripted;
};

// The pointer: outline and fill opaque from the tip down, the rest of its
// 11 x 19 pixels see-through where the key is.
TEST_F(KeyedBitmaps, PointerShowsOnlyTheArrow) {
  Blit("mouse.bmp", 5, 0, 11, 19);
  EXPECT_EQ((Rgb{0, 0, 0}), Screen(0, 0)) << "tip";
  EXPECT_TRUE(IsBlue(Screen(5, 0)));
  EXPECT_TRUE(IsBlue(Screen(10, 2)));
  int opaque = 0;
  for (int y = 0; y < 19; ++y)
    for (int x = 0; x < 11; ++x) opaque += !IsBlue(Screen(x, y));
  EXPECT_GT(opaque, 60);
  EXPECT_LT(opaque, 140);
}

// The marker: see-through at its corners, opaque at the tip it points with,
// which lands one row above the box corner at its centre column.
TEST_F(KeyedBitmaps, MarkerPointsDownAtItsCentre) {
  Blit("topleft.bmp", 0, 0, 39, 26);
  EXPECT_TRUE(IsBlue(Screen(0, 0)));
  EXPECT_TRUE(IsBlue(Screen(38, 25)));
  EXPECT_TRUE(IsBlue(Screen(0, 25)));
  EXPECT_FALSE(IsBlue(Screen(20, 25))) << "tip";
  EXPECT_FALSE(IsBlue(Screen(20, 8))) << "label";
}

}  // namespace
