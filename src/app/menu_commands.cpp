#include "app/menu_commands.h"

#include <vector>

#include "app/commands.h"
#include "app/help.h"
#include "app/model_commands.h"
#include "app/projection_box.h"
#include "app/shell_state.h"
#include "app/viewports.h"
#include "dialogs/centre_dialog.h"
#include "dialogs/material_editor.h"
#include "dialogs/options_dialog.h"
#include "dialogs/orientation_dialog.h"
#include "dialogs/projection_settings_dialog.h"
#include "dialogs/reverse_dialog.h"
#include "dialogs/scale_dialog.h"
#include "dialogs/smoothing_dialog.h"
#include "dialogs/viewpoint_dialog.h"
#include "model/cleanup.h"
#include "model/geometry.h"
#include "model/model.h"
#include "model/normals.h"
#include "platform/events.h"
#include "render/library_state.h"
#include "render/qlt.h"

const char* const ModelChangedQuestion =
    "Model has changed. It is recommended that you save all of your 3D Models in the Vornix 3D! (*.VNX) file "
    "format until you are ready to export to a different format.\n\nWould you like to save it?";
const char* const ExitQuestion = "Are you sure that you would like to exit?";
const char* const ProjectingText =
    "Can not perform the requested\noperation.\n\nYou are in the middle of a texture\ncoordinate "
    "projection. You should\npress [Esc] to cancel the texture\ncoordinate projection process if\nyou want "
    "to perform a different\noperation.\n";
const char* const DeleteQuestion =
    "This will permanently remove all selected polygons from the model.\n\nAre you sure you want to delete "
    "them?";

