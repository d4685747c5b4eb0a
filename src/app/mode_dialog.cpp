#include "app/mode_dialog.h"

#include <cstring>

#include "platform/dialog.h"
#include "platform/ui.h"
#include "render/library_state.h"
#include "render/qlt.h"

const char* const InsufficientMemoryQuestion =
    "Although your hardware supports this resolution, there may be insufficient video memory to actually "
    "use it.\n\nWould you like to try it anyway?";

namespace {

constexpr int MaxMethods = 16;
constexpr int ModeNumbers = 8;
// Modes 1 to 5 are smaller than the panel and viewports need.
constexpr int FirstOfferedMode = 6;

const char* const ModeNames[ModeNumbers] = {"320 x 200", "320 x 240", "400 x 300", "512 x 384",
                                            "640 x 400", "640 x 480", "800 x 600", "1024 x 768"};

struct ModeChoice {
  int methodCount = 0;
  char names[MaxMethods][128];
  int32_t modes[MaxMethods][ModeNumbers];
  int shownMethod = 0;
  int method = 0;
  int mode = 0;
};

const DialogTemplate ModeTemplate = {
    ModeDialogResource,
    "Vornix 3D!",
    {
        {ModePicture, ControlKind::Picture, "", 0, 0, 1, 4},
        {0, ControlKind::StaticText, "Select Rendering Method:", 1, 0, 2, 1},
        {ModeMethodList, ControlKind::ListBox, "", 1, 1, 2, 1},
        {0, ControlKind::StaticText, "Select Display Resolution:", 1, 2, 2, 1},
        {ModeResolutionList, ControlKind::ListBox, "", 1, 3, 2, 1},
        {IDC_OK, ControlKind::DefaultButton, "OK", 1, 4},
        {IDC_CANCEL, ControlKind::Button, "Cancel", 2, 4},
    },
};

// The mode number of the r-th offered row of a method, or 0.
int OfferedMode(const ModeChoice& choice, int method, int row) {
  if (method < 0 || method >= choice.methodCount || row < 0) return 0;
  for (int m = 0; m < ModeNumbers; ++m)
    if (choice.modes[method][m] != QltModeAbsent && row-- == 0) return m + 1;
  return 0;
}

void FillResolutions(Dialog& dialog, const ModeChoice& choice, int method) {
  dialog.ListReset(ModeResolutionList);
  for (int m = 0; m < ModeNumbers; ++m)
    if (choice.modes[method][m] != QltModeAbsent) dialog.ListAdd(ModeResolutionList, ModeNames[m]);
  const int vga = method != 0 ? dialog.ListFindPrefix(ModeResolutionList, -1, "640 x 480") : -1;
  dialog.ListSelect(ModeResolutionList, vga >= 0 ? vga : 0);
}

// Returns 1 when the dialog may close with the choice made.
int Confirm(const ModeChoice& choice, Dialog& dialog, int* mode) {
  const int method = dialog.ListSelection(ModeMethodList);
  const int number = OfferedMode(choice, method, dialog.ListSelection(ModeResolutionList));
  // With nothing offered there is nothing to confirm.
  if (number == 0) return 0;
  if (choice.modes[method][number - 1] == QltModeMemoryConstrained &&
      MessageBoxSafe(InsufficientMemoryQuestion, "Vornix 3D!", MB_YESNO | MB_ICONQUESTION) != IDYES)
    return 0;
  *mode = number;
  return 1;
}

int ModeDialogProc(Dialog& dialog, DialogMessage message, int control, Notification code, void* context) {
  ModeChoice& choice = *static_cast<ModeChoice*>(context);
  if (message == DialogMessage::Init) {
    dialog.SetCaption("Vornix 3D!");
    for (int i = 0; i < choice.methodCount; ++i) dialog.ListAdd(ModeMethodList, choice.names[i]);
    const int last = choice.methodCount > 0
                         ? dialog.ListFindPrefix(ModeMethodList, -1, choice.names[choice.methodCount - 1])
                         : -1;
    dialog.ListSelect(ModeMethodList, last);
    choice.shownMethod = last;
    if (last >= 0) FillResolutions(dialog, choice, last);
    return 1;
  }
  if (control == ModeMethodList && code == Notification::SelectionChanged) {
    const int selected = dialog.ListSelection(ModeMethodList);
    if (selected != choice.shownMethod && selected >= 0) {
      choice.shownMethod = selected;
      FillResolutions(dialog, choice, selected);
    }
    return 1;
  }
  if (control == IDC_OK) {
    int mode = 0;
    if (Confirm(choice, dialog, &mode)) {
      choice.method = dialog.ListSelection(ModeMethodList);
      choice.mode = mode;
      dialog.EndDialog(1);
    }
    return 1;
  }
  if (control == IDC_CANCEL) {
    choice.method = choice.mode = 0;
    dialog.EndDialog(0);
    return 1;
  }
  return 0;
}

}  // namespace

int SelectRenderingMode(int methodCount, char (*methodNames)[128], int32_t (*methodModes)[8], int* outMethod,
                        int* outMode) {
  static ModeChoice choice;
  choice = ModeChoice();
  choice.methodCount = methodCount < 0 ? 0 : (methodCount > MaxMethods ? MaxMethods : methodCount);
  for (int i = 0; i < choice.methodCount; ++i) {
    std::memcpy(choice.names[i], methodNames[i], 127);
    choice.names[i][127] = '\0';
    for (int m = 0; m < ModeNumbers; ++m)
      choice.modes[i][m] = m + 1 < FirstOfferedMode ? QltModeAbsent : methodModes[i][m];
  }
  const int result = DialogBox(ModeTemplate, ModeDialogProc, &choice);
  *outMethod = result == 1 ? choice.method : 0;
  *outMode = result == 1 ? choice.mode : 0;
  return result;
}
