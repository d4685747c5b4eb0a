#include "app/picking.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "app/shell_state.h"
#include "app/viewports.h"
#include "model/model.h"
#include "render/qlt.h"

namespace {

constexpr float DegreesToRadians = 3.14159265358979f / 180.0f;
constexpr float NoDepth = 999999999.0f;

// The view as the pick loops see it, copied once so that the loops over the
// whole Model read no globals.
struct Projector {
  float r0[3], r1[3], r2[3];
  float panX, panY, cameraZ;
  float scale, centreX, centreY;

  Projector() {
    for (int k = 0; k < 3; ++k) {
      r0[k] = gShell.viewRotation[0][k];
      r1[k] = gShell.viewRotation[1][k];
      r2[k] = gShell.viewRotation[2][k];
    }
    panX = gShell.panX, panY = gShell.panY, cameraZ = gShell.cameraZ;
    scale = gView.projectionScale, centreX = gView.screenCentreX, centreY = gView.screenCentreY;
  }
  float Z(float x, float y, float z) const { return x * r2[0] + y * r2[1] + z * r2[2] - cameraZ; }
  // cz is Z of the same point, already checked to be at least 1.
  float ScreenX(float x, float y, float z, float cz) const {
    const float X = x * r0[0] + y * r0[1] + z * r0[2] - panX;
    return X / cz * scale + centreX;
  }
  float ScreenY(float x, float y, float z, float cz) const {
    const float Y = x * r1[0] + y * r1[1] + z * r1[2] - panY;
    return -Y / cz * scale + centreY;
  }
  void Project(float x, float y, float z, float cz, float* sx, float* sy) const {
    *sx = ScreenX(x, y, z, cz);
    *sy = ScreenY(x, y, z, cz);
  }
  // Camera Z of a polygon's corners; false when one lies nearer than 1.
  bool InFront(const ModelVertex* v, float z[3]) const {
    for (int k = 0; k < 3; ++k) z[k] = Z(v[k].x, v[k].y, v[k].z);
    return z[0] >= 1.0f && z[1] >= 1.0f && z[2] >= 1.0f;
  }
};

uint16_t ToPointer(int v) { return uint16_t(v < 0 ? 0 : (v > 65535 ? 65535 : v)); }

void StorePointer(int x, int y) {
  gShell.pointerX = ToPointer(x);
  gShell.pointerY = ToPointer(y);
}

// Where a press arms a band.
bool PressInSelectViewport(int x, int y, int width, int height) {
  if (x < 129 || x > width - 3) return false;
  if (gShell.viewLayout == 0) return height / 2 + 1 <= y && y <= height - 3;
  if (gShell.viewLayout == 2) return 2 <= y && y <= height - 3;
  return false;
}

// Where a band ends: only the panel side and, in layout 0, the Render side count.
bool LeftSelectViewport(int x, int y, int height) {
  if (gShell.viewLayout == 0) return x < 129 || y < height / 2 + 1;
  if (gShell.viewLayout == 2) return x < 129;
  return false;
}

// Quadrant of a vertex around the pointer, numbered clockwise on the screen.
int Quadrant(float x, float y, float sx, float sy) {
  if (x < sx) return y < sy ? 0 : 3;
  return y < sy ? 1 : 2;
}

// Four times the number of clockwise turns the outline makes around the pointer.
int WindingCount(float x, float y, const float sx[3], const float sy[3]) {
  const int q[3] = {Quadrant(x, y, sx[0], sy[0]), Quadrant(x, y, sx[1], sy[1]), Quadrant(x, y, sx[2], sy[2])};
  int sum = 0;
  for (int s = 0; s < 3; ++s) {
    const int e = s == 2 ? 0 : s + 1;
    int k = q[e] - q[s];
    if (k == 3) {
      k = -1;
    } else if (k == -3) {
      k = 1;
    } else if (k == 2 || k == -2) {
      // The ends lie on opposite sides of the pointer's row, so sy differs.
      const float xe = sx[e] - (sx[s] - sx[e]) / (sy[s] - sy[e]) * (sy[e] - y);
      if (x < xe) k = -k;
    }
    sum += k;
  }
  return sum;
}

// Corner with the smallest or largest coordinate; ties go to P2, then P1.
int Least(const float c[3]) {
  int i = c[1] <= c[0] ? 1 : 0;
  return c[2] <= c[i] ? 2 : i;
}
int Greatest(const float c[3]) {
  int i = c[1] >= c[0] ? 1 : 0;
  return c[2] >= c[i] ? 2 : i;
}

float PickDepth(float x, float y, const float z[3], const float sx[3], const float sy[3]) {
  const int l = Least(sx), r = Greatest(sx), t = Least(sy), b = Greatest(sy);
  const float wL = 1.0f / z[l], wR = 1.0f / z[r], wT = 1.0f / z[t], wB = 1.0f / z[b];
  // A polygon of no width or height adds nothing across that extent.
  const float spanX = sx[r] - sx[l], spanY = sy[b] - sy[t];
  const float acrossX = spanX != 0.0f ? (x - sx[l]) * (wR - wL) / spanX : 0.0f;
  const float acrossY = spanY != 0.0f ? (y - sy[t]) * (wB - wT) / spanY : 0.0f;
  return 1.0f / (wL + wT + acrossX + acrossY);
}

// The nearest front-facing polygon at screen point (x, y), or -1.
int PickAt(int px, int py) {
  const Projector view;
  const float x = float(px), y = float(py);
  float bestDepth = NoDepth;
  int best = -1;
  const int polygons = PolygonCount();
  for (int i = 0; i < polygons; ++i) {
    const ModelVertex* v = &gModel.vertices[3 * i];
    if (!Drawable(MaterialOf(i))) continue;
    float z[3], sx[3], sy[3];
    if (!view.InFront(v, z)) continue;
    // Most polygons miss the pointer's column: test it before working out y.
    for (int k = 0; k < 3; ++k) sx[k] = view.ScreenX(v[k].x, v[k].y, v[k].z, z[k]);
    if (!(std::min(std::min(sx[0], sx[1]), sx[2]) <= x && x <= std::max(std::max(sx[0], sx[1]), sx[2])))
      continue;
    for (int k = 0; k < 3; ++k) sy[k] = view.ScreenY(v[k].x, v[k].y, v[k].z, z[k]);
    if (!(std::min(std::min(sy[0], sy[1]), sy[2]) <= y && y <= std::max(std::max(sy[0], sy[1]), sy[2])))
      continue;
    if (WindingCount(x, y, sx, sy) != 4) continue;
    const float depth = PickDepth(x, y, z, sx, sy);
    if (depth >= 1.0f && depth < bestDepth) {
      bestDepth = depth;
      best = i;
    }
  }
  return best == -1 || bestDepth == NoDepth ? -1 : best;
}

void MarkPolygon(int polygon, int32_t selected) {
  ModelVertex* v = &gModel.vertices[3 * polygon];
  v[0].selected = v[1].selected = v[2].selected = selected;
}

// Marks every polygon lying wholly inside the rectangle (bounds inclusive),
// whichever way it faces.
void MarkRectangle(int left, int right, int top, int bottom, int32_t selected) {
  if (gShell.viewLayout == 1) return;
  const Projector view;
  const float offset = gShell.viewLayout == 0 ? (gView.screenCentreY + 1.0f) * 0.5f : 0.0f;
  const float l = float(left), r = float(right), t = float(top), b = float(bottom);
  const int polygons = PolygonCount();
  for (int i = 0; i < polygons; ++i) {
    const ModelVertex* v = &gModel.vertices[3 * i];
    if (!Drawable(MaterialOf(i))) continue;
    float z[3];
    if (!view.InFront(v, z)) continue;
    bool inside = true;
    for (int k = 0; k < 3 && inside; ++k) {
      float x, y;
      view.Project(v[k].x, v[k].y, v[k].z, z[k], &x, &y);
      y += offset;
      inside = l <= x && x <= r && t <= y && y <= b;
    }
    if (inside) MarkPolygon(i, selected);
  }
}

bool Beyond(int x1, int y1, int x2, int y2, int xmin, int ymin, int xmax, int ymax) {
  return (x1 < xmin && x2 < xmin) || (x1 > xmax && x2 > xmax) || (y1 < ymin && y2 < ymin) ||
         (y1 > ymax && y2 > ymax);
}

// Moves coordinate a of the end (a, b) along the segment to where b reaches
// the edge; 64-bit so that far-off ends cannot overflow the product.
int Cut(int a, int b, int otherA, int otherB, int edge) {
  const int64_t span = int64_t(otherB) - b;
  if (span == 0) return a;  // not reached: such an end is rejected first
  return int(a + (int64_t(otherA) - a) * (int64_t(edge) - b) / span);
}

}  // namespace

