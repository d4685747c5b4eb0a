#include "platform/ui.h"

#include "platform/events.h"
#include "platform/paths.h"

namespace {

// Shows nothing and answers every question with the choice that changes
// nothing (No, Cancel); in place until a front end installs its own backend.
class SilentUI final : public PlatformUI {
 public:
  int MessageBox(const char*, const char*, unsigned type) override {
    switch (type & MB_TYPEMASK) {
      case MB_YESNO: return IDNO;
      case MB_OKCANCEL: return IDCANCEL;
      default: return IDOK;
    }
  }
  void ProgressCreate() override {}
  void ProgressSetText(int, const char*) override {}
  void ProgressDestroy() override {}
  void SetCursor(CursorShape) override {}
};

SilentUI silentUi;
PlatformUI* currentUi = &silentUi;

}  // namespace

PlatformUI& Ui() { return *currentUi; }

void SetUi(PlatformUI* ui) { currentUi = ui ? ui : &silentUi; }

bool GetFileName(const FileDialogRequest& request, FileDialogResult* out) {
  if (!out || !Ui().FileDialog(request, out) || out->path.empty()) return false;
  return EnterFolderOf(out->path);
}

EventQueue& Events() {
  static EventQueue queue;
  return queue;
}

void PostQuit(int code) {
  WindowEvent quit;
  quit.kind = EventKind::Quit;
  quit.code = code;
  Events().Post(quit);
}

void PostClose() {
  WindowEvent close;
  close.kind = EventKind::Close;
  close.code = 1;
  Events().Post(close);
}
