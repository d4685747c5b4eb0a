#include "dialogs/options_dialog.h"

#include "dialogs/value_dialog.h"

namespace {

constexpr int LayoutGroup = 900, BackgroundGroup = 901, LightGroup = 902, CullGroup = 903;
constexpr int LayoutRadios = 1, CullRadios = 2;

const DialogTemplate OptionsTemplate = {
    OptionsDialogResource,
    "Options",
    {
        {LayoutGroup, ControlKind::GroupBox, "Viewports", 0, 0, 2, 1},
        {LayoutBoth, ControlKind::RadioButton, "Two viewports: Render and Select", 0, 0, 1, 1, LayoutGroup,
         LayoutRadios},
        {LayoutRender, ControlKind::RadioButton, "One viewport: Render", 0, 1, 1, 1, LayoutGroup, LayoutRadios},
        {LayoutSelect, ControlKind::RadioButton, "One viewport: Select", 0, 2, 1, 1, LayoutGroup, LayoutRadios},
        {BackgroundGroup, ControlKind::GroupBox, "Viewport Background Color", 0, 1},
        {0, ControlKind::StaticText, "Red", 0, 0, 1, 1, BackgroundGroup},
        {BackgroundRed, ControlKind::Edit, "", 1, 0, 1, 1, BackgroundGroup},
        {0, ControlKind::StaticText, "Green", 0, 1, 1, 1, BackgroundGroup},
        {BackgroundGreen, ControlKind::Edit, "", 1, 1, 1, 1, BackgroundGroup},
        {0, ControlKind::StaticText, "Blue", 0, 2, 1, 1, BackgroundGroup},
        {BackgroundBlue, ControlKind::Edit, "", 1, 2, 1, 1, BackgroundGroup},
        {LightGroup, ControlKind::GroupBox, "Light Emission Color", 1, 1},
        {0, ControlKind::StaticText, "Red", 0, 0, 1, 1, LightGroup},
        {LightRed, ControlKind::Edit, "", 1, 0, 1, 1, LightGroup},
        {0, ControlKind::StaticText, "Green", 0, 1, 1, 1, LightGroup},
        {LightGreen, ControlKind::Edit, "", 1, 1, 1, 1, LightGroup},
        {0, ControlKind::StaticText, "Blue", 0, 2, 1, 1, LightGroup},
        {LightBlue, ControlKind::Edit, "", 1, 2, 1, 1, LightGroup},
        {CullGroup, ControlKind::GroupBox, "Cull Mode", 0, 2},
        {CullNone, ControlKind::RadioButton, "None", 0, 0, 1, 1, CullGroup, CullRadios},
        {CullClockwise, ControlKind::RadioButton, "CW", 1, 0, 1, 1, CullGroup, CullRadios},
        {CullCounterClockwise, ControlKind::RadioButton, "CCW", 2, 0, 1, 1, CullGroup, CullRadios},
        {ShowSpecular, ControlKind::CheckBox, "Show Specular", 1, 2},
        {BilinearFiltering, ControlKind::CheckBox, "Bi-Linear Texture Filtering", 1, 3},
        {IDC_OK, ControlKind::DefaultButton, "OK", 0, 4},
        {IDC_CANCEL, ControlKind::Button, "Cancel", 1, 4},
    },
};

}  // namespace

int RunOptionsDialog(OptionsValues* out) {
  ValueDialog dialog;
  dialog.dialogTemplate = &OptionsTemplate;
  const int backgroundIds[3] = {BackgroundRed, BackgroundGreen, BackgroundBlue};
  const int lightIds[3] = {LightRed, LightGreen, LightBlue};
  for (int k = 0; k < 3; ++k) {
    dialog.fields.push_back({backgroundIds[k], &out->backgroundText[k], FormatValue(out->background[k])});
    dialog.fields.push_back({lightIds[k], &out->lightText[k], FormatValue(out->light[k])});
  }
  dialog.choices = {{LayoutBoth, out->viewLayout, 0},     {LayoutRender, out->viewLayout, 1},
                    {LayoutSelect, out->viewLayout, 2},   {CullNone, &out->cullMode, 1},
                    {CullClockwise, &out->cullMode, 2}, {CullCounterClockwise, &out->cullMode, 3}};
  dialog.flags = {{ShowSpecular, &out->specular}, {BilinearFiltering, &out->filtering}};
  const int result = RunValueDialog(dialog);
  if (result != 1) return result;
  for (int k = 0; k < 3; ++k) {
    out->background[k] = TextValue(out->backgroundText[k].text);
    out->light[k] = TextValue(out->lightText[k].text);
  }
  return result;
}
