#include "platform/device3d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

constexpr int kSize = 64;

struct Rgb {
  int r, g, b;
};

// An untextured vertex facing the light.
constexpr D3DVERTEX V(float x, float y, float z) { return {x, y, z, 0, 0, -1, 0, 0}; }

// A 565 target with a viewport over all of it, lit by one white light. The
// projection is the identity, so x and y in -1 .. 1 span the target (y up)
// and z is the depth.
struct DeviceRig {
  void Init(int width, int height) {
    target.Allocate(width, height, PixelFormat::Rgb565);
    ASSERT_EQ(device.SetRenderTarget(&target), D3D_OK);
    ASSERT_EQ(device.CreateViewport(&viewport), D3D_OK);
    ASSERT_EQ(device.AddViewport(viewport), D3D_OK);
    SetViewport(0, 0, uint32_t(width), uint32_t(height));
    ASSERT_EQ(device.SetCurrentViewport(viewport), D3D_OK);
    Use(MakeMaterial({1, 1, 1, 1}, {0, 0, 0, 0}));
    device.SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    device.SetRenderState(D3DRENDERSTATE_SPECULARENABLE, 0);
    ASSERT_EQ(device.CreateLight(&light), D3D_OK);
    SetLight({0, 0, 1});  // shines along +z: faces with normal -z face it
    ASSERT_EQ(device.AddLight(viewport, light), D3D_OK);
    ClearAll(0, 0, 0, {0, 0, width, height});
  }

  void SetViewport(uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    D3DVIEWPORT2 v{sizeof(D3DVIEWPORT2), x, y, w, h, -1.0f, 1.0f, 2.0f, 2.0f, 0.0f, 1.0f};
    ASSERT_EQ(device.SetViewport2(viewport, &v), D3D_OK);
  }

  D3DMATERIALHANDLE MakeMaterial(D3DCOLORVALUE diffuse, D3DCOLORVALUE emissive, D3DCOLORVALUE specular = {},
                                 float power = 0) {
    D3DMATERIALHANDLE h = 0;
    EXPECT_EQ(device.CreateMaterial(&h), D3D_OK);
    D3DMATERIAL m{sizeof(m), diffuse, diffuse, specular, emissive, power, 0, 0};
    EXPECT_EQ(device.SetMaterial(h, &m), D3D_OK);
    return h;
  }
  void Use(D3DMATERIALHANDLE m) { ASSERT_EQ(device.SetLightState(D3DLIGHTSTATE_MATERIAL, m), D3D_OK); }
  // An unlit material of one colour.
  void UseGlowing(float r, float g, float b) { Use(MakeMaterial({0, 0, 0, 1}, {r, g, b, 0})); }

  // A white directional light.
  void SetLight(D3DVECTOR direction) {
    const D3DLIGHT2 l{sizeof(l), D3DLIGHT_DIRECTIONAL, {1, 1, 1, 1}, {}, direction, 0, 0, 0, 0, 0, 0,
                      0,         D3DLIGHT_ACTIVE};
    ASSERT_EQ(device.SetLight(light, &l), D3D_OK);
  }

  void ClearAll(float r, float g, float b, D3DRECT rect = {0, 0, kSize, kSize}) {
    ASSERT_EQ(device.SetBackground(viewport, MakeMaterial({r, g, b, 1}, {0, 0, 0, 0})), D3D_OK);
    ASSERT_EQ(device.Clear(viewport, 1, &rect, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER), D3D_OK);
  }

  int32_t Draw(const D3DVERTEX* v, uint32_t count) {
    device.BeginScene();
    const int32_t result = device.DrawPrimitive(D3DPT_TRIANGLELIST, D3DVT_VERTEX, v, count, 0);
    device.EndScene();
    return result;
  }

