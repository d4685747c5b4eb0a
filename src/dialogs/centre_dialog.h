// The centre dialog: the Model's extents and the translation that centres it.
#pragma once

#include "dialogs/value_text.h"

constexpr int CentreDialogResource = 113;
enum CentreControl : int {
  CentreExtents = 1032,
  CentreXField = 1000,
  CentreYField = 1026,
  CentreZField = 1027,
  CalcCentreX = 1030,
  CalcCentreY = 1031,
  CalcCentreZ = 1028,
  CalcCentreFloor = 1029,
};

struct CentreValues {
  ValueText x, y, z;
};

// 1 for OK, 0 for Cancel, -1 when the dialog could not be shown.
int RunCentreDialog(CentreValues* values);
