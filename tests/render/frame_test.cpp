#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/scripted/scripted_ui.h"
#include "render/library_state.h"
#include "render/qlt.h"

namespace {

const QltOrientation Identity = {{1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 0, 0}};

int Choose(int, char (*)[128], int32_t (*)[8], int* device, int* mode) {
  *device = 0, *mode = 6;  // 640 x 480
  return 1;
}

std::string ErrorMessage() {
  const std::string text = qlt_GetErrorString();
  const size_t first = text.find('\n');
  return text.substr(first + 1, text.rfind('\n', text.size() - 2) - first - 1);
}

uint32_t State(D3DRENDERSTATETYPE s) {
  uint32_t v = 0;
  _qlt_Device->GetRenderState(s, &v);
  return v;
}

// A triangle around (cx, 0, z) of size a, clockwise on screen so that the
// device's default culling keeps it, with one normal for all corners.
std::vector<D3DVERTEX> Triangle(float cx, float z, float a, D3DVECTOR n) {
  return {{cx - a, -a, z, n.x, n.y, n.z, 0, 0},
          {cx, 2 * a, z, n.x, n.y, n.z, 0, 0},
          {cx + a, -a, z, n.x, n.y, n.z, 0, 0}};
}

// Green channel of a back-buffer pixel (Rgb565), widened to 8 bits.
int Green(int x, int y) {
  uint8_t r, g, b, a;
  UnpackPixel(PixelFormat::Rgb565, _qlt_BackBuffer3->Pixels().Get(x, y), r, g, b, a);
  return g;
}

class Frame : public testing::Test {
 protected:
  void SetUp() override {
    TearDown();
    ASSERT_TRUE(qlt_Enumerate(nullptr, "Vornix 3D!", Choose) && qlt_Initialize(nullptr, 10000.0f, 60.0f))
        << qlt_GetErrorString();
  }
  void TearDown() override {
    _qlt_ResetLibraryForTests();
    ResetDisplaySettings();
  }
  // Opens a frame with a white material, so that only the light decides
  // the triangles' shade.
  void BeginWhiteFrame() {
    qlt_AddMaterial(1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, nullptr, 0, nullptr);
    ASSERT_EQ(1, qlt_CreateMaterials(nullptr));
    ASSERT_EQ(1, qlt_RenderBegin(&Identity));
    ASSERT_TRUE(qlt_SetMaterial(1) && qlt_SetMatrix(&Identity));
  }
  ScopedScriptedUI scripted;
};

TEST_F(Frame, SetMatrixOnlyInsideAFrameAndRelativeToTheCamera) {
  const QltOrientation camera = {{0, 1, 0, -1, 0, 0, 0, 0, 1}, {100, 0, 0}};
  const QltOrientation object = {{0, 0, 1, 0, 1, 0, -1, 0, 0}, {101, 0, 0}};
  EXPECT_EQ(0, qlt_SetMatrix(&object));
  EXPECT_EQ("Can not call qlt_SetMatrix outside\nof an RenderBegin() and RenderEnd()\npair!", ErrorMessage());

  ASSERT_EQ(1, qlt_RenderBegin(&camera));
  ASSERT_EQ(1, qlt_SetMatrix(&object));
  D3DMATRIX world, view;
  _qlt_Device->GetTransform(D3DTRANSFORMSTATE_WORLD, &world);
  _qlt_Device->GetTransform(D3DTRANSFORMSTATE_VIEW, &view);
  // World: the transposed rotation and the offset from the camera.
  EXPECT_EQ((std::vector<float>{0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 1, 0, 0, 1}),
            std::vector<float>(&world._11, &world._11 + 16));
  // View: the camera's rotation as it is, no translation.
  EXPECT_EQ((std::vector<float>{0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}),
            std::vector<float>(&view._11, &view._11 + 16));
  EXPECT_EQ(0, qlt_RenderBegin(&camera)) << "a frame inside a frame";
  EXPECT_EQ(1, _qlt_RenderActive);
  ASSERT_EQ(1, qlt_RenderEnd());
  EXPECT_EQ(0, qlt_SetMatrix(&object));
  EXPECT_EQ(0, qlt_RenderEnd()) << "no frame to end";
  EXPECT_EQ("_qlt_Device->EndScene()", ErrorMessage());
}

// The flip shows the back buffer; the new back buffer's z-buffer and
// colour are cleared as asked.
TEST_F(Frame, PageFlipClearsZBufferAndColourAsAsked) {
  Surface& z = _qlt_ZBuffer3->Pixels();
  for (const auto& [clearZ, clearColour] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}}) {
    _qlt_FrontBuffer3->Pixels().Put(5, 5, 0x1234);
    _qlt_BackBuffer3->Pixels().Put(5, 5, 0x1234);
    z.Put(5, 5, 0x0042);
    const uint64_t flips = _qlt_DirectDraw2->FlipCount();
    ASSERT_EQ(1, qlt_PageFlip(clearZ, clearColour));
    EXPECT_EQ(flips + 1, _qlt_DirectDraw2->FlipCount());
    EXPECT_EQ(clearColour ? 0u : 0x1234u, _qlt_BackBuffer3->Pixels().Get(5, 5)) << clearZ << clearColour;
    EXPECT_EQ(clearZ ? 0xFFFFu : 0x0042u, z.Get(5, 5)) << clearZ << clearColour;
  }
}

