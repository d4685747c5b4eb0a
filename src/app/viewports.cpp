#include "app/viewports.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/shell_state.h"
#include "model/cleanup.h"
#include "model/model.h"
#include "render/library_state.h"
#include "render/qlt.h"

ViewState gView;

namespace {

constexpr float Pi = 3.14159265358979f;
constexpr float StepRadians = 0.034906585f;  // 2 degrees

struct ProjectionConstants {
  int width;
  float scale, centreX, centreY;
};
constexpr ProjectionConstants ProjectionTable[] = {
    {640, 441.0f, 383.5f, 239.0f},
    {800, 578.8125f, 463.5f, 299.0f},
    {1024, 771.75f, 575.5f, 383.0f},
};

bool stepRequested[6];

void SetIdentity(float m[3][3]) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) m[r][c] = r == c ? 1.0f : 0.0f;
}

// ---- Drawing ---------------------------------------------------------------------

// The triangles of one material run, drawn in one call when the run ends:
// the first batchCount vertices, in room for the whole Model.
std::vector<D3DVERTEX> batch;
size_t batchCount;

D3DVERTEX DeviceVertex(const ModelVertex& v) { return {v.x, v.y, v.z, v.nx, v.ny, v.nz, v.u, v.v}; }

void MakeBatchRoom() {
  const size_t needed = size_t(PolygonCount()) * 3;
  if (batch.size() < needed) batch.resize(needed);
}

void AddToBatch(const ModelVertex* polygon) {
  for (int k = 0; k < 3; ++k) batch[batchCount++] = DeviceVertex(polygon[k]);
}

int EndBatch() {
  const int result = batchCount == 0 ? 1 : qlt_DrawTriangles(batch.data(), int(batchCount));
  batchCount = 0;
  return result;
}

void SetState(D3DRENDERSTATETYPE state, uint32_t value) { _qlt_Device->SetRenderState(state, value); }

void SetTranslucentStates() {
  qlt_SetSpecular(0);
  SetState(D3DRENDERSTATE_ALPHABLENDENABLE, 1);
  SetState(D3DRENDERSTATE_TEXTUREMAPBLEND, D3DTBLEND_MODULATEALPHA);
  SetState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_ONE);
  SetState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA);
}

void SetOpaqueStates() {
  SetState(D3DRENDERSTATE_ALPHABLENDENABLE, 0);
  SetState(D3DRENDERSTATE_TEXTUREMAPBLEND, D3DTBLEND_MODULATE);
  SetState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_ONE);
  SetState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_ZERO);
  qlt_SetSpecular(gView.specular);
}

// What every viewport leaves behind: no blending and the identity world.
void RestoreStates() {
  SetState(D3DRENDERSTATE_ALPHABLENDENABLE, 0);
  SetState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_ONE);
  SetState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_ZERO);
  qlt_SetSpecular(gView.specular);
  _qlt_WorldMatrix = D3DIdentityMatrix();
  _qlt_Device->SetTransform(D3DTRANSFORMSTATE_WORLD, &_qlt_WorldMatrix);
}

int SetModelTransform() {
  QltOrientation object;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) object.rotation[3 * r + c] = gShell.viewRotation[r][c];
  for (int k = 0; k < 3; ++k) object.position[k] = gShell.modelOffset[k];
  return qlt_SetMatrix(&object);
}


// Translucent polygons go to the library's queue, which draws them back to
// front after everything opaque; a full queue leaves them in the run.
bool Queue(const ModelVertex* polygon) {
  const D3DVERTEX v[3] = {DeviceVertex(polygon[0]), DeviceVertex(polygon[1]), DeviceVertex(polygon[2])};
  return qlt_QueueTranslucentTriangle(v) == 1;
}

// Returns the number of queued triangles, or -1 when drawing failed.
int DrawRenderContent() {
  if (!SetModelTransform()) return -1;
  MakeBatchRoom();
  int current = -1;
  bool translucent = false;
  int queued = 0;
  bool ok = true;
  for (int i = 0; i < PolygonCount(); ++i) {
    const int m = MaterialOf(i);
    if (!Drawable(m)) continue;
    const ModelVertex* polygon = &gModel.vertices[3 * i];
    if (m != current) {
      ok = EndBatch() && ok;
      const ModelMaterial& material = gModel.materials[m];
      ok = qlt_SetMaterial(material.renderMaterial) && ok;
      translucent = material.alpha < 1.0f;
      if (translucent)
        SetTranslucentStates();
      else
        SetOpaqueStates();
      current = m;
    }
    if (translucent && Queue(polygon)) {
      ++queued;
      continue;
    }
    AddToBatch(polygon);
  }
  ok = EndBatch() && ok;
  // The queue is drawn at the frame's end with the blending still on.
  if (queued > 0) SetTranslucentStates();
  return ok ? queued : -1;
}

