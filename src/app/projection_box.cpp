#include "app/projection_box.h"

#include <algorithm>
#include <cmath>

#include "app/panel.h"
#include "app/picking.h"
#include "app/shell_state.h"
#include "app/viewports.h"
#include "model/projection.h"
#include "platform/ui.h"
#include "render/qlt.h"

ProjectionBoxState gBox;

namespace {

const char* const Instructions =
    "You will now be presented with a 3D texture\n"
    "projection box surrounding the polygon(s) where\n"
    "the projection will take place. The following\n"
    "keys are available for the projection box:\n"
    "\n"
    "[Ctrl]+[Z]  -  Rotate on +Y axis\n"
    "[Ctrl]+[X]  -  Rotate on -Y axis\n"
    "[Ctrl]+[Up]  -  Rotate on -X axis\n"
    "[Ctrl]+[Down]  -  Rotate on +X axis\n"
    "[Ctrl]+[Left]  -  Rotate on -Z axis\n"
    "[Ctrl]+[Right]  -  Rotate on +Z axis\n"
    "[Esc]  -  Cancel projection process\n"
    "[Enter]  -  Project texture coordinates\n"
    "\n"
    "The model may still be rotated normally with\n"
    "the Z,X,Up,Down,Left, and Right keys. You may\n"
    "also select the Viewpoint and translate the\n"
    "model as desired.\n"
    "\n"
    "When you are satisfied with the projection,\n"
    "press the [Enter] key or press [Esc] to\n"
    "cancel the projection process.\n";

enum Row { U = 0, V = 1, T = 2 };

// Beyond this a screen coordinate no longer fits an int with room left for
// the clipped line's arithmetic.
constexpr double FarOffScreen = 1e9;

void ClearExtents() {
  gBox.sMin = gBox.tMin = gBox.wMin = BoundsStart;
  gBox.sMax = gBox.tMax = gBox.wMax = -BoundsStart;
}

bool ExtentsEmpty() { return !(gBox.sMin <= gBox.sMax); }

// Turns the whole box about its own row `about` by the pending request of
// the pair, `first` winning; only the request used is consumed.
void ApplyTurn(BoxRotation first, BoxRotation second, float firstSign, Row about, float radians, int step) {
  bool& a = gBox.rotationRequested[int(first)];
  bool& b = gBox.rotationRequested[int(second)];
  float angle = 0;
  if (a) {
    angle = firstSign * radians;
    a = false;
  } else if (b) {
    angle = -firstSign * radians;
    b = false;
  } else {
    return;
  }
  gBox.stepAngles[step] = angle;
  const float* axis = gBox.axes[about];
  RotateRows(gBox.axes, angle, axis[0], axis[1], axis[2]);
}

void ApplyTurns() {
  for (float& a : gBox.stepAngles) a = 0;
  const float radians = float(double(gBox.rotationIncrement) * 3.141592653589793 * double(0.0055555557f));
  ApplyTurn(BoxRotation::X, BoxRotation::Z, 1, V, radians, 0);
  ApplyTurn(BoxRotation::Down, BoxRotation::Up, -1, U, radians, 1);
  ApplyTurn(BoxRotation::Right, BoxRotation::Left, -1, T, radians, 2);
}

float Dot(const ModelVertex& p, const float axis[3]) { return p.x * axis[0] + p.y * axis[1] + p.z * axis[2]; }

void MeasureExtents() {
  ClearExtents();
  const int count = std::min(std::max(gModel.vertexCount, 0), MaxVertices);
  for (int i = 0; i < count; ++i) {
    const ModelVertex& p = gModel.vertices[i];
    if (p.selected != 1) continue;
    const float s = Dot(p, gBox.axes[U]), t = Dot(p, gBox.axes[V]), w = Dot(p, gBox.axes[T]);
    // A position that is no number would wipe out the extents measured so far.
    if (!std::isfinite(s) || !std::isfinite(t) || !std::isfinite(w)) continue;
    if (!(s >= gBox.sMin)) gBox.sMin = s;
    if (s > gBox.sMax) gBox.sMax = s;
    if (!(t >= gBox.tMin)) gBox.tMin = t;
    if (t > gBox.tMax) gBox.tMax = t;
    if (!(w >= gBox.wMin)) gBox.wMin = w;
    if (w > gBox.wMax) gBox.wMax = w;
  }
}

void PlaceCorners() {
  const float s[8] = {gBox.sMin, gBox.sMin, gBox.sMax, gBox.sMax, gBox.sMin, gBox.sMin, gBox.sMax, gBox.sMax};
  const float t[8] = {gBox.tMin, gBox.tMax, gBox.tMax, gBox.tMin, gBox.tMin, gBox.tMax, gBox.tMax, gBox.tMin};
  const float w[8] = {gBox.wMin, gBox.wMin, gBox.wMin, gBox.wMin, gBox.wMax, gBox.wMax, gBox.wMax, gBox.wMax};
  const double offsetY = gShell.viewLayout == 0 ? (double(gView.screenCentreY) + 1) * 0.5 : 0.0;
  const float(&a)[3][3] = gBox.axes;
  for (int c = 0; c < 8; ++c) {
    float p[3];
    for (int k = 0; k < 3; ++k) p[k] = s[c] * a[U][k] + t[c] * a[V][k] + w[c] * a[T][k] + gBox.offset[k];
    float sx = 0, sy = 0;
    // A corner behind the camera has no screen position.
    const bool projected = ProjectToScreen(p[0], p[1], p[2], &sx, &sy);
    gBox.corners[c][0] = sx;
    gBox.corners[c][1] = double(sy) + offsetY;
    gBox.cornerPlaced[c] = projected && std::fabs(gBox.corners[c][0]) <= FarOffScreen &&
                           std::fabs(gBox.corners[c][1]) <= FarOffScreen;
  }
}

int ScreenX(int c) { return int(gBox.corners[c][0]); }
int ScreenY(int c) { return int(gBox.corners[c][1]); }

// Edges touching a corner that has no place on the screen are left out.
void DrawEdge(int from, int to, float r, float g, float b) {
  if (!gBox.cornerPlaced[from] || !gBox.cornerPlaced[to]) return;
  DrawClippedLine(ScreenX(from), ScreenY(from), ScreenX(to), ScreenY(to), r, g, b);
}

// The marker over C1, where the texture's top-left corner lands, when its
// top row lies inside the viewport and it lies wholly on the screen (the
// library refuses a blit that leaves it).
void DrawMarker() {
  int width, height;
  if (gBitmaps.marker < 0 || !ScreenSize(&width, &height)) return;
  const int left = ScreenX(1) - 20, top = ScreenY(1) - 26;
  if (left < 128) return;
  if (gShell.viewLayout == 0 && top < height / 2 + 1) return;
  if (top < 0 || left + 39 > width || top + 26 > height) return;
  qlt_BitmapBlit(gBitmaps.marker, QltBackBufferIndex, 0, 39, 0, 26, left, left + 39, top, top + 26);
}

void DrawBox() {
  static const int farEdges[][2] = {{4, 5}, {5, 6}, {6, 7}, {7, 4}, {4, 0}, {5, 1}, {6, 2}, {7, 3}};
  for (const auto& e : farEdges) DrawEdge(e[0], e[1], 0, 0, 1);

  // The wMin face is white, with the marker, while it faces the viewer; a
  // face whose corners cannot all be placed counts as turned away.
  const double(&c)[8][2] = gBox.corners;
  const bool known = gBox.cornerPlaced[0] && gBox.cornerPlaced[1] && gBox.cornerPlaced[2];
  const double f = (c[1][0] - c[0][0]) * (c[2][1] - c[0][1]) - (c[1][1] - c[0][1]) * (c[2][0] - c[0][0]);
  const bool facing = known && f >= 0;
  const float level = facing ? 1.0f : 0.0f;
  static const int nearEdges[][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}};
  for (const auto& e : nearEdges) DrawEdge(e[0], e[1], level, level, 1);
  if (facing) DrawMarker();
}

}  // namespace

