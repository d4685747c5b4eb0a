// The frame: opening and closing the scene, camera and object transforms,
// the render area with its viewport and light, the page flip, the per-frame
// render options and the translucent triangles drawn last, back to front.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/ui.h"
#include "render/library_state.h"
#include "render/qlt.h"

QltRenderArea _qlt_RenderArea;
D3DVECTOR _qlt_CameraPosition;

namespace {

const char* const OpRenderBegin = "qlt_RenderBegin";
const char* const OpRenderEnd = "qlt_RenderEnd";
const char* const OpSetMatrix = "qlt_SetMatrix";
const char* const OpPageFlip = "qlt_PageFlip";
const char* const OpSetRenderArea = "qlt_SetRenderArea";
const char* const OpSetLight = "qlt_SetLightLocationColor";
const char* const OpDraw = "qlt_DrawTriangles";
const char* const OpQueue = "qlt_QueueTranslucentTriangle";

const char* const OutsideFrameText =
    "Can not call qlt_SetMatrix outside\nof an RenderBegin() and RenderEnd()\npair!";
const char* const SetLightText = "_qlt_Light->SetLight((D3DLIGHT *)&light)";

// The device refuses viewport coordinates from here on.
constexpr float MaxAreaCoordinate = 32767.0f;
// A device that keeps reporting a flip still in progress is given up on.
constexpr int MaxFlipAttempts = 1000;

int Fail(const char* operation, const char* message, int32_t result) {
  _qlt_SetError(operation, message, result);
  return 0;
}

// Triangles the library drew in the current frame.
int32_t _qlt_PolygonCount;

// ---- Translucent queue ----------------------------------------------------------

struct QueuedTriangle {
  D3DVERTEX vertices[3];
  D3DMATRIX world;
  int32_t material;  // library material, -1 when none was selected
  float distance;    // of the centroid from the camera
  int32_t order;     // position in the queue
};

QueuedTriangle _qlt_Translucent[QltMaxTranslucentTriangles];
int32_t _qlt_TranslucentCount;

// A point of object space in camera-centred world space.
D3DVECTOR ToCameraSpace(const D3DVECTOR& p, const D3DMATRIX& m) {
  return {p.x * m._11 + p.y * m._21 + p.z * m._31 + m._41, p.x * m._12 + p.y * m._22 + p.z * m._32 + m._42,
          p.x * m._13 + p.y * m._23 + p.z * m._33 + m._43};
}

float CentroidDistance(const D3DVERTEX* v, const D3DMATRIX& world) {
  const D3DVECTOR centroid = {(v[0].x + v[1].x + v[2].x) / 3.0f, (v[0].y + v[1].y + v[2].y) / 3.0f,
                              (v[0].z + v[1].z + v[2].z) / 3.0f};
  const D3DVECTOR c = ToCameraSpace(centroid, world);
  return std::sqrt(c.x * c.x + c.y * c.y + c.z * c.z);
}

bool FiniteVertex(const D3DVERTEX& v) {
  const float fields[] = {v.x, v.y, v.z, v.nx, v.ny, v.nz, v.tu, v.tv};
  return std::all_of(std::begin(fields), std::end(fields), [](float f) { return std::isfinite(f); });
}

// Farthest first; of equal distances the one queued later goes first.
bool DrawnBefore(const QueuedTriangle& a, const QueuedTriangle& b) {
  if (a.distance != b.distance) return a.distance > b.distance;
  return a.order > b.order;
}

// One call for the whole list: the device binds its state once, not per vertex.
void DrawTriangleList(const D3DVERTEX* vertices, int count) {
  if (count <= 0) return;
  if (_qlt_Device->DrawPrimitive(D3DPT_TRIANGLELIST, D3DVT_VERTEX, vertices, uint32_t(count), D3DDP_WAIT) != D3D_OK)
    return;
  _qlt_PolygonCount += count / 3;
}

void DrawTranslucentQueue() {
  QueuedTriangle* first = _qlt_Translucent;
  QueuedTriangle* last = _qlt_Translucent + _qlt_TranslucentCount;
  std::sort(first, last, DrawnBefore);
  // Neighbours in that order with the same transform and material go to the
  // device as one list, in the same order, so it can share out the work.
  static D3DVERTEX run[QltMaxTranslucentTriangles * 3];
  for (QueuedTriangle* t = first; t != last;) {
    if (std::memcmp(&t->world, &_qlt_WorldMatrix, sizeof t->world) != 0) {
      _qlt_WorldMatrix = t->world;
      _qlt_Device->SetTransform(D3DTRANSFORMSTATE_WORLD, &_qlt_WorldMatrix);
    }
    if (t->material >= 0) qlt_SetMaterial(t->material);
    int count = 0;
    const QueuedTriangle* const start = t;
    for (; t != last && t->material == start->material &&
           std::memcmp(&t->world, &start->world, sizeof t->world) == 0;
         ++t)
      for (const D3DVERTEX& v : t->vertices) run[count++] = v;
    DrawTriangleList(run, count);
  }
  _qlt_TranslucentCount = 0;
}

// ---- Render options -------------------------------------------------------------

uint32_t FloatBits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

bool FrameOpen() { return _qlt_RenderActive && _qlt_Device != nullptr; }

void ApplySpecular() {
  _qlt_Device->SetRenderState(D3DRENDERSTATE_SPECULARENABLE, uint32_t(_qlt_SpecularEnable));
}

void ApplyFiltering() {
  const uint32_t filter = _qlt_BilinearFilter ? D3DFILTER_LINEAR : D3DFILTER_NEAREST;
  _qlt_Device->SetRenderState(D3DRENDERSTATE_TEXTUREMAG, filter);
  _qlt_Device->SetRenderState(D3DRENDERSTATE_TEXTUREMIN, filter);
}

void ApplyFog() {
  _qlt_Device->SetRenderState(D3DRENDERSTATE_FOGENABLE, uint32_t(_qlt_FogEnable));
  _qlt_Device->SetRenderState(D3DRENDERSTATE_FOGCOLOR, _qlt_FogColor);
  _qlt_Device->SetLightState(D3DLIGHTSTATE_FOGMODE, _qlt_FogEnable ? D3DFOG_LINEAR : D3DFOG_NONE);
  _qlt_Device->SetLightState(D3DLIGHTSTATE_FOGSTART, FloatBits(_qlt_FogStart));
  _qlt_Device->SetLightState(D3DLIGHTSTATE_FOGEND, FloatBits(_qlt_FogEnd));
}

// A mode the device refuses leaves its current one, which is kept instead.
void ApplyCullMode() {
  _qlt_Device->SetRenderState(D3DRENDERSTATE_CULLMODE, _qlt_CullMode);
  _qlt_Device->GetRenderState(D3DRENDERSTATE_CULLMODE, &_qlt_CullMode);
}

void ApplyRenderOptions() {
  ApplyFog();
  ApplySpecular();
  ApplyFiltering();
  _qlt_Device->SetRenderState(D3DRENDERSTATE_DITHERENABLE, uint32_t(_qlt_DitherEnable));
  ApplyCullMode();
}

// ---- Render area ------------------------------------------------------------------

void ReleaseViewportAndLight() {
  if (_qlt_Light) {
    _qlt_Device->DeleteLight(_qlt_Viewport, _qlt_Light);
    _qlt_Device->ReleaseLight(_qlt_Light);
    _qlt_Light = 0;
  }
  if (_qlt_Viewport) {
    _qlt_Device->DeleteViewport(_qlt_Viewport);
    _qlt_Device->ReleaseViewport(_qlt_Viewport);
    _qlt_Viewport = 0;
  }
}

// An area the device could take: finite, ordered, on the positive side and
// within the device's limit, so no coordinate wraps around when truncated.
bool UsableArea(float left, float right, float top, float bottom) {
  const float values[] = {left, right, top, bottom};
  for (float v : values)
    if (!std::isfinite(v) || v < 0.0f || v > MaxAreaCoordinate) return false;
  return left <= right && top <= bottom;
}

// The viewport keeps the full-screen area's "minus one" size; an area of one
// or two pixels across, which would give no pixel or a wrapped-around width,
// gets a viewport one pixel across.
D3DVIEWPORT2 ViewportFor(float left, float right, float top, float bottom) {
  int width = 0, height = 0;
  qlt_ScreenSize(&width, &height, nullptr);
  D3DVIEWPORT2 v{};
  v.dwSize = sizeof v;
  v.dwX = uint32_t(left);
  v.dwY = uint32_t(top);
  v.dwWidth = uint32_t(std::max(1, int(right - left - 1.0f)));
  v.dwHeight = uint32_t(std::max(1, int(bottom - top - 1.0f)));
  v.dvClipX = -1.0f;
  v.dvClipWidth = 2.0f;
  v.dvClipY = 0.75f * (float(width) / float(height)) * (float(v.dwHeight) / float(v.dwWidth));
  v.dvClipHeight = 2.0f * v.dvClipY;
  v.dvMinZ = 0.0f;
  v.dvMaxZ = 1.0f;
  return v;
}

int CreateViewport(const D3DVIEWPORT2& viewport) {
  int32_t r = _qlt_Device->CreateViewport(&_qlt_Viewport);
  if (r != D3D_OK) return Fail(OpSetRenderArea, "_qlt_Direct3D->CreateViewport(&_qlt_Viewport, NULL)", r);
  r = _qlt_Device->AddViewport(_qlt_Viewport);
  if (r != D3D_OK) return Fail(OpSetRenderArea, "_qlt_Device->AddViewport(_qlt_Viewport)", r);
  r = _qlt_Device->SetViewport2(_qlt_Viewport, &viewport);
  if (r != D3D_OK) return Fail(OpSetRenderArea, "_qlt_Viewport->SetViewport2(&viewport)", r);
  r = _qlt_Device->SetCurrentViewport(_qlt_Viewport);
  if (r != D3D_OK) return Fail(OpSetRenderArea, "_qlt_Device->SetCurrentViewport(_qlt_Viewport)", r);
  r = _qlt_Device->SetBackground(_qlt_Viewport, _qlt_BackgroundMaterialHandle);
  if (r != D3D_OK)
    return Fail(OpSetRenderArea, "_qlt_Viewport->SetBackground(_qlt_Material[0].hMaterial)", r);
  return 1;
}

// Clears the render area of the back buffer (right and bottom exclusive).
int ClearRenderArea(const char* operation, int clearZ, int clearTarget) {
  if (clearZ != 1 && clearTarget != 1) return 1;
  const QltRenderArea& a = _qlt_RenderArea;
  const D3DRECT rect = {int32_t(a.left), int32_t(a.top), int32_t(a.right), int32_t(a.bottom)};
  const uint32_t flags = (clearZ == 1 ? D3DCLEAR_ZBUFFER : 0u) | (clearTarget == 1 ? D3DCLEAR_TARGET : 0u);
  const int32_t r = _qlt_Device->Clear(_qlt_Viewport, 1, &rect, flags);
  if (r != D3D_OK) return Fail(operation, "_qlt_Viewport->Clear()", r);
  return 1;
}

D3DLIGHT2 LightRecord(float alpha) {
  D3DLIGHT2 light{};
  light.dwSize = sizeof light;
  light.dltType = D3DLIGHT_DIRECTIONAL;
  light.dcvColor = {_qlt_LightColor.r, _qlt_LightColor.g, _qlt_LightColor.b, alpha};
  light.dvDirection = {-_qlt_LightDirection.x, -_qlt_LightDirection.y, -_qlt_LightDirection.z};
  light.dvAttenuation0 = 1.0f;
  light.dwFlags = D3DLIGHT_ACTIVE;
  return light;
}

}  // namespace

