// The software 3D device: what the rendering library asks of a Direct3D 5
// immediate-mode device. It draws triangle lists of untransformed, unlit
// vertices (D3DVERTEX) into a 16-bit render target with a 16-bit z-buffer:
// world/view/projection transforms in the row-vector convention, clipping,
// viewport scaling as D3DVIEWPORT2 defines it, culling, per-vertex lighting,
// Gouraud shading, perspective-correct texturing, z-test and alpha blending.
//
// Materials, lights, viewports and textures live in the device and are named
// by handles (never 0). A stale or unknown handle is refused with an error
// code, so nothing the caller passes can make the device touch freed memory.
// Every operation answers with the Direct3D/DirectDraw result code.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/display.h"
#include "platform/surface.h"

// ---- Result codes (Direct3D values; the DirectDraw ones come from display.h)
constexpr int32_t D3D_OK = 0;
constexpr int32_t D3DERR_INVALID_DEVICE = DdCode(705);  // no render target yet
constexpr int32_t D3DERR_TEXTURE_BADSIZE = DdCode(738);
constexpr int32_t D3DERR_INVALIDPRIMITIVETYPE = DdCode(736);
constexpr int32_t D3DERR_INVALIDVERTEXTYPE = DdCode(737);
constexpr int32_t D3DERR_SCENE_IN_SCENE = DdCode(760);
constexpr int32_t D3DERR_SCENE_NOT_IN_SCENE = DdCode(761);
constexpr int32_t D3DERR_INBEGIN = DdCode(770);
constexpr int32_t D3DERR_NOTINBEGIN = DdCode(771);
constexpr int32_t D3DERR_VIEWPORTDATANOTSET = DdCode(773);
constexpr int32_t D3DERR_VIEWPORTHASNODEVICE = DdCode(774);
constexpr int32_t D3DERR_NOCURRENTVIEWPORT = DdCode(775);

using D3DCOLOR = uint32_t;  // 0xAARRGGBB
using D3DMATERIALHANDLE = uint32_t;
using D3DTEXTUREHANDLE = uint32_t;
using D3DLIGHTHANDLE = uint32_t;
using D3DVIEWPORTHANDLE = uint32_t;

struct D3DVECTOR {
  float x, y, z;
};

struct D3DCOLORVALUE {
  float r, g, b, a;
};

// An untransformed, unlit vertex.
struct D3DVERTEX {
  float x, y, z;
  float nx, ny, nz;
  float tu, tv;
};

// Row-vector convention: a point p maps to p * M; _41 _42 _43 translate.
struct D3DMATRIX {
  float _11, _12, _13, _14;
  float _21, _22, _23, _24;
  float _31, _32, _33, _34;
  float _41, _42, _43, _44;
};
D3DMATRIX D3DIdentityMatrix();
D3DMATRIX D3DMultiply(const D3DMATRIX& a, const D3DMATRIX& b);  // a then b

struct D3DRECT {
  int32_t x1, y1, x2, y2;  // x2 and y2 exclusive
};

// The rectangle dwX, dwY, dwWidth, dwHeight of the target receives the clip
// volume dvClipX .. dvClipX + dvClipWidth (left to right), dvClipY ..
// dvClipY - dvClipHeight (top to bottom) and 0 .. 1 in z, which maps to
// dvMinZ .. dvMaxZ.
struct D3DVIEWPORT2 {
  uint32_t dwSize;
  uint32_t dwX, dwY;
  uint32_t dwWidth, dwHeight;
  float dvClipX, dvClipY;
  float dvClipWidth, dvClipHeight;
  float dvMinZ, dvMaxZ;
};

struct D3DMATERIAL {
  uint32_t dwSize;
  D3DCOLORVALUE diffuse;
  D3DCOLORVALUE ambient;
  D3DCOLORVALUE specular;
  D3DCOLORVALUE emissive;
  float power;
  D3DTEXTUREHANDLE hTexture;  // ramp devices only; the RGB device takes the TEXTUREHANDLE state
  uint32_t dwRampSize;
};

