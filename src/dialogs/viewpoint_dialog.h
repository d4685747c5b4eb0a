// The viewpoint dialog: six buttons, one per side of the Model.
#pragma once

constexpr int ViewpointDialogResource = 119;
enum ViewpointControl : int {
  ViewTop = 1063,
  ViewBottom = 1064,
  ViewLeft = 1059,
  ViewRight = 1060,
  ViewFront = 1061,
  ViewBack = 1062,
};

// A button sets *viewpoint (1 Top, 2 Bottom, 3 Left, 4 Right, 5 Front,
// 6 Back) and gives 1; Cancel leaves it and gives 0; -1 when the dialog could
// not be shown.
int RunViewpointDialog(int* viewpoint);
