// Hover and click picking, the rubber band, the Render viewport drags and the
// clipped line, headless on a 640 x 480 screen.
#include "app/picking.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "app/shell_state.h"
#include "app/viewports.h"
#include "model/model.h"
#include "platform/scripted/scripted_ui.h"
#include "render/library_state.h"
#include "render/qlt.h"
#include "support/model_builder.h"

namespace {

int Choose640x480(int, char (*)[128], int32_t (*)[8], int* device, int* mode) {
  *device = 0;
  *mode = 6;
  return 1;
}

// A triangle in the plane z around (cx, cy), running clockwise on the screen
// (front-facing) or, reversed, anticlockwise.
void AddFacing(float cx, float cy, float z, float size, int material, bool reversed = false) {
  if (reversed)
    AddTriangle(cx + size, cy - size, z, cx, cy + size, z, cx - size, cy - size, z, material);
  else
    AddTriangle(cx - size, cy - size, z, cx, cy + size, z, cx + size, cy - size, z, material);
}

// With the camera 10 units before z = 0 one unit is 44.1 pixels, and the
// view centre is (383.5, 239); in layout 0 the Select viewport adds 120 to y.
class Picking : public ::testing::Test {
 protected:
  void SetUp() override {
    _qlt_ResetLibraryForTests();
    ResetDisplaySettings();
    ASSERT_TRUE(qlt_Enumerate(nullptr, "Vornix 3D!", Choose640x480) &&
                qlt_Initialize(nullptr, 10000.0f, 60.0f))
        << qlt_GetErrorString();
    ClearModel();
    gShell = ShellState();
    gShell.cameraZ = -10;
    gView = ViewState();
    SetProjectionConstants(640);
    gModel.modelRadius = 4;
    for (int m = 0; m < 4; ++m) SetMaterial(m, 0.5f, 0.5f, 0.5f);
    gModel.materials[3].hidden = 1;
    AddFacing(-3, 0, 0, 0.6f, 0);        // 0: at (251, 239)
    AddFacing(0, 0, 0, 0.6f, 1);         // 1: at (383, 239)
    AddFacing(3, 0, 0, 0.6f, 1);         // 2: at (516, 239)
    AddFacing(0, 3, 0, 0.6f, 0, true);   // 3: at (383, 107), back side
    AddFacing(0, -3, 0, 0.6f, 2);        // 4: at (383, 371)
    AddFacing(0, -3, 0, 0.6f, 2);        // 5: the same place and depth
    AddFacing(-3.6f, 3.6f, 2, 1.2f, 0);  // 6: at (251, 107), farther
    AddFacing(-3, 3, 0, 0.6f, 0);        // 7: in front of 6
    AddFacing(3, 3, 0, 0.6f, 3);         // 8: at (516, 107), hidden material
    AddFacing(3, -3, 0, 0.6f, MaxMaterials + 50);  // 9: at (516, 371), beyond the table
    // 10: closer than one unit to the camera, projected around (383..494, 141..239).
    AddTriangle(0, 0, -9.5f, 0.1f, 0, -9.6f, 0, 0.1f, -9.55f, 0);
  }
  void TearDown() override {
    _qlt_ResetLibraryForTests();
    ResetDisplaySettings();
    ClearModel();
  }
  static std::string Selection() {
    std::string s;
    for (int i = 0; i < gModel.vertexCount / 3; ++i) s += gModel.vertices[3 * i].selected ? '1' : '0';
    return s;
  }
  static void SelectAllPolygons(bool all) {
    for (int i = 0; i < gModel.vertexCount; ++i) gModel.vertices[i].selected = all ? 1 : 0;
  }
  ScopedScriptedUI scripted;
};

TEST_F(Picking, HoverFindsTheNearestFrontFacingPolygon) {
  struct Case {
    int layout, mouseMode, x, y, expected;
    const char* what;
  } cases[] = {
      {2, 0, 383, 239, 1, "single polygon"},
      {2, 1, 383, 239, 1, "material mode hovers the same polygon"},
      {2, 2, 383, 239, -1, "rectangle mode never hovers"},
      {1, 0, 383, 239, -1, "layout 1 has no Select viewport"},
      {0, 0, 383, 359, 1, "layout 0: the lower half"},
      {0, 0, 383, 239, -1, "layout 0: the Render half"},
      {2, 0, 405, 220, -1, "inside the bounds, outside the triangle"},
      {2, 0, 383, 107, -1, "back side"},
      {2, 0, 383, 371, 4, "equal depth keeps the lower index"},
      {2, 0, 251, 107, 7, "the nearer polygon, though later"},
      {2, 0, 516, 107, -1, "hidden material"},
      {2, 0, 516, 371, -1, "material beyond the table"},
  };
  for (const Case& c : cases) {
    gShell.viewLayout = c.layout;
    gView.mouseMode = c.mouseMode;
    gShell.pointerX = uint16_t(c.x), gShell.pointerY = uint16_t(c.y);
    UpdateHoverPolygon();
    EXPECT_EQ(c.expected, gView.hoverPolygon) << c.what;
  }
}

TEST_F(Picking, ClicksSelectAndDeselect) {
  struct Case {
    int layout, mouseMode;
    bool left, allSelected;
    int x, y;
    const char* expected;
  } cases[] = {
      {2, 0, true, false, 383, 239, "01000000000"},
      {2, 0, false, true, 383, 239, "10111111111"},
      {2, 1, true, false, 383, 239, "01100000000"},   // the whole material
      {2, 1, false, true, 383, 239, "10011111111"},
      {0, 1, true, false, 383, 359, "01100000000"},
      {2, 0, true, false, 383, 107, "00000000000"},   // back side
      {2, 2, true, false, 383, 239, "00000000000"},   // a band starts instead
      {1, 0, true, false, 383, 239, "00000000000"},   // no Select viewport
      {1, 1, false, true, 383, 239, "11111111111"},
      {0, 0, true, false, 383, 239, "00000000000"},   // the Render viewport only drags
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.layout << " " << c.mouseMode << " " << c.left << " " << c.y);
    gShell = ShellState();
    gShell.cameraZ = -10;
    gShell.viewLayout = c.layout;
    gView.mouseMode = c.mouseMode;
    SelectAllPolygons(c.allSelected);
    PointerPressed(c.left, c.x, c.y);
    EXPECT_EQ(c.expected, Selection());
    EXPECT_EQ(0, gShell.hintVisible);
    EXPECT_EQ(1, c.left ? gShell.leftHeld : gShell.rightHeld);
    EXPECT_EQ(c.x, gShell.anchorX);
    EXPECT_EQ(c.y, gShell.bandStartY);
    PointerReleased(c.left, c.x, c.y);
    EXPECT_EQ(0, gShell.leftHeld + gShell.rightHeld);
  }
}

