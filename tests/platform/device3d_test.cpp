#include "platform/device3d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr int kSize = 64;

struct Rgb {
  int r, g, b;
};

// A 64 x 64 565 target with a viewport over all of it. The projection is the
// identity, so x and y in -1 .. 1 span the target (y up) and z is the depth.
class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    target.Allocate(kSize, kSize, PixelFormat::Rgb565);
    ASSERT_EQ(device.SetRenderTarget(&target), D3D_OK);
    ASSERT_EQ(device.CreateViewport(&viewport), D3D_OK);
    ASSERT_EQ(device.AddViewport(viewport), D3D_OK);
    SetViewport(0, 0, kSize, kSize);
    ASSERT_EQ(device.SetCurrentViewport(viewport), D3D_OK);
    material = MakeMaterial({1, 1, 1, 1}, {0, 0, 0, 0});
    device.SetLightState(D3DLIGHTSTATE_MATERIAL, material);
    device.SetLightState(D3DLIGHTSTATE_AMBIENT, 0xFF000000);
    device.SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    device.SetRenderState(D3DRENDERSTATE_SPECULARENABLE, 0);
    ASSERT_EQ(device.CreateLight(&light), D3D_OK);
    SetLight({0, 0, 1});  // shines along +z: faces with normal -z face it
    ASSERT_EQ(device.AddLight(viewport, light), D3D_OK);
    ClearAll(0, 0, 0);
  }

  void SetViewport(uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    D3DVIEWPORT2 v{sizeof(D3DVIEWPORT2), x, y, w, h, -1.0f, 1.0f, 2.0f, 2.0f, 0.0f, 1.0f};
    ASSERT_EQ(device.SetViewport2(viewport, &v), D3D_OK);
  }

  D3DMATERIALHANDLE MakeMaterial(D3DCOLORVALUE diffuse, D3DCOLORVALUE emissive, D3DCOLORVALUE specular = {},
                                 float power = 0) {
    D3DMATERIALHANDLE h = 0;
    EXPECT_EQ(device.CreateMaterial(&h), D3D_OK);
    D3DMATERIAL m{};
    m.dwSize = sizeof(m);
    m.diffuse = diffuse;
    m.ambient = diffuse;
    m.emissive = emissive;
    m.specular = specular;
    m.power = power;
    EXPECT_EQ(device.SetMaterial(h, &m), D3D_OK);
    return h;
  }

  void SetLight(D3DVECTOR direction) {
    D3DLIGHT2 l{};
    l.dwSize = sizeof(l);
    l.dltType = D3DLIGHT_DIRECTIONAL;
    l.dcvColor = {1, 1, 1, 1};
    l.dvDirection = direction;
    l.dwFlags = D3DLIGHT_ACTIVE;
    ASSERT_EQ(device.SetLight(light, &l), D3D_OK);
  }

  void ClearAll(float r, float g, float b) {
    const D3DMATERIALHANDLE background = MakeMaterial({r, g, b, 1}, {0, 0, 0, 0});
    ASSERT_EQ(device.SetBackground(viewport, background), D3D_OK);
    const D3DRECT all{0, 0, kSize, kSize};
    ASSERT_EQ(device.Clear(viewport, 1, &all, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER), D3D_OK);
  }

  int32_t Draw(const D3DVERTEX* v, uint32_t count) {
    device.BeginScene();
    const int32_t result = device.DrawPrimitive(D3DPT_TRIANGLELIST, D3DVT_VERTEX, v, count, 0);
    device.EndScene();
    return result;
  }

  // A quad over x0..x1, y0..y1 (clip units, y up) at depth z, clockwise on
  // the screen, normal (0, 0, nz), u 0..u1 left to right, v 0..v1 top down.
  void DrawQuad(float x0, float y0, float x1, float y1, float z, float nz = -1, float u1 = 1, float v1 = 1) {
    const D3DVERTEX topLeft{x0, y1, z, 0, 0, nz, 0, 0}, topRight{x1, y1, z, 0, 0, nz, u1, 0};
    const D3DVERTEX bottomLeft{x0, y0, z, 0, 0, nz, 0, v1}, bottomRight{x1, y0, z, 0, 0, nz, u1, v1};
    const D3DVERTEX v[6] = {topLeft, topRight, bottomRight, topLeft, bottomRight, bottomLeft};
    ASSERT_EQ(Draw(v, 6), D3D_OK);
  }

  Rgb At(int x, int y) const {
    uint8_t r, g, b, a;
    UnpackPixel(target.format, target.Get(x, y), r, g, b, a);
    return {r, g, b};
  }

  Surface target;
  Direct3DDevice device;
  D3DVIEWPORTHANDLE viewport = 0;
  D3DMATERIALHANDLE material = 0;
  D3DLIGHTHANDLE light = 0;
};

