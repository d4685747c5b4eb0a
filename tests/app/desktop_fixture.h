// The desktop program run headless through the scripted user interface:
// a fixture that runs the real start-up, title and main loop on a Model of
// three polygons, with helpers to read the back buffer and the transcript.
#pragma once

#include "app/desktop.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include "app/menu_commands.h"
#include "app/mode_dialog.h"
#include "app/shell_state.h"
#include "app/viewports.h"
#include "model/model.h"
#include "model/native_file.h"
#include "platform/scripted/scripted_ui.h"
#include "render/library_state.h"
#include "render/qlt.h"
#include "support/model_builder.h"

namespace {

using Action = DialogAction;

struct Rgb {
  int r, g, b;
};

inline Rgb BackBufferAt(int x, int y) {
  uint8_t r, g, b, a;
  UnpackPixel(_qlt_BackBuffer3->Pixels().format, _qlt_BackBuffer3->Pixels().Get(x, y), r, g, b, a);
  return {r, g, b};
}

// A triangle centred on (cx, cy) in the z = 0 plane, facing the camera.
inline void AddFacing(float cx, float cy, int material) {
  AddTriangle(cx - 1, cy - 1, 0, cx, cy + 1, 0, cx + 1, cy - 1, 0, material);
  for (int k = 1; k <= 3; ++k) gModel.vertices[gModel.vertexCount - k].nz = -1;
}

class Desktop : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(nullptr, getcwd(startFolder_, sizeof startFolder_));
    _qlt_ResetLibraryForTests();
    ResetDisplaySettings();
    folder_ = TempPath("desktop");
    mkdir(folder_.c_str(), 0755);
    // Three polygons side by side: 0 and 1 of material 0, 2 of material 1.
    ClearModel();
    SetMaterial(0, 0.8f, 0.6f, 0.2f);
    SetMaterial(1, 0.2f, 0.4f, 0.9f);
    AddFacing(-2, 0, 0);
    AddFacing(0, 0, 0);
    AddFacing(2, 0, 1);
    RecomputeBounds();
    for (const char* name : {"title.bmp", "mouse.bmp", "mater2.bmp", "topleft.bmp"}) {
      const std::string built = std::string(VORNIX_BUILD_DIR) + "/" + name;
      if (!FileExists(built)) continue;
      ASSERT_EQ(0, symlink(built.c_str(), (folder_ + "/" + name).c_str()));
    }
    model_ = folder_ + "/three.vnx";
    ASSERT_EQ(1, SaveNativeModel(model_.c_str()));
    ClearModel();
  }
  void TearDown() override {
    ASSERT_EQ(0, chdir(startFolder_));
    _qlt_ResetLibraryForTests();
    ResetDisplaySettings();
    ClearModel();
    std::string command = "rm -rf '" + folder_ + "'";
    ASSERT_EQ(0, std::system(command.c_str()));
  }

  // OK in the mode dialog, activation, a key to leave the title.
  void PassTitle() {
    ui().ScriptDialog(ModeDialogResource, {Action::Press(IDC_OK)});
    WindowEvent activate;
    activate.kind = EventKind::Activate;
    ui().Post(activate);
    ui().Frame();
    ui().Key(VK_SPACE);
    ui().Frame();
  }
  // Runs the program on the three polygons, opened as a file (view from
  // the back, camera at twice the radius).
  int Run() {
    DesktopOptions options;
    options.programFolder = folder_;
    options.modelPath = model_;
    return RunDesktop(options);
  }

  // Screen position of the model point (x, y, 0) in the Select viewport of
  // the 640 x 480 screen with two viewports.
  static int ScreenX(float x) { return int(x / -gShell.cameraZ * 441.0f + 383.5f); }
  static int SelectY(float y) { return int(-y / -gShell.cameraZ * 441.0f + 239.0f) + 120; }

  ScriptedUI& ui() { return scripted_.ui; }
  std::string folder_, model_;

 private:
  char startFolder_[PATH_MAX];
  ScopedScriptedUI scripted_;
};

inline int CountMessages(const ScriptedUI& ui, const char* text) {
  int n = 0;
  for (const auto& m : ui.messages) n += m.text == text;
  return n;
}

}  // namespace
