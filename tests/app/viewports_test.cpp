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

void ExpectNear(Rgb expected, Rgb actual, int tolerance, const char* where) {
  EXPECT_NEAR(expected.r, actual.r, tolerance) << where;
  EXPECT_NEAR(expected.g, actual.g, tolerance) << where;
  EXPECT_NEAR(expected.b, actual.b, tolerance) << where;
}

// The viewport background (0.1, 0.2, 0.1) in 5-6-5.
const Rgb Background = {24, 48, 24};

int Choose640x480(int, char (*)[128], int32_t (*)[8], int* device, int* mode) {
  *device = 0;
  *mode = 6;
  return 1;
}

// Sets every normal of the last polygon to face the camera, which looks along +Z.
void FaceCamera() {
  for (int k = 1; k <= 3; ++k) {
    ModelVertex& v = gModel.vertices[gModel.vertexCount - k];
    v.nx = v.ny = 0, v.nz = -1;
  }
}

// A triangle in the plane z, covering the screen point that (cx, cy) projects to.
void AddFacing(float cx, float cy, float z, float size, int material) {
  AddTriangle(cx - size, cy - size, z, cx, cy + size, z, cx + size, cy - size, z, material);
  FaceCamera();
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
// units in front of the z = 0 plane; the view centre is (383, 239).
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
  ExpectNear(Background, PixelAt(383 - 132, 239), 0, "hidden polygon");
  ExpectNear(Background, PixelAt(383 + 132, 239), 0, "hidden material, second polygon");
  ExpectNear(Background, PixelAt(140, 10), 0, "empty corner");
  EXPECT_EQ(0x1234u, _qlt_BackBuffer3->Pixels().Get(40, 40)) << "the panel is not touched";

  gModel.materials[1].hidden = 0;
  gShell.viewLayout = 1;
  ASSERT_EQ(1, RenderViewports());
  EXPECT_GT(PixelAt(383 + 132, 239).b, 100) << "shown again";
  EXPECT_EQ(0, PixelAt(383 + 132, 239).r);

  // A polygon naming a material beyond the table is left out, not read.
  for (int k = 1; k <= 3; ++k) gModel.vertices[gModel.vertexCount - k].material = MaxMaterials + 5;
  ASSERT_EQ(1, RenderViewports());
  ExpectNear(Background, PixelAt(383 + 132, 239), 0, "material beyond the table");
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
  const Rgb redBehindBlue = PixelAt(340, 239);
  EXPECT_GT(redBehindBlue.r, 40);
  EXPECT_GT(redBehindBlue.b, 40);
  const Rgb greenBehindBlue = PixelAt(425, 239);
  EXPECT_GT(greenBehindBlue.g, 60) << "the farther translucent polygon was drawn first";
  EXPECT_GT(greenBehindBlue.b, 40);
  const Rgb blueAlone = PixelAt(383, 239);
  EXPECT_LT(blueAlone.r, Background.r) << "half of the background shows through";
  EXPECT_GT(blueAlone.g, 0);
  EXPECT_GT(blueAlone.b, 100);
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
// In layout 0 the Render viewport sits above it.
TEST_F(Viewports, SelectShowsTheMarkingMaterials) {
  SetMaterial(0, 0, 0, 1);
  SetMaterial(1, 0, 0, 1);
  AddFacing(-3, 0, 0, 0.6f, 0);  // left
  AddFacing(0, 0, 0, 0.6f, 1);   // centre
  AddFacing(3, 0, 0, 0.6f, 1);   // right
  for (int k = 0; k < 3; ++k) gModel.vertices[k].selected = 1;
  gView.hoverPolygon = 1;
  const int left = 383 - 132, right = 383 + 132;
  struct Case {
    int mouseMode;
    char left, centre, right;  // n normal, h hover, p PolyList
  } cases[] = {{0, 'p', 'h', 'n'}, {2, 'p', 'h', 'n'}, {1, 'p', 'h', 'h'}};
  auto expectMark = [](char mark, Rgb pixel) {
    SCOPED_TRACE(mark);
    if (mark == 'h') {
      EXPECT_TRUE(pixel.r > 60 && pixel.g == 0 && pixel.b == 0);
    } else if (mark == 'p') {
      EXPECT_TRUE(pixel.g > 60 && pixel.r == 0 && pixel.b == 0);
    } else {
      EXPECT_TRUE(pixel.r > 40 && pixel.r == pixel.b && std::abs(pixel.g - pixel.r) <= 8);
    }
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mouseMode);
    gView.mouseMode = c.mouseMode;
    Draw(2);
    expectMark(c.left, PixelAt(left, 239));
    expectMark(c.centre, PixelAt(383, 239));
    expectMark(c.right, PixelAt(right, 239));
  }

  gView.mouseMode = 0;
  Draw(0);
  // Each viewport is half as tall, so the plane appears half the size.
  EXPECT_GT(PixelAt(383, 120).b, 100) << "Render viewport: the model's own blue";
  expectMark('h', PixelAt(383, 360));
}