TEST_F(DeviceTest, ClearFillsOnlyItsRectangleWithTheBackgroundColour) {
  ClearAll(0, 0, 0);
  const D3DMATERIALHANDLE red = MakeMaterial({1, 0, 0, 1}, {0, 0, 0, 0});
  device.SetBackground(viewport, red);
  const D3DRECT rect{10, 20, 30, 40};
  ASSERT_EQ(device.Clear(viewport, 1, &rect, D3DCLEAR_TARGET), D3D_OK);
  EXPECT_EQ(target.Get(10, 20), 0xF800u);
  EXPECT_EQ(target.Get(29, 39), 0xF800u);
  EXPECT_EQ(target.Get(30, 39), 0u) << "right edge is exclusive";
  EXPECT_EQ(target.Get(29, 40), 0u) << "bottom edge is exclusive";
  EXPECT_EQ(target.Get(9, 25), 0u);

  // A rectangle reaching past the target is cut to it.
  const D3DRECT huge{-1000, -1000, 1 << 30, 1 << 30};
  ASSERT_EQ(device.Clear(viewport, 1, &huge, D3DCLEAR_TARGET), D3D_OK);
  EXPECT_EQ(target.Get(0, 0), 0xF800u);
  EXPECT_EQ(target.Get(kSize - 1, kSize - 1), 0xF800u);
}

TEST_F(DeviceTest, ZOnlyClearKeepsColourAndLetsFartherPixelsThroughAgain) {
  device.SetLightState(D3DLIGHTSTATE_MATERIAL, MakeMaterial({0, 0, 0, 1}, {0, 1, 0, 0}));
  DrawQuad(-1, -1, 1, 1, 0.2f);
  device.SetLightState(D3DLIGHTSTATE_MATERIAL, MakeMaterial({0, 0, 0, 1}, {1, 0, 0, 0}));
  DrawQuad(-1, -1, 1, 1, 0.8f);
  EXPECT_EQ(At(32, 32).g, 255) << "the farther quad is hidden";
  const D3DRECT all{0, 0, kSize, kSize};
  ASSERT_EQ(device.Clear(viewport, 1, &all, D3DCLEAR_ZBUFFER), D3D_OK);
  EXPECT_EQ(At(32, 32).g, 255) << "a z-only clear keeps the colour";
  DrawQuad(-1, -1, 1, 1, 0.8f);
  EXPECT_EQ(At(32, 32).r, 255);
}

TEST_F(DeviceTest, FaceTowardsTheLightIsLitAndFaceAwayGetsOnlyAmbient) {
  device.SetLightState(D3DLIGHTSTATE_AMBIENT, 0xFF404040);
  DrawQuad(-1, -1, 0, 1, 0.5f, -1);  // left half faces the light
  DrawQuad(0, -1, 1, 1, 0.5f, +1);   // right half faces away
  const Rgb towards = At(16, 32), away = At(48, 32);
  EXPECT_GT(towards.r, 240);
  EXPECT_NEAR(away.r, 0x40, 8) << "ambient x material ambient";
  // Light at 60 degrees to the normal gives half of the diffuse term.
  SetLight({0, std::sqrt(3.0f) / 2, 0.5f});
  device.SetLightState(D3DLIGHTSTATE_AMBIENT, 0xFF000000);
  DrawQuad(-1, -1, 1, 1, 0.4f, -1);
  EXPECT_NEAR(At(32, 32).r, 128, 8);
}

