// The software 3D device: its state, handles and draw calls; the pixels of
// each triangle are the rasteriser's.
#include "platform/device3d.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

#include "platform/helper_thread.h"
#include "platform/rasteriser.h"

namespace {

// ---- Small helpers ----------------------------------------------------------

bool IsPowerOfTwo(int v) { return v > 0 && (v & (v - 1)) == 0; }

D3DCOLORVALUE ColorOf(D3DCOLOR c) {
  const float s = 1.0f / 255.0f;
  return {float((c >> 16) & 255) * s, float((c >> 8) & 255) * s, float(c & 255) * s, float(c >> 24) * s};
}

// ---- Handles ----------------------------------------------------------------

// Handles are 1-based slot numbers; freed slots are reused.
template <typename Record>
Record* Find(std::vector<Record>& table, uint32_t handle) {
  if (handle == 0 || handle > table.size() || !table[handle - 1].inUse) return nullptr;
  return &table[handle - 1];
}
template <typename Record>
const Record* Find(const std::vector<Record>& table, uint32_t handle) {
  if (handle == 0 || handle > table.size() || !table[handle - 1].inUse) return nullptr;
  return &table[handle - 1];
}
template <typename Record>
uint32_t Allocate(std::vector<Record>& table) {
  for (size_t i = 0; i < table.size(); ++i) {
    if (!table[i].inUse) {
      table[i] = Record();
      table[i].inUse = true;
      return uint32_t(i + 1);
    }
  }
  table.emplace_back();
  table.back().inUse = true;
  return uint32_t(table.size());
}

// ---- Pixel formats of the target --------------------------------------------

bool IsTargetFormat(PixelFormat f) {
  return f == PixelFormat::Rgb565 || f == PixelFormat::Rgb555 || f == PixelFormat::Argb1555 ||
         f == PixelFormat::Argb4444;
}

// A 16-bit surface whose rows and pixels lie inside its storage.
bool Fits16(const Surface& s, int width, int height) {
  return BytesPerPixel(s.format) == 2 && s.width >= width && s.height >= height && width > 0 && height > 0 &&
         s.pitch >= width * 2 && size_t(s.pitch) * size_t(height - 1) + size_t(width) * 2 <= s.pixels.size();
}

// ---- Textures ---------------------------------------------------------------

bool IsTextureFormat(PixelFormat f) { return BytesPerPixel(f) == 2 || BytesPerPixel(f) == 4; }

int32_t CheckTextureImage(const Surface& image) {
  if (!IsTextureFormat(image.format)) return DDERR_INVALIDPIXELFORMAT;
  if (!IsPowerOfTwo(image.width) || !IsPowerOfTwo(image.height) || image.width > 4096 || image.height > 4096)
    return D3DERR_TEXTURE_BADSIZE;
  const int bpp = BytesPerPixel(image.format);
  if (image.pitch < image.width * bpp ||
      size_t(image.pitch) * size_t(image.height - 1) + size_t(image.width) * size_t(bpp) >
          image.pixels.size())
    return DDERR_INVALIDPARAMS;
  return D3D_OK;
}

void Widen(const Surface& image, DeviceTexture& texture) {
  texture.width = image.width;
  texture.height = image.height;
  texture.hasAlpha = MasksOf(image.format).alpha != 0;
  texture.texels.resize(size_t(image.width) * size_t(image.height));
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      uint8_t r, g, b, a;
      UnpackPixel(image.format, image.Get(x, y), r, g, b, a);
      texture.texels[size_t(y) * size_t(image.width) + size_t(x)] =
          uint32_t(a) << 24 | uint32_t(r) << 16 | uint32_t(g) << 8 | b;
    }
  }
}

// ---- Render-state values ----------------------------------------------------

// count 16-bit pixels from p set to value.
void Fill16(uint8_t* p, int count, uint16_t value) {
  if ((value & 0xFF) == (value >> 8)) {
    std::memset(p, value & 0xFF, size_t(count) * 2);
    return;
  }
  for (int x = 0; x < count; ++x) Store16(p + size_t(x) * 2, value);
}

// The rectangle of a clear; two threads take a half each when it is large.
struct ClearedRows {
  const Direct3DDevice::Frame& f;
  uint32_t flags;
  uint16_t pixel;
  int x1, x2, y1, y2;

  void Fill(int yBegin, int yEnd) const {
    for (int y = yBegin; y < yEnd; ++y) {
      if (flags & D3DCLEAR_TARGET) Fill16(f.color + size_t(y) * f.colorPitch + size_t(x1) * 2, x2 - x1, pixel);
      if (flags & D3DCLEAR_ZBUFFER) Fill16(f.depth + size_t(y) * f.depthPitch + size_t(x1) * 2, x2 - x1, 0xFFFF);
    }
  }
  static void Half(void* context, int part) {
    const ClearedRows& rows = *static_cast<const ClearedRows*>(context);
    const int middle = rows.y1 + (rows.y2 - rows.y1) / 2;
    if (part == 0)
      rows.Fill(rows.y1, middle);
    else
      rows.Fill(middle, rows.y2);
  }
};

// Pixels from which a clear is worth handing half of to the other thread.
constexpr int64_t kShareClearFrom = 65536;

bool InRange(uint32_t v, uint32_t lo, uint32_t hi) { return v >= lo && v <= hi; }

