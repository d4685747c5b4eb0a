#include "platform/ui.h"

#include <unistd.h>

#include "platform/events.h"

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
  const size_t slash = out->path.rfind('/');
  if (slash != std::string::npos) {
    const std::string folder = slash == 0 ? "/" : out->path.substr(0, slash);
    if (chdir(folder.c_str()) != 0) return false;
  }
  return true;
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