// The marking material of polygon i in the Select viewport.
int32_t MarkingMaterial(int polygon, int material, int hovered) {
  const bool hover =
      hovered >= 0 && (gView.mouseMode == 1 ? MaterialOf(hovered) == material : polygon == hovered);
  if (hover) return hoverMaterial;
  return gModel.vertices[3 * polygon].selected == 1 ? polyListMaterial : normalMaterial;
}

int DrawSelectContent() {
  if (!SetModelTransform()) return 0;
  MakeBatchRoom();
  // A hover left over from a larger Model marks nothing.
  const int hovered = gView.hoverPolygon < PolygonCount() ? gView.hoverPolygon : -1;
  int32_t current = normalMaterial;
  bool ok = qlt_SetMaterial(current) == 1;
  SetOpaqueStates();
  for (int i = 0; i < PolygonCount(); ++i) {
    const int m = MaterialOf(i);
    if (!Drawable(m)) continue;
    const int32_t choice = MarkingMaterial(i, m, hovered);
    if (choice != current) {
      ok = EndBatch() && ok;
      ok = qlt_SetMaterial(choice) && ok;
      current = choice;
    }
    AddToBatch(&gModel.vertices[3 * i]);
  }
  ok = EndBatch() && ok;
  return ok ? 1 : 0;
}

int BeginViewport(const ViewportRect& r) {
  if (!qlt_SetRenderArea(1, 1, r.left, r.right, r.top, r.bottom)) return 0;
  QltOrientation camera = {{1, 0, 0, 0, 1, 0, 0, 0, 1}, {gShell.panX, gShell.panY, gShell.cameraZ}};
  return qlt_RenderBegin(&camera);
}

}  // namespace

// ---- The Model as drawn ------------------------------------------------------------

int PolygonCount() {
  const int count = gModel.vertexCount;
  return count < 0 ? 0 : (count > MaxVertices ? MaxVertices : count) / 3;
}

int MaterialOf(int polygon) {
  const int m = gModel.vertices[3 * polygon].material;
  return m >= 0 && m < gModel.materialCount && m < MaxMaterials ? m : -1;
}

bool Drawable(int material) { return material >= 0 && !gModel.materials[material].hidden; }

bool ScreenSize(int* width, int* height) {
  *width = *height = 0;
  qlt_ScreenSize(width, height, nullptr);
  return *width > 0 && *height > 0;
}

// ---- The view ----------------------------------------------------------------------

void SetProjectionConstants(int width) {
  gView.projectionScale = gView.screenCentreX = gView.screenCentreY = 0;
  for (const ProjectionConstants& c : ProjectionTable) {
    if (c.width != width) continue;
    gView.projectionScale = c.scale;
    gView.screenCentreX = c.centreX;
    gView.screenCentreY = c.centreY;
  }
}

void RotateRows(float rows[3][3], float radians, float x, float y, float z) {
  const float length = std::sqrt(x * x + y * y + z * z);
  if (!std::isfinite(length) || length == 0.0f || !std::isfinite(radians)) return;
  x /= length, y /= length, z /= length;
  const float s = std::sin(radians / 2);
  const float w = std::cos(radians / 2);
  x *= s, y *= s, z *= s;
  const float m[3][3] = {
      {1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)},
      {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)},
      {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)},
  };
  for (int i = 0; i < 3; ++i) {
    float* row = rows[i];
    const float r[3] = {row[0], row[1], row[2]};
    for (int k = 0; k < 3; ++k) row[k] = m[k][0] * r[0] + m[k][1] * r[1] + m[k][2] * r[2];
  }
}

void RotateView(float radians, float x, float y, float z) { RotateRows(gShell.viewRotation, radians, x, y, z); }

void ApplyStartupView() {
  gShell.cameraZ = -2.0f * gModel.modelRadius;
  for (float& c : gShell.modelOffset) c = 0;
  gShell.panX = gShell.panY = 0;
  SetIdentity(gShell.viewRotation);
  gShell.viewpoint = 0;
  RotateView(3 * Pi / 4, 0, 1, 0);
  RotateView(Pi / 8, -1, 0, 0);
  RotateView(Pi / 8, 0, 0, -1);
}

void ApplyViewpoint() {
  struct Turn {
    float radians, x, y, z;
  };
  static const Turn turns[] = {
      {0, 0, 0, 0},         // free view: not used
      {Pi / 2, 1, 0, 0},    // Top
      {-Pi / 2, 1, 0, 0},   // Bottom
      {-Pi / 2, 0, -1, 0},  // Left
      {Pi / 2, 0, -1, 0},   // Right
      {Pi, 0, -1, 0},       // Front
      {0, 0, 0, 0},         // Back: the identity
  };
  const int v = gShell.viewpoint;
  if (v < 1 || v > 6) return;
  SetIdentity(gShell.viewRotation);
  ClearRotationSteps();
  if (turns[v].radians != 0) RotateView(turns[v].radians, turns[v].x, turns[v].y, turns[v].z);
}