bool IsLinear(uint32_t filter) {
  return filter == D3DFILTER_LINEAR || filter == D3DFILTER_MIPLINEAR ||
         filter == D3DFILTER_LINEARMIPNEAREST || filter == D3DFILTER_LINEARMIPLINEAR;
}

}  // namespace

// ---- Matrices -----------------------------------------------------------------

D3DMATRIX D3DIdentityMatrix() {
  D3DMATRIX m{};
  m._11 = m._22 = m._33 = m._44 = 1.0f;
  return m;
}

D3DMATRIX D3DMultiply(const D3DMATRIX& a, const D3DMATRIX& b) {
  const float* pa = &a._11;
  const float* pb = &b._11;
  D3DMATRIX r;
  float* pr = &r._11;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      pr[i * 4 + j] = pa[i * 4] * pb[j] + pa[i * 4 + 1] * pb[4 + j] + pa[i * 4 + 2] * pb[8 + j] +
                      pa[i * 4 + 3] * pb[12 + j];
  return r;
}

// ---- Device -------------------------------------------------------------------

Direct3DDevice::Direct3DDevice()
    : corners_(std::make_unique<CornerCache>()),
      world_(D3DIdentityMatrix()),
      view_(D3DIdentityMatrix()),
      projection_(D3DIdentityMatrix()) {
  drawThreads_ = std::thread::hardware_concurrency() >= 2 ? 2 : 1;
  uint32_t* s = renderStates_;
  s[D3DRENDERSTATE_TEXTUREADDRESS] = D3DTADDRESS_WRAP;
  s[D3DRENDERSTATE_TEXTUREADDRESSU] = D3DTADDRESS_WRAP;
  s[D3DRENDERSTATE_TEXTUREADDRESSV] = D3DTADDRESS_WRAP;
  s[D3DRENDERSTATE_TEXTUREPERSPECTIVE] = 1;
  s[D3DRENDERSTATE_ZENABLE] = D3DZB_TRUE;
  s[D3DRENDERSTATE_FILLMODE] = D3DFILL_SOLID;
  s[D3DRENDERSTATE_SHADEMODE] = D3DSHADE_GOURAUD;
  s[D3DRENDERSTATE_ROP2] = 13;  // R2_COPYPEN
  s[D3DRENDERSTATE_PLANEMASK] = 0xFFFFFFFFu;
  s[D3DRENDERSTATE_ZWRITEENABLE] = 1;
  s[D3DRENDERSTATE_LASTPIXEL] = 1;
  s[D3DRENDERSTATE_TEXTUREMAG] = D3DFILTER_NEAREST;
  s[D3DRENDERSTATE_TEXTUREMIN] = D3DFILTER_NEAREST;
  s[D3DRENDERSTATE_SRCBLEND] = D3DBLEND_ONE;
  s[D3DRENDERSTATE_DESTBLEND] = D3DBLEND_ZERO;
  s[D3DRENDERSTATE_TEXTUREMAPBLEND] = D3DTBLEND_MODULATE;
  s[D3DRENDERSTATE_CULLMODE] = D3DCULL_CCW;
  s[D3DRENDERSTATE_ZFUNC] = D3DCMP_LESSEQUAL;
  s[D3DRENDERSTATE_ALPHAFUNC] = D3DCMP_ALWAYS;
  s[D3DRENDERSTATE_SPECULARENABLE] = 1;  // Direct3D 5 starts with specular on
  s[D3DRENDERSTATE_SUBPIXEL] = 1;
  lightStates_[D3DLIGHTSTATE_COLORMODEL] = D3DCOLOR_RGB;
  const float one = 1.0f;
  std::memcpy(&lightStates_[D3DLIGHTSTATE_FOGEND], &one, 4);
  std::memcpy(&lightStates_[D3DLIGHTSTATE_FOGDENSITY], &one, 4);
}