// ---- Shared with initialization ----------------------------------------------------------

int _qlt_ApplyAmbient(const char* operation) {
  const uint32_t ambient = 0xFF000000u | uint32_t(255 * _qlt_AmbientR) << 16 |
                           uint32_t(255 * _qlt_AmbientG) << 8 | uint32_t(255 * _qlt_AmbientB);
  const int32_t r = _qlt_Device->SetLightState(D3DLIGHTSTATE_AMBIENT, ambient);
  if (r == D3D_OK) return 1;
  return Fail(operation,
              "_qlt_Device->SetLightState( D3DLIGHTSTATE_AMBIENT, "
              "(D3DCOLOR)D3DRGBA(_qlt_AmbientR,_qlt_AmbientG,_qlt_AmbientB,1.0F) )",
              r);
}

int _qlt_CreateLight(const char* operation) {
  int32_t r = _qlt_Device->CreateLight(&_qlt_Light);
  if (r != D3D_OK) return Fail(operation, "_qlt_Direct3D->CreateLight(&_qlt_Light,NULL)", r);
  const D3DLIGHT2 light = LightRecord(1.0f);
  r = _qlt_Device->SetLight(_qlt_Light, &light);
  if (r != D3D_OK) return Fail(operation, SetLightText, r);
  r = _qlt_Device->AddLight(_qlt_Viewport, _qlt_Light);
  if (r != D3D_OK) return Fail(operation, "_qlt_Viewport->AddLight(_qlt_Light)", r);
  _qlt_LightCreated = 1;
  return 1;
}

