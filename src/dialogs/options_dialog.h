// The options dialog: the viewport layout (acting at once), the background
// and light colours, the cull mode and the specular and filtering switches
// (applied by the caller after OK).
#pragma once

#include "dialogs/value_text.h"

constexpr int OptionsDialogResource = 120;
enum OptionsControl : int {
  LayoutBoth = 1070,
  LayoutRender = 1071,
  LayoutSelect = 1072,
  BackgroundRed = 1000,
  BackgroundGreen = 1073,
  BackgroundBlue = 1074,
  LightRed = 1001,
  LightGreen = 1075,
  LightBlue = 1076,
  CullNone = 1100,
  CullClockwise = 1101,
  CullCounterClockwise = 1102,
  ShowSpecular = 1103,
  BilinearFiltering = 1104,
};

struct OptionsValues {
  // Set by the layout radios while the dialog is open.
  int* viewLayout = nullptr;
  // In: the current values; out after OK: what the dialog left.
  float background[3] = {0, 0, 0};
  float light[3] = {0, 0, 0};
  ValueText backgroundText[3], lightText[3];
  int cullMode = 0;  // 1 none, 2 clockwise, 3 counter-clockwise
  int specular = 0;
  int filtering = 0;
};

// 1 for OK, 0 for Cancel, -1 when the dialog could not be shown.
int RunOptionsDialog(OptionsValues* values);