int32_t Direct3DDevice::SetRenderTarget(Surface* target, Surface* zBuffer) {
  if (inBegin_) return D3DERR_INBEGIN;
  if (target == nullptr) return DDERR_INVALIDPARAMS;
  if (!IsTargetFormat(target->format)) return DDERR_INVALIDPIXELFORMAT;
  if (!Fits16(*target, target->width, target->height)) return DDERR_INVALIDPARAMS;
  if (zBuffer && !Fits16(*zBuffer, target->width, target->height)) return DDERR_INVALIDPARAMS;
  target_ = target;
  zSurface_ = zBuffer;
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::BeginScene() {
  if (inScene_) return D3DERR_SCENE_IN_SCENE;
  inScene_ = true;
  trianglesDrawn_ = 0;
  return D3D_OK;
}

int32_t Direct3DDevice::EndScene() {
  if (!inScene_) return D3DERR_SCENE_NOT_IN_SCENE;
  if (inBegin_) return D3DERR_INBEGIN;
  inScene_ = false;
  return D3D_OK;
}

int32_t Direct3DDevice::SetTransform(D3DTRANSFORMSTATETYPE type, const D3DMATRIX* matrix) {
  if (matrix == nullptr) return DDERR_INVALIDPARAMS;
  switch (type) {
    case D3DTRANSFORMSTATE_WORLD:
      world_ = *matrix;
      break;
    case D3DTRANSFORMSTATE_VIEW:
      view_ = *matrix;
      break;
    case D3DTRANSFORMSTATE_PROJECTION:
      projection_ = *matrix;
      break;
    default:
      return DDERR_INVALIDPARAMS;
  }
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::GetTransform(D3DTRANSFORMSTATETYPE type, D3DMATRIX* matrix) const {
  if (matrix == nullptr) return DDERR_INVALIDPARAMS;
  switch (type) {
    case D3DTRANSFORMSTATE_WORLD:
      *matrix = world_;
      return D3D_OK;
    case D3DTRANSFORMSTATE_VIEW:
      *matrix = view_;
      return D3D_OK;
    case D3DTRANSFORMSTATE_PROJECTION:
      *matrix = projection_;
      return D3D_OK;
  }
  return DDERR_INVALIDPARAMS;
}

int32_t Direct3DDevice::SetRenderState(D3DRENDERSTATETYPE state, uint32_t value) {
  if (state == 0 || state >= D3DRENDERSTATE_COUNT) return DDERR_INVALIDPARAMS;
  bool valid = true;
  switch (state) {
    case D3DRENDERSTATE_TEXTUREHANDLE:
      valid = value == 0 || Find(textures_, value) != nullptr;
      break;
    case D3DRENDERSTATE_CULLMODE:
      valid = InRange(value, D3DCULL_NONE, D3DCULL_CCW);
      break;
    case D3DRENDERSTATE_ZFUNC:
    case D3DRENDERSTATE_ALPHAFUNC:
      valid = InRange(value, D3DCMP_NEVER, D3DCMP_ALWAYS);
      break;
    case D3DRENDERSTATE_SRCBLEND:
    case D3DRENDERSTATE_DESTBLEND:
      valid = InRange(value, D3DBLEND_ZERO, D3DBLEND_BOTHINVSRCALPHA);
      break;
    case D3DRENDERSTATE_TEXTUREMAG:
    case D3DRENDERSTATE_TEXTUREMIN:
      valid = InRange(value, D3DFILTER_NEAREST, D3DFILTER_LINEARMIPLINEAR);
      break;
    case D3DRENDERSTATE_TEXTUREMAPBLEND:
      valid = InRange(value, D3DTBLEND_DECAL, D3DTBLEND_ADD);
      break;
    case D3DRENDERSTATE_SHADEMODE:
      valid = InRange(value, D3DSHADE_FLAT, D3DSHADE_PHONG);
      break;
    case D3DRENDERSTATE_FILLMODE:
      valid = InRange(value, D3DFILL_POINT, D3DFILL_SOLID);
      break;
    case D3DRENDERSTATE_TEXTUREADDRESS:
    case D3DRENDERSTATE_TEXTUREADDRESSU:
    case D3DRENDERSTATE_TEXTUREADDRESSV:
      valid = InRange(value, D3DTADDRESS_WRAP, D3DTADDRESS_CLAMP);
      break;
    case D3DRENDERSTATE_ZENABLE:
      valid = value <= 2;
      break;  // 2: w-buffer, drawn as a z-buffer
    default:
      break;
  }
  if (!valid) return DDERR_INVALIDPARAMS;
  renderStates_[state] = value;
  if (state == D3DRENDERSTATE_TEXTUREADDRESS) {
    renderStates_[D3DRENDERSTATE_TEXTUREADDRESSU] = renderStates_[D3DRENDERSTATE_TEXTUREADDRESSV] = value;
  }
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::GetRenderState(D3DRENDERSTATETYPE state, uint32_t* value) const {
  if (value == nullptr || state == 0 || state >= D3DRENDERSTATE_COUNT) return DDERR_INVALIDPARAMS;
  *value = renderStates_[state];
  return D3D_OK;
}

int32_t Direct3DDevice::SetLightState(D3DLIGHTSTATETYPE state, uint32_t value) {
  bool valid = true;
  switch (state) {
    case D3DLIGHTSTATE_MATERIAL:
      valid = value == 0 || Find(materials_, value) != nullptr;
      break;
    case D3DLIGHTSTATE_COLORMODEL:
      valid = InRange(value, D3DCOLOR_MONO, D3DCOLOR_RGB);
      break;
    case D3DLIGHTSTATE_FOGMODE:
      valid = value <= D3DFOG_LINEAR;
      break;
    case D3DLIGHTSTATE_AMBIENT:
    case D3DLIGHTSTATE_FOGSTART:
    case D3DLIGHTSTATE_FOGEND:
    case D3DLIGHTSTATE_FOGDENSITY:
      break;
    default:
      return DDERR_INVALIDPARAMS;
  }
  if (!valid) return DDERR_INVALIDPARAMS;
  lightStates_[state] = value;
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::GetLightState(D3DLIGHTSTATETYPE state, uint32_t* value) const {
  if (value == nullptr || state < D3DLIGHTSTATE_MATERIAL || state > D3DLIGHTSTATE_FOGDENSITY)
    return DDERR_INVALIDPARAMS;
  *value = lightStates_[state];
  return D3D_OK;
}

// ---- Materials ------------------------------------------------------------------

int32_t Direct3DDevice::CreateMaterial(D3DMATERIALHANDLE* out) {
  if (out == nullptr) return DDERR_INVALIDPARAMS;
  *out = Allocate(materials_);
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::SetMaterial(D3DMATERIALHANDLE material, const D3DMATERIAL* data) {
  MaterialRecord* record = Find(materials_, material);
  if (record == nullptr || data == nullptr) return DDERR_INVALIDPARAMS;
  record->data = *data;
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::GetMaterial(D3DMATERIALHANDLE material, D3DMATERIAL* data) const {
  const MaterialRecord* record = Find(materials_, material);
  if (record == nullptr || data == nullptr) return DDERR_INVALIDPARAMS;
  *data = record->data;
  return D3D_OK;
}

int32_t Direct3DDevice::ReleaseMaterial(D3DMATERIALHANDLE material) {
  MaterialRecord* record = Find(materials_, material);
  if (record == nullptr) return DDERR_INVALIDPARAMS;
  record->inUse = false;
  // Nothing may keep drawing with, or clearing to, a material that is gone.
  if (lightStates_[D3DLIGHTSTATE_MATERIAL] == material) lightStates_[D3DLIGHTSTATE_MATERIAL] = 0;
  for (ViewportRecord& v : viewports_)
    if (v.background == material) v.background = 0;
  Changed();
  return D3D_OK;
}

// ---- Textures ---------------------------------------------------------------------

int32_t Direct3DDevice::CreateTexture(const Surface& image, D3DTEXTUREHANDLE* out) {
  if (out == nullptr) return DDERR_INVALIDPARAMS;
  const int32_t usable = CheckTextureImage(image);
  if (usable != D3D_OK) return usable;
  const D3DTEXTUREHANDLE handle = Allocate(textures_);
  Widen(image, textures_[handle - 1]);
  *out = handle;
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::UpdateTexture(D3DTEXTUREHANDLE texture, const Surface& image) {
  DeviceTexture* record = Find(textures_, texture);
  if (record == nullptr) return DDERR_INVALIDPARAMS;
  const int32_t usable = CheckTextureImage(image);
  if (usable != D3D_OK) return usable;
  Widen(image, *record);
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::Load(D3DTEXTUREHANDLE destination, D3DTEXTUREHANDLE source) {
  DeviceTexture* to = Find(textures_, destination);
  const DeviceTexture* from = Find(textures_, source);
  if (to == nullptr || from == nullptr) return DDERR_INVALIDPARAMS;
  if (to->width != from->width || to->height != from->height) return D3DERR_TEXTURE_BADSIZE;
  if (to != from) {
    to->hasAlpha = from->hasAlpha;
    to->texels = from->texels;
  }
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::ReleaseTexture(D3DTEXTUREHANDLE texture) {
  DeviceTexture* record = Find(textures_, texture);
  if (record == nullptr) return DDERR_INVALIDPARAMS;
  record->inUse = false;
  record->texels.clear();
  record->texels.shrink_to_fit();
  if (renderStates_[D3DRENDERSTATE_TEXTUREHANDLE] == texture) renderStates_[D3DRENDERSTATE_TEXTUREHANDLE] = 0;
  Changed();
  return D3D_OK;
}

const DeviceTexture* Direct3DDevice::Texture(D3DTEXTUREHANDLE texture) const {
  return Find(textures_, texture);
}

// ---- Lights -------------------------------------------------------------------------

int32_t Direct3DDevice::CreateLight(D3DLIGHTHANDLE* out) {
  if (out == nullptr) return DDERR_INVALIDPARAMS;
  *out = Allocate(lights_);
  return D3D_OK;
}

int32_t Direct3DDevice::SetLight(D3DLIGHTHANDLE light, const D3DLIGHT2* data) {
  LightRecord* record = Find(lights_, light);
  if (record == nullptr || data == nullptr) return DDERR_INVALIDPARAMS;
  if (data->dltType != D3DLIGHT_DIRECTIONAL) return DDERR_UNSUPPORTED;
  record->data = *data;
  record->set = true;
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::GetLight(D3DLIGHTHANDLE light, D3DLIGHT2* data) const {
  const LightRecord* record = Find(lights_, light);
  if (record == nullptr || data == nullptr) return DDERR_INVALIDPARAMS;
  *data = record->data;
  return D3D_OK;
}

int32_t Direct3DDevice::ReleaseLight(D3DLIGHTHANDLE light) {
  LightRecord* record = Find(lights_, light);
  if (record == nullptr) return DDERR_INVALIDPARAMS;
  record->inUse = false;
  for (ViewportRecord& v : viewports_) {
    if (v.inUse) DeleteLight(D3DVIEWPORTHANDLE(&v - viewports_.data() + 1), light);
  }
  Changed();
  return D3D_OK;
}

// ---- Viewports ------------------------------------------------------------------------

int32_t Direct3DDevice::CreateViewport(D3DVIEWPORTHANDLE* out) {
  if (out == nullptr) return DDERR_INVALIDPARAMS;
  *out = Allocate(viewports_);
  return D3D_OK;
}

int32_t Direct3DDevice::ReleaseViewport(D3DVIEWPORTHANDLE viewport) {
  ViewportRecord* record = Find(viewports_, viewport);
  if (record == nullptr) return DDERR_INVALIDPARAMS;
  record->inUse = false;
  if (currentViewport_ == viewport) currentViewport_ = 0;
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::SetViewport2(D3DVIEWPORTHANDLE viewport, const D3DVIEWPORT2* data) {
  ViewportRecord* record = Find(viewports_, viewport);
  if (record == nullptr || data == nullptr) return DDERR_INVALIDPARAMS;
  // Sizes come from arithmetic on floats and may arrive wrapped around.
  constexpr uint32_t kLimit = 1u << 15;
  if (data->dwWidth == 0 || data->dwHeight == 0 || data->dwX >= kLimit || data->dwY >= kLimit ||
      data->dwWidth > kLimit || data->dwHeight > kLimit)
    return DDERR_INVALIDPARAMS;
  const float fields[] = {data->dvClipX,      data->dvClipY, data->dvClipWidth,
                          data->dvClipHeight, data->dvMinZ,  data->dvMaxZ};
  for (float v : fields)
    if (!std::isfinite(v)) return DDERR_INVALIDPARAMS;
  if (!(data->dvClipWidth > 0) || !(data->dvClipHeight > 0)) return DDERR_INVALIDPARAMS;
  record->data = *data;
  record->set = true;
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::GetViewport2(D3DVIEWPORTHANDLE viewport, D3DVIEWPORT2* data) const {
  const ViewportRecord* record = Find(viewports_, viewport);
  if (record == nullptr || data == nullptr) return DDERR_INVALIDPARAMS;
  if (!record->set) return D3DERR_VIEWPORTDATANOTSET;
  *data = record->data;
  return D3D_OK;
}

int32_t Direct3DDevice::SetBackground(D3DVIEWPORTHANDLE viewport, D3DMATERIALHANDLE material) {
  ViewportRecord* record = Find(viewports_, viewport);
  if (record == nullptr || Find(materials_, material) == nullptr) return DDERR_INVALIDPARAMS;
  record->background = material;
  return D3D_OK;
}

int32_t Direct3DDevice::AddLight(D3DVIEWPORTHANDLE viewport, D3DLIGHTHANDLE light) {
  ViewportRecord* record = Find(viewports_, viewport);
  if (record == nullptr || Find(lights_, light) == nullptr) return DDERR_INVALIDPARAMS;
  for (int i = 0; i < record->lightCount; ++i)
    if (record->lights[i] == light) return DDERR_INVALIDPARAMS;
  if (record->lightCount == MaxViewportLights) return DDERR_OUTOFMEMORY;
  record->lights[record->lightCount++] = light;
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::DeleteLight(D3DVIEWPORTHANDLE viewport, D3DLIGHTHANDLE light) {
  ViewportRecord* record = Find(viewports_, viewport);
  if (record == nullptr) return DDERR_INVALIDPARAMS;
  for (int i = 0; i < record->lightCount; ++i) {
    if (record->lights[i] != light) continue;
    std::copy(record->lights + i + 1, record->lights + record->lightCount, record->lights + i);
    --record->lightCount;
    Changed();
    return D3D_OK;
  }
  return DDERR_INVALIDPARAMS;
}

int32_t Direct3DDevice::AddViewport(D3DVIEWPORTHANDLE viewport) {
  ViewportRecord* record = Find(viewports_, viewport);
  if (record == nullptr || record->added) return DDERR_INVALIDPARAMS;
  record->added = true;
  return D3D_OK;
}

int32_t Direct3DDevice::DeleteViewport(D3DVIEWPORTHANDLE viewport) {
  ViewportRecord* record = Find(viewports_, viewport);
  if (record == nullptr || !record->added) return DDERR_INVALIDPARAMS;
  record->added = false;
  if (currentViewport_ == viewport) currentViewport_ = 0;
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::SetCurrentViewport(D3DVIEWPORTHANDLE viewport) {
  const ViewportRecord* record = Find(viewports_, viewport);
  if (record == nullptr || !record->added) return DDERR_INVALIDPARAMS;
  currentViewport_ = viewport;
  Changed();
  return D3D_OK;
}

int32_t Direct3DDevice::Clear(D3DVIEWPORTHANDLE viewport, uint32_t count, const D3DRECT* rects,
                              uint32_t flags) {
  const ViewportRecord* record = Find(viewports_, viewport);
  if (record == nullptr || (count > 0 && rects == nullptr)) return DDERR_INVALIDPARAMS;
  if (!record->added) return D3DERR_VIEWPORTHASNODEVICE;
  if (inBegin_) return D3DERR_INBEGIN;
  const int32_t bound = BindSurfaces();
  if (bound != D3D_OK) return bound;
  uint32_t pixel = PackTarget(frame_.format, 0, 0, 0, 255);
  if (const MaterialRecord* background = Find(materials_, record->background)) {
    const D3DCOLORVALUE& c = background->data.diffuse;
    pixel = PackTarget(frame_.format, int(Clamp01(c.r) * 255.0f + 0.5f), int(Clamp01(c.g) * 255.0f + 0.5f),
                       int(Clamp01(c.b) * 255.0f + 0.5f), int(Clamp01(c.a) * 255.0f + 0.5f));
  }
  for (uint32_t i = 0; i < count; ++i) {
    ClearedRows rows{frame_, flags, uint16_t(pixel), std::max(rects[i].x1, 0), std::min(rects[i].x2, target_->width),
                     std::max(rects[i].y1, 0), std::min(rects[i].y2, target_->height)};
    if (rows.x1 >= rows.x2 || rows.y1 >= rows.y2) continue;
    HelperThread* helper = int64_t(rows.x2 - rows.x1) * (rows.y2 - rows.y1) >= kShareClearFrom ? Helper() : nullptr;
    if (helper != nullptr)
      helper->Run(ClearedRows::Half, &rows);
    else
      rows.Fill(rows.y1, rows.y2);
  }
  return D3D_OK;
}

// ---- Drawing -------------------------------------------------------------------------

int32_t Direct3DDevice::BindSurfaces() {
  if (target_ == nullptr) return D3DERR_INVALID_DEVICE;
  const int w = target_->width, h = target_->height;
  if (!IsTargetFormat(target_->format) || !Fits16(*target_, w, h)) return DDERR_INVALIDPARAMS;
  frame_.format = target_->format;
  frame_.color = target_->pixels.data();
  frame_.colorPitch = target_->pitch;
  if (zSurface_ != nullptr) {
    if (!Fits16(*zSurface_, w, h)) return DDERR_INVALIDPARAMS;
    frame_.depth = zSurface_->pixels.data();
    frame_.depthPitch = zSurface_->pitch;
  } else {
    const size_t needed = size_t(w) * size_t(h);
    if (ownZ_.size() != needed) ownZ_.assign(needed, 0xFFFF);
    frame_.depth = reinterpret_cast<uint8_t*>(ownZ_.data());
    frame_.depthPitch = w * 2;
  }
  return D3D_OK;
}

int32_t Direct3DDevice::BindFrame() {
  const int32_t bound = BindSurfaces();
  if (bound != D3D_OK) return bound;
  // What the corners got holds for one call (or one vertex of Begin/End).
  corners_->Reset();
  if (frame_.valid) return D3D_OK;
  const ViewportRecord* vp = Find(viewports_, currentViewport_);
  if (vp == nullptr) return D3DERR_NOCURRENTVIEWPORT;
  if (!vp->set) return D3DERR_VIEWPORTDATANOTSET;
  Frame& f = frame_;
  const D3DVIEWPORT2& d = vp->data;

  f.clipLeft = std::min<int>(int(d.dwX), target_->width);
  f.clipTop = std::min<int>(int(d.dwY), target_->height);
  f.clipRight = std::min<int>(int(d.dwX + d.dwWidth), target_->width);
  f.clipBottom = std::min<int>(int(d.dwY + d.dwHeight), target_->height);
  f.kx = float(d.dwWidth) / d.dvClipWidth;
  f.ox = float(d.dwX) - f.kx * d.dvClipX;
  f.ky = -float(d.dwHeight) / d.dvClipHeight;
  f.oy = float(d.dwY) - f.ky * d.dvClipY;
  f.minZ = d.dvMinZ;
  f.zScale = d.dvMaxZ - d.dvMinZ;
  constexpr float kGuard = 4096.0f;
  f.guardLeft = float(f.clipLeft) - kGuard;
  f.guardRight = float(f.clipRight) + kGuard;
  f.guardTop = float(f.clipTop) - kGuard;
  f.guardBottom = float(f.clipBottom) + kGuard;

  f.worldView = D3DMultiply(world_, view_);
  f.worldViewProjection = D3DMultiply(f.worldView, projection_);

  const uint32_t* s = renderStates_;
  D3DMATERIAL material{};
  if (const MaterialRecord* m = Find(materials_, lightStates_[D3DLIGHTSTATE_MATERIAL])) material = m->data;
  const D3DCOLORVALUE ambient = ColorOf(lightStates_[D3DLIGHTSTATE_AMBIENT]);
  f.base = {ambient.r * material.ambient.r + material.emissive.r,
            ambient.g * material.ambient.g + material.emissive.g,
            ambient.b * material.ambient.b + material.emissive.b, 0};
  f.alpha = material.diffuse.a;
  f.power = material.power;
  f.specular = s[D3DRENDERSTATE_SPECULARENABLE] != 0;
  f.flat = s[D3DRENDERSTATE_SHADEMODE] == D3DSHADE_FLAT;
  f.lightCount = 0;
  for (int i = 0; i < vp->lightCount; ++i) {
    const LightRecord* light = Find(lights_, vp->lights[i]);
    if (light == nullptr || !light->set || !(light->data.dwFlags & D3DLIGHT_ACTIVE)) continue;
    const D3DVECTOR& dir = light->data.dvDirection;
    const D3DVECTOR toLight = Normalized(TransformDirection({-dir.x, -dir.y, -dir.z}, view_));
    const D3DCOLORVALUE& c = light->data.dcvColor;
    const bool noSpecular = (light->data.dwFlags & D3DLIGHT_NO_SPECULAR) != 0;
    f.toLight[f.lightCount] = toLight;
    f.lightDiffuse[f.lightCount] = {c.r * material.diffuse.r, c.g * material.diffuse.g,
                                    c.b * material.diffuse.b, 0};
    f.lightSpecular[f.lightCount] = noSpecular
                                        ? D3DCOLORVALUE{0, 0, 0, 0}
                                        : D3DCOLORVALUE{c.r * material.specular.r, c.g * material.specular.g,
                                                        c.b * material.specular.b, 0};
    ++f.lightCount;
  }

  f.texture = Find(textures_, s[D3DRENDERSTATE_TEXTUREHANDLE]);
  if (f.texture != nullptr && f.texture->texels.empty()) f.texture = nullptr;
  // One filter for the whole triangle: magnification decides.
  f.bilinear = IsLinear(s[D3DRENDERSTATE_TEXTUREMAG]);
  f.textureBlend = s[D3DRENDERSTATE_TEXTUREMAPBLEND];
  f.blend = s[D3DRENDERSTATE_ALPHABLENDENABLE] != 0;
  f.srcBlend = s[D3DRENDERSTATE_SRCBLEND];
  f.destBlend = s[D3DRENDERSTATE_DESTBLEND];
  f.zTest = s[D3DRENDERSTATE_ZENABLE] != D3DZB_FALSE;
  f.zWrite = f.zTest && s[D3DRENDERSTATE_ZWRITEENABLE] != 0;
  f.zFunc = s[D3DRENDERSTATE_ZFUNC];
  f.cull = s[D3DRENDERSTATE_CULLMODE];
  f.valid = true;
  return D3D_OK;
}

int32_t Direct3DDevice::CheckDrawCall(D3DPRIMITIVETYPE type, D3DVERTEXTYPE vertexType) const {
  if (!inScene_) return D3DERR_SCENE_NOT_IN_SCENE;
  if (vertexType != D3DVT_VERTEX) return D3DERR_INVALIDVERTEXTYPE;
  if (type != D3DPT_TRIANGLELIST && type != D3DPT_TRIANGLESTRIP && type != D3DPT_TRIANGLEFAN)
    return D3DERR_INVALIDPRIMITIVETYPE;
  return D3D_OK;
}

void Direct3DDevice::DrawTriangle(const D3DVERTEX& a, const D3DVERTEX& b, const D3DVERTEX& c) {
  if (RasteriseTriangle(frame_, *corners_, a, b, c)) ++trianglesDrawn_;
}

int32_t Direct3DDevice::Begin(D3DPRIMITIVETYPE type, D3DVERTEXTYPE vertexType, uint32_t /*flags*/) {
  if (inBegin_) return D3DERR_INBEGIN;
  const int32_t ok = CheckDrawCall(type, vertexType);
  if (ok != D3D_OK) return ok;
  const int32_t bound = BindFrame();
  if (bound != D3D_OK) return bound;
  inBegin_ = true;
  beginType_ = type;
  pendingCount_ = 0;
  streamIndex_ = 0;
  return D3D_OK;
}

int32_t Direct3DDevice::Vertex(const D3DVERTEX* vertex) {
  if (!inBegin_) return D3DERR_NOTINBEGIN;
  if (vertex == nullptr) return DDERR_INVALIDPARAMS;
  // State may have changed since Begin; surfaces are looked at every time.
  const int32_t bound = BindFrame();
  if (bound != D3D_OK) return bound;
  const uint32_t n = streamIndex_++;
  if (beginType_ == D3DPT_TRIANGLELIST) {
    pending_[pendingCount_++] = *vertex;
    if (pendingCount_ == 3) {
      DrawTriangle(pending_[0], pending_[1], pending_[2]);
      pendingCount_ = 0;
    }
    return D3D_OK;
  }
  if (n < 2) {
    pending_[n] = *vertex;
    return D3D_OK;
  }
  if (beginType_ == D3DPT_TRIANGLEFAN) {
    DrawTriangle(pending_[0], pending_[1], *vertex);
    pending_[1] = *vertex;
  } else {
    // Every second strip triangle is reversed so that all keep one winding.
    if (n % 2 == 0)
      DrawTriangle(pending_[0], pending_[1], *vertex);
    else
      DrawTriangle(pending_[1], pending_[0], *vertex);
    pending_[0] = pending_[1];
    pending_[1] = *vertex;
  }
  return D3D_OK;
}

int32_t Direct3DDevice::End(uint32_t /*flags*/) {
  if (!inBegin_) return D3DERR_NOTINBEGIN;
  inBegin_ = false;
  pendingCount_ = 0;
  return D3D_OK;
}

namespace {

// Below this many triangles a call is drawn on the calling thread: handing
// it over would cost more than it saves.
constexpr uint32_t kShareFrom = 64;

uint32_t TriangleCount(D3DPRIMITIVETYPE type, uint32_t count) {
  if (type == D3DPT_TRIANGLELIST) return count / 3;
  return count >= 3 ? count - 2 : 0;
}

// The corners of triangle i of a list, fan or strip. Every second strip
// triangle is reversed so that all keep one winding.
void Corners(D3DPRIMITIVETYPE type, const D3DVERTEX* v, uint32_t i, const D3DVERTEX* out[3]) {
  if (type == D3DPT_TRIANGLELIST) {
    out[0] = &v[3 * i], out[1] = &v[3 * i + 1], out[2] = &v[3 * i + 2];
  } else if (type == D3DPT_TRIANGLEFAN) {
    out[0] = &v[0], out[1] = &v[i + 1], out[2] = &v[i + 2];
  } else if (i % 2 == 0) {
    out[0] = &v[i], out[1] = &v[i + 1], out[2] = &v[i + 2];
  } else {
    out[0] = &v[i + 1], out[1] = &v[i], out[2] = &v[i + 2];
  }
}

}  // namespace

// A call shared by two threads: they take chunks of its triangles to
// prepare as each becomes free, then each scans its stripes of rows of all
// of them, in the call's order. Chunks taken as the threads come free, not
// dealt out in advance: what a part of a model costs depends on how much of
// it is in view, and the helper starts later and reads the call's vertices
// from the other core's cache.
struct Direct3DDevice::SharedDrawing {
  static constexpr uint32_t kChunk = 32;  // triangles

  // Each thread's output on cache lines of its own: the vectors' ends move
  // at every triangle.
  struct alignas(64) Part {
    std::vector<PreparedTriangle> prepared;
    uint32_t drawn = 0;
    CornerCache corners;
  };
  // Where a chunk's prepared triangles lie.
  struct ChunkSpan {
    uint32_t part;
    size_t begin, end;
  };
  HelperThread helper;
  Part parts[2];
  std::vector<ChunkSpan> chunks;
  alignas(64) std::atomic<uint32_t> nextChunk{0};
  const Frame* frame = nullptr;
  D3DPRIMITIVETYPE type = D3DPT_TRIANGLELIST;
  const D3DVERTEX* vertices = nullptr;
  uint32_t triangles = 0;

  uint32_t ChunkCount() const { return (triangles + kChunk - 1) / kChunk; }

  static void Prepare(void* context, int part) {
    SharedDrawing& s = *static_cast<SharedDrawing*>(context);
    Part& p = s.parts[part];
    p.prepared.clear();
    p.corners.Reset();
    uint32_t drawn = 0;
    PreparedTriangle pieces[kMaxPreparedPerTriangle];
    for (uint32_t chunk = s.nextChunk.fetch_add(1, std::memory_order_relaxed); chunk < s.ChunkCount();
         chunk = s.nextChunk.fetch_add(1, std::memory_order_relaxed)) {
      const size_t begin = p.prepared.size();
      const uint32_t last = std::min(s.triangles, (chunk + 1) * kChunk);
      for (uint32_t i = chunk * kChunk; i < last; ++i) {
        const D3DVERTEX* c[3];
        Corners(s.type, s.vertices, i, c);
        int count = 0;
        if (PrepareTriangle(*s.frame, p.corners, *c[0], *c[1], *c[2], pieces, &count)) ++drawn;
        p.prepared.insert(p.prepared.end(), pieces, pieces + count);
      }
      s.chunks[chunk] = {uint32_t(part), begin, p.prepared.size()};
    }
    p.drawn = drawn;
  }

  static void Scan(void* context, int part) {
    SharedDrawing& s = *static_cast<SharedDrawing*>(context);
    for (const ChunkSpan& c : s.chunks)
      ScanTriangles(*s.frame, s.parts[c.part].prepared.data() + c.begin, c.end - c.begin, part, 2);
  }
};

Direct3DDevice::~Direct3DDevice() = default;

void Direct3DDevice::SetDrawThreads(int threads) { drawThreads_ = threads >= 2 ? 2 : 1; }

// Null when no second thread can be had; everything is then drawn on this one.
Direct3DDevice::SharedDrawing* Direct3DDevice::Sharing() {
  if (!sharing_) {
    try {
      sharing_ = std::make_unique<SharedDrawing>();
    } catch (const std::exception&) {
      drawThreads_ = 1;
      return nullptr;
    }
  }
  return sharing_.get();
}

HelperThread* Direct3DDevice::Helper() {
  SharedDrawing* sharing = drawThreads_ > 1 ? Sharing() : nullptr;
  return sharing != nullptr ? &sharing->helper : nullptr;
}

// False when no second thread can be had; the call is then drawn on this one.
bool Direct3DDevice::DrawShared(D3DPRIMITIVETYPE type, const D3DVERTEX* vertices, uint32_t triangles) {
  SharedDrawing* sharing = Sharing();
  if (sharing == nullptr) return false;
  SharedDrawing& s = *sharing;
  s.frame = &frame_;
  s.type = type;
  s.vertices = vertices;
  s.triangles = triangles;
  try {
    s.chunks.resize(s.ChunkCount());
  } catch (const std::exception&) {
    return false;
  }
  s.nextChunk.store(0, std::memory_order_relaxed);
  s.helper.Run(SharedDrawing::Prepare, &s);
  s.helper.Run(SharedDrawing::Scan, &s);
  trianglesDrawn_ += s.parts[0].drawn + s.parts[1].drawn;
  return true;
}

int32_t Direct3DDevice::DrawPrimitive(D3DPRIMITIVETYPE type, D3DVERTEXTYPE vertexType,
                                      const D3DVERTEX* vertices, uint32_t count, uint32_t /*flags*/) {
  if (inBegin_) return D3DERR_INBEGIN;
  const int32_t ok = CheckDrawCall(type, vertexType);
  if (ok != D3D_OK) return ok;
  if (vertices == nullptr && count > 0) return DDERR_INVALIDPARAMS;
  const int32_t bound = BindFrame();
  if (bound != D3D_OK) return bound;
  const uint32_t triangles = TriangleCount(type, count);
  if (drawThreads_ > 1 && triangles >= kShareFrom && DrawShared(type, vertices, triangles)) return D3D_OK;
  for (uint32_t i = 0; i < triangles; ++i) {
    const D3DVERTEX* c[3];
    Corners(type, vertices, i, c);
    DrawTriangle(*c[0], *c[1], *c[2]);
  }
  return D3D_OK;
}