  // A quad over the whole viewport at depth z, clockwise on the screen,
  // facing the light; u runs 0..repeats left to right, v top down.
  void DrawQuad(float z, float repeats = 1) {
    const D3DVERTEX tl{-1, 1, z, 0, 0, -1, 0, 0}, tr{1, 1, z, 0, 0, -1, repeats, 0};
    const D3DVERTEX bl{-1, -1, z, 0, 0, -1, 0, repeats}, br{1, -1, z, 0, 0, -1, repeats, repeats};
    const D3DVERTEX v[6] = {tl, tr, br, tl, br, bl};
    ASSERT_EQ(Draw(v, 6), D3D_OK);
  }

  Rgb At(int x, int y) const {
    uint8_t r, g, b, a;
    UnpackPixel(target.format, target.Get(x, y), r, g, b, a);
    return {r, g, b};
  }
  // The colours at the centres of a 4 x 4 grid of 16-pixel cells, row by
  // row: k(black) r g b w and the other pure colours, ? for mixtures.
  std::string Grid() const {
    std::string s;
    for (int i = 0; i < 16; ++i) {
      const Rgb p = At(8 + 16 * (i % 4), 8 + 16 * (i / 4));
      const bool pure = (p.r % 255 | p.g % 255 | p.b % 255) == 0;
      s += pure ? "kbgcrmyw"[(p.r & 4) | (p.g & 2) | (p.b & 1)] : '?';
      if (i % 4 == 3) s += ' ';
    }
    return s;
  }

  Surface target;
  Direct3DDevice device;
  D3DVIEWPORTHANDLE viewport = 0;
  D3DLIGHTHANDLE light = 0;
};

class DeviceTest : public ::testing::Test, public DeviceRig {
 protected:
  void SetUp() override { Init(kSize, kSize); }
};

TEST_F(DeviceTest, ClearFillsItsRectangleCutToTheTarget) {
  ClearAll(1, 0, 0, {-1000, -1000, 1 << 30, 1 << 30});  // cut to the target
  ClearAll(0, 0, 1, {10, 20, 30, 40});
  const int points[][3] = {{0, 0, 0xF800}, {63, 63, 0xF800}, {10, 20, 0x1F},
                           {29, 39, 0x1F}, {30, 39, 0xF800}, {10, 19, 0xF800}};
  for (const auto& p : points) EXPECT_EQ(target.Get(p[0], p[1]), uint32_t(p[2])) << p[0] << "," << p[1];
}

TEST_F(DeviceTest, DiffuseFollowsTheLightsAngleAndSpecularOnlyWhenEnabled) {
  SetLight({0, std::sqrt(3.0f) / 2, 0.5f});  // 60 degrees to the normal: half the diffuse term
  DrawQuad(0.5f);
  EXPECT_NEAR(At(32, 32).r, 128, 8);

  // Light and eye straight on: the eye sits at the origin, close to the
  // quad, so the corners (where specular is worked out) see it at an angle;
  // a low power keeps their highlight strong.
  SetLight({0, 0, 1});
  Use(MakeMaterial({0, 0, 0.5f, 1}, {0, 0, 0, 0}, {1, 1, 1, 0}, 1));
  DrawQuad(0.4f);
  const Rgb plain = At(32, 32);
  EXPECT_EQ(plain.r, 0);
  device.SetRenderState(D3DRENDERSTATE_SPECULARENABLE, 1);
  DrawQuad(0.3f);
  EXPECT_GT(At(32, 32).r, 180);
  EXPECT_GT(At(32, 32).b, plain.b);
}

