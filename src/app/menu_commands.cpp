#include "app/menu_commands.h"

#include "app/commands.h"
#include "app/shell_state.h"
#include "app/viewports.h"
#include "model/model.h"
#include "platform/events.h"
#include "render/library_state.h"
#include "render/qlt.h"

const char* const ModelChangedQuestion =
    "Model has changed. It is recommended that you save all of your 3D Models in the Vornix 3D! (*.VNX) file "
    "format until you are ready to export to a different format.\n\nWould you like to save it?";
const char* const ExitQuestion = "Are you sure that you would like to exit?";

namespace {

enum Command : int {
  CommandOpen = 0,
  CommandSave = 1,
  CommandPolygonMode = 6,
  CommandMaterialMode = 7,
  CommandRectangleMode = 8,
  CommandSelectAll = 9,
  CommandClearPolyList = 10,
};

void MakePending(int command) {
  gShell.commandPending = 1;
  gShell.pendingCommand = command;
}

void OpenCommand() {
  if (gShell.modelChanged && AskYesNo(ModelChangedQuestion)) {
    gShell.openAfterSave = 1;
    MakePending(CommandSave);
    return;
  }
  ShowDesktopSurface();
  FileDialogResult chosen;
  if (!GetFileName(OpenDialogRequest(), &chosen)) return;
  OpenModelFile(chosen.path.c_str());
  Ui().SetCursor(CursorShape::Arrow);
  int width = 0, height = 0;
  ScreenSize(&width, &height);
  Ui().MovePointer(width / 2, height / 2);
}

void SaveCommand() {
  FileDialogResult chosen;
  if (gModel.vertexCount >= 3) {
    ShowDesktopSurface();
    if (!GetFileName(SaveDialogRequest(), &chosen)) chosen.path.clear();
  }
  SaveModelFile(chosen.path.c_str(), chosen.filterIndex);
}

}  // namespace

FileDialogRequest OpenDialogRequest() {
  FileDialogRequest request;
  request.save = false;
  request.flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
  request.filters = {
      {" All Formats (*.vnx;*.x;*.dxf;*.qlt;*.3ds)", "*.vnx;*.x;*.dxf;*.qlt;*.3ds"},
      {" Vornix 3D! (*.vnx)", "*.vnx"},
      {" DirectX (*.x) - Text Files Only !!!", "*.x"},
      {" AutoCAD (*.dxf)", "*.dxf"},
      {" Quelt 3D! (*.qlt)", "*.qlt"},
      {" 3D Studio (*.3ds)", "*.3ds"},
  };
  return request;
}

FileDialogRequest SaveDialogRequest() {
  FileDialogRequest request;
  request.save = true;
  request.flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_CREATEPROMPT;
  request.filters = {
      {" Vornix 3D! (*.vnx)", "*.vnx"},
      {" DirectX (*.x)", "*.x"},
      {" AutoCAD (*.dxf)", "*.dxf"},
      {" Quelt 3D! (*.qlt)", "*.qlt"},
      {" Persistence of Vision (*.pov)", "*.pov"},
  };
  return request;
}

void ShowDesktopSurface() {
  if (_qlt_DirectDraw2) _qlt_DirectDraw2->FlipToGDISurface();
}

void RunCommand(int command) {
  switch (command) {
    case CommandOpen: OpenCommand(); break;
    case CommandSave: SaveCommand(); break;
    case CommandPolygonMode:
    case CommandMaterialMode:
    case CommandRectangleMode: gView.mouseMode = command - CommandPolygonMode; break;
    case CommandSelectAll: SelectAll(); break;
    case CommandClearPolyList: SelectNone(); break;
    default: break;
  }
}

void AskToExit() {
  if (!AskYesNo(ExitQuestion)) return;
  if (gShell.modelChanged && AskYesNo(ModelChangedQuestion)) {
    gShell.exitAfterSave = 1;
    MakePending(CommandSave);
    return;
  }
  PostClose();
}