TEST_F(Frame, RenderAreaGivesTheViewportAndClearsOnlyItself) {
  D3DVIEWPORT2 v{};
  auto place = [&v] {
    _qlt_Device->GetViewport2(_qlt_Viewport, &v);
    return std::vector<uint32_t>{v.dwX, v.dwY, v.dwWidth, v.dwHeight};
  };
  EXPECT_EQ((std::vector<uint32_t>{0, 0, 638, 478}), place());
  EXPECT_NEAR(0.7492, v.dvClipY, 5e-5);
  EXPECT_FLOAT_EQ(2 * v.dvClipY, v.dvClipHeight);
  const QltRenderArea& area = _qlt_RenderArea;
  EXPECT_EQ((std::vector<float>{0, 639, 0, 479}),
            (std::vector<float>{area.left, area.right, area.top, area.bottom}));

  // A sub-area is cleared from its left/top up to (not including) its right/bottom.
  Surface& back = _qlt_BackBuffer3->Pixels();
  for (int x : {99, 100, 299, 300}) back.Put(x, 60, 0x1234);
  ASSERT_EQ(1, qlt_SetRenderArea(0, 1, 100.9f, 300.5f, 50, 250));
  EXPECT_EQ(
      (std::vector<uint32_t>{0x1234, 0, 0, 0x1234}),
      (std::vector<uint32_t>{back.Get(99, 60), back.Get(100, 60), back.Get(299, 60), back.Get(300, 60)}));
  EXPECT_EQ((std::vector<uint32_t>{100, 50, 198, 199}), place());

  // Areas one or two pixels across get a one-pixel viewport instead of a
  // wrapped-around width.
  for (float right : {10.0f, 11.0f}) {
    ASSERT_EQ(1, qlt_SetRenderArea(1, 1, 10, right, 20, 20)) << qlt_GetErrorString();
    EXPECT_EQ((std::vector<uint32_t>{10, 20, 1, 1}), place());
    EXPECT_FLOAT_EQ(0.75f * 640 / 480, v.dvClipY);
  }
  // Reversed, negative, non-finite or huge areas are refused and the
  // viewport and light stay as they were.
  const D3DVIEWPORTHANDLE viewport = _qlt_Viewport;
  const D3DLIGHTHANDLE light = _qlt_Light;
  const float bad[][4] = {{10, 5, 0, 10}, {-1, 10, 0, 10}, {0, 10, 0, NAN}, {0, 1e9f, 0, 10}};
  for (const auto& a : bad)
    EXPECT_TRUE(!qlt_SetRenderArea(1, 1, a[0], a[1], a[2], a[3]) && viewport == _qlt_Viewport &&
                light == _qlt_Light)
        << a[0] << " " << a[1] << " " << a[3];
  EXPECT_EQ("The render area is empty, reversed or off the screen", ErrorMessage());
}