TEST_F(DeviceTest, NearerQuadWinsInEitherOrderAndEqualDepthPassesOnlyWithLessEqual) {
  // Red is drawn first, at redZ; then blue.
  const std::tuple<float, float, D3DCMPFUNC, char> cases[] = {{0.3f, 0.6f, D3DCMP_LESSEQUAL, 'r'},
                                                              {0.6f, 0.3f, D3DCMP_LESSEQUAL, 'b'},
                                                              {0.5f, 0.5f, D3DCMP_LESSEQUAL, 'b'},
                                                              {0.5f, 0.5f, D3DCMP_LESS, 'r'}};
  for (const auto& [redZ, blueZ, zFunc, shows] : cases) {
    ClearAll(0, 0, 0);
    device.SetRenderState(D3DRENDERSTATE_ZFUNC, zFunc);
    UseGlowing(1, 0, 0);
    DrawQuad(redZ);
    UseGlowing(0, 0, 1);
    DrawQuad(blueZ);
    EXPECT_EQ(Grid()[5], shows) << redZ << " " << blueZ << " " << zFunc;
  }
}

TEST_F(DeviceTest, EachCullModeDropsTheFacesOfItsWinding) {
  UseGlowing(1, 1, 1);
  // On the screen (y down): top, right, bottom-left is clockwise.
  const D3DVERTEX top = V(0, 0.8f, 0.5f), right = V(0.8f, -0.8f, 0.5f), left = V(-0.8f, -0.8f, 0.5f);
  const D3DVERTEX clockwise[3] = {top, right, left}, counter[3] = {top, left, right};
  for (D3DCULL mode : {D3DCULL_NONE, D3DCULL_CW, D3DCULL_CCW}) {
    ASSERT_EQ(device.SetRenderState(D3DRENDERSTATE_CULLMODE, mode), D3D_OK);
    for (bool cw : {false, true}) {
      ClearAll(0, 0, 0);
      Draw(cw ? clockwise : counter, 3);
      EXPECT_EQ(At(32, 32).r, mode == (cw ? D3DCULL_CW : D3DCULL_CCW) ? 0 : 255) << mode << " " << cw;
    }
  }
}

// A strip and a fan of one clockwise quad, drawn at once or streamed vertex
// by vertex: with counter-clockwise faces culled every triangle still shows,
// so every other strip triangle keeps the winding of the first. A list that
// ends on an incomplete triangle draws nothing more.
TEST_F(DeviceTest, StripsAndFansKeepOneWindingDrawnAtOnceOrStreamed) {
  UseGlowing(1, 1, 1);
  device.SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_CCW);
  const D3DVERTEX tl = V(-1, 1, 0.5f), tr = V(1, 1, 0.5f), bl = V(-1, -1, 0.5f), br = V(1, -1, 0.5f);
  const D3DVERTEX strip[] = {tl, tr, bl, br}, fan[] = {tl, tr, br, bl}, list[] = {tl, tr, br, bl, tl};
  const char *full = "wwww wwww wwww wwww ", *upperRight = "wwww kwww kkww kkkw ";  // diagonal filled
  const std::tuple<D3DPRIMITIVETYPE, const D3DVERTEX*, uint32_t, const char*> cases[] = {
      {D3DPT_TRIANGLESTRIP, strip, 4, full},
      {D3DPT_TRIANGLEFAN, fan, 4, full},
      {D3DPT_TRIANGLELIST, list, 5, upperRight}};
  for (const auto& [type, v, count, grid] : cases) {
    for (bool streamed : {false, true}) {
      ClearAll(0, 0, 0);
      device.BeginScene();
      if (streamed) {
        ASSERT_EQ(device.Begin(type, D3DVT_VERTEX, 0), D3D_OK);
        for (uint32_t i = 0; i < count; ++i) ASSERT_EQ(device.Vertex(&v[i]), D3D_OK);
        ASSERT_EQ(device.End(0), D3D_OK);
      } else {
        ASSERT_EQ(device.DrawPrimitive(type, D3DVT_VERTEX, v, count, 0), D3D_OK);
      }
      device.EndScene();
      EXPECT_EQ(Grid(), grid) << "type " << type << " streamed " << streamed;
    }
  }
}