// Polygons wholly inside the band, whichever way they face; hidden ones,
// those beyond the material table and those too close to the camera never.
TEST_F(Picking, RubberBandAddsAndRemoves) {
  struct Point {
    int x, y;
  };
  struct Case {
    int layout;
    bool left, allSelected;
    Point start, via, end;
    const char* expected;
  } cases[] = {
      {2, true, false, {330, 60}, {400, 200}, {440, 280}, "01010000000"},
      {2, false, true, {440, 280}, {400, 200}, {330, 60}, "10101111111"},
      {2, true, false, {129, 2}, {400, 200}, {637, 477}, "11111111000"},
      {2, true, false, {330, 60}, {440, 280}, {330, 60}, "00000000000"},   // back at the start
      {2, true, false, {330, 60}, {128, 200}, {440, 280}, "00000000000"},  // left over the panel
      {0, true, false, {330, 300}, {400, 350}, {440, 400}, "01000000000"},
      {0, true, false, {330, 300}, {400, 240}, {440, 400}, "00000000000"},  // into the Render half
      {0, true, false, {330, 200}, {400, 300}, {440, 400}, "00000000000"},  // pressed in the Render half
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.layout << " " << c.start.x << "," << c.start.y << " " << c.via.x
                                    << "," << c.via.y);
    gShell = ShellState();
    gShell.cameraZ = -10;
    gShell.viewLayout = c.layout;
    gView.mouseMode = 2;
    SelectAllPolygons(c.allSelected);
    PointerPressed(c.left, c.start.x, c.start.y);
    PointerMoved(c.via.x, c.via.y);
    PointerMoved(c.end.x, c.end.y);
    PointerReleased(c.left, c.end.x, c.end.y);
    EXPECT_EQ(c.expected, Selection());
    EXPECT_EQ(0, gShell.bandVisible + gShell.bandArmedAdd + gShell.bandArmedRemove);
  }
}