// ---- Frame ----------------------------------------------------------------------------------

int qlt_RenderBegin(const QltOrientation* camera) {
  _qlt_PolygonCount = 0;
  _qlt_TranslucentCount = 0;
  if (camera == nullptr) return Fail(OpRenderBegin, "No camera orientation given", DDERR_INVALIDPARAMS);
  if (_qlt_Device == nullptr) return Fail(OpRenderBegin, "_qlt_Device->BeginScene()", D3DERR_INVALID_DEVICE);
  const int32_t r = _qlt_Device->BeginScene();
  if (r != D3D_OK) return Fail(OpRenderBegin, "_qlt_Device->BeginScene()", r);
  _qlt_RenderActive = 1;
  ApplyRenderOptions();
  const float* m = camera->rotation;
  _qlt_ViewMatrix = D3DIdentityMatrix();
  _qlt_ViewMatrix._11 = m[0], _qlt_ViewMatrix._12 = m[1], _qlt_ViewMatrix._13 = m[2];
  _qlt_ViewMatrix._21 = m[3], _qlt_ViewMatrix._22 = m[4], _qlt_ViewMatrix._23 = m[5];
  _qlt_ViewMatrix._31 = m[6], _qlt_ViewMatrix._32 = m[7], _qlt_ViewMatrix._33 = m[8];
  _qlt_CameraPosition = {camera->position[0], camera->position[1], camera->position[2]};
  _qlt_Device->SetTransform(D3DTRANSFORMSTATE_VIEW, &_qlt_ViewMatrix);
  return 1;
}