enum D3DLIGHTTYPE : uint32_t {
  D3DLIGHT_POINT = 1,
  D3DLIGHT_SPOT = 2,
  D3DLIGHT_DIRECTIONAL = 3,
  D3DLIGHT_PARALLELPOINT = 4,
};
constexpr uint32_t D3DLIGHT_ACTIVE = 0x1;
constexpr uint32_t D3DLIGHT_NO_SPECULAR = 0x2;

struct D3DLIGHT2 {
  uint32_t dwSize;
  D3DLIGHTTYPE dltType;
  D3DCOLORVALUE dcvColor;
  D3DVECTOR dvPosition;
  D3DVECTOR dvDirection;  // the way the light shines
  float dvRange, dvFalloff;
  float dvAttenuation0, dvAttenuation1, dvAttenuation2;
  float dvTheta, dvPhi;
  uint32_t dwFlags;
};

enum D3DTRANSFORMSTATETYPE : uint32_t {
  D3DTRANSFORMSTATE_WORLD = 1,
  D3DTRANSFORMSTATE_VIEW = 2,
  D3DTRANSFORMSTATE_PROJECTION = 3,
};

enum D3DLIGHTSTATETYPE : uint32_t {
  D3DLIGHTSTATE_MATERIAL = 1,
  D3DLIGHTSTATE_AMBIENT = 2,
  D3DLIGHTSTATE_COLORMODEL = 3,
  D3DLIGHTSTATE_FOGMODE = 4,
  D3DLIGHTSTATE_FOGSTART = 5,
  D3DLIGHTSTATE_FOGEND = 6,
  D3DLIGHTSTATE_FOGDENSITY = 7,
};

enum D3DRENDERSTATETYPE : uint32_t {
  D3DRENDERSTATE_TEXTUREHANDLE = 1,
  D3DRENDERSTATE_ANTIALIAS = 2,
  D3DRENDERSTATE_TEXTUREADDRESS = 3,
  D3DRENDERSTATE_TEXTUREPERSPECTIVE = 4,
  D3DRENDERSTATE_WRAPU = 5,
  D3DRENDERSTATE_WRAPV = 6,
  D3DRENDERSTATE_ZENABLE = 7,
  D3DRENDERSTATE_FILLMODE = 8,
  D3DRENDERSTATE_SHADEMODE = 9,
  D3DRENDERSTATE_LINEPATTERN = 10,
  D3DRENDERSTATE_MONOENABLE = 11,
  D3DRENDERSTATE_ROP2 = 12,
  D3DRENDERSTATE_PLANEMASK = 13,
  D3DRENDERSTATE_ZWRITEENABLE = 14,
  D3DRENDERSTATE_ALPHATESTENABLE = 15,
  D3DRENDERSTATE_LASTPIXEL = 16,
  D3DRENDERSTATE_TEXTUREMAG = 17,
  D3DRENDERSTATE_TEXTUREMIN = 18,
  D3DRENDERSTATE_SRCBLEND = 19,
  D3DRENDERSTATE_DESTBLEND = 20,
  D3DRENDERSTATE_TEXTUREMAPBLEND = 21,
  D3DRENDERSTATE_CULLMODE = 22,
  D3DRENDERSTATE_ZFUNC = 23,
  D3DRENDERSTATE_ALPHAREF = 24,
  D3DRENDERSTATE_ALPHAFUNC = 25,
  D3DRENDERSTATE_DITHERENABLE = 26,
  D3DRENDERSTATE_ALPHABLENDENABLE = 27,
  D3DRENDERSTATE_FOGENABLE = 28,
  D3DRENDERSTATE_SPECULARENABLE = 29,
  D3DRENDERSTATE_ZVISIBLE = 30,
  D3DRENDERSTATE_SUBPIXEL = 31,
  D3DRENDERSTATE_SUBPIXELX = 32,
  D3DRENDERSTATE_STIPPLEDALPHA = 33,
  D3DRENDERSTATE_FOGCOLOR = 34,
  D3DRENDERSTATE_FOGTABLEMODE = 35,
  D3DRENDERSTATE_FOGTABLESTART = 36,
  D3DRENDERSTATE_FOGTABLEEND = 37,
  D3DRENDERSTATE_FOGTABLEDENSITY = 38,
  D3DRENDERSTATE_STIPPLEENABLE = 39,
  D3DRENDERSTATE_EDGEANTIALIAS = 40,
  D3DRENDERSTATE_COLORKEYENABLE = 41,
  D3DRENDERSTATE_BORDERCOLOR = 43,
  D3DRENDERSTATE_TEXTUREADDRESSU = 44,
  D3DRENDERSTATE_TEXTUREADDRESSV = 45,
  D3DRENDERSTATE_MIPMAPLODBIAS = 46,
  D3DRENDERSTATE_ZBIAS = 47,
  D3DRENDERSTATE_RANGEFOGENABLE = 48,
  D3DRENDERSTATE_ANISOTROPY = 49,
  D3DRENDERSTATE_FLUSHBATCH = 50,
};
constexpr uint32_t D3DRENDERSTATE_COUNT = 64;  // states 0 .. 63 are stored

