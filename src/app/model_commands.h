// The Model operations behind the value dialogs, shared by the desktop
// commands and the command line so both change a Model the same way.
#pragma once

// The scale dialog's modes: every axis, or one.
enum class ScaleMode { Uniform = 0, WidthX = 1, HeightY = 2, LengthZ = 3 };

// Uniform: ScaleX, ScaleY, ScaleZ by factor in this order; otherwise the
// one axis.
void ApplyScale(ScaleMode mode, float factor);

// The reverse dialog's four boxes.
struct ReverseChoice {
  bool polygonOrder = false;
  bool normals = false;
  bool u = false;
  bool v = false;
};

// The ticked operations in the fixed order: polygon order, normals, U, V.
// They act on the PolyList.
void ApplyReverse(const ReverseChoice& choice);
