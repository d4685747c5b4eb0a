#include "dialogs/viewpoint_dialog.h"

#include "dialogs/value_dialog.h"

namespace {

const DialogTemplate ViewpointTemplate = {
    ViewpointDialogResource,
    "Viewpoint",
    {
        {ViewTop, ControlKind::Button, "View Top Side of Model", 0, 0},
        {ViewBottom, ControlKind::Button, "View Bottom Side of Model", 1, 0},
        {ViewLeft, ControlKind::Button, "View Left Side of Model", 0, 1},
        {ViewRight, ControlKind::Button, "View Right Side of Model", 1, 1},
        {ViewFront, ControlKind::Button, "View Front Side of Model", 0, 2},
        {ViewBack, ControlKind::Button, "View Back Side of Model", 1, 2},
        {IDC_CANCEL, ControlKind::Button, "Cancel", 1, 3},
    },
};

}  // namespace

int RunViewpointDialog(int* viewpoint) {
  static const int buttons[] = {ViewTop, ViewBottom, ViewLeft, ViewRight, ViewFront, ViewBack};
  ValueDialog dialog;
  dialog.dialogTemplate = &ViewpointTemplate;
  dialog.onButton = [viewpoint](Dialog& box, int control) {
    for (int i = 0; i < 6; ++i) {
      if (buttons[i] != control) continue;
      *viewpoint = i + 1;
      box.EndDialog(1);
    }
  };
  return RunValueDialog(dialog);
}
