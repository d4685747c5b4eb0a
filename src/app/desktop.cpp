#include "app/desktop.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

#include "app/commands.h"
#include "app/menu_commands.h"
#include "app/mode_dialog.h"
#include "app/panel.h"
#include "app/picking.h"
#include "app/projection_box.h"
#include "app/shell_state.h"
#include "app/viewports.h"
#include "model/cleanup.h"
#include "model/model.h"
#include "model/native_file.h"
#include "platform/events.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "render/library_state.h"
#include "render/progress_box.h"
#include "render/qlt.h"

namespace {

// Handed to the library as the window: the window itself lives in the
// user interface's backend.
int windowToken;

int chosenMode = 0;
int32_t fixedMaterials[3];

// The pointer shape last asked for, so that a frame does not ask again.
CursorShape shownCursor = CursorShape::Arrow;

void SetCursorShape(CursorShape shape) {
  if (shape == shownCursor) return;
  shownCursor = shape;
  Ui().SetCursor(shape);
}

int ChooseMode(int count, char (*names)[128], int32_t (*modes)[8], int* outMethod, int* outMode) {
  const int result = SelectRenderingMode(count, names, modes, outMethod, outMode);
  chosenMode = result == 1 ? *outMode : 0;
  return result;
}

int Abort() {
  MessageBoxSafe(qlt_GetErrorString(), "Program Aborting", MB_OK);
  qlt_Shutdown();
  return 0;
}

// A bitmap that cannot be loaded is reported and its slot stays empty;
// the program goes on without it.
void LoadBitmap(int* slot, const char* name, int keyed, int keyX, int keyY) {
  if (qlt_BitmapLoad(slot, name, keyed, keyX, keyY)) return;
  *slot = -1;
  MessageBoxSafe(qlt_GetErrorString(), "qlt_BitmapLoad:", MB_OK);
}

void ReportFlip(int clearZ, int clearTarget) {
  if (!qlt_PageFlip(clearZ, clearTarget)) MessageBoxSafe(qlt_GetErrorString(), "qlt_PageFlip:", MB_OK);
}

// The program's own close: the library goes, then the window, then the
// loop ends with code 0.
void CloseWindow() {
  qlt_Shutdown();
  Ui().WindowDestroy();
  PostQuit(0);
}

// ---- Title screen -------------------------------------------------------------------

void HandleTitleEvent(const WindowEvent& e) {
  switch (e.kind) {
    case EventKind::Activate: gShell.appActive = 1; break;
    case EventKind::Deactivate: gShell.appActive = 0; break;
    case EventKind::KeyDown:
    case EventKind::LeftDown:
    case EventKind::RightDown:
      gShell.titleShowing = 0;
      gShell.pointerX = uint16_t(e.x);
      gShell.pointerY = uint16_t(e.y);
      break;
    case EventKind::MouseMove:
      gShell.pointerX = uint16_t(e.x);
      gShell.pointerY = uint16_t(e.y);
      break;
    case EventKind::Close: CloseWindow(); break;
    default: break;
  }
}

// Hands every queued event to the handler; true with *code set when the
// quit message came.
bool DispatchEvents(void (*handle)(const WindowEvent&), int* code) {
  WindowEvent e;
  while (Events().Next(&e)) {
    if (e.kind == EventKind::Quit) {
      *code = e.code;
      return true;
    }
    handle(e);
  }
  return false;
}

// Returns true with *code set when the program ends during the title.
bool ShowTitle(int* code) {
  gShell.titleShowing = 1;
  Ui().PumpEvents(false);
  for (;;) {
    if (DispatchEvents(HandleTitleEvent, code)) return true;
    if (gShell.appActive && !gShell.titleShowing) return false;
    // The title does not change: waiting for input costs nothing.
    Ui().PumpEvents(true);
  }
}

// ---- Start-up ----------------------------------------------------------------------

void DeclareFixedMaterials() {
  qlt_AddMaterial(0.5f, 0.5f, 0.5f, 1, 0, 0, 0, 0, 0, 0, 0, 0, "", 0, "");
  qlt_AddMaterial(1, 0, 0, 1, 0, 0, 0, 0, 0.3f, 0, 0, 0, "", 0, "");
  qlt_AddMaterial(0, 1, 0, 1, 0, 0, 0, 0, 0, 0.3f, 0, 0, "", 0, "");
  qlt_CreateMaterials(fixedMaterials);
  normalMaterial = fixedMaterials[0];
  hoverMaterial = fixedMaterials[1];
  polyListMaterial = fixedMaterials[2];
}

void LoadSampleModel() {
  ShowDesktopSurface();
  ProgressShow();
  SetCursorShape(CursorShape::Hourglass);
  LoadNativeModel("IndyCar.vnx");
  CleanUpModel();
  ProgressHide();
  SetCursorShape(CursorShape::Arrow);
}

void ResetShellForMainLoop() {
  gShell.viewLayout = 0;
  gView.mouseMode = 0;
  ClearRotationSteps();
  gShell.redrawCount = 1;
  gShell.commandPending = 0;
  gShell.drawnCursor = 1;
  SetCursorShape(CursorShape::Hidden);
}

// Steps after the title: the fixed materials, the panel in every buffer,
// the sample model and the start-up view.
void PrepareMainScreen(const std::string& modelPath) {
  gShell.editorRequest = gShell.projecting = gShell.projectionAccepted = 0;
  gView.specular = 0;
  gShell.bilinearFiltering = 0;
  qlt_SetSpecular(0);
  qlt_SetBilinearFiltering(0);
  viewportBackground[0] = 0.1f, viewportBackground[1] = 0.2f, viewportBackground[2] = 0.1f;
  qlt_SetBackgroundMaterialColor(viewportBackground[0], viewportBackground[1], viewportBackground[2]);
  DeclareFixedMaterials();

  qlt_BitmapFree(gBitmaps.title);
  gBitmaps.title = -1;
  LoadBitmap(&gBitmaps.panel, "mater2.bmp", 0, 0, 0);
  LoadBitmap(&gBitmaps.marker, "topleft.bmp", 1, 0, 0);

  DrawPanel();
  ReportFlip(1, 1);
  DrawPanel();
  ReportFlip(1, 1);
  DrawPanel();

  if (modelPath.empty()) {
    LoadSampleModel();
    ApplyStartupView();
  } else {
    // A model named on the command line is opened as the Open dialog
    // would leave it: from its own folder, where its textures lie.
    if (!EnterFolderOf(modelPath))
      MessageBoxSafe(("Could not open file: " + modelPath).c_str(), "Error", MB_OK);
    else
      OpenModelFile(modelPath.c_str());
  }
  ResetShellForMainLoop();
}

// ---- Keys --------------------------------------------------------------------------

// With [Ctrl] the arrow, X and Z keys turn the projection box, whether or
// not a projection runs; without it they turn the view.
void TurnKey(bool ctrl, BoxRotation box, RotationStep view) {
  if (ctrl)
    RequestBoxRotation(box);
  else
    RequestRotationStep(view);
}

void HandleKey(int key, bool ctrl) {
  gShell.hintVisible = 0;
  gShell.redrawCount = 1;
  const float step = 0.05f * gModel.modelRadius;
  switch (key) {
    case VK_RETURN:
      if (gShell.projecting) {
        gShell.projecting = 0;
        gShell.projectionAccepted = 1;
      }
      break;
    case VK_ESCAPE:
      if (gShell.projecting)
        gShell.projecting = 0;
      else
        AskToExit();
      break;
    case VK_SPACE:
      gShell.panX = gShell.panY = 0;
      gShell.cameraZ = -2.0f * gModel.modelRadius;
      break;
    case VK_LEFT: TurnKey(ctrl, BoxRotation::Left, RotationStep::Left); break;
    case VK_RIGHT: TurnKey(ctrl, BoxRotation::Right, RotationStep::Right); break;
    case VK_UP: TurnKey(ctrl, BoxRotation::Up, RotationStep::Up); break;
    case VK_DOWN: TurnKey(ctrl, BoxRotation::Down, RotationStep::Down); break;
    case 'X': TurnKey(ctrl, BoxRotation::X, RotationStep::X); break;
    case 'Z': TurnKey(ctrl, BoxRotation::Z, RotationStep::Z); break;
    case 'A':
    case VK_ADD: gShell.cameraZ += step; break;
    case 'Q':
    case VK_SUBTRACT: gShell.cameraZ -= step; break;
    case 'J': gShell.panX += step; break;
    case 'K': gShell.panX -= step; break;
    case 'I': gShell.panY -= step; break;
    case 'M': gShell.panY += step; break;
    case VK_F1:
      gShell.commandPending = 1;
      gShell.pendingCommand = 18;
      break;
    case VK_F2:
      gShell.drawnCursor = !gShell.drawnCursor;
      SetCursorShape(gShell.drawnCursor ? CursorShape::Hidden : CursorShape::Arrow);
      break;
    default: break;
  }
}

// ---- Frame -------------------------------------------------------------------------

// Every change is drawn into both buffers of the flip chain; while the
// pointer rests on the panel nothing else is drawn.
bool DecideRedraw() {
  if (gShell.pointerX >= 118) {
    gShell.redrawCount = 1;
  } else if (gShell.redrawCount == 0) {
    return false;
  }
  gShell.redrawCount = gShell.redrawCount == 1 ? 2 : 0;
  return true;
}

void RunPendingCommand() {
  if (!gShell.commandPending) return;
  gShell.redrawCount = 1;
  SetCursorShape(CursorShape::Arrow);
  gShell.commandPending = 0;
  RunCommand(gShell.pendingCommand);
}

}  // namespace

