#include "dialogs/smoothing_dialog.h"

#include "dialogs/value_dialog.h"
#include "model/normals.h"

const char* const AngleRangeText = "Angle must be in range of 0 to 179!\nProcess aborted.";

namespace {

const DialogTemplate SmoothingTemplate = {
    SmoothingDialogResource,
    "Smooth Normals",
    {
        {0, ControlKind::StaticText, "Enter maximum angle of adjacent\npolygons to average from 0 to 179\ndegrees.",
         0, 0, 2, 1},
        {SmoothingAngleField, ControlKind::Edit, "", 0, 1, 2, 1},
        {SmoothingAcrossMaterials, ControlKind::CheckBox, "Average adjacent polygons", 0, 2, 2, 1},
        {0, ControlKind::StaticText, "even if they have different materials.", 0, 3, 2, 1},
        {IDC_OK, ControlKind::DefaultButton, "OK", 0, 4},
        {IDC_CANCEL, ControlKind::Button, "Cancel", 1, 4},
    },
};

}  // namespace

bool SmoothingAngleInRange(float angle) { return angle >= 0.0f && angle <= 179.0f; }

int RunSmoothingDialog(ValueText* angle) {
  ValueDialog dialog;
  dialog.dialogTemplate = &SmoothingTemplate;
  averageAcrossMaterials = 0;
  dialog.fields = {{SmoothingAngleField, angle, "45"}};
  dialog.flags = {{SmoothingAcrossMaterials, &averageAcrossMaterials}};
  return RunValueDialog(dialog);
}
