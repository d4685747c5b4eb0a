// The smoothing dialog: the largest angle between adjacent polygons whose
// normals are averaged, and whether materials may differ.
#pragma once

#include "dialogs/value_text.h"

constexpr int SmoothingDialogResource = 133;
enum SmoothingControl : int {
  SmoothingAngleField = 1000,
  SmoothingAcrossMaterials = 1106,
};

extern const char* const AngleRangeText;

// 0 to 179 degrees, compared in single precision.
bool SmoothingAngleInRange(float angle);

// Leaves the angle's text in *angle; the check box toggles
// averageAcrossMaterials, which starts unticked. 1 for OK, 0 for Cancel, -1
// when the dialog could not be shown.
int RunSmoothingDialog(ValueText* angle);
