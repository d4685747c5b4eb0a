// The orientation dialog: rotation angles in degrees about X, Y and Z, and
// four buttons that fill them in and close at once.
#pragma once

#include "dialogs/value_text.h"

constexpr int OrientationDialogResource = 118;
enum OrientationControl : int {
  OrientationXField = 1000,
  OrientationYField = 1049,
  OrientationZField = 1050,
  OrientationTopView = 1051,
  OrientationPlusX = 1052,
  OrientationPlusY = 1045,
  OrientationPlusZ = 1048,
};

struct OrientationValues {
  ValueText x, y, z;
  // The top-view button was used: the caller shows the Model from the top.
  bool topView = false;
};

// 1 for OK (also from the four buttons), 0 for Cancel, -1 when the dialog
// could not be shown.
int RunOrientationDialog(OrientationValues* values);
