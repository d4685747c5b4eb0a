// The scale dialog: the Model's size, a factor and which axes it scales.
#pragma once

#include "dialogs/value_text.h"

constexpr int ScaleDialogResource = 121;
enum ScaleControl : int {
  ScaleSizes = 1075,
  ScaleUniform = 1077,
  ScaleWidthOnly = 1078,
  ScaleHeightOnly = 1079,
  ScaleLengthOnly = 1076,
  ScaleFactorField = 1000,
};

struct ScaleValues {
  int mode = 0;  // 0 uniform, 1 X only, 2 Y only, 3 Z only
  ValueText factor;
};

// 1 for OK, 0 for Cancel, -1 when the dialog could not be shown.
int RunScaleDialog(ScaleValues* values);