enum D3DCULL : uint32_t { D3DCULL_NONE = 1, D3DCULL_CW = 2, D3DCULL_CCW = 3 };
enum D3DCMPFUNC : uint32_t {
  D3DCMP_NEVER = 1,
  D3DCMP_LESS = 2,
  D3DCMP_EQUAL = 3,
  D3DCMP_LESSEQUAL = 4,
  D3DCMP_GREATER = 5,
  D3DCMP_NOTEQUAL = 6,
  D3DCMP_GREATEREQUAL = 7,
  D3DCMP_ALWAYS = 8,
};
enum D3DBLEND : uint32_t {
  D3DBLEND_ZERO = 1,
  D3DBLEND_ONE = 2,
  D3DBLEND_SRCCOLOR = 3,
  D3DBLEND_INVSRCCOLOR = 4,
  D3DBLEND_SRCALPHA = 5,
  D3DBLEND_INVSRCALPHA = 6,
  D3DBLEND_DESTALPHA = 7,
  D3DBLEND_INVDESTALPHA = 8,
  D3DBLEND_DESTCOLOR = 9,
  D3DBLEND_INVDESTCOLOR = 10,
  D3DBLEND_SRCALPHASAT = 11,
  D3DBLEND_BOTHSRCALPHA = 12,
  D3DBLEND_BOTHINVSRCALPHA = 13,
};
enum D3DTEXTUREFILTER : uint32_t {
  D3DFILTER_NEAREST = 1,
  D3DFILTER_LINEAR = 2,
  D3DFILTER_MIPNEAREST = 3,
  D3DFILTER_MIPLINEAR = 4,
  D3DFILTER_LINEARMIPNEAREST = 5,
  D3DFILTER_LINEARMIPLINEAR = 6,
};
enum D3DTEXTUREBLEND : uint32_t {
  D3DTBLEND_DECAL = 1,
  D3DTBLEND_MODULATE = 2,
  D3DTBLEND_DECALALPHA = 3,
  D3DTBLEND_MODULATEALPHA = 4,
  D3DTBLEND_DECALMASK = 5,
  D3DTBLEND_MODULATEMASK = 6,
  D3DTBLEND_COPY = 7,
  D3DTBLEND_ADD = 8,
};
enum D3DTEXTUREADDRESS : uint32_t {
  D3DTADDRESS_WRAP = 1,
  D3DTADDRESS_MIRROR = 2,
  D3DTADDRESS_CLAMP = 3,
};
enum D3DSHADEMODE : uint32_t { D3DSHADE_FLAT = 1, D3DSHADE_GOURAUD = 2, D3DSHADE_PHONG = 3 };
enum D3DFILLMODE : uint32_t { D3DFILL_POINT = 1, D3DFILL_WIREFRAME = 2, D3DFILL_SOLID = 3 };
enum D3DFOGMODE : uint32_t { D3DFOG_NONE = 0, D3DFOG_EXP = 1, D3DFOG_EXP2 = 2, D3DFOG_LINEAR = 3 };
enum D3DANTIALIASMODE : uint32_t { D3DANTIALIAS_NONE = 0, D3DANTIALIAS_SORTDEPENDENT = 1 };
enum D3DZBUFFERTYPE : uint32_t { D3DZB_FALSE = 0, D3DZB_TRUE = 1 };
enum D3DCOLORMODEL : uint32_t { D3DCOLOR_MONO = 1, D3DCOLOR_RGB = 2 };

