#include "app/commands.h"

#include <cctype>
#include <cstring>
#include <string>

#include "app/shell_state.h"
#include "formats/dxf_export.h"
#include "formats/dxf_import.h"
#include "formats/export_tables.h"
#include "formats/pov_export.h"
#include "formats/qlt_file.h"
#include "formats/studio_import.h"
#include "formats/x_export.h"
#include "formats/x_import.h"
#include "model/cleanup.h"
#include "model/geometry.h"
#include "model/model.h"
#include "model/native_file.h"
#include "platform/events.h"
#include "platform/ui.h"
#include "render/progress_box.h"
#include "render/qlt.h"

ShellState gShell;

const char* const NothingToSaveText = "Nothing to save...";
const char* const TooManyMaterialsText =
    "This model can not be saved as a Quelt 3D! model because there are more than 30 materials "
    "being used. Save as DirectX recommended.";
const char* const ReminderText =
    "Reminder - It is recommended that you save all of your 3D Models in the Vornix 3D! (*.VNX) file "
    "format until you are ready to export to a different format.";
const char* const InvertVQuestionText =
    "Because of a subtle problem with Direct3D, the V texture coordinates MAY need to be reversed. "
    "Would you like to invert the representation of the V texture coordinates?\n";
const char* const DxfQuestionText =
    "DXF files do not support materials or textures...\n\nWould you like to save it as a DXF file anyway?";
const char* const StripUVQuestionText =
    "Would you like to remove unnecessary\nu,v texture coordinates from\ntextureless polygons?\n\n"
    "By selecting yes, you will have fully\noptimized model data.\n\nBy selecting no, you will "
    "retain\ntexture coordinates which may be\ndesirable.\n";

// The export tables hold this many materials; the Save command refuses more.
constexpr int MaxSavedMaterials = 30;

bool AskYesNo(const char* question) { return MessageBoxSafe(question, "Vornix 3D!", MB_YESNO) == IDYES; }

void MarkModelChanged() {
  if (gModel.vertexCount > 0) gShell.modelChanged = 1;
}

namespace {

// The extension of a path: what follows the last dot of its file name, or
// null when the name has none.
const char* ExtensionOf(const char* path) {
  const char* name = std::strrchr(path, '/');
  name = name ? name + 1 : path;
  const char* dot = std::strrchr(name, '.');
  return dot ? dot + 1 : nullptr;
}

FileKind KindOfFirstCharacter(const char* path, bool reading) {
  const char* extension = ExtensionOf(path);
  const int c = extension ? std::tolower(static_cast<unsigned char>(extension[0])) : 0;
  switch (c) {
    case 'v':
      return FileKind::Native;
    case 'x':
      return FileKind::DirectX;
    case 'd':
      return FileKind::Dxf;
    case 'q':
      return FileKind::Quelt;
    case '3':
      return reading ? FileKind::Studio3D : FileKind::Unknown;
    case 'p':
      return reading ? FileKind::Unknown : FileKind::Pov;
    default:
      return FileKind::Unknown;
  }
}

bool IsForeign(FileKind kind) { return kind != FileKind::Native && kind != FileKind::Unknown; }

void ResetView() {
  for (float& c : gShell.modelOffset) c = 0;
  gShell.cameraZ = -2.0f * gModel.modelRadius;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) gShell.viewRotation[r][c] = r == c ? 1.0f : 0.0f;
  gShell.panX = gShell.panY = 0;
  gShell.viewpoint = 6;
  gShell.viewLayout = 0;
}

void ClearProjectionLinks() {
  gModel.projectionCount = 0;
  for (int i = 0; i < gModel.vertexCount; ++i) {
    gModel.vertices[i].projected = 0;
    gModel.vertices[i].projection = 0;
  }
}

// The Quelt reader leaves its failure in the library's error text only;
// the user is shown it rather than nothing.
int ImportQuelt(const char* path) {
  if (ImportQLT(path)) return 1;
  MessageBoxSafe(qlt_GetErrorString(), "Error", MB_OK);
  return 0;
}

// Runs the reader the kind chooses; 0 when it failed or none exists.
int ReadByKind(FileKind kind, const char* path) {
  switch (kind) {
    case FileKind::Native:
      return LoadNativeModel(path);
    case FileKind::DirectX:
      return ImportX(path);
    case FileKind::Dxf:
      return ImportDXF(path);
    case FileKind::Quelt:
      return ImportQuelt(path);
    case FileKind::Studio3D:
      return Import3DS(path);
    default:
      return 0;
  }
}

void ShowReminder() { MessageBoxSafe(ReminderText, "Vornix 3D! Reminder", MB_OK); }

void SetSelectedOnEveryVertex(int selected) {
  for (int i = 0; i < gModel.vertexCount; ++i) gModel.vertices[i].selected = selected;
}

bool HasTexture(int material) {
  return material >= 0 && material < gModel.materialCount && gModel.materials[material].hasTexture == 1;
}

// Inverting twice (v to 1 - v and back) is not exact in floating point, so
// the V coordinates are kept aside and put back as they were.
float savedV[MaxVertices];

