// The texture projection box: an oriented box around the PolyList, drawn
// over the Select viewport, that the user turns with [Ctrl] and the arrow,
// X and Z keys until [Enter] projects the texture coordinates through it.
#pragma once

#include "model/model.h"

struct ProjectionBoxState {
  // Rows U (u grows along it), V (v is laid along it) and T (the projection
  // direction).
  float axes[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  float offset[3] = {0, 0, 0};  // the box never moves off the origin
  // Extents of position . U, . V and . T over the selected vertices, as the
  // latest frame measured them; the start values while nothing is selected.
  float sMin = BoundsStart, sMax = -BoundsStart;
  float tMin = BoundsStart, tMax = -BoundsStart;
  float wMin = BoundsStart, wMax = -BoundsStart;
  float minU = 0, maxU = 1, minV = 0, maxV = 1;
  float rotationIncrement = 0;  // degrees per key press
  bool rotationRequested[6] = {};
  float stepAngles[3] = {};  // this frame's turn about V, U and T
  // Screen positions of the corners C0..C7 (layout-0 offset included), and
  // whether each could be placed on the screen at all.
  double corners[8][2] = {};
  bool cornerPlaced[8] = {};
};

extern ProjectionBoxState gBox;

// Tells the user the keys, shows the model from the back and starts a
// projection with an unturned box and the given texture ranges.
void StartProjectionBox(float minU, float maxU, float minV, float maxV, float rotationIncrement);

// One pending turn per key, consumed by the next box update; the keys set
// them whether or not a projection runs.
enum class BoxRotation { X, Z, Up, Down, Left, Right };
void RequestBoxRotation(BoxRotation rotation);

// One frame of a running projection: the pending turns, the extents around
// the PolyList and the box drawn over the Select viewport (over the Render
// viewport in layout 1).
void UpdateAndDrawProjectionBox();

// After [Enter]: projects the PolyList through the box as the last frame
// drew it. Does nothing unless a projection was accepted.
void StoreAcceptedProjection();
