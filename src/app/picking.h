// The mouse side of the viewports: the screen projection, the hover pick,
// click and rectangle selection into the PolyList, the drags that turn and
// move the Render viewport, the rubber band and the line clipped to the
// viewports.
#pragma once

// Camera Z of a Model point in the current view (pan and zoom included).
float CameraZ(float x, float y, float z);

// Screen position of a Model point in the current view, without the layout-0
// offset of the Select viewport. False, and nothing written, when the point
// lies less than one unit in front of the camera.
bool ProjectToScreen(float x, float y, float z, float* sx, float* sy);

// Sets gView.hoverPolygon to the front-facing polygon under the pointer in
// the Select viewport, or -1 (always -1 in mouse mode 2 and layout 1).
void UpdateHoverPolygon();

// Button and pointer messages of the viewports, with window coordinates.
// A press also runs the hover pick and selects (left) or deselects (right)
// what it hit; the menu's pending command is the caller's.
void PointerPressed(bool left, int x, int y);
void PointerMoved(int x, int y);
void PointerReleased(bool left, int x, int y);

// The white rectangle from the band's start to the pointer, in mouse mode 2
// while the band is visible.
void DrawRubberBand();

// Draws the segment in the colour (0..1 per channel) where it lies inside the
// viewports of the current layout. Returns 1, also when nothing is left to
// draw, or 0 when the library refused the line.
int DrawClippedLine(int x1, int y1, int x2, int y2, float r, float g, float b);
