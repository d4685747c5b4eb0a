#include "dialogs/reverse_dialog.h"

#include "dialogs/value_dialog.h"

namespace {

constexpr int ReverseGroup = 900;

const DialogTemplate ReverseTemplate = {
    ReverseDialogResource,
    "Reverse",
    {
        {ReverseGroup, ControlKind::GroupBox, "Reverse Order", 0, 0},
        {ReverseOrderBox, ControlKind::CheckBox, "Reverse Polygon Ordering", 0, 0, 1, 1, ReverseGroup},
        {ReverseNormalsBox, ControlKind::CheckBox, "Reverse Vertex Normals", 0, 1, 1, 1, ReverseGroup},
        {ReverseUBox, ControlKind::CheckBox, "Reverse U Texture Coordinates", 0, 2, 1, 1, ReverseGroup},
        {ReverseVBox, ControlKind::CheckBox, "Reverse V Texture Coordinates (Fix DirectX Bug)", 0, 3, 1, 1,
         ReverseGroup},
        {IDC_OK, ControlKind::DefaultButton, "OK", 0, 1},
    },
};

}  // namespace

int RunReverseDialog(ReverseTicks* ticks) {
  *ticks = ReverseTicks();
  ValueDialog dialog;
  dialog.dialogTemplate = &ReverseTemplate;
  dialog.flags = {{ReverseOrderBox, &ticks->polygonOrder},
                  {ReverseNormalsBox, &ticks->normals},
                  {ReverseUBox, &ticks->u},
                  {ReverseVBox, &ticks->v}};
  return RunValueDialog(dialog);
}