TEST_F(DeviceTest, NearerTriangleWinsInEitherOrderAndEqualDepthPassesOnlyWithLessEqual) {
  const D3DMATERIALHANDLE red = MakeMaterial({0, 0, 0, 1}, {1, 0, 0, 0});
  const D3DMATERIALHANDLE blue = MakeMaterial({0, 0, 0, 1}, {0, 0, 1, 0});
  struct Case {
    float redZ, blueZ;
    bool redFirst;
    uint32_t zFunc;
    bool expectRed;
  };
  const Case cases[] = {
      {0.3f, 0.6f, true, D3DCMP_LESSEQUAL, true},  {0.3f, 0.6f, false, D3DCMP_LESSEQUAL, true},
      {0.6f, 0.3f, true, D3DCMP_LESSEQUAL, false}, {0.5f, 0.5f, true, D3DCMP_LESSEQUAL, false},
      {0.5f, 0.5f, false, D3DCMP_LESSEQUAL, true}, {0.5f, 0.5f, true, D3DCMP_LESS, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.redZ << " " << c.blueZ << " " << c.redFirst << " " << c.zFunc);
    ClearAll(0, 0, 0);
    device.SetRenderState(D3DRENDERSTATE_ZFUNC, c.zFunc);
    for (int pass = 0; pass < 2; ++pass) {
      const bool drawRed = (pass == 0) == c.redFirst;
      device.SetLightState(D3DLIGHTSTATE_MATERIAL, drawRed ? red : blue);
      DrawQuad(-1, -1, 1, 1, drawRed ? c.redZ : c.blueZ);
    }
    const Rgb p = At(20, 40);
    EXPECT_EQ(p.r, c.expectRed ? 255 : 0);
    EXPECT_EQ(p.b, c.expectRed ? 0 : 255);
  }
}

TEST_F(DeviceTest, EachCullModeDropsTheFacesOfItsWinding) {
  device.SetLightState(D3DLIGHTSTATE_MATERIAL, MakeMaterial({0, 0, 0, 1}, {1, 1, 1, 0}));
  // On the screen (y down): top, right, bottom-left is clockwise.
  const D3DVERTEX top{0, 0.8f, 0.5f, 0, 0, -1, 0, 0}, right{0.8f, -0.8f, 0.5f, 0, 0, -1, 0, 0},
      left{-0.8f, -0.8f, 0.5f, 0, 0, -1, 0, 0};
  const D3DVERTEX clockwise[3] = {top, right, left}, counterClockwise[3] = {top, left, right};
  struct Case {
    uint32_t mode;
    bool clockwiseDrawn, counterClockwiseDrawn;
  };
  const Case cases[] = {{D3DCULL_NONE, true, true}, {D3DCULL_CW, false, true}, {D3DCULL_CCW, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    ASSERT_EQ(device.SetRenderState(D3DRENDERSTATE_CULLMODE, c.mode), D3D_OK);
    ClearAll(0, 0, 0);
    Draw(clockwise, 3);
    EXPECT_EQ(At(32, 32).r == 255, c.clockwiseDrawn);
    ClearAll(0, 0, 0);
    Draw(counterClockwise, 3);
    EXPECT_EQ(At(32, 32).r == 255, c.counterClockwiseDrawn);
  }
  uint32_t initial = 0;
  Direct3DDevice fresh;
  fresh.GetRenderState(D3DRENDERSTATE_CULLMODE, &initial);
  EXPECT_EQ(initial, uint32_t(D3DCULL_CCW));
}

// A 2 x 2 texture: red top left, green top right, blue bottom left, white
// bottom right.
Surface Quadrants(PixelFormat format, uint8_t alpha = 255) {
  Surface s;
  s.Allocate(2, 2, format);
  s.Put(0, 0, PackPixel(format, 255, 0, 0, alpha));
  s.Put(1, 0, PackPixel(format, 0, 255, 0, alpha));
  s.Put(0, 1, PackPixel(format, 0, 0, 255, alpha));
  s.Put(1, 1, PackPixel(format, 255, 255, 255, alpha));
  return s;
}

TEST_F(DeviceTest, TextureHasUZeroAtTheLeftAndVZeroAtTheTopAndWraps) {
  for (PixelFormat format : {PixelFormat::Rgb565, PixelFormat::Argb4444, PixelFormat::Argb8888}) {
    SCOPED_TRACE(int(format));
    D3DTEXTUREHANDLE texture = 0;
    ASSERT_EQ(device.CreateTexture(Quadrants(format), &texture), D3D_OK);
    ASSERT_EQ(device.SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, texture), D3D_OK);
    DrawQuad(-1, -1, 1, 1, 0.5f);
    EXPECT_EQ(At(8, 8).r, 255);
    EXPECT_EQ(At(8, 8).g, 0);
    EXPECT_EQ(At(56, 8).g, 255);
    EXPECT_EQ(At(56, 8).r, 0);
    EXPECT_EQ(At(8, 56).b, 255);
    EXPECT_EQ(At(8, 56).r, 0);
    EXPECT_EQ(At(56, 56).r, 255);
    EXPECT_EQ(At(56, 56).b, 255);
    // u and v 0 .. 2 repeat the texture twice each way.
    ClearAll(0, 0, 0);
    DrawQuad(-1, -1, 1, 1, 0.5f, -1, 2, 2);
    EXPECT_EQ(At(4, 4).r, 255);
    EXPECT_EQ(At(36, 4).r, 255);
    EXPECT_EQ(At(20, 4).g, 255);
    EXPECT_EQ(At(36, 36).r, 255);
    ClearAll(0, 0, 0);
  }
}

