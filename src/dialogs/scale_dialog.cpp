#include "dialogs/scale_dialog.h"

#include <cstdio>

#include "dialogs/value_dialog.h"
#include "model/model.h"

namespace {

constexpr int ModeRadios = 1;

const DialogTemplate ScaleTemplate = {
    ScaleDialogResource,
    "Scale",
    {
        {ScaleSizes, ControlKind::StaticText, "", 0, 0, 2, 1},
        {ScaleUniform, ControlKind::RadioButton, "Uniform Scale (X,Y and Z)", 0, 1, 2, 1, 0, ModeRadios},
        {ScaleWidthOnly, ControlKind::RadioButton, "Scale Width (X) Only", 0, 2, 2, 1, 0, ModeRadios},
        {ScaleHeightOnly, ControlKind::RadioButton, "Scale Height (Y) Only", 0, 3, 2, 1, 0, ModeRadios},
        {ScaleLengthOnly, ControlKind::RadioButton, "Scale Length (Z) Only", 0, 4, 2, 1, 0, ModeRadios},
        {0, ControlKind::StaticText, "Enter scale factor:", 0, 5},
        {ScaleFactorField, ControlKind::Edit, "", 1, 5},
        {IDC_OK, ControlKind::DefaultButton, "OK", 0, 6},
        {IDC_CANCEL, ControlKind::Button, "Cancel", 1, 6},
    },
};

std::string SizesText() {
  char text[300];
  std::snprintf(text, sizeof text, "Width of Model (X) = %f\nHeight of Model (Y) = %f\nLength of Model (Z) = %f",
                gModel.maxX - gModel.minX, gModel.maxY - gModel.minY, gModel.maxZ - gModel.minZ);
  return text;
}

}  // namespace

int RunScaleDialog(ScaleValues* out) {
  ValueDialog dialog;
  dialog.dialogTemplate = &ScaleTemplate;
  out->mode = 0;
  dialog.fields = {{ScaleFactorField, &out->factor, "1.0"}};
  dialog.choices = {{ScaleUniform, &out->mode, 0},
                    {ScaleWidthOnly, &out->mode, 1},
                    {ScaleHeightOnly, &out->mode, 2},
                    {ScaleLengthOnly, &out->mode, 3}};
  dialog.texts = {{ScaleSizes, SizesText()}};
  return RunValueDialog(dialog);
}