float CameraZ(float x, float y, float z) { return Projector().Z(x, y, z); }

bool ProjectToScreen(float x, float y, float z, float* sx, float* sy) {
  const Projector view;
  const float cz = view.Z(x, y, z);
  if (!(cz >= 1.0f)) return false;
  view.Project(x, y, z, cz, sx, sy);
  return true;
}

void UpdateHoverPolygon() {
  gView.hoverPolygon = -1;
  if (gView.mouseMode == 2) return;
  int width, height;
  ScreenSize(&width, &height);
  const int x = gShell.pointerX;
  int y = gShell.pointerY;
  if (!(128 < x && x < width - 2)) return;
  if (gShell.viewLayout == 0) {
    if (!(height / 2 < y && y < height - 2)) return;
    y -= int((gView.screenCentreY + 1.0f) / 2.0f);
  } else if (gShell.viewLayout == 2) {
    if (!(2 < y && y < height - 2)) return;
  } else {
    return;
  }
  gView.hoverPolygon = PickAt(x, y);
}

void PointerPressed(bool left, int x, int y) {
  gShell.hintVisible = 0;
  (left ? gShell.leftHeld : gShell.rightHeld) = 1;
  StorePointer(x, y);
  gShell.anchorX = gShell.bandStartX = gShell.pointerX;
  gShell.anchorY = gShell.bandStartY = gShell.pointerY;
  int width, height;
  ScreenSize(&width, &height);
  if (gView.mouseMode == 2 && PressInSelectViewport(gShell.pointerX, gShell.pointerY, width, height))
    (left ? gShell.bandArmedAdd : gShell.bandArmedRemove) = 1;

  UpdateHoverPolygon();
  const int hit = gView.hoverPolygon;
  if (hit < 0 || hit >= PolygonCount()) return;
  const int32_t selected = left ? 1 : 0;
  if (gView.mouseMode != 1) {
    MarkPolygon(hit, selected);
    return;
  }
  const int32_t material = gModel.vertices[3 * hit].material;
  const int polygons = PolygonCount();
  for (int i = 0; i < polygons; ++i)
    if (gModel.vertices[3 * i].material == material) MarkPolygon(i, selected);
}