enum D3DPRIMITIVETYPE : uint32_t {
  D3DPT_POINTLIST = 1,
  D3DPT_LINELIST = 2,
  D3DPT_LINESTRIP = 3,
  D3DPT_TRIANGLELIST = 4,
  D3DPT_TRIANGLESTRIP = 5,
  D3DPT_TRIANGLEFAN = 6,
};
enum D3DVERTEXTYPE : uint32_t { D3DVT_VERTEX = 1, D3DVT_LVERTEX = 2, D3DVT_TLVERTEX = 3 };
constexpr uint32_t D3DDP_WAIT = 0x1;

constexpr uint32_t D3DCLEAR_TARGET = 0x1;
constexpr uint32_t D3DCLEAR_ZBUFFER = 0x2;

// A texture as the device samples it: every texel widened to 0xAARRGGBB.
struct DeviceTexture {
  bool inUse = false;
  int width = 0, height = 0;  // powers of two
  bool hasAlpha = false;      // the source format carries alpha
  std::vector<uint32_t> texels;
};

struct CornerCache;
class HelperThread;

class Direct3DDevice {
 public:
  Direct3DDevice();
  ~Direct3DDevice();
  Direct3DDevice(const Direct3DDevice&) = delete;
  Direct3DDevice& operator=(const Direct3DDevice&) = delete;

  // The surface drawn into (Rgb565, Rgb555, Argb1555 or Argb4444) and its
  // z-buffer: a 16-bit surface at least as large, or null for one the device
  // keeps itself. Both must outlive their use; their sizes are checked again
  // at every draw, so a surface that changed size is never overrun.
  int32_t SetRenderTarget(Surface* target, Surface* zBuffer = nullptr);

  int32_t BeginScene();
  int32_t EndScene();
  bool InScene() const { return inScene_; }

  int32_t SetTransform(D3DTRANSFORMSTATETYPE type, const D3DMATRIX* matrix);
  int32_t GetTransform(D3DTRANSFORMSTATETYPE type, D3DMATRIX* matrix) const;
  int32_t SetRenderState(D3DRENDERSTATETYPE state, uint32_t value);
  int32_t GetRenderState(D3DRENDERSTATETYPE state, uint32_t* value) const;
  // FOGSTART, FOGEND and FOGDENSITY carry the bits of a float, as in Direct3D.
  int32_t SetLightState(D3DLIGHTSTATETYPE state, uint32_t value);
  int32_t GetLightState(D3DLIGHTSTATETYPE state, uint32_t* value) const;

  // Drawing, inside a scene. Begin/Vertex/End stream vertices: each complete
  // triangle is drawn as it arrives; End drops an incomplete one.
  int32_t Begin(D3DPRIMITIVETYPE type, D3DVERTEXTYPE vertexType, uint32_t flags);
  int32_t Vertex(const D3DVERTEX* vertex);
  int32_t End(uint32_t flags);
  int32_t DrawPrimitive(D3DPRIMITIVETYPE type, D3DVERTEXTYPE vertexType, const D3DVERTEX* vertices,
                        uint32_t count, uint32_t flags);