TEST_F(Viewports, AStaleHoverIndexMarksNothing) {
  SetMaterial(0, 0, 0, 1);
  AddFacing(0, 0, 0, 1, 0);
  gView.hoverPolygon = 5;
  Draw(2);
  EXPECT_EQ(PixelAt(383, 239).r, PixelAt(383, 239).b) << "normal grey";
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

// The name stands out from the background: white on a dark one, black on a
// light one, in the cell of its first letter at (130, 3).
TEST_F(Viewports, ViewpointNameContrastsWithTheBackground) {
  const float saved[3] = {viewportBackground[0], viewportBackground[1], viewportBackground[2]};
  struct Case {
    float level;
    int text;
  } cases[] = {{0.1f, 255}, {0.9f, 0}};
  for (const Case& c : cases) {
    for (float& channel : viewportBackground) channel = c.level;
    Draw(1);
    gShell.viewpoint = 1;  // "Top"
    DrawViewpointName();
    int textPixels = 0;
    for (int y = 3; y < 3 + 16; ++y)
      for (int x = 130; x < 138; ++x) textPixels += std::abs(PixelAt(x, y).g - c.text) <= 8;
    EXPECT_GT(textPixels, 6) << "background " << c.level;
    EXPECT_GT(std::abs(PixelAt(129, 3).g - c.text), 8) << "nothing left of the name";
  }
  for (int c = 0; c < 3; ++c) viewportBackground[c] = saved[c];
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
// along +Z, so that side maps to (0, 0, -1)); pan and zoom stay.
TEST(ViewRotation, NamedViewpointsFaceTheirSide) {
  struct Case {
    int viewpoint;
    float side[3];
  } cases[] = {{1, {0, 1, 0}}, {2, {0, -1, 0}}, {3, {-1, 0, 0}},
               {4, {1, 0, 0}}, {5, {0, 0, 1}},  {6, {0, 0, -1}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(ViewpointName(c.viewpoint));
    gShell = ShellState();
    gShell.panX = 2, gShell.cameraZ = -7;
    RotateView(0.3f, 1, 2, 3);
    RequestRotationStep(RotationStep::X);
    gShell.viewpoint = c.viewpoint;
    ApplyViewpoint();
    const float expected[3] = {0, 0, -1};
    for (int r = 0; r < 3; ++r) {
      const float* row = gShell.viewRotation[r];
      EXPECT_NEAR(expected[r], row[0] * c.side[0] + row[1] * c.side[1] + row[2] * c.side[2], 1e-6);
    }
    EXPECT_EQ(2.0f, gShell.panX);
    EXPECT_EQ(-7.0f, gShell.cameraZ);
    const ShellState before = gShell;
    ApplyRotationSteps();
    EXPECT_EQ(0, std::memcmp(before.viewRotation, gShell.viewRotation, sizeof before.viewRotation))
        << "the pending step was dropped";
  }
  gShell.viewpoint = 0;
  const ShellState before = gShell;
  ApplyViewpoint();
  EXPECT_EQ(0, std::memcmp(before.viewRotation, gShell.viewRotation, sizeof before.viewRotation));
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

TEST(ViewRotation, ProjectionConstantsByWidth) {
  struct Case {
    int width;
    float scale, x, y;
  } cases[] = {
      {640, 441, 383.5f, 239}, {800, 578.8125f, 463.5f, 299}, {1024, 771.75f, 575.5f, 383}, {720, 0, 0, 0}};
  for (const Case& c : cases) {
    SetProjectionConstants(c.width);
    EXPECT_EQ(c.scale, gView.projectionScale) << c.width;
    EXPECT_EQ(c.x, gView.screenCentreX) << c.width;
    EXPECT_EQ(c.y, gView.screenCentreY) << c.width;
  }
}

}  // namespace