void HandleEvent(const WindowEvent& e) {
  switch (e.kind) {
    case EventKind::Close:
      // The window's close button asks as [Esc] does; the program's own
      // close message closes.
      if (e.code == 1)
        CloseWindow();
      else
        AskToExit();
      break;
    case EventKind::Activate:
      gShell.appActive = 1;
      if (!_qlt_RestoreSurfaces()) PostClose();
      break;
    case EventKind::Deactivate: gShell.appActive = 0; break;
    case EventKind::KeyDown: HandleKey(e.key, e.ctrl); break;
    case EventKind::MouseMove: PointerMoved(e.x, e.y); break;
    case EventKind::LeftDown:
      gShell.commandPending = 1;
      gShell.pendingCommand = MenuItemAt(e.x, e.y);
      PointerPressed(true, e.x, e.y);
      break;
    case EventKind::RightDown: PointerPressed(false, e.x, e.y); break;
    case EventKind::LeftUp: PointerReleased(true, e.x, e.y); break;
    case EventKind::RightUp: PointerReleased(false, e.x, e.y); break;
    default: break;
  }
}

void RunFrame() {
  if (gShell.pointerX <= 127) gShell.leftHeld = gShell.rightHeld = 0;
  if (gShell.editorRequest) {
    gShell.editorRequest = 0;
    gShell.commandPending = 1;
    gShell.pendingCommand = 5;
  }
  if (gShell.drawnCursor) {
    SetCursorShape(CursorShape::Hidden);
    if (!gShell.commandPending) DrawPointer();
  } else {
    SetCursorShape(CursorShape::Arrow);
  }
  if (gShell.hintVisible) DrawHints();
  ReportFlip(0, 0);
  DrawPanel();
  DrawBorders();
  DrawModeMarkerAndHover();
  RunPendingCommand();
  ApplyRotationSteps();
  UpdateHoverPolygon();
  if (DecideRedraw()) RenderViewports();
  if (gView.mouseMode == 2) DrawRubberBand();
  if (gShell.projecting) UpdateAndDrawProjectionBox();
  StoreAcceptedProjection();
  DrawViewpointName();
}