// A 2 x 2 texture: red top left, green top right, blue bottom left, white
// bottom right.
Surface Quadrants(PixelFormat format, uint8_t alpha = 255) {
  Surface s;
  s.Allocate(2, 2, format);
  const uint8_t rgb[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  for (int i = 0; i < 4; ++i) s.Put(i % 2, i / 2, PackPixel(format, rgb[i][0], rgb[i][1], rgb[i][2], alpha));
  return s;
}

TEST_F(DeviceTest, TextureHasUZeroAtTheLeftAndVZeroAtTheTopAndWraps) {
  for (PixelFormat format : {PixelFormat::Rgb565, PixelFormat::Argb4444, PixelFormat::Argb8888}) {
    D3DTEXTUREHANDLE texture = 0;
    ASSERT_EQ(device.CreateTexture(Quadrants(format), &texture), D3D_OK);
    ASSERT_EQ(device.SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, texture), D3D_OK);
    for (int repeats : {1, 2}) {
      ClearAll(0, 0, 0);
      DrawQuad(0.5f, float(repeats));
      EXPECT_EQ(Grid(), repeats == 1 ? "rrgg rrgg bbww bbww " : "rgrg bwbw rgrg bwbw ") << int(format);
    }
  }
}

// Modulate-alpha takes the material's alpha; modulate takes the alpha of a
// texture that has one, so a 4444 texel of alpha 0 leaves the blue
// background alone whatever the material's alpha.
TEST_F(DeviceTest, TextureBlendTakesAlphaFromTheMaterialOrTheTexture) {
  Use(MakeMaterial({0, 0, 0, 0.5f}, {1, 1, 1, 0}));
  device.SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, 1);
  device.SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
  device.SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA);
  // Texture format and alpha, blend, then red and blue where the red texel lands.
  const std::tuple<PixelFormat, uint8_t, D3DTEXTUREBLEND, int, int> cases[] = {
      {PixelFormat::Argb8888, 255, D3DTBLEND_MODULATEALPHA, 128, 128},
      {PixelFormat::Argb4444, 0, D3DTBLEND_MODULATE, 0, 255}};
  for (const auto& [format, alpha, blend, red, blue] : cases) {
    ClearAll(0, 0, 1);
    D3DTEXTUREHANDLE texture = 0;
    ASSERT_EQ(device.CreateTexture(Quadrants(format, alpha), &texture), D3D_OK);
    device.SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, texture);
    device.SetRenderState(D3DRENDERSTATE_TEXTUREMAPBLEND, blend);
    DrawQuad(0.5f);
    EXPECT_NEAR(At(8, 8).r, red, 8) << blend;
    EXPECT_NEAR(At(8, 8).b, blue, 8) << blend;
  }
}

