// The view rotations and the Render and Select viewports drawn headless,
// checked at chosen pixels of the back buffer.
#include "app/viewports.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "app/shell_state.h"
#include "model/cleanup.h"
#include "model/model.h"
#include "platform/scripted/scripted_ui.h"
#include "render/library_state.h"
#include "render/qlt.h"
#include "support/model_builder.h"

namespace {

struct Rgb {
  int r, g, b;
};

Rgb PixelAt(int x, int y) {
  uint8_t r, g, b, a;
  UnpackPixel(PixelFormat::Rgb565, _qlt_BackBuffer3->Pixels().Get(x, y), r, g, b, a);
  return {r, g, b};
}

// The viewport background (0.1, 0.2, 0.1) in 5-6-5.
bool IsBackground(Rgb p) { return p.r == 24 && p.g == 48 && p.b == 24; }

int Choose640x480(int, char (*)[128], int32_t (*)[8], int* device, int* mode) {
  *device = 0;
  *mode = 6;
  return 1;
}

// A triangle in the plane z, covering the screen point that (cx, cy) projects
// to, its normals facing the camera (which looks along +Z).
void AddFacing(float cx, float cy, float z, float size, int material) {
  AddTriangle(cx - size, cy - size, z, cx, cy + size, z, cx + size, cy - size, z, material);
  for (int k = 1; k <= 3; ++k) gModel.vertices[gModel.vertexCount - k].nz = -1;
}

class Viewports : public ::testing::Test {
 protected:
  void SetUp() override {
    _qlt_ResetLibraryForTests();
    ResetDisplaySettings();
    ASSERT_TRUE(qlt_Enumerate(nullptr, "Vornix 3D!", Choose640x480) &&
                qlt_Initialize(nullptr, 10000.0f, 60.0f))
        << qlt_GetErrorString();
    SetProjectionConstants(640);
    ClearModel();
    gShell = ShellState();
    gShell.cameraZ = -10;
    gView = ViewState();
  }
  void TearDown() override {
    _qlt_ResetLibraryForTests();
    ResetDisplaySettings();
    ClearModel();
  }
  // Creates the library materials and draws the viewports of the layout.
  void Draw(int layout) {
    RebuildLibraryMaterials();
    gShell.viewLayout = layout;
    ASSERT_EQ(1, RenderViewports()) << qlt_GetErrorString();
  }
  ScopedScriptedUI scripted;
};

// Screen points for the 640 x 480 Render viewport (layout 1) and camera 10
// units in front of the z = 0 plane: the view centre is (383, 239), and one
// unit is 44 pixels.
TEST_F(Viewports, RenderDrawsMaterialsAndSkipsHiddenOnes) {
  SetMaterial(0, 1, 0, 0);
  SetMaterial(1, 0, 0, 1);
  AddFacing(0, 0, 0, 1, 0);      // red at the centre
  AddFacing(-3, 0, 0, 0.5f, 1);  // blue, left of it, hidden below
  AddFacing(3, 0, 0, 0.5f, 1);   // blue, right of it
  gModel.materials[1].hidden = 1;
  _qlt_BackBuffer3->Pixels().Put(40, 40, 0x1234);
  Draw(1);
  const Rgb red = PixelAt(383, 239);
  EXPECT_TRUE(red.r > 60 && red.g == 0 && red.b == 0) << red.r << " " << red.g << " " << red.b;
  EXPECT_TRUE(IsBackground(PixelAt(383 - 132, 239))) << "hidden polygon";
  EXPECT_TRUE(IsBackground(PixelAt(383 + 132, 239))) << "hidden material, second polygon";
  EXPECT_TRUE(IsBackground(PixelAt(140, 10))) << "empty corner";
  EXPECT_EQ(0x1234u, _qlt_BackBuffer3->Pixels().Get(40, 40)) << "the panel is not touched";

  gModel.materials[1].hidden = 0;
  ASSERT_EQ(1, RenderViewports());
  EXPECT_GT(PixelAt(383 + 132, 239).b, 100) << "shown again";
  EXPECT_EQ(0, PixelAt(383 + 132, 239).r);

  // A polygon naming a material beyond the table is left out, not read.
  for (int k = 1; k <= 3; ++k) gModel.vertices[gModel.vertexCount - k].material = MaxMaterials + 5;
  ASSERT_EQ(1, RenderViewports());
  EXPECT_TRUE(IsBackground(PixelAt(383 + 132, 239))) << "material beyond the table";
}

// Translucent polygons blend with what lies behind them, also with each other
// when the nearer one comes first in the Model.
TEST_F(Viewports, TranslucentPolygonsBlendBackToFront) {
  SetMaterial(0, 1, 0, 0);
  SetMaterial(1, 0, 0, 1, 0.5f);
  SetMaterial(2, 0, 1, 0, 0.5f);
  AddFacing(-2, 0, 2, 3, 0);  // opaque red, left, behind: x 254 to 365 on the centre row
  AddFacing(0, 0, 0, 3, 1);   // translucent blue, nearest: x 317 to 449
  AddFacing(2, 0, 1, 3, 2);   // translucent green, right, between: x 403 to 523
  Draw(1);
  const Rgb redBehindBlue = PixelAt(340, 239), greenBehindBlue = PixelAt(425, 239), blue = PixelAt(383, 239);
  EXPECT_TRUE(redBehindBlue.r > 40 && redBehindBlue.b > 40);
  EXPECT_GT(greenBehindBlue.g, 60) << "the farther translucent polygon was drawn first";
  EXPECT_GT(greenBehindBlue.b, 40);
  // Half of the background shows through.
  EXPECT_TRUE(blue.r < 24 && blue.g > 0 && blue.b > 100) << blue.r << " " << blue.g << " " << blue.b;
}

// Past the library's queue the translucent polygons are drawn at once.
TEST_F(Viewports, TranslucentPolygonsBeyondTheQueueStillShow) {
  SetMaterial(0, 0, 0, 1, 0.5f);
  for (int i = 0; i < QltMaxTranslucentTriangles; ++i) AddFacing(-3, 0, 0, 0.1f, 0);
  AddFacing(0, 0, 0, 1, 0);
  Draw(1);
  EXPECT_GT(PixelAt(383, 239).b, 100);
}

// The Select viewport marks the hovered polygon (or in mouse mode 1 its whole
// material) and the PolyList; everything else is the grey normal material.
// A hover index left over from a larger Model marks nothing, although the
// record past the end still names a material. In layout 0 the Render
// viewport sits above the Select one.
TEST_F(Viewports, SelectShowsTheMarkingMaterials) {
  SetMaterial(0, 0, 0, 1);
  SetMaterial(1, 0, 0, 1);
  AddFacing(-3, 0, 0, 0.6f, 0);  // left
  AddFacing(0, 0, 0, 0.6f, 1);   // centre
  AddFacing(3, 0, 0, 0.6f, 1);   // right
  gModel.vertices[9].material = 1;
  for (int k = 0; k < 3; ++k) gModel.vertices[k].selected = 1;
  struct Case {
    int mouseMode, hover;
    const char* marks;  // left, centre, right: n normal, h hover, p PolyList
  } cases[] = {{0, 1, "phn"}, {2, 1, "phn"}, {1, 1, "phh"}, {1, 3, "pnn"}};
  auto expectMark = [](char mark, Rgb p) {
    if (mark == 'h') return p.r > 60 && p.g == 0 && p.b == 0;
    if (mark == 'p') return p.g > 60 && p.r == 0 && p.b == 0;
    return p.r > 40 && p.r == p.b && std::abs(p.g - p.r) <= 8;
  };
  for (const Case& c : cases) {
    gView.mouseMode = c.mouseMode;
    gView.hoverPolygon = c.hover;
    Draw(2);
    for (int i = 0; i < 3; ++i)
      EXPECT_TRUE(expectMark(c.marks[i], PixelAt(383 + 132 * (i - 1), 239))) << c.mouseMode << c.hover << i;
  }

  gView.mouseMode = 0;
  gView.hoverPolygon = 1;
  Draw(0);
  // Each viewport is half as tall, so the plane appears half the size.
  EXPECT_GT(PixelAt(383, 120).b, 100) << "Render viewport: the model's own blue";
  EXPECT_TRUE(expectMark('h', PixelAt(383, 360)));
}

// The name stands out from the background: white on a dark one, black on a
// light one, in the cell of its first letter at (130, 3).
TEST_F(Viewports, ViewpointNameContrastsWithTheBackground) {
  const float saved[3] = {viewportBackground[0], viewportBackground[1], viewportBackground[2]};
  for (const auto& c : {std::make_pair(0.1f, 255), std::make_pair(0.9f, 0)}) {
    for (float& channel : viewportBackground) channel = c.first;
    Draw(1);
    gShell.viewpoint = 1;  // "Top"
    DrawViewpointName();
    int textPixels = 0;
    for (int y = 3; y < 3 + 16; ++y)
      for (int x = 130; x < 138; ++x) textPixels += std::abs(PixelAt(x, y).g - c.second) <= 8;
    EXPECT_GT(textPixels, 6) << "background " << c.first;
    EXPECT_GT(std::abs(PixelAt(129, 3).g - c.second), 8) << "nothing left of the name";
  }
  std::memcpy(viewportBackground, saved, sizeof saved);
}

// ---- The view ----------------------------------------------------------------------

// Rodrigues' formula in double precision, applied to each row as the view
// rotation is: an independent account of the turns.
void TurnRows(double m[3][3], double angle, double x, double y, double z) {
  const double n = std::sqrt(x * x + y * y + z * z);
  x /= n, y /= n, z /= n;
  const double c = std::cos(angle), s = std::sin(angle);
  for (int r = 0; r < 3; ++r) {
    const double v[3] = {m[r][0], m[r][1], m[r][2]};
    const double dot = x * v[0] + y * v[1] + z * v[2];
    const double cross[3] = {y * v[2] - z * v[1], z * v[0] - x * v[2], x * v[1] - y * v[0]};
    const double axis[3] = {x, y, z};
    for (int k = 0; k < 3; ++k) m[r][k] = v[k] * c + cross[k] * s + axis[k] * dot * (1 - c);
  }
}

void ExpectRotation(const double expected[3][3]) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(expected[r][c], gShell.viewRotation[r][c], 1e-5) << r << c;
}