void PointerMoved(int x, int y) {
  const uint16_t previousX = gShell.pointerX;
  StorePointer(x, y);
  const int px = gShell.pointerX, py = gShell.pointerY;
  // Entering the panel: draw the viewports twice more, then leave them.
  if (previousX > 127 && px <= 127) gShell.redrawCount = 1;

  int width, height;
  ScreenSize(&width, &height);
  const int layout = gShell.viewLayout;
  const bool inRender = px > 128 && (layout == 1 || (layout == 0 && py < height / 2 + 1));
  if (inRender && gShell.leftHeld) {
    gShell.viewpoint = 0;
    const float* r0 = gShell.viewRotation[0];
    RotateView(float(py - gShell.anchorY) * DegreesToRadians, r0[0], r0[1], r0[2]);
    const float* r1 = gShell.viewRotation[1];
    RotateView(float(px - gShell.anchorX) * DegreesToRadians, r1[0], r1[1], r1[2]);
    gShell.anchorX = gShell.pointerX, gShell.anchorY = gShell.pointerY;
    gShell.redrawCount = 1;
  } else if (inRender && gShell.rightHeld) {
    gShell.panX -= 0.01f * gModel.modelRadius * float(px - gShell.anchorX);
    gShell.panY += 0.01f * gModel.modelRadius * float(py - gShell.anchorY);
    gShell.anchorX = gShell.pointerX, gShell.anchorY = gShell.pointerY;
    gShell.redrawCount = 1;
  }

  if (gView.mouseMode == 2) {
    if (LeftSelectViewport(px, py, height)) {
      gShell.bandArmedAdd = gShell.bandArmedRemove = 0;
      gShell.bandVisible = 0;
    }
    if (gShell.bandArmedAdd || gShell.bandArmedRemove) gShell.bandVisible = 1;
  }
}

