#include "dialogs/centre_dialog.h"

#include <cstdio>

#include "dialogs/value_dialog.h"
#include "model/model.h"

namespace {

const DialogTemplate CentreTemplate = {
    CentreDialogResource,
    "Center",
    {
        {CentreExtents, ControlKind::StaticText, "", 0, 0, 4, 1},
        {0, ControlKind::StaticText, "X Center:", 0, 1},
        {CentreXField, ControlKind::Edit, "", 1, 1},
        {CalcCentreX, ControlKind::Button, "Calc Center", 2, 1},
        {0, ControlKind::StaticText, "Y Center:", 0, 2},
        {CentreYField, ControlKind::Edit, "", 1, 2},
        {CalcCentreY, ControlKind::Button, "Calc Center", 2, 2},
        {CalcCentreFloor, ControlKind::Button, "Calc Center Floor *", 3, 2},
        {0, ControlKind::StaticText, "Z Center:", 0, 3},
        {CentreZField, ControlKind::Edit, "", 1, 3},
        {CalcCentreZ, ControlKind::Button, "Calc Center", 2, 3},
        {0, ControlKind::StaticText,
         "* Note: In some cases it makes more sense to center an object at floor or ground level such as a "
         "chair model. This makes it easier to manipulate in a 3D scene.",
         0, 4, 4, 1},
        {IDC_OK, ControlKind::DefaultButton, "OK", 2, 5},
        {IDC_CANCEL, ControlKind::Button, "Cancel", 3, 5},
    },
};

std::string ExtentsText() {
  char text[400];
  std::snprintf(text, sizeof text,
                "X extents range from %f to %f\nY extents range from %f to %f\nZ extents range from %f to %f",
                gModel.minX, gModel.maxX, gModel.minY, gModel.maxY, gModel.minZ, gModel.maxZ);
  return text;
}

// The translation that puts the middle of [min, max] at 0, computed as the
// dialog always has: half the span less the maximum.
std::string CentreOf(float min, float max) { return FormatValue((max - min) * 0.5f - max); }

}  // namespace

int RunCentreDialog(CentreValues* out) {
  ValueDialog dialog;
  dialog.dialogTemplate = &CentreTemplate;
  dialog.fields = {{CentreXField, &out->x, "0.0"}, {CentreYField, &out->y, "0.0"}, {CentreZField, &out->z, "0.0"}};
  dialog.texts = {{CentreExtents, ExtentsText()}};
  dialog.onButton = [&dialog](Dialog& box, int control) {
    switch (control) {
      case CalcCentreX: SetField(box, dialog, CentreXField, CentreOf(gModel.minX, gModel.maxX).c_str()); break;
      case CalcCentreY: SetField(box, dialog, CentreYField, CentreOf(gModel.minY, gModel.maxY).c_str()); break;
      case CalcCentreZ: SetField(box, dialog, CentreZField, CentreOf(gModel.minZ, gModel.maxZ).c_str()); break;
      case CalcCentreFloor: SetField(box, dialog, CentreYField, FormatValue(-gModel.minY).c_str()); break;
      default: break;
    }
  };
  return RunValueDialog(dialog);
}