void StartProjectionBox(float minU, float maxU, float minV, float maxV, float rotationIncrement) {
  MessageBoxSafe(Instructions, "Vornix 3D!", MB_OK);
  gShell.viewpoint = 6;
  ApplyViewpoint();  // the back view is the identity; pending steps go

  gBox = ProjectionBoxState();
  gBox.minU = minU, gBox.maxU = maxU, gBox.minV = minV, gBox.maxV = maxV;
  gBox.rotationIncrement = rotationIncrement;
  // Extents left by an earlier projection must not be accepted for this
  // one before it has been measured.
  ClearExtents();
  gShell.projecting = 1;
}

void RequestBoxRotation(BoxRotation rotation) { gBox.rotationRequested[int(rotation)] = true; }

void UpdateAndDrawProjectionBox() {
  ApplyTurns();
  MeasureExtents();
  // Without a PolyList there is nothing to surround; the start values would
  // make a box millions of units across.
  if (ExtentsEmpty()) {
    for (bool& p : gBox.cornerPlaced) p = false;
    return;
  }
  PlaceCorners();
  DrawBox();
}

void StoreAcceptedProjection() {
  if (!gShell.projectionAccepted) return;
  gShell.projectionAccepted = 0;
  // A PolyList emptied during the projection gets nothing: no coordinates
  // and no slot holding a box of the start values.
  if (ExtentsEmpty() || PolyListIsEmpty()) return;

  ProjectionBox box;
  for (int k = 0; k < 3; ++k) {
    box.uAxis[k] = gBox.axes[U][k];
    box.vAxis[k] = gBox.axes[V][k];
    box.tAxis[k] = gBox.axes[T][k];
  }
  box.sMin = gBox.sMin, box.sMax = gBox.sMax;
  box.tMin = gBox.tMin, box.tMax = gBox.tMax;
  box.wMin = gBox.wMin;
  box.minU = gBox.minU, box.maxU = gBox.maxU, box.minV = gBox.minV, box.maxV = gBox.maxV;
  if (ApplyTextureProjection(box) < 0) return;
  // A model opened during the projection starts unchanged; the new
  // coordinates must still be offered for saving. The Render viewport shows
  // them in both buffers.
  MarkModelChanged();
  gShell.redrawCount = 1;
}