// The viewport covers 16 .. 47 of a target with padding beyond each row.
// Near-plane clipping keeps the visible part of what runs behind the eye,
// and no vertices, however huge or non-finite, draw outside the viewport.
TEST_F(DeviceTest, ClippingKeepsTheVisiblePartAndNothingIsWrittenOutsideTheViewport) {
  target.pitch = kSize * 2 + 16;
  target.pixels.assign(size_t(target.pitch) * kSize, 0xAB);
  ASSERT_EQ(device.SetRenderTarget(&target), D3D_OK);
  SetViewport(16, 16, 32, 32);
  // A projection as the rendering library builds it: near plane 1, far 100, 90 degrees.
  const float c = std::cos(0.785398f), s = std::sin(0.785398f), q = s / (1 - 1.0f / 100);
  D3DMATRIX projection{};
  projection._11 = projection._22 = c;
  projection._33 = q;
  projection._34 = s;
  projection._43 = -q;
  device.SetTransform(D3DTRANSFORMSTATE_PROJECTION, &projection);
  UseGlowing(1, 1, 1);
  // A floor below the eye running from behind it (z = -5) to z = 10.
  const D3DVERTEX nearLeft = V(-5, -1, -5), nearRight = V(5, -1, -5), farLeft = V(-5, -1, 10);
  const D3DVERTEX floor[6] = {farLeft, V(5, -1, 10), nearRight, farLeft, nearRight, nearLeft};
  ASSERT_EQ(Draw(floor, 6), D3D_OK);
  EXPECT_EQ(device.TrianglesDrawn(), 2u);
  EXPECT_EQ(At(32, 47).r, 255) << "the floor reaches the bottom edge";
  EXPECT_EQ(At(32, 36).r, 255);
  EXPECT_EQ(target.Get(32, 26), 0xABABu) << "nothing above the horizon";
  for (float z : {-2.0f, 0.5f}) {  // wholly behind the eye, or between it and the near plane
    const D3DVERTEX t[3] = {V(-0.2f, 0.2f, z), V(0.2f, 0.2f, z), V(0, -0.2f, z)};
    ASSERT_EQ(Draw(t, 3), D3D_OK);
    EXPECT_EQ(device.TrianglesDrawn(), 0u) << z;
  }

  const float nan = NAN, inf = INFINITY, big = 1e30f;
  const D3DVERTEX triangles[][3] = {
      {V(-big, -big, 5), V(0, big, 5), V(big, -big, 5)},
      {V(-1e6f, -1e6f, 2), V(0, 1e6f, 2), V(1e6f, -1e6f, 2)},
      {V(1e4f, 1e4f, 3), V(1e4f + 5, 1e4f, 3), V(1e4f, 1e4f - 5, 3)},
      {V(nan, 0, 5), V(1, 1, 5), V(1, -1, 5)},
      {V(-1, 0, inf), V(1, 1, 5), V(1, -1, 5)},
      {{-1, 0, 5, nan, nan, nan, nan, nan}, {1, 1, 5, 0, 0, -1, big, -big}, V(1, -1, 5)},
  };
  D3DTEXTUREHANDLE texture = 0;
  ASSERT_EQ(device.CreateTexture(Quadrants(PixelFormat::Rgb565), &texture), D3D_OK);
  for (int textured = 0; textured < 2; ++textured) {
    device.SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, textured ? texture : 0);
    device.SetRenderState(D3DRENDERSTATE_TEXTUREMAG, textured ? D3DFILTER_LINEAR : D3DFILTER_NEAREST);
    for (int i = 0; i < 6; ++i) {
      Draw(triangles[i], 3);
      EXPECT_EQ(device.TrianglesDrawn(), i < 2 || i == 5 ? 1u : 0u) << i;  // non-finite positions dropped
    }
  }
  int drawnInside = 0;
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < target.pitch / 2; ++x) {
      const bool inside = x >= 16 && x < 48 && y >= 16 && y < 48, untouched = target.Get(x, y) == 0xABAB;
      ASSERT_TRUE(inside || untouched) << x << ", " << y;
      drawnInside += inside && !untouched;
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
  EXPECT_EQ(device.SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, 99), DDERR_INVALIDPARAMS);
  EXPECT_EQ(device.SetRenderState(D3DRENDERSTATE_ZFUNC, 0), DDERR_INVALIDPARAMS);
  Surface odd;
  odd.Allocate(3, 4, PixelFormat::Rgb565);
  D3DTEXTUREHANDLE texture = 0;
  EXPECT_EQ(device.CreateTexture(odd, &texture), D3DERR_TEXTURE_BADSIZE);
  // A released material is no longer current and its handle is refused.
  const D3DMATERIALHANDLE gone = MakeMaterial({1, 1, 1, 1}, {0, 0, 0, 0});
  Use(gone);
  ASSERT_EQ(device.ReleaseMaterial(gone), D3D_OK);
  uint32_t current = 1;
  device.GetLightState(D3DLIGHTSTATE_MATERIAL, &current);
  EXPECT_EQ(current, 0u);
  EXPECT_EQ(device.SetLightState(D3DLIGHTSTATE_MATERIAL, gone), DDERR_INVALIDPARAMS);
  // A viewport size computed from a render area of one pixel wraps round.
  D3DVIEWPORT2 wrapped{sizeof(D3DVIEWPORT2), 0, 0, uint32_t(-1), 10, -1, 1, 2, 2, 0, 1};
  EXPECT_EQ(device.SetViewport2(viewport, &wrapped), DDERR_INVALIDPARAMS);
  Direct3DDevice noTarget;
  D3DVIEWPORTHANDLE vp = 0;
  noTarget.CreateViewport(&vp);
  noTarget.AddViewport(vp);
  EXPECT_EQ(noTarget.Clear(vp, 0, nullptr, D3DCLEAR_TARGET), D3DERR_INVALID_DEVICE);
}