// Default light from above: a face turned up is lit, a face turned down
// has only the ambient half. Turning the light round swaps them; a zero
// direction is refused and changes nothing.
TEST_F(Frame, LightShadesTrianglesOnTheBackBuffer) {
  // At z = 10 the triangles' centroids (x = -2 and 2, y = -1/3) land near
  // these pixels of the 638 x 478 viewport.
  const int leftX = 208, rightX = 430, y = 257;
  auto draw = [&] {
    EXPECT_EQ(1, qlt_PageFlip(1, 1));
    BeginWhiteFrame();
    EXPECT_EQ(1, qlt_DrawTriangles(Triangle(-2, 10, 1, {0, 1, 0}).data(), 3));
    EXPECT_EQ(1, qlt_DrawTriangles(Triangle(2, 10, 1, {0, -1, 0}).data(), 3));
    int32_t count = -1;
    ASSERT_EQ(1, qlt_RenderEnd(&count));
    EXPECT_EQ(2, count);
    EXPECT_EQ(0, Green(319, 100)) << "background";
  };
  draw();
  EXPECT_GT(Green(leftX, y), 240);
  EXPECT_NEAR(128, Green(rightX, y), 8);

  ASSERT_EQ(1, qlt_SetLightLocationColor(0, -3, 0, 1, 1, 1));
  ASSERT_EQ(1, qlt_SetRenderArea(1, 1, 0, 639, 0, 479)) << "the light is made again";
  draw();
  EXPECT_NEAR(128, Green(leftX, y), 8);
  EXPECT_GT(Green(rightX, y), 240);

  EXPECT_EQ(0, qlt_SetLightLocationColor(0, 0, 0, 1, 0, 0));
  EXPECT_EQ("The direction towards the light must not be the zero vector", ErrorMessage());
  EXPECT_TRUE(_qlt_LightDirection.y == -1.0f && _qlt_LightColor.g == 1.0f);
}

// Three translucent triangles around the view axis, drawn without a depth
// test so that the last one drawn shows: the small one at 5 (queued
// first), a middle one also at 5, a large one at 7. Farthest first, and of
// equal distances the later one first, leaves each visible in its own ring.
TEST_F(Frame, TranslucentQueueDrawsBackToFrontLaterFirstOnTies) {
  qlt_SetLightLocationColor(0, 1, 0, 0.4f, 0.4f, 0.4f);
  BeginWhiteFrame();
  _qlt_Device->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_FALSE);
  // Shades 0.9, 0.7 and 0.5 from the normals' angles to the light.
  ASSERT_EQ(1, qlt_QueueTranslucentTriangle(Triangle(0, 5, 0.3f, {0, 1, 0}).data()));
  ASSERT_EQ(1, qlt_QueueTranslucentTriangle(Triangle(0, 5, 0.6f, {0, 0.5f, -0.8660254f}).data()));
  ASSERT_EQ(1, qlt_QueueTranslucentTriangle(Triangle(0, 7, 1.5f, {0, 0, -1}).data()));
  int32_t count = 0;
  ASSERT_EQ(1, qlt_RenderEnd(&count));
  EXPECT_EQ(3, count);
  // The centre, below the small one and below the middle one.
  EXPECT_NEAR(230, Green(319, 239), 6);
  EXPECT_NEAR(178, Green(319, 288), 6);
  EXPECT_NEAR(128, Green(319, 330), 6);
}