int SaveAsX(const char* path) {
  ShowReminder();
  CleanUpModel();
  const bool invertV = AskYesNo(InvertVQuestionText);
  if (invertV) {
    for (int i = 0; i < gModel.vertexCount; ++i) savedV[i] = gModel.vertices[i].v;
    SetSelectedOnEveryVertex(1);
    ReverseV();
  }
  const int clearUV = AskYesNo(StripUVQuestionText) ? 1 : 0;
  const int result = PrepareExport(clearUV, path) && ExportX(path);
  if (invertV) {
    // Coordinates cleared for textureless materials stay cleared.
    for (int i = 0; i < gModel.vertexCount; ++i) {
      ModelVertex& v = gModel.vertices[i];
      v.v = clearUV && !HasTexture(v.material) ? 0.0f : savedV[i];
    }
    SetSelectedOnEveryVertex(0);
  }
  return result;
}

int SaveAsQuelt(const char* path) {
  ShowReminder();
  CleanUpModel();
  const int clearUV = AskYesNo(StripUVQuestionText) ? 1 : 0;
  return PrepareExport(clearUV, path) && ExportQLT(path);
}

int SaveAsDxf(const char* path) {
  ShowReminder();
  if (!AskYesNo(DxfQuestionText)) return 0;
  CleanUpModel();
  return PrepareExport(0, path) && ExportDXF(path);
}

// The scene shows the Model as the viewer does: its camera, background and
// light colour.
int SaveAsPov(const char* path) {
  ShowReminder();
  PovScene scene{{gShell.panX, gShell.panY, gShell.cameraZ},
                 {viewportBackground[0], viewportBackground[1], viewportBackground[2]},
                 {gShell.lightColour[0], gShell.lightColour[1], gShell.lightColour[2]},
                 SceneBaseName(path)};
  CleanUpModel();
  return ExportPOV(path, scene);
}

int WriteByKind(FileKind kind, const char* path) {
  switch (kind) {
    case FileKind::Native:
      return SaveNativeModel(path);
    case FileKind::DirectX:
      return SaveAsX(path);
    case FileKind::Quelt:
      return SaveAsQuelt(path);
    case FileKind::Dxf:
      return SaveAsDxf(path);
    case FileKind::Pov:
      return SaveAsPov(path);
    default:
      return 0;
  }
}

const char* FileNameOf(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

void RunSaveFollowUps() {
  if (gShell.exitAfterSave) {
    PostClose();
  } else if (gShell.openAfterSave) {
    gShell.openAfterSave = 0;
    gShell.commandPending = 1;
    gShell.pendingCommand = 0;
  }
}

}  // namespace

FileKind ReadKindOf(const char* path) { return KindOfFirstCharacter(path, true); }
FileKind WriteKindOf(const char* path) { return KindOfFirstCharacter(path, false); }

bool CanRead(FileKind kind) { return kind != FileKind::Unknown; }
bool CanWrite(FileKind kind) { return kind != FileKind::Unknown; }

int OpenModelFile(const char* path) {
  gShell.modelChanged = 0;
  ProgressShow();
  Ui().SetCursor(CursorShape::Hourglass);

  const FileKind kind = ReadKindOf(path);
  const int result = ReadByKind(kind, path);
  if (IsForeign(kind)) ClearProjectionLinks();

  ResetView();
  ProgressUpdate(FileNameOf(path), "Restructuring Data - Please wait...", -1);
  for (int i = 0; i < gModel.materialCount; ++i) {
    gModel.materials[i].hidden = 0;
    gModel.materials[i].newlyAssigned = 0;
  }
  RebuildLibraryMaterials();
  ClampMaterialIndexes();
  CleanUpModel();
  SelectNone();
  ProgressHide();

  if (gModel.vertexCount > MaxVertices) MessageBoxSafe(TooManyPolygonsText, "WARNING !!!", MB_OK);
  FindThinPolygons();
  Ui().SetCursor(CursorShape::Arrow);
  return result;
}

int SaveModelFile(const char* path, int filterIndex) {
  if (gModel.vertexCount < 3) {
    MessageBoxSafe(NothingToSaveText, "Vornix 3D!", MB_OK);
    // The Open or exit that asked for this save goes on: nothing is lost,
    // and asking again would only come back here.
    RunSaveFollowUps();
    return 0;
  }
  int result = 0;
  if (path && path[0] != '\0') {
    if (gModel.materialCount >= MaxSavedMaterials) {
      MessageBoxSafe(TooManyMaterialsText, "Vornix 3D!", MB_OK);
    } else {
      gShell.modelChanged = 0;
      ProgressShow();
      Ui().SetCursor(CursorShape::Hourglass);
      std::string name = path;
      if (!ExtensionOf(path)) {
        static const char* const byFilter[] = {".vnx", ".vnx", ".x", ".dxf", ".qlt", ".pov"};
        name += filterIndex >= 2 && filterIndex <= 5 ? byFilter[filterIndex] : ".vnx";
      }
      result = WriteByKind(WriteKindOf(name.c_str()), name.c_str());
      ProgressHide();
      Ui().SetCursor(CursorShape::Arrow);
    }
  }
  RunSaveFollowUps();
  return result;
}