// Many small, overlapping, partly clipped triangles through a perspective
// projection, textured and blended, so that rows, depth and blending order
// all matter; drawn on `threads` threads into a fresh target.
std::pair<std::vector<uint8_t>, uint32_t> DrawCrowd(int threads, D3DPRIMITIVETYPE type) {
  DeviceRig rig;
  rig.Init(160, 120);
  Direct3DDevice& device = rig.device;
  device.SetDrawThreads(threads);
  D3DMATRIX projection{};
  projection._11 = projection._22 = projection._34 = 1;
  projection._33 = 1.01f;
  projection._43 = -1.01f;
  device.SetTransform(D3DTRANSFORMSTATE_PROJECTION, &projection);
  rig.Use(rig.MakeMaterial({0.9f, 0.6f, 0.3f, 0.5f}, {0.1f, 0.1f, 0.1f, 0}, {1, 1, 1, 1}, 8));
  rig.SetLight({0.3f, -0.4f, 1});
  Surface checker;
  checker.Allocate(8, 8, PixelFormat::Rgb565);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) checker.Put(x, y, (x + y) % 2 ? 0xF800 : 0x07FF);
  D3DTEXTUREHANDLE texture = 0;
  device.CreateTexture(checker, &texture);
  const std::pair<D3DRENDERSTATETYPE, uint32_t> states[] = {
      {D3DRENDERSTATE_TEXTUREHANDLE, texture},      {D3DRENDERSTATE_TEXTUREMAG, D3DFILTER_LINEAR},
      {D3DRENDERSTATE_SPECULARENABLE, 1},           {D3DRENDERSTATE_ALPHABLENDENABLE, 1},
      {D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA}, {D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA}};
  for (const auto& [state, value] : states) device.SetRenderState(state, value);
  std::vector<D3DVERTEX> vertices;
  uint32_t seed = 12345;
  const auto next = [&seed] { return float((seed = seed * 1664525u + 1013904223u) >> 8) / float(1 << 24); };
  for (int i = 0; i < 3000; ++i) {
    const float x = next() * 4 - 2, y = next() * 3 - 1.5f, z = 1.5f + next() * 3;
    vertices.push_back({x, y, z, next() - 0.5f, next() - 0.5f, -1, next() * 3, next() * 3});
  }
  device.BeginScene();
  device.DrawPrimitive(type, D3DVT_VERTEX, vertices.data(), uint32_t(vertices.size()), 0);
  device.EndScene();
  return {rig.target.pixels, device.TrianglesDrawn()};
}

TEST(DeviceThreads, ASharedCallDrawsThePixelsOfOneThread) {
  for (D3DPRIMITIVETYPE type : {D3DPT_TRIANGLELIST, D3DPT_TRIANGLESTRIP, D3DPT_TRIANGLEFAN}) {
    const auto one = DrawCrowd(1, type), two = DrawCrowd(2, type);
    EXPECT_GT(one.second, 500u) << type;
    EXPECT_EQ(one.second, two.second) << type;
    EXPECT_TRUE(one.first == two.first) << type;
  }
}

}  // namespace