// A left drag turns the view by one degree per pixel about its current rows
// and names it "3D"; a right drag pans by 1% of the radius per pixel.
// Neither acts in the Select viewport or without a held button.
TEST_F(Picking, DragsTurnAndPanTheRenderViewport) {
  gShell.viewpoint = 6;
  gShell.redrawCount = 0;
  PointerPressed(true, 400, 100);
  PointerMoved(405, 100);
  PointerMoved(410, 100);
  const double a = 10 * std::acos(-1.0) / 180;
  EXPECT_EQ(0, gShell.viewpoint);
  EXPECT_EQ(1, gShell.redrawCount);
  EXPECT_NEAR(std::cos(a), gShell.viewRotation[0][0], 1e-5);
  EXPECT_NEAR(-std::sin(a), gShell.viewRotation[0][2], 1e-5);
  EXPECT_NEAR(1, gShell.viewRotation[1][1], 1e-6);
  PointerReleased(true, 410, 100);
  const ShellState turned = gShell;
  PointerMoved(420, 120);
  PointerPressed(true, 400, 300);  // the Select viewport in layout 0
  PointerMoved(430, 330);
  PointerReleased(true, 430, 330);
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 3; ++k) EXPECT_EQ(turned.viewRotation[r][k], gShell.viewRotation[r][k]);

  PointerPressed(false, 400, 100);
  PointerMoved(405, 103);
  EXPECT_FLOAT_EQ(-0.2f, gShell.panX);
  EXPECT_FLOAT_EQ(0.12f, gShell.panY);

  gShell.redrawCount = 0;
  PointerMoved(127, 103);
  EXPECT_EQ(1, gShell.redrawCount) << "entering the panel";
}

// Lines are cut at the viewports' edges: x 129..637, y 241..477 in layout 0
// and 2..477 otherwise.
TEST_F(Picking, ClippedLineStaysInsideTheViewports) {
  struct Point {
    int x, y;
  };
  struct Case {
    int layout, x1, y1, x2, y2;
    Point on[2], off[2];  // on: drawn, off: just outside
  } cases[] = {
      {0, 0, 300, 700, 300, {{129, 300}, {637, 300}}, {{128, 300}, {638, 300}}},
      {0, 200, 200, 500, 500, {{241, 241}, {477, 477}}, {{240, 240}, {478, 478}}},
      {2, 300, -50, 300, 600, {{300, 2}, {300, 477}}, {{300, 1}, {300, 478}}},
      {1, 300, 0, 300, 10, {{300, 2}, {300, 10}}, {{300, 1}, {300, 11}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x1 << "," << c.y1 << " " << c.x2 << "," << c.y2);
    gShell.viewLayout = c.layout;
    _qlt_BackBuffer3->ColorFill(nullptr, 0);
    EXPECT_EQ(1, DrawClippedLine(c.x1, c.y1, c.x2, c.y2, 1, 1, 1));
    for (const Point& p : c.on) EXPECT_EQ(0xFFFFu, _qlt_BackBuffer3->Pixels().Get(p.x, p.y)) << p.x << "," << p.y;
    for (const Point& p : c.off) EXPECT_EQ(0u, _qlt_BackBuffer3->Pixels().Get(p.x, p.y)) << p.x << "," << p.y;
  }

  // Nothing at all: over the panel, past the corner, and a band not shown.
  auto drawnPixels = [] {
    int n = 0;
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x) n += _qlt_BackBuffer3->Pixels().Get(x, y) != 0;
    return n;
  };
  gShell.viewLayout = 0;
  _qlt_BackBuffer3->ColorFill(nullptr, 0);
  EXPECT_EQ(1, DrawClippedLine(10, 300, 120, 400, 1, 1, 1));
  EXPECT_EQ(1, DrawClippedLine(100, 260, 140, 220, 1, 1, 1));
  gView.mouseMode = 2;
  gShell.bandStartX = 200, gShell.bandStartY = 300, gShell.pointerX = 300, gShell.pointerY = 350;
  DrawRubberBand();
  EXPECT_EQ(0, drawnPixels());

  gShell.bandVisible = 1;
  DrawRubberBand();
  for (Point p : {Point{250, 300}, Point{300, 325}, Point{250, 350}, Point{200, 325}})
    EXPECT_EQ(0xFFFFu, _qlt_BackBuffer3->Pixels().Get(p.x, p.y)) << p.x << "," << p.y;
  EXPECT_EQ(2 * 101 + 2 * 49, drawnPixels());
}

}  // namespace
