#include "dialogs/projection_settings_dialog.h"

#include "dialogs/value_dialog.h"

namespace {

constexpr int ExtentsGroup = 900, BoxGroup = 901;

const DialogTemplate ProjectionSettingsTemplate = {
    ProjectionSettingsResource,
    "Project Texture Coords",
    {
        {ExtentsGroup, ControlKind::GroupBox, "U,V Texture Coordinate Extents", 0, 0, 2, 1},
        {0, ControlKind::StaticText, "Min. U value (Left side of texture bitmap from 0.0 to 1.0)", 0, 0, 1, 1,
         ExtentsGroup},
        {MinUField, ControlKind::Edit, "", 1, 0, 1, 1, ExtentsGroup},
        {0, ControlKind::StaticText, "Max. U value (Right side of texture bitmap from 0.0 to 1.0)", 0, 1, 1, 1,
         ExtentsGroup},
        {MaxUField, ControlKind::Edit, "", 1, 1, 1, 1, ExtentsGroup},
        {0, ControlKind::StaticText, "Min. V value (Top side of texture bitmap from 0.0 to 1.0)", 0, 2, 1, 1,
         ExtentsGroup},
        {MinVField, ControlKind::Edit, "", 1, 2, 1, 1, ExtentsGroup},
        {0, ControlKind::StaticText, "Max. V value (Bottom side of texture bitmap from 0.0 to 1.0)", 0, 3, 1, 1,
         ExtentsGroup},
        {MaxVField, ControlKind::Edit, "", 1, 3, 1, 1, ExtentsGroup},
        {BoxGroup, ControlKind::GroupBox, "3D Texture Projection Box", 0, 1, 2, 1},
        {0, ControlKind::StaticText, "Rotation angle increment in degrees", 0, 0, 1, 1, BoxGroup},
        {IncrementField, ControlKind::Edit, "", 1, 0, 1, 1, BoxGroup},
        {IDC_OK, ControlKind::DefaultButton, "OK", 0, 2},
        {IDC_CANCEL, ControlKind::Button, "Cancel", 1, 2},
    },
};

}  // namespace

int RunProjectionSettingsDialog(ProjectionSettings* out) {
  ValueDialog dialog;
  dialog.dialogTemplate = &ProjectionSettingsTemplate;
  dialog.fields = {{MinUField, &out->minU, "0.0"},
                   {MaxUField, &out->maxU, "1.0"},
                   {MinVField, &out->minV, "0.0"},
                   {MaxVField, &out->maxV, "1.0"},
                   {IncrementField, &out->increment, "11.25"}};
  return RunValueDialog(dialog);
}