TEST_F(DeviceTest, ModulateAlphaBlendsTheTextureWithTheBackground) {
  ClearAll(0, 0, 1);  // blue background
  const Surface red = [] {
    Surface s;
    s.Allocate(1, 1, PixelFormat::Argb8888);
    s.Put(0, 0, PackPixel(PixelFormat::Argb8888, 255, 0, 0, 255));
    return s;
  }();
  D3DTEXTUREHANDLE texture = 0;
  ASSERT_EQ(device.CreateTexture(red, &texture), D3D_OK);
  device.SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, texture);
  device.SetLightState(D3DLIGHTSTATE_MATERIAL, MakeMaterial({0, 0, 0, 0.5f}, {1, 1, 1, 0}));
  device.SetRenderState(D3DRENDERSTATE_TEXTUREMAPBLEND, D3DTBLEND_MODULATEALPHA);
  device.SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, 1);
  device.SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
  device.SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA);
  DrawQuad(-1, -1, 1, 1, 0.5f);
  const Rgb mixed = At(32, 32);
  EXPECT_NEAR(mixed.r, 128, 8);
  EXPECT_NEAR(mixed.b, 128, 8);
  // Modulate takes the alpha of a texture that has one, so a 4444 texel of
  // alpha 0 leaves the background alone whatever the material's alpha.
  ClearAll(0, 0, 1);
  D3DTEXTUREHANDLE clear = 0;
  ASSERT_EQ(device.CreateTexture(Quadrants(PixelFormat::Argb4444, 0), &clear), D3D_OK);
  device.SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, clear);
  device.SetRenderState(D3DRENDERSTATE_TEXTUREMAPBLEND, D3DTBLEND_MODULATE);
  DrawQuad(-1, -1, 1, 1, 0.5f);
  EXPECT_EQ(At(8, 8).r, 0);
  EXPECT_EQ(At(8, 8).b, 255);
}

TEST_F(DeviceTest, SpecularHighlightAppearsOnlyWhenEnabled) {
  device.SetLightState(D3DLIGHTSTATE_MATERIAL, MakeMaterial({0, 0, 0.5f, 1}, {0, 0, 0, 0}, {1, 1, 1, 0}, 1));
  // Light and eye straight on at the centre: the half-way vector is the
  // normal there. The eye sits at the origin, close to the quad, so the
  // corners (where specular is worked out) see it at an angle: a low power
  // keeps their highlight strong.
  DrawQuad(-1, -1, 1, 1, 0.5f);
  const Rgb plain = At(32, 32);
  EXPECT_EQ(plain.r, 0);
  device.SetRenderState(D3DRENDERSTATE_SPECULARENABLE, 1);
  DrawQuad(-1, -1, 1, 1, 0.5f);
  const Rgb shiny = At(32, 32);
  EXPECT_GT(shiny.r, 180);
  EXPECT_GT(shiny.b, plain.b);
}

