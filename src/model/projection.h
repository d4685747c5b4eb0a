// Texture coordinates from a planar projection through an oriented box.
#pragma once

struct ProjectionBox {
  float uAxis[3], vAxis[3], tAxis[3];
  float sMin, sMax;  // extent of (position . U axis) over the selected vertices
  float tMin, tMax;  // the same along the V axis
  float wMin;        // smallest (position . T axis)
  float minU, maxU, minV, maxV;
};

// Maps every selected vertex through the box, stores the box in the lowest
// free slot and links the selected vertices to it. Returns the slot, or -1
// (after a message, with nothing changed) when all slots are in use.
int ApplyTextureProjection(const ProjectionBox& box);