TEST(ViewRotation, StartUpViewIsTheThreeTurns) {
  gModel.modelRadius = 4;
  gShell = ShellState();
  gShell.panX = 3;
  gShell.viewpoint = 6;
  ApplyStartupView();
  const double pi = std::acos(-1.0);
  double m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  TurnRows(m, 3 * pi / 4, 0, 1, 0);
  TurnRows(m, pi / 8, -1, 0, 0);
  TurnRows(m, pi / 8, 0, 0, -1);
  ExpectRotation(m);
  EXPECT_EQ(-8.0f, gShell.cameraZ);
  EXPECT_EQ(0.0f, gShell.panX);
  EXPECT_EQ(0, gShell.viewpoint);
  // The model's top leans towards the camera: the view is from above.
  EXPECT_LT(gShell.viewRotation[2][1], 0.0f);

  RotateView(1.0f, 0, 0, 0);  // no axis: nothing happens
  ExpectRotation(m);
}

// Each named view turns a side of the Model towards the camera (which looks
// along +Z, so that side maps to (0, 0, -1)) and drops a pending key step;
// pan and zoom stay. Viewpoint 0 changes nothing.
TEST(ViewRotation, NamedViewpointsFaceTheirSide) {
  const float sides[7][3] = {{0, 0, 0}, {0, 1, 0}, {0, -1, 0}, {-1, 0, 0}, {1, 0, 0}, {0, 0, 1}, {0, 0, -1}};
  for (int viewpoint = 0; viewpoint < 7; ++viewpoint) {
    SCOPED_TRACE(ViewpointName(viewpoint));
    gShell = ShellState();
    gShell.panX = 2, gShell.cameraZ = -7;
    RotateView(0.3f, 1, 2, 3);
    const ShellState turned = gShell;
    RequestRotationStep(RotationStep::X);
    gShell.viewpoint = viewpoint;
    ApplyViewpoint();
    if (viewpoint == 0) {
      EXPECT_EQ(0, std::memcmp(turned.viewRotation, gShell.viewRotation, sizeof turned.viewRotation));
      continue;
    }
    for (int r = 0; r < 3; ++r) {
      const float* row = gShell.viewRotation[r];
      const float* side = sides[viewpoint];
      EXPECT_NEAR(r == 2 ? -1 : 0, row[0] * side[0] + row[1] * side[1] + row[2] * side[2], 1e-6);
    }
    EXPECT_EQ(2.0f, gShell.panX);
    EXPECT_EQ(-7.0f, gShell.cameraZ);
    const ShellState before = gShell;
    ApplyRotationSteps();
    EXPECT_EQ(0, std::memcmp(before.viewRotation, gShell.viewRotation, sizeof before.viewRotation))
        << "the pending step was dropped";
  }
}

TEST(ViewRotation, KeyStepsOnePerAxisFirstOfEachPairWins) {
  gShell = ShellState();
  gShell.viewpoint = 3;
  ClearRotationSteps();
  RequestRotationStep(RotationStep::Z);
  RequestRotationStep(RotationStep::X);
  RequestRotationStep(RotationStep::Up);
  EXPECT_EQ(0, gShell.viewpoint);
  ApplyRotationSteps();
  double m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  TurnRows(m, -0.034906585, 0, 1, 0);
  TurnRows(m, -0.034906585, 1, 0, 0);
  ExpectRotation(m);
  ApplyRotationSteps();  // Z was left for the next frame
  TurnRows(m, 0.034906585, 0, 1, 0);
  ExpectRotation(m);
  ApplyRotationSteps();
  ExpectRotation(m);
}

}  // namespace