int qlt_SetMatrix(const QltOrientation* object) {
  if (!_qlt_RenderActive) return Fail(OpSetMatrix, OutsideFrameText, 0);
  if (object == nullptr) return Fail(OpSetMatrix, "No object orientation given", DDERR_INVALIDPARAMS);
  const float* m = object->rotation;
  const float* p = object->position;
  D3DMATRIX& w = _qlt_WorldMatrix;
  w = D3DIdentityMatrix();
  w._11 = m[0], w._12 = m[3], w._13 = m[6];
  w._21 = m[1], w._22 = m[4], w._23 = m[7];
  w._31 = m[2], w._32 = m[5], w._33 = m[8];
  w._41 = p[0] - _qlt_CameraPosition.x;
  w._42 = p[1] - _qlt_CameraPosition.y;
  w._43 = p[2] - _qlt_CameraPosition.z;
  _qlt_Device->SetTransform(D3DTRANSFORMSTATE_WORLD, &w);
  return 1;
}

int qlt_RenderEnd(int32_t* outCount) {
  if (_qlt_Device == nullptr) return Fail(OpRenderEnd, "_qlt_Device->EndScene()", D3DERR_INVALID_DEVICE);
  if (_qlt_RenderActive) DrawTranslucentQueue();
  _qlt_TranslucentCount = 0;
  if (outCount) *outCount = _qlt_PolygonCount;
  const int32_t r = _qlt_Device->EndScene();
  if (r != D3D_OK) return Fail(OpRenderEnd, "_qlt_Device->EndScene()", r);
  _qlt_RenderActive = 0;
  return 1;
}

int qlt_DrawTriangles(const D3DVERTEX* vertices, int count) {
  if (!FrameOpen())
    return Fail(OpDraw, "Triangles are drawn only between qlt_RenderBegin() and qlt_RenderEnd()", 0);
  if (count < 0 || (count > 0 && vertices == nullptr))
    return Fail(OpDraw, "No vertices given", DDERR_INVALIDPARAMS);
  DrawTriangleList(vertices, count - count % 3);
  return 1;
}

int qlt_QueueTranslucentTriangle(const D3DVERTEX* vertices) {
  if (!FrameOpen())
    return Fail(OpQueue, "Triangles are queued only between qlt_RenderBegin() and qlt_RenderEnd()", 0);
  if (vertices == nullptr || !FiniteVertex(vertices[0]) || !FiniteVertex(vertices[1]) ||
      !FiniteVertex(vertices[2]))
    return Fail(OpQueue, "The triangle's vertices are missing or not finite", DDERR_INVALIDPARAMS);
  if (_qlt_TranslucentCount >= QltMaxTranslucentTriangles)
    return Fail(OpQueue, "Too many translucent triangles in one frame", DDERR_OUTOFMEMORY);
  QueuedTriangle& t = _qlt_Translucent[_qlt_TranslucentCount];
  std::copy(vertices, vertices + 3, t.vertices);
  t.world = _qlt_WorldMatrix;
  t.material = qlt_CurrentMaterial();
  t.distance = CentroidDistance(vertices, _qlt_WorldMatrix);
  t.order = _qlt_TranslucentCount++;
  return 1;
}