  // Materials (IDirect3DMaterial2).
  int32_t CreateMaterial(D3DMATERIALHANDLE* out);
  int32_t SetMaterial(D3DMATERIALHANDLE material, const D3DMATERIAL* data);
  int32_t GetMaterial(D3DMATERIALHANDLE material, D3DMATERIAL* data) const;
  int32_t ReleaseMaterial(D3DMATERIALHANDLE material);

  // Textures (IDirect3DTexture2): the device keeps its own copy of the
  // image (565, 555, 1555, 4444 or 8888; square or not, each side a power
  // of two up to 4096). UpdateTexture copies a changed image in again; Load
  // copies one texture into another of the same size.
  int32_t CreateTexture(const Surface& image, D3DTEXTUREHANDLE* out);
  int32_t UpdateTexture(D3DTEXTUREHANDLE texture, const Surface& image);
  int32_t Load(D3DTEXTUREHANDLE destination, D3DTEXTUREHANDLE source);
  int32_t ReleaseTexture(D3DTEXTUREHANDLE texture);
  const DeviceTexture* Texture(D3DTEXTUREHANDLE texture) const;

  // Lights (IDirect3DLight): directional lights only.
  int32_t CreateLight(D3DLIGHTHANDLE* out);
  int32_t SetLight(D3DLIGHTHANDLE light, const D3DLIGHT2* data);
  int32_t GetLight(D3DLIGHTHANDLE light, D3DLIGHT2* data) const;
  int32_t ReleaseLight(D3DLIGHTHANDLE light);

  // Viewports (IDirect3DViewport2) and the device's list of them.
  int32_t CreateViewport(D3DVIEWPORTHANDLE* out);
  int32_t ReleaseViewport(D3DVIEWPORTHANDLE viewport);
  int32_t SetViewport2(D3DVIEWPORTHANDLE viewport, const D3DVIEWPORT2* data);
  int32_t GetViewport2(D3DVIEWPORTHANDLE viewport, D3DVIEWPORT2* data) const;
  int32_t SetBackground(D3DVIEWPORTHANDLE viewport, D3DMATERIALHANDLE material);
  int32_t AddLight(D3DVIEWPORTHANDLE viewport, D3DLIGHTHANDLE light);
  int32_t DeleteLight(D3DVIEWPORTHANDLE viewport, D3DLIGHTHANDLE light);
  int32_t AddViewport(D3DVIEWPORTHANDLE viewport);
  int32_t DeleteViewport(D3DVIEWPORTHANDLE viewport);
  int32_t SetCurrentViewport(D3DVIEWPORTHANDLE viewport);
  D3DVIEWPORTHANDLE CurrentViewport() const { return currentViewport_; }
  // Fills the rectangles (clipped to the target) with the background
  // material's diffuse colour and/or the farthest depth.
  int32_t Clear(D3DVIEWPORTHANDLE viewport, uint32_t count, const D3DRECT* rects, uint32_t flags);

  // Triangles that reached the rasteriser (after culling and clipping) since
  // the last BeginScene; for tests and statistics.
  uint32_t TrianglesDrawn() const { return trianglesDrawn_; }

  // Threads a large draw call is shared between: 2 (the default on a machine
  // with two cores or more) or 1. The pixels are the same either way.
  void SetDrawThreads(int threads);

  // Implementation records, public only so that the drawing helpers in the
  // source file can use them.
  struct MaterialRecord {
    bool inUse = false;
    D3DMATERIAL data{};
  };
  struct LightRecord {
    bool inUse = false;
    bool set = false;
    D3DLIGHT2 data{};
  };
  static constexpr int MaxViewportLights = 8;
  struct ViewportRecord {
    bool inUse = false;
    bool added = false;  // in the device's list
    bool set = false;    // SetViewport2 done
    D3DVIEWPORT2 data{};
    D3DMATERIALHANDLE background = 0;
    int lightCount = 0;
    D3DLIGHTHANDLE lights[MaxViewportLights] = {};
  };