const char* ViewpointName(int viewpoint) {
  static const char* const names[] = {"3D", "Top", "Bottom", "Left", "Right", "Front", "Back"};
  return viewpoint >= 0 && viewpoint <= 6 ? names[viewpoint] : nullptr;
}

void RequestRotationStep(RotationStep step) {
  stepRequested[int(step)] = true;
  gShell.viewpoint = 0;
}

void ClearRotationSteps() {
  for (bool& s : stepRequested) s = false;
}

void ApplyRotationSteps() {
  // Per axis: the first of the pair wins, and only the used request is consumed.
  struct Axis {
    RotationStep first, second;
    float firstRadians, secondRadians, x, y, z;
  };
  static const Axis axes[] = {
      {RotationStep::X, RotationStep::Z, -StepRadians, StepRadians, 0, 1, 0},
      {RotationStep::Down, RotationStep::Up, StepRadians, -StepRadians, 1, 0, 0},
      {RotationStep::Right, RotationStep::Left, StepRadians, -StepRadians, 0, 0, 1},
  };
  for (const Axis& a : axes) {
    bool& first = stepRequested[int(a.first)];
    bool& second = stepRequested[int(a.second)];
    if (first) {
      RotateView(a.firstRadians, a.x, a.y, a.z);
      first = false;
    } else if (second) {
      RotateView(a.secondRadians, a.x, a.y, a.z);
      second = false;
    }
  }
}

// ---- Viewports ---------------------------------------------------------------------

bool RenderViewportRect(int layout, int width, int height, ViewportRect* out) {
  const float w = float(width), h = float(height);
  if (layout == 0)
    *out = {128, w - 2, 3, h * 0.5f};
  else if (layout == 1)
    *out = {128, w - 2, 3, h - 2};
  else
    return false;
  return true;
}

bool SelectViewportRect(int layout, int width, int height, ViewportRect* out) {
  const float w = float(width), h = float(height);
  if (layout == 0)
    *out = {128, w - 2, h * 0.5f + 2, h - 2};
  else if (layout == 2)
    *out = {128, w - 2, 3, h - 2};
  else
    return false;
  return true;
}

int RenderRenderViewport() {
  int width = 0, height = 0;
  ViewportRect r;
  if (!ScreenSize(&width, &height) || !RenderViewportRect(gShell.viewLayout, width, height, &r)) return 0;
  if (!BeginViewport(r)) return 0;
  const int queued = DrawRenderContent();
  const int ended = qlt_RenderEnd();
  RestoreStates();
  return queued >= 0 && ended ? 1 : 0;
}

int RenderSelectViewport() {
  int width = 0, height = 0;
  ViewportRect r;
  if (!ScreenSize(&width, &height) || !SelectViewportRect(gShell.viewLayout, width, height, &r)) return 0;
  if (!BeginViewport(r)) return 0;
  const int drawn = DrawSelectContent();
  const int ended = qlt_RenderEnd();
  RestoreStates();
  return drawn && ended ? 1 : 0;
}

int RenderViewports() {
  ++gView.redraws;
  switch (gShell.viewLayout) {
    case 0: {
      const int render = RenderRenderViewport();
      return RenderSelectViewport() && render;
    }
    case 1:
      return RenderRenderViewport();
    case 2:
      return RenderSelectViewport();
    default:
      return 0;
  }
}

void DrawViewpointName() {
  const char* name = ViewpointName(gShell.viewpoint);
  TextStyle* dc = nullptr;
  if (!name || !_qlt_BackBuffer3 || _qlt_BackBuffer3->GetDC(&dc) != DD_OK) return;
  uint8_t background[3], text[3];
  for (int c = 0; c < 3; ++c) {
    // The options dialog takes any number; out of range is clamped.
    const float level = std::fmin(std::fmax(viewportBackground[c] * 255.0f, 0.0f), 255.0f);
    background[c] = uint8_t(level == level ? level : 0.0f);
    text[c] = background[c] <= 128 ? 255 : 0;
  }
  dc->backgroundColour = RGBColour(background[0], background[1], background[2]);
  dc->textColour = RGBColour(text[0], text[1], text[2]);
  dc->align = TA_LEFT | TA_TOP;
  _qlt_BackBuffer3->TextOut(130, 3, name, int(std::strlen(name)));
  _qlt_BackBuffer3->ReleaseDC();
}
