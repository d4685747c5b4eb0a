// The reverse dialog: four check boxes and OK.
#pragma once

constexpr int ReverseDialogResource = 138;
enum ReverseControl : int {
  ReverseOrderBox = 1111,
  ReverseNormalsBox = 1112,
  ReverseUBox = 1113,
  ReverseVBox = 1114,
};

struct ReverseTicks {
  int polygonOrder = 0, normals = 0, u = 0, v = 0;
};

// All four start unticked. 1 for OK, 0 when closed otherwise, -1 when the
// dialog could not be shown.
int RunReverseDialog(ReverseTicks* ticks);