// Outside a frame, beyond 1499 a frame or not finite, a triangle is
// refused; the next frame starts with an empty queue.
TEST_F(Frame, TranslucentQueueHolds1499TrianglesAFrame) {
  std::vector<D3DVERTEX> t = Triangle(0, 10, 0.05f, {0, 1, 0});
  EXPECT_EQ(0, qlt_QueueTranslucentTriangle(t.data()));
  ASSERT_EQ(1, qlt_RenderBegin(&Identity));
  for (int i = 0; i < QltMaxTranslucentTriangles; ++i)
    ASSERT_EQ(1, qlt_QueueTranslucentTriangle(t.data())) << i;
  EXPECT_EQ(0, qlt_QueueTranslucentTriangle(t.data()));
  EXPECT_EQ("Too many translucent triangles in one frame", ErrorMessage());
  t[1].y = NAN;
  EXPECT_EQ(0, qlt_QueueTranslucentTriangle(t.data()));
  int32_t count = 0;
  ASSERT_EQ(1, qlt_RenderEnd(&count));
  EXPECT_TRUE(count == 1499 && _qlt_Device->TrianglesDrawn() == 1499u) << count;
  ASSERT_EQ(1, qlt_RenderBegin(&Identity));
  ASSERT_EQ(1, qlt_RenderEnd(&count));
  EXPECT_EQ(0, count);
}

// Options set outside a frame wait for qlt_RenderBegin; inside one they
// apply at once, and a cull mode the device refuses is not kept.
TEST_F(Frame, RenderOptionsApplyAtRenderBeginOrAtOnceInsideAFrame) {
  qlt_SetSpecular(1);
  qlt_SetCullMode(D3DCULL_NONE);
  qlt_SetFog(1, 1.0f, 0.5f, 2.0f, 100.0f, 900.0f);
  EXPECT_EQ(0u, State(D3DRENDERSTATE_SPECULARENABLE));
  ASSERT_EQ(1, qlt_RenderBegin(&Identity));
  // The fog colour's channels are clamped to 0 .. 1.
  EXPECT_EQ((std::vector<uint32_t>{1, D3DCULL_NONE, 1, 0xFFFF7FFF}),
            (std::vector<uint32_t>{State(D3DRENDERSTATE_SPECULARENABLE), State(D3DRENDERSTATE_CULLMODE),
                                   State(D3DRENDERSTATE_FOGENABLE), State(D3DRENDERSTATE_FOGCOLOR)}));
  qlt_SetBilinearFiltering(1);
  qlt_SetDithering(1);
  EXPECT_EQ(uint32_t(D3DFILTER_LINEAR), State(D3DRENDERSTATE_TEXTUREMIN));
  EXPECT_EQ(1u, State(D3DRENDERSTATE_DITHERENABLE));
  EXPECT_EQ(1, qlt_SetCullMode(99));
  EXPECT_EQ(uint32_t(D3DCULL_NONE), _qlt_CullMode);
  ASSERT_EQ(1, qlt_RenderEnd());
}

// A message box inside a frame shows the desktop surface and leaves the
// frame open; shutdown ends an open frame.
TEST_F(Frame, MessageBoxInsideAFrameKeepsTheFrame) {
  ASSERT_EQ(1, qlt_PageFlip(0, 0));
  ASSERT_FALSE(_qlt_DirectDraw2->GdiSurfaceVisible());
  ASSERT_EQ(1, qlt_RenderBegin(&Identity));
  MessageBoxSafe("text", "caption", MB_OK);
  ASSERT_EQ(1u, scripted.ui.messages.size());
  EXPECT_TRUE(_qlt_DirectDraw2->GdiSurfaceVisible());
  EXPECT_TRUE(_qlt_RenderActive == 1 && _qlt_Device->InScene());
  qlt_Shutdown();
  EXPECT_EQ(0, _qlt_RenderActive);
}

}  // namespace