  // Everything a draw needs, worked out once per batch of state and
  // refreshed (cheaply) per triangle for the surfaces.
  struct Frame {
    bool valid = false;
    // Surfaces
    uint8_t* color = nullptr;
    int colorPitch = 0;
    uint8_t* depth = nullptr;
    int depthPitch = 0;
    PixelFormat format = PixelFormat::Rgb565;
    // Scissor: the viewport's rectangle within the target, right/bottom exclusive.
    int clipLeft = 0, clipTop = 0, clipRight = 0, clipBottom = 0;
    // Screen position = k * (clip / w) + o.
    float kx = 0, ox = 0, ky = 0, oy = 0;
    float minZ = 0, zScale = 1;
    float guardLeft = 0, guardRight = 0, guardTop = 0, guardBottom = 0;
    D3DMATRIX worldViewProjection, worldView;
    // Lighting, in view space
    int lightCount = 0;
    D3DVECTOR toLight[MaxViewportLights];
    D3DCOLORVALUE lightDiffuse[MaxViewportLights];   // light colour x material diffuse
    D3DCOLORVALUE lightSpecular[MaxViewportLights];  // light colour x material specular, 0 when none
    D3DCOLORVALUE base;                              // ambient x material ambient + emissive
    float alpha = 1, power = 0;
    bool specular = false, flat = false;
    // Pixels
    const DeviceTexture* texture = nullptr;
    bool bilinear = false;
    uint32_t textureBlend = D3DTBLEND_MODULATE;
    bool blend = false;
    uint32_t srcBlend = D3DBLEND_ONE, destBlend = D3DBLEND_ZERO;
    bool zTest = true, zWrite = true;
    uint32_t zFunc = D3DCMP_LESSEQUAL;
    uint32_t cull = D3DCULL_CCW;
  };

 private:
  int32_t BindFrame();
  int32_t BindSurfaces();
  void DrawTriangle(const D3DVERTEX& a, const D3DVERTEX& b, const D3DVERTEX& c);
  int32_t CheckDrawCall(D3DPRIMITIVETYPE type, D3DVERTEXTYPE vertexType) const;
  bool DrawShared(D3DPRIMITIVETYPE type, const D3DVERTEX* vertices, uint32_t triangles);
  struct SharedDrawing;
  SharedDrawing* Sharing();
  HelperThread* Helper();  // the second thread, or null
  void Changed() { frame_.valid = false; }

  int drawThreads_ = 1;
  std::unique_ptr<SharedDrawing> sharing_;  // made at the first shared call
  std::unique_ptr<CornerCache> corners_;    // of the calls drawn on this thread

  Frame frame_;

  Surface* target_ = nullptr;
  Surface* zSurface_ = nullptr;
  std::vector<uint16_t> ownZ_;

  bool inScene_ = false;
  bool inBegin_ = false;
  D3DPRIMITIVETYPE beginType_ = D3DPT_TRIANGLELIST;
  D3DVERTEX pending_[3] = {};
  uint32_t pendingCount_ = 0;
  uint32_t streamIndex_ = 0;  // vertices received since Begin
  uint32_t trianglesDrawn_ = 0;

  D3DMATRIX world_, view_, projection_;

  uint32_t renderStates_[D3DRENDERSTATE_COUNT] = {};
  uint32_t lightStates_[8] = {};

  std::vector<MaterialRecord> materials_;
  std::vector<DeviceTexture> textures_;
  std::vector<LightRecord> lights_;
  std::vector<ViewportRecord> viewports_;
  D3DVIEWPORTHANDLE currentViewport_ = 0;
};
