#include "dialogs/orientation_dialog.h"

#include "dialogs/value_dialog.h"

namespace {

constexpr int AngleGroup = 900;

const DialogTemplate OrientationTemplate = {
    OrientationDialogResource,
    "Orientation",
    {
        {0, ControlKind::StaticText,
         "The Quelt 3D! and DirectX coordinate system is identical and is typically different from DXF. The "
         "proper orientation of your model should be:  X points right, Y points up, and Z points forward.",
         0, 0, 2, 1},
        {AngleGroup, ControlKind::GroupBox, "Specify Rotation Angle in Degrees", 0, 1, 2, 1},
        {0, ControlKind::StaticText, "X:", 0, 0, 1, 1, AngleGroup},
        {OrientationXField, ControlKind::Edit, "", 1, 0, 1, 1, AngleGroup},
        {0, ControlKind::StaticText, "Y:", 0, 1, 1, 1, AngleGroup},
        {OrientationYField, ControlKind::Edit, "", 1, 1, 1, 1, AngleGroup},
        {0, ControlKind::StaticText, "Z:", 0, 2, 1, 1, AngleGroup},
        {OrientationZField, ControlKind::Edit, "", 1, 2, 1, 1, AngleGroup},
        {OrientationTopView, ControlKind::Button, "Set viewpoint to top side view and render", 0, 2, 2, 1},
        {OrientationPlusX, ControlKind::Button, "Rotate +90 degrees on X axis and render", 0, 3, 2, 1},
        {OrientationPlusY, ControlKind::Button, "Rotate +90 degrees on Y axis and render", 0, 4, 2, 1},
        {OrientationPlusZ, ControlKind::Button, "Rotate +90 degrees on Z axis and render", 0, 5, 2, 1},
        {0, ControlKind::StaticText,
         "Note: After rotating, the model may need to be centered again with the Center command.", 0, 6, 2, 1},
        {IDC_OK, ControlKind::DefaultButton, "OK", 0, 7},
        {IDC_CANCEL, ControlKind::Button, "Cancel", 1, 7},
    },
};

}  // namespace

int RunOrientationDialog(OrientationValues* out) {
  ValueDialog dialog;
  dialog.dialogTemplate = &OrientationTemplate;
  dialog.fields = {{OrientationXField, &out->x, "0.0"},
                   {OrientationYField, &out->y, "0.0"},
                   {OrientationZField, &out->z, "0.0"}};
  out->topView = false;
  dialog.onButton = [&dialog, out](Dialog& box, int control) {
    const char* x = "0.0";
    const char* y = "0.0";
    const char* z = "0.0";
    switch (control) {
      case OrientationTopView: out->topView = true; break;
      case OrientationPlusX: x = "90.0"; break;
      case OrientationPlusY: y = "90.0"; break;
      case OrientationPlusZ: z = "90.0"; break;
      default: return;
    }
    SetField(box, dialog, OrientationXField, x);
    SetField(box, dialog, OrientationYField, y);
    SetField(box, dialog, OrientationZField, z);
    box.EndDialog(1);
  };
  return RunValueDialog(dialog);
}