namespace {

enum Command : int {
  CommandOpen = 0,
  CommandSave = 1,
  CommandCentre = 2,
  CommandOrientation = 3,
  CommandScale = 4,
  CommandEditMaterials = 5,
  CommandPolygonMode = 6,
  CommandMaterialMode = 7,
  CommandRectangleMode = 8,
  CommandSelectAll = 9,
  CommandClearPolyList = 10,
  CommandProjectTexture = 11,
  CommandSmooth = 12,
  CommandReverse = 13,
  CommandNewMaterial = 14,
  CommandDelete = 15,
  CommandOptions = 16,
  CommandViewpoint = 17,
  CommandHelp = 18,
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

void Tell(const char* text) { MessageBoxSafe(text, "Vornix 3D!", MB_OK); }

// The guards of the PolyList commands: none while a projection runs, and
// none without a PolyList.
bool PolyListCommandAllowed() {
  if (gShell.projecting) {
    Tell(ProjectingText);
    return false;
  }
  if (PolyListIsEmpty()) {
    Tell(NothingToProcessText);
    return false;
  }
  return true;
}

void CentreCommand() {
  ShowDesktopSurface();
  CentreValues values;
  if (RunCentreDialog(&values) != 1) return;
  MarkModelChanged();
  TranslateX(TextValue(values.x.text));
  TranslateY(TextValue(values.y.text));
  TranslateZ(TextValue(values.z.text));
}

void OrientationCommand() {
  ShowDesktopSurface();
  OrientationValues values;
  if (RunOrientationDialog(&values) != 1) return;
  if (values.topView) {
    gShell.viewpoint = 1;
    ApplyViewpoint();
  }
  MarkModelChanged();
  RotateX(TextValue(values.x.text));
  RotateY(TextValue(values.y.text));
  RotateZ(TextValue(values.z.text));
  ClearRotationSteps();
}

void ScaleCommand() {
  ShowDesktopSurface();
  ScaleValues values;
  if (RunScaleDialog(&values) != 1) return;
  MarkModelChanged();
  ApplyScale(ScaleMode(values.mode), TextValue(values.factor.text));
}

void EditMaterialsCommand() {
  ShowDesktopSurface();
  if (RunMaterialEditor() != 1) return;
  MarkModelChanged();
  CleanUpModel();
}

// What stands between the PolyList and a clean projection: the pieces of
// the warning, empty when there is nothing to warn about.
std::string ProjectionWarning() {
  std::vector<char> used(size_t(gModel.materialCount), 0);
  int distinct = 0;
  bool untextured = false;
  for (int i = 0; i < gModel.vertexCount; ++i) {
    const ModelVertex& v = gModel.vertices[i];
    if (v.selected != 1) continue;
    if (v.material < 0 || v.material >= gModel.materialCount) {
      untextured = true;
      continue;
    }
    if (used[size_t(v.material)]) continue;
    used[size_t(v.material)] = 1;
    ++distinct;
    if (!gModel.materials[v.material].hasTexture) untextured = true;
  }
  bool partial = false;
  for (int i = 0; i < gModel.vertexCount && !partial; ++i) {
    const ModelVertex& v = gModel.vertices[i];
    partial = v.selected != 1 && v.material >= 0 && v.material < gModel.materialCount && used[size_t(v.material)];
  }
  const bool multi = distinct > 1;
  if (!partial && !multi && !untextured) return "";
  std::string text =
      "Although you may continue with the u,v texture\ncoordinate projection process, there may be some\n"
      "potential visual discrepencies with the final\nrendered image.\n\n";
  if (partial) text += "* Your PolyList does not include all polygons\n\tthat make up one or more materials\n";
  if (multi) text += "* Your PolyList contains polygons of more than\n\tjust one material\n";
  if (untextured)
    text += "* Your PolyList contains polygons whose\n\tmaterials don't have any texture bitmap\n"
            "\tfiles assigned to them\n";
  text += "\nClick OK if you know what you are doing.\n\nOtherwise, click CANCEL and assign the PolyList\n"
          "to a new material and assign a texture bitmap\nfilename.\n";
  return text;
}

void ProjectTextureCommand() {
  if (!PolyListCommandAllowed()) return;
  const std::string warning = ProjectionWarning();
  if (!warning.empty() && MessageBoxSafe(warning.c_str(), "Vornix 3D!", MB_OKCANCEL) != IDOK) return;
  ShowDesktopSurface();
  ProjectionSettings values;
  if (RunProjectionSettingsDialog(&values) != 1) return;
  MarkModelChanged();
  StartProjectionBox(TextValue(values.minU.text), TextValue(values.maxU.text), TextValue(values.minV.text),
                     TextValue(values.maxV.text), TextValue(values.increment.text));
}

void SmoothCommand() {
  if (!PolyListCommandAllowed()) return;
  ShowDesktopSurface();
  ValueText angle;
  if (RunSmoothingDialog(&angle) != 1) return;
  const float degrees = TextValue(angle.text);
  if (!SmoothingAngleInRange(degrees)) {
    Tell(AngleRangeText);
    return;
  }
  MarkModelChanged();
  CalculateNormals(degrees);
}

void ReverseCommand() {
  if (!PolyListCommandAllowed()) return;
  // Marked before the dialog, which has no Cancel.
  MarkModelChanged();
  ShowDesktopSurface();
  ReverseTicks ticks;
  if (RunReverseDialog(&ticks) != 1) return;
  ReverseChoice choice;
  choice.polygonOrder = ticks.polygonOrder != 0;
  choice.normals = ticks.normals != 0;
  choice.u = ticks.u != 0;
  choice.v = ticks.v != 0;
  ApplyReverse(choice);
}

void NewMaterialCommand() {
  if (!PolyListCommandAllowed()) return;
  MarkModelChanged();
  // A full material table has been reported; there is nothing to edit.
  if (AssignPolyListToNewMaterial()) gShell.editorRequest = 1;
}

void DeleteCommand() {
  if (!PolyListCommandAllowed()) return;
  if (!AskYesNo(DeleteQuestion)) return;
  MarkModelChanged();
  DeleteSelectedPolygons();
  CleanUpModel();
}

void OptionsCommand() {
  ShowDesktopSurface();
  OptionsValues values;
  values.viewLayout = &gShell.viewLayout;
  for (int k = 0; k < 3; ++k) {
    values.background[k] = viewportBackground[k];
    values.light[k] = gShell.lightColour[k];
  }
  values.cullMode = int(_qlt_CullMode);
  values.specular = gView.specular;
  values.filtering = gShell.bilinearFiltering;
  if (RunOptionsDialog(&values) != 1) return;
  for (int k = 0; k < 3; ++k) {
    viewportBackground[k] = values.background[k];
    gShell.lightColour[k] = values.light[k];
  }
  qlt_SetBackgroundMaterialColor(viewportBackground[0], viewportBackground[1], viewportBackground[2]);
  const float* d = gShell.lightDirection;
  qlt_SetLightLocationColor(d[0], d[1], d[2], values.light[0], values.light[1], values.light[2]);
  qlt_SetCullMode(uint32_t(values.cullMode));
  gView.specular = values.specular;
  qlt_SetSpecular(values.specular);
  gShell.bilinearFiltering = values.filtering;
  qlt_SetBilinearFiltering(values.filtering);
}

void ViewpointCommand() {
  ShowDesktopSurface();
  if (RunViewpointDialog(&gShell.viewpoint) < 0 || gShell.viewpoint == 0) return;
  ApplyViewpoint();
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
    case CommandCentre: CentreCommand(); break;
    case CommandOrientation: OrientationCommand(); break;
    case CommandScale: ScaleCommand(); break;
    case CommandEditMaterials: EditMaterialsCommand(); break;
    case CommandPolygonMode:
    case CommandMaterialMode:
    case CommandRectangleMode: gView.mouseMode = command - CommandPolygonMode; break;
    case CommandSelectAll: SelectAll(); break;
    case CommandClearPolyList: SelectNone(); break;
    case CommandProjectTexture: ProjectTextureCommand(); break;
    case CommandSmooth: SmoothCommand(); break;
    case CommandReverse: ReverseCommand(); break;
    case CommandNewMaterial: NewMaterialCommand(); break;
    case CommandDelete: DeleteCommand(); break;
    case CommandOptions: OptionsCommand(); break;
    case CommandViewpoint: ViewpointCommand(); break;
    case CommandHelp:
      ShowDesktopSurface();
      ShowHelp();
      break;
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
