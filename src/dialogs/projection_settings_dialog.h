// The texture projection settings: the u,v ranges the box maps onto and the
// angle of one box turn.
#pragma once

#include "dialogs/value_text.h"

constexpr int ProjectionSettingsResource = 134;
enum ProjectionSettingsControl : int {
  MinUField = 1000,
  MaxUField = 1094,
  MinVField = 1095,
  MaxVField = 1096,
  IncrementField = 1097,
};

struct ProjectionSettings {
  ValueText minU, maxU, minV, maxV, increment;
};

// 1 for OK, 0 for Cancel, -1 when the dialog could not be shown.
int RunProjectionSettingsDialog(ProjectionSettings* values);