void PointerReleased(bool left, int x, int y) {
  (left ? gShell.leftHeld : gShell.rightHeld) = 0;
  if (gView.mouseMode != 2) return;
  StorePointer(x, y);
  const int px = gShell.pointerX, py = gShell.pointerY;
  const int sx = gShell.bandStartX, sy = gShell.bandStartY;
  int width, height;
  ScreenSize(&width, &height);
  if (LeftSelectViewport(px, py, height)) gShell.bandVisible = 0;
  if (gShell.bandVisible && (px != sx || py != sy))
    MarkRectangle(std::min(px, sx), std::max(px, sx), std::min(py, sy), std::max(py, sy), left ? 1 : 0);
  gShell.bandArmedAdd = gShell.bandArmedRemove = 0;
  gShell.bandVisible = 0;
}

void DrawRubberBand() {
  if (gView.mouseMode != 2 || !gShell.bandVisible) return;
  const int x0 = gShell.bandStartX, y0 = gShell.bandStartY;
  const int x1 = gShell.pointerX, y1 = gShell.pointerY;
  DrawClippedLine(x0, y0, x1, y0, 1, 1, 1);
  DrawClippedLine(x1, y0, x1, y1, 1, 1, 1);
  DrawClippedLine(x1, y1, x0, y1, 1, 1, 1);
  DrawClippedLine(x0, y1, x0, y0, 1, 1, 1);
}

int DrawClippedLine(int x1, int y1, int x2, int y2, float r, float g, float b) {
  int width, height;
  ScreenSize(&width, &height);
  const int xmin = 129, xmax = width - 3, ymax = height - 3;
  const int ymin = gShell.viewLayout == 0 ? height / 2 + 1 : 2;
  auto beyond = [&] { return Beyond(x1, y1, x2, y2, xmin, ymin, xmax, ymax); };
  auto inside = [&](int x, int y) { return xmin <= x && x <= xmax && ymin <= y && y <= ymax; };

  if (beyond()) return 1;
  if (!inside(x1, y1) || !inside(x2, y2)) {
    // Left and right edges, the end with the smaller x first.
    if (x1 > x2) std::swap(x1, x2), std::swap(y1, y2);
    if (x1 < xmin) {
      y1 = Cut(y1, x1, y2, x2, xmin);
      x1 = xmin;
      if (beyond()) return 1;
    }
    if (x2 > xmax) {
      y2 = Cut(y2, x2, y1, x1, xmax);
      x2 = xmax;
      if (beyond()) return 1;
    }
    // Then top and bottom, the end with the smaller y first.
    if (y1 > y2) std::swap(x1, x2), std::swap(y1, y2);
    if (y1 < ymin) {
      x1 = Cut(x1, y1, x2, y2, ymin);
      y1 = ymin;
      if (beyond()) return 1;
    }
    if (y2 > ymax) {
      x2 = Cut(x2, y2, x1, y1, ymax);
      y2 = ymax;
      if (beyond()) return 1;
    }
  }
  return qlt_DrawLine(x1, y1, x2, y2, qlt_MakeCompatible16bppColor(r, g, b));
}
