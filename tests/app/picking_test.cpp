// Hover, click and band picking, the Render viewport drags and the clipped
// line, headless on a 640 x 480 screen.
#include "app/picking.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "app/shell_state.h"
#include "app/viewports.h"
#include "platform/scripted/scripted_ui.h"
#include "render/library_state.h"
#include "render/qlt.h"
#include "support/model_builder.h"

namespace {

int Choose640x480(int, char (*)[128], int32_t (*)[8], int* device, int* mode) {
  *device = 0, *mode = 6;
  return 1;
}

// Clockwise on the screen (front side) unless reversed.
void AddFacing(float cx, float cy, float z, float size, int material, bool reversed = false) {
  const float s = reversed ? -size : size;
  AddTriangle(cx - s, cy - size, z, cx, cy + size, z, cx + s, cy - size, z, material);
}

// The camera is 10 units before z = 0: one unit is 44.1 pixels from the view
// centre (383.5, 239); in layout 0 the Select viewport adds 120 to y.
class Picking : public ::testing::Test {
 protected:
  void SetUp() override {
    _qlt_ResetLibraryForTests();
    ResetDisplaySettings();
    ASSERT_TRUE(qlt_Enumerate(nullptr, "Vornix 3D!", Choose640x480) &&
                qlt_Initialize(nullptr, 10000.0f, 60.0f));
    ClearModel();
    Reset(2, 0);
    gModel.modelRadius = 4;
    for (int m = 0; m < 4; ++m) SetMaterial(m, 0.5f, 0.5f, 0.5f);
    gModel.materials[3].hidden = 1;
    AddFacing(-3, 0, 0, 0.6f, 0);                                  // 0: (251, 239)
    AddFacing(0, 0, 0, 0.6f, 1);                                   // 1: (383, 239)
    AddFacing(3, 0, 0, 0.6f, 1);                                   // 2: (516, 239)
    AddFacing(0, 3, 0, 0.6f, 0, true);                             // 3: (383, 107), back side
    AddFacing(0, -3, 0, 0.6f, 2);                                  // 4: (383, 371)
    AddFacing(0, -3, 0, 0.6f, 2);                                  // 5: the same place and depth
    AddFacing(-3.6f, 3.6f, 2, 1.2f, 0);                            // 6: (251, 107), farther
    AddFacing(-3, 3, 0, 0.6f, 0);                                  // 7: in front of 6
    AddFacing(3, 3, 0, 0.6f, 3);                                   // 8: (516, 107), hidden
    AddFacing(3, -3, 0, 0.6f, MaxMaterials + 50);                  // 9: (516, 371), beyond the table
    AddTriangle(0, 0, -9.5f, 0.1f, 0, -9.6f, 0, 0.1f, -9.55f, 0);  // 10: nearer than 1 unit
  }
  void TearDown() override { _qlt_ResetLibraryForTests(), ResetDisplaySettings(), ClearModel(); }
  static void Reset(int layout, int mouseMode, bool allSelected = false) {
    gShell = ShellState();
    gShell.cameraZ = -10;
    gShell.viewLayout = layout;
    gView = ViewState();
    gView.mouseMode = mouseMode;
    SetProjectionConstants(640);
    for (int i = 0; i < gModel.vertexCount; ++i) gModel.vertices[i].selected = allSelected;
  }
  static std::string Selection() {
    std::string s;
    for (int i = 0; i < gModel.vertexCount / 3; ++i) s += gModel.vertices[3 * i].selected ? '1' : '0';
    return s;
  }
  ScopedScriptedUI scripted;
};

TEST_F(Picking, HoverFindsTheNearestFrontFacingPolygon) {
  const struct {
    int layout, mouseMode, x, y, expected;
  } cases[] = {
      {2, 0, 383, 239, 1},  {2, 1, 383, 239, 1},  {2, 2, 383, 239, -1},  // mode 2 never hovers
      {1, 0, 383, 239, -1}, {0, 0, 383, 359, 1},  {0, 0, 383, 239, -1},  // layouts
      {2, 0, 405, 220, -1}, {2, 0, 360, 225, -1},                        // in the bounds only
      {2, 0, 383, 107, -1}, {2, 0, 383, 371, 4},  {2, 0, 251, 107, 7},   // back, tie, nearer
      {2, 0, 516, 107, -1}, {2, 0, 516, 371, -1},                        // hidden, no material
  };
  for (const auto& c : cases) {
    Reset(c.layout, c.mouseMode);
    gShell.pointerX = uint16_t(c.x), gShell.pointerY = uint16_t(c.y);
    UpdateHoverPolygon();
    EXPECT_EQ(c.expected, gView.hoverPolygon) << c.layout << c.mouseMode << " " << c.x << "," << c.y;
  }
}

TEST_F(Picking, ClicksSelectAndDeselect) {
  const struct {
    int layout, mouseMode;
    bool left, allSelected;
    int y;
    const char* expected;
  } cases[] = {
      {2, 0, true, false, 239, "01000000000"}, {2, 0, false, true, 239, "10111111111"},
      {2, 1, true, false, 239, "01100000000"}, {2, 1, false, true, 239, "10011111111"},
      {0, 1, true, false, 359, "01100000000"}, {2, 0, true, false, 107, "00000000000"},
      {2, 2, true, false, 239, "00000000000"}, {1, 1, false, true, 239, "11111111111"},
      {0, 0, true, false, 239, "00000000000"},
  };
  for (const auto& c : cases) {
    Reset(c.layout, c.mouseMode, c.allSelected);
    PointerPressed(c.left, 383, c.y);
    EXPECT_EQ(c.expected, Selection()) << c.layout << c.mouseMode << c.left << " " << c.y;
  }
}

// Wholly inside the band, either side facing; never hidden, unknown or too
// near polygons.
TEST_F(Picking, RubberBandAddsAndRemoves) {
  const struct {
    int layout;
    bool left, allSelected;
    int x0, y0, viaX, viaY, x1, y1;
    const char* expected;
  } cases[] = {
      {2, true, false, 330, 60, 400, 200, 440, 280, "01010000000"},
      {2, false, true, 440, 280, 400, 200, 330, 60, "10101111111"},
      {2, true, false, 129, 2, 400, 200, 637, 477, "11111111000"},
      {2, true, false, 330, 60, 440, 280, 330, 60, "00000000000"},   // back at the start
      {2, true, false, 330, 60, 128, 200, 440, 280, "00000000000"},  // over the panel
      {0, true, false, 330, 300, 400, 350, 440, 400, "01000000000"},
      {0, true, false, 330, 300, 400, 240, 440, 400, "00000000000"},  // into the Render half
      {0, true, false, 330, 200, 400, 300, 440, 400, "00000000000"},  // pressed in it
  };
  for (const auto& c : cases) {
    Reset(c.layout, 2, c.allSelected);
    PointerPressed(c.left, c.x0, c.y0);
    PointerMoved(c.viaX, c.viaY);
    PointerMoved(c.x1, c.y1);
    PointerReleased(c.left, c.x1, c.y1);
    EXPECT_EQ(c.expected, Selection())
        << c.layout << " " << c.x0 << "," << c.y0 << " " << c.viaX << "," << c.viaY;
    EXPECT_EQ(0, gShell.bandVisible + gShell.bandArmedAdd + gShell.bandArmedRemove);
  }
}

// A degree per pixel about the current rows, 1% of the radius per pixel; not
// from the Select viewport.
TEST_F(Picking, DragsTurnAndPanTheRenderViewport) {
  Reset(0, 0);
  gShell.viewpoint = 6, gShell.redrawCount = 0;
  PointerPressed(true, 400, 100);
  PointerMoved(405, 100);
  PointerMoved(410, 100);
  PointerReleased(true, 410, 100);
  PointerPressed(true, 400, 300);
  PointerMoved(430, 330);
  PointerReleased(true, 430, 330);
  const double a = 10 * std::acos(-1.0) / 180;
  EXPECT_EQ(0, gShell.viewpoint);
  EXPECT_EQ(1, gShell.redrawCount);
  EXPECT_NEAR(std::cos(a), gShell.viewRotation[0][0], 1e-5);
  EXPECT_NEAR(-std::sin(a), gShell.viewRotation[0][2], 1e-5);
  EXPECT_NEAR(1, gShell.viewRotation[1][1], 1e-6);
  PointerPressed(false, 400, 100);
  PointerMoved(405, 103);
  EXPECT_FLOAT_EQ(-0.2f, gShell.panX);
  EXPECT_FLOAT_EQ(0.12f, gShell.panY);
}

// Clipped to x 129..637 and y 241..477 in layout 0, 2..477 otherwise.
TEST_F(Picking, ClippedLineStaysInsideTheViewports) {
  auto pixel = [](int x, int y) { return _qlt_BackBuffer3->Pixels().Get(x, y); };
  const struct {
    int layout, x1, y1, x2, y2, on[4], off[4];  // two points each
  } cases[] = {
      {0, 0, 300, 700, 300, {129, 300, 637, 300}, {128, 300, 638, 300}},
      {0, 200, 200, 500, 500, {241, 241, 477, 477}, {240, 240, 478, 478}},
      {2, 300, -50, 300, 600, {300, 2, 300, 477}, {300, 1, 300, 478}},
  };
  for (const auto& c : cases) {
    Reset(c.layout, 0);
    _qlt_BackBuffer3->ColorFill(nullptr, 0);
    EXPECT_EQ(1, DrawClippedLine(c.x1, c.y1, c.x2, c.y2, 1, 1, 1));
    for (int k = 0; k < 4; k += 2) {
      EXPECT_EQ(0xFFFFu, pixel(c.on[k], c.on[k + 1])) << c.on[k] << "," << c.on[k + 1];
      EXPECT_EQ(0u, pixel(c.off[k], c.off[k + 1])) << c.off[k] << "," << c.off[k + 1];
    }
  }

  auto drawn = [&] {
    int n = 0;
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x) n += pixel(x, y) != 0;
    return n;
  };
  Reset(0, 2);
  _qlt_BackBuffer3->ColorFill(nullptr, 0);
  EXPECT_EQ(1, DrawClippedLine(10, 300, 120, 400, 1, 1, 1));   // over the panel
  EXPECT_EQ(1, DrawClippedLine(100, 260, 140, 220, 1, 1, 1));  // past the corner
  gShell.bandStartX = 200, gShell.bandStartY = 300, gShell.pointerX = 300, gShell.pointerY = 350;
  DrawRubberBand();  // not visible
  EXPECT_EQ(0, drawn());
  gShell.bandVisible = 1;
  DrawRubberBand();
  EXPECT_EQ(2 * 101 + 2 * 49, drawn());
  EXPECT_EQ(0xFFFFu, pixel(300, 325));
}

}  // namespace