// A projection as the rendering library builds it: near plane 1, 90 degrees.
D3DMATRIX Perspective() {
  const float c = std::cos(0.785398f), s = std::sin(0.785398f), nearZ = 1, farZ = 100;
  const float q = s / (1 - nearZ / farZ);
  D3DMATRIX m{};
  m._11 = c;
  m._22 = c;
  m._33 = q;
  m._34 = s;
  m._43 = -q * nearZ;
  return m;
}

TEST_F(DeviceTest, NearPlaneClippingKeepsTheVisiblePart) {
  const D3DMATRIX projection = Perspective();
  device.SetTransform(D3DTRANSFORMSTATE_PROJECTION, &projection);
  device.SetLightState(D3DLIGHTSTATE_MATERIAL, MakeMaterial({0, 0, 0, 1}, {1, 1, 1, 0}));
  // A floor below the eye running from behind it (z = -5) to z = 10.
  const D3DVERTEX nearLeft{-5, -1, -5, 0, 1, 0, 0, 0}, nearRight{5, -1, -5, 0, 1, 0, 0, 0};
  const D3DVERTEX farLeft{-5, -1, 10, 0, 1, 0, 0, 0}, farRight{5, -1, 10, 0, 1, 0, 0, 0};
  const D3DVERTEX floor[6] = {farLeft, farRight, nearRight, farLeft, nearRight, nearLeft};
  ASSERT_EQ(Draw(floor, 6), D3D_OK);
  EXPECT_EQ(device.TrianglesDrawn(), 2u);
  EXPECT_EQ(At(32, 63).r, 255) << "the floor reaches the bottom edge";
  EXPECT_EQ(At(32, 40).r, 255);
  EXPECT_EQ(At(32, 20).r, 0) << "nothing above the horizon";
  // Wholly behind the eye: nothing at all.
  ClearAll(0, 0, 0);
  const D3DVERTEX behind[3] = {
      {-1, 1, -2, 0, 0, -1, 0, 0}, {1, 1, -2, 0, 0, -1, 0, 0}, {0, -1, -2, 0, 0, -1, 0, 0}};
  ASSERT_EQ(Draw(behind, 3), D3D_OK);
  EXPECT_EQ(device.TrianglesDrawn(), 0u);
}

TEST_F(DeviceTest, NothingIsWrittenOutsideTheViewportWhateverTheVertices) {
  // A target with padding beyond each row, and a viewport inside it.
  target.Allocate(kSize, kSize, PixelFormat::Rgb565);
  target.pitch = kSize * 2 + 16;
  target.pixels.assign(size_t(target.pitch) * kSize, 0xAB);
  ASSERT_EQ(device.SetRenderTarget(&target), D3D_OK);
  SetViewport(16, 16, 32, 32);
  const D3DMATRIX projection = Perspective();
  device.SetTransform(D3DTRANSFORMSTATE_PROJECTION, &projection);
  device.SetLightState(D3DLIGHTSTATE_MATERIAL, MakeMaterial({0, 0, 0, 1}, {1, 1, 1, 0}));
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const float big = 1e30f;
  const D3DVERTEX triangles[][3] = {
      {{-big, -big, 5, 0, 0, -1, 0, 0}, {0, big, 5, 0, 0, -1, 0, 0}, {big, -big, 5, 0, 0, -1, 0, 0}},
      {{-1e6f, -1e6f, 2, 0, 0, -1, 0, 0}, {0, 1e6f, 2, 0, 0, -1, 0, 0}, {1e6f, -1e6f, 2, 0, 0, -1, 0, 0}},
      {{1e4f, 1e4f, 3, 0, 0, -1, 0, 0},
       {1e4f + 5, 1e4f, 3, 0, 0, -1, 0, 0},
       {1e4f, 1e4f - 5, 3, 0, 0, -1, 0, 0}},
      {{nan, 0, 5, 0, 0, -1, 0, 0}, {1, 1, 5, 0, 0, -1, 0, 0}, {1, -1, 5, 0, 0, -1, 0, 0}},
      {{-1, 0, inf, 0, 0, -1, 0, 0}, {1, 1, 5, 0, 0, -1, 0, 0}, {1, -1, 5, 0, 0, -1, 0, 0}},
      {{-1, 0, 5, nan, nan, nan, nan, nan}, {1, 1, 5, 0, 0, -1, big, -big}, {1, -1, 5, 0, 0, -1, 0, 0}},
  };
  D3DTEXTUREHANDLE texture = 0;
  ASSERT_EQ(device.CreateTexture(Quadrants(PixelFormat::Rgb565), &texture), D3D_OK);
  for (int textured = 0; textured < 2; ++textured) {
    device.SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, textured ? texture : 0);
    device.SetRenderState(D3DRENDERSTATE_TEXTUREMAG, textured ? D3DFILTER_LINEAR : D3DFILTER_NEAREST);
    for (const auto& t : triangles) Draw(t, 3);
  }
  int drawnInside = 0;
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < target.pitch / 2; ++x) {
      const bool inside = x >= 16 && x < 48 && y >= 16 && y < 48;
      const uint32_t p = uint32_t(target.pixels[size_t(y) * target.pitch + x * 2]) |
                         uint32_t(target.pixels[size_t(y) * target.pitch + x * 2 + 1]) << 8;
      if (inside)
        drawnInside += p != 0xABAB;
      else
        ASSERT_EQ(p, 0xABABu) << x << ", " << y;
    }
  }
  EXPECT_EQ(drawnInside, 32 * 32) << "the huge triangle covers the whole viewport";
}

