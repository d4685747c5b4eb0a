// The view of the Model and the drawing of the Render and Select viewports:
// the display rotation, the screen projection constants, the named
// viewpoints, the keyboard rotation steps and one frame of each viewport.
#pragma once

#include <cstdint>

// The viewport part of the shell's state that ShellState does not hold.
struct ViewState {
  int32_t mouseMode = 0;      // 0 single polygons, 1 whole materials, 2 rectangle
  int32_t hoverPolygon = -1;  // polygon under the pointer in the Select viewport
  float projectionScale = 0, screenCentreX = 0, screenCentreY = 0;
  int32_t specular = 0;  // the user's specular switch, restored after translucent runs
  int32_t redraws = 0;   // times the viewports were drawn, for the redraw policy's checks
};

extern ViewState gView;

// Polygons of the Model that the viewports and picking look at.
int PolygonCount();
// The material of polygon i, or -1 when its index lies outside the table.
int MaterialOf(int polygon);
// Drawn and picked: a material in the table (not -1) that is not hidden.
bool Drawable(int material);

// The display's width and height; false before there is a display.
bool ScreenSize(int* width, int* height);

// The display widths the mode dialog offers get their projection constants;
// any other width sets all three to 0.
void SetProjectionConstants(int width);

// Replaces every row r of `rows` by M r, M being the rotation by `radians`
// about the axis (x, y, z). A zero or non-finite axis changes nothing.
void RotateRows(float rows[3][3], float radians, float x, float y, float z);
// RotateRows on viewRotation.
void RotateView(float radians, float x, float y, float z);

// The view a program start shows: camera at twice the Model's radius, no pan,
// and the three-quarter rotation; the viewpoint becomes "3D".
void ApplyStartupView();

// The named view of gShell.viewpoint (1 Top .. 6 Back) from the identity
// rotation; pending rotation steps are dropped and pan and zoom stay. The free
// view (0) or an unknown number changes nothing.
void ApplyViewpoint();

// Names shown for gShell.viewpoint 0 .. 6; null for any other value.
const char* ViewpointName(int viewpoint);

// One pending 2-degree step per direction, set by the keys and applied once
// per frame.
enum class RotationStep { X, Z, Up, Down, Left, Right };
void RequestRotationStep(RotationStep step);
void ClearRotationSteps();
void ApplyRotationSteps();

// A viewport rectangle in the convention of qlt_SetRenderArea.
struct ViewportRect {
  float left, right, top, bottom;
};
// False when the layout has no such viewport.
bool RenderViewportRect(int layout, int width, int height, ViewportRect* out);
bool SelectViewportRect(int layout, int width, int height, ViewportRect* out);

// Draws the viewports of gShell.viewLayout into the back buffer: layout 0 the
// Render and then the Select viewport, 1 the Render viewport, 2 the Select
// viewport. Returns 1, or 0 when the library refused a step (its error text
// says which).
int RenderViewports();
// The name of the current viewpoint at the top left of the viewports, in
// black or white, whichever stands out from the viewport background. Does
// nothing when the back buffer gives no device context.
void DrawViewpointName();
int RenderRenderViewport();
int RenderSelectViewport();