// ---- Flip and render area ---------------------------------------------------------------------

int qlt_PageFlip(int clearZ, int clearTarget) {
  if (_qlt_FrontBuffer3 == nullptr || _qlt_Device == nullptr)
    return Fail(OpPageFlip, "_qlt_FrontBuffer3->Flip(NULL, DDFLIP_WAIT)", DDERR_GENERIC);
  // A flip waits for the display's refresh, which paces the frames.
  Ui().WaitForRefresh();
  int32_t r = _qlt_FrontBuffer3->Flip();
  for (int attempt = 1; r == DDERR_WASSTILLDRAWING && attempt < MaxFlipAttempts; ++attempt)
    r = _qlt_FrontBuffer3->Flip();
  if (r == DDERR_SURFACELOST && !_qlt_RestoreSurfaces()) return 0;
  if (r == DD_OK) Ui().Present(_qlt_FrontBuffer3->Pixels());
  return ClearRenderArea(OpPageFlip, clearZ, clearTarget);
}

int qlt_SetRenderArea(int clearZ, int clearTarget, float left, float right, float top, float bottom) {
  if (_qlt_Device == nullptr) return Fail(OpSetRenderArea, "_qlt_Device==NULL", D3DERR_INVALID_DEVICE);
  int width = 0, height = 0;
  qlt_ScreenSize(&width, &height, nullptr);
  if (width <= 0 || height <= 0 || !UsableArea(left, right, top, bottom))
    return Fail(OpSetRenderArea, "The render area is empty, reversed or off the screen", DDERR_INVALIDRECT);
  ReleaseViewportAndLight();
  if (!CreateViewport(ViewportFor(left, right, top, bottom))) return 0;
  if (!_qlt_ApplyAmbient(OpSetRenderArea)) return 0;
  if (_qlt_LightCreated && !_qlt_CreateLight(OpSetRenderArea)) return 0;
  _qlt_RenderArea = {left, right, top, bottom};
  return ClearRenderArea(OpSetRenderArea, clearZ, clearTarget);
}

// ---- Light and options ------------------------------------------------------------------------

int qlt_SetLightLocationColor(float x, float y, float z, float r, float g, float b) {
  const float length = std::sqrt(x * x + y * y + z * z);
  if (!std::isfinite(length) || length == 0.0f)
    return Fail(OpSetLight, "The direction towards the light must not be the zero vector",
                DDERR_INVALIDPARAMS);
  _qlt_LightColor = {r, g, b, 1.0f};
  const float scale = 1.0f / length;
  _qlt_LightDirection = {x * scale, y * scale, z * scale};
  // Without a light the values wait for the next qlt_SetRenderArea.
  if (_qlt_Device == nullptr || _qlt_Light == 0) return 1;
  const D3DLIGHT2 light = LightRecord(0.0f);
  const int32_t result = _qlt_Device->SetLight(_qlt_Light, &light);
  if (result != D3D_OK) return Fail(OpSetLight, SetLightText, result);
  return 1;
}

int qlt_SetSpecular(int on) {
  _qlt_SpecularEnable = on;
  if (FrameOpen()) ApplySpecular();
  return 1;
}

int qlt_SetBilinearFiltering(int on) {
  _qlt_BilinearFilter = on;
  if (FrameOpen()) ApplyFiltering();
  return 1;
}

int qlt_SetDithering(int on) {
  _qlt_DitherEnable = on;
  if (FrameOpen()) _qlt_Device->SetRenderState(D3DRENDERSTATE_DITHERENABLE, uint32_t(on));
  return 1;
}

int qlt_SetCullMode(uint32_t mode) {
  _qlt_CullMode = mode;
  if (FrameOpen()) ApplyCullMode();
  return 1;
}

int qlt_SetFog(int on, float r, float g, float b, float start, float end) {
  // Out of range and NaN channels end at the nearer limit or 0.
  auto channel = [](float c) { return uint32_t((c > 0.0f ? (c < 1.0f ? c : 1.0f) : 0.0f) * 255.0f); };
  _qlt_FogEnable = on;
  _qlt_FogColor = 0xFF000000u | channel(r) << 16 | channel(g) << 8 | channel(b);
  _qlt_FogStart = start;
  _qlt_FogEnd = end;
  if (FrameOpen()) ApplyFog();
  return 1;
}