TEST_F(DeviceTest, BadCallsAndStaleHandlesAreRefused) {
  const D3DVERTEX v[3] = {};
  EXPECT_EQ(device.DrawPrimitive(D3DPT_TRIANGLELIST, D3DVT_VERTEX, v, 3, 0), D3DERR_SCENE_NOT_IN_SCENE);
  device.BeginScene();
  EXPECT_EQ(device.BeginScene(), D3DERR_SCENE_IN_SCENE);
  EXPECT_EQ(device.DrawPrimitive(D3DPT_LINELIST, D3DVT_VERTEX, v, 2, 0), D3DERR_INVALIDPRIMITIVETYPE);
  EXPECT_EQ(device.Vertex(v), D3DERR_NOTINBEGIN);
  device.EndScene();
  EXPECT_EQ(device.SetRenderState(D3DRENDERSTATE_CULLMODE, 4), DDERR_INVALIDPARAMS);
  EXPECT_EQ(device.SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, 99), DDERR_INVALIDPARAMS);
  EXPECT_EQ(device.SetRenderState(D3DRENDERSTATE_ZFUNC, 0), DDERR_INVALIDPARAMS);
  Surface odd;
  odd.Allocate(3, 4, PixelFormat::Rgb565);
  D3DTEXTUREHANDLE texture = 0;
  EXPECT_EQ(device.CreateTexture(odd, &texture), D3DERR_TEXTURE_BADSIZE);
  // A released material is no longer current and its handle is refused.
  const D3DMATERIALHANDLE gone = MakeMaterial({1, 1, 1, 1}, {0, 0, 0, 0});
  device.SetLightState(D3DLIGHTSTATE_MATERIAL, gone);
  ASSERT_EQ(device.ReleaseMaterial(gone), D3D_OK);
  uint32_t current = 1;
  device.GetLightState(D3DLIGHTSTATE_MATERIAL, &current);
  EXPECT_EQ(current, 0u);
  D3DMATERIAL m{};
  EXPECT_EQ(device.SetMaterial(gone, &m), DDERR_INVALIDPARAMS);
  // A viewport size computed from a render area of one pixel wraps round.
  D3DVIEWPORT2 wrapped{sizeof(D3DVIEWPORT2), 0, 0, uint32_t(-1), 10, -1, 1, 2, 2, 0, 1};
  EXPECT_EQ(device.SetViewport2(viewport, &wrapped), DDERR_INVALIDPARAMS);
  Direct3DDevice noTarget;
  D3DVIEWPORTHANDLE vp = 0;
  noTarget.CreateViewport(&vp);
  noTarget.AddViewport(vp);
  EXPECT_EQ(noTarget.Clear(vp, 0, nullptr, D3DCLEAR_TARGET), D3DERR_INVALID_DEVICE);
}

}  // namespace