int RunDesktop(const DesktopOptions& options) {
  const std::string folder = options.programFolder.empty() ? ProgramDataFolder() : options.programFolder;
  // The model named by the user is found from where the user started.
  const std::string modelPath = AbsolutePath(options.modelPath);
  if (!folder.empty() && chdir(folder.c_str()) != 0) {
    std::fprintf(stderr, "vornix: cannot enter the program's folder %s\n", folder.c_str());
    return 1;
  }
  Events().Clear();
  gShell = ShellState();
  gView = ViewState();
  gBox = ProjectionBoxState();
  gBitmaps = ShellBitmaps();
  shownCursor = CursorShape::Arrow;

  if (!qlt_Enumerate(nullptr, "Vornix 3D!", ChooseMode)) return Abort();
  int width = QltModeSizes[5][0], height = QltModeSizes[5][1];
  if (chosenMode >= 1 && chosenMode <= QltModeNumbers) {
    width = QltModeSizes[chosenMode - 1][0];
    height = QltModeSizes[chosenMode - 1][1];
  }
  if (!Ui().WindowCreate("Vornix 3D!", width, height)) {
    std::fprintf(stderr, "vornix: could not create the program's window\n");
    qlt_Shutdown();
    return 1;
  }
  SetCursorShape(CursorShape::Hidden);
  if (!qlt_Initialize(&windowToken, 10000.0f, 60.0f)) return Abort();
  ScreenSize(&width, &height);
  SetProjectionConstants(width);

  LoadBitmap(&gBitmaps.title, "title.bmp", 0, 0, 0);
  LoadBitmap(&gBitmaps.cursor, "mouse.bmp", 1, 5, 0);
  if (gBitmaps.title >= 0)
    qlt_BitmapBlit(gBitmaps.title, QltBackBufferIndex, 0, 640, 0, 480, 0, width, 0, height);
  ReportFlip(0, 0);

  int code = 0;
  if (ShowTitle(&code)) return code;
  PrepareMainScreen(modelPath);

  // After a wait the events it brought are handled before any more are
  // taken in.
  bool waited = false;
  for (;;) {
    if (!waited) Ui().PumpEvents(false);
    waited = false;
    if (DispatchEvents(HandleEvent, &code)) return code;
    if (!gShell.appActive) {
      Ui().PumpEvents(true);
      waited = true;
      continue;
    }
    RunFrame();
  }
}
