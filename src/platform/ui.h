// What the program asks of a user interface: message boxes, the modeless
// progress box, the pointer, the main window with its input, dialog boxes
// and file dialogs. The desktop, the command line and the tests each provide
// one backend; the rest of the program calls Ui() only.
#pragma once

#include <string>
#include <vector>

#include "platform/dialog.h"

struct Surface;

// Message box types and results, with the values the rest of the program
// has always used for them.
enum MessageBoxFlags : unsigned {
  MB_OK = 0x0,
  MB_OKCANCEL = 0x1,
  MB_YESNO = 0x4,
  MB_ICONQUESTION = 0x20,
  MB_SYSTEMMODAL = 0x1000,
  MB_TYPEMASK = 0xF,
};

enum MessageBoxResult : int {
  IDOK = 1,
  IDCANCEL = 2,
  IDYES = 6,
  IDNO = 7,
};

enum class CursorShape { Arrow, Hourglass, Hidden };

// Controls of the progress box (dialog 117).
enum ProgressControl : int {
  ProgressGroup = 1115,       // group caption "PROGRESS"
  ProgressLine1 = 1042,       // first line, left-aligned
  ProgressLine2 = 1043,       // second line, centred
  ProgressPercentLine = 1044  // percentage line, centred
};

// The common Open and Save dialogs: filter entries as (description,
// pattern) pairs, patterns separated by ';' and matched without regard to
// case.
struct FileFilter {
  const char* description;
  const char* pattern;
};

enum FileDialogFlags : unsigned {
  OFN_OVERWRITEPROMPT = 0x2,
  OFN_HIDEREADONLY = 0x4,
  OFN_PATHMUSTEXIST = 0x800,
  OFN_FILEMUSTEXIST = 0x1000,
  OFN_CREATEPROMPT = 0x2000,
};

struct FileDialogRequest {
  bool save = false;
  std::vector<FileFilter> filters;
  unsigned flags = 0;
};

struct FileDialogResult {
  std::string path;     // the chosen file, as a full path
  int filterIndex = 1;  // the chosen filter entry, counted from 1
};

class PlatformUI {
 public:
  virtual ~PlatformUI() = default;

  // Shows a modal message box; returns the button pressed (IDOK, IDYES ...).
  virtual int MessageBox(const char* text, const char* caption, unsigned type) = 0;

  // The modeless progress box: created, its controls' texts set, destroyed.
  virtual void ProgressCreate() = 0;
  virtual void ProgressSetText(int control, const char* text) = 0;
  virtual void ProgressDestroy() = 0;

  virtual void SetCursor(CursorShape shape) = 0;

  // ---- The main window (backends without one keep these defaults) ----
  // Creates the window for a display of width x height; false when none can
  // be made (the reason on standard error).
  virtual bool WindowCreate(const char* title, int width, int height) {
    (void)title, (void)width, (void)height;
    return false;
  }
  virtual void WindowDestroy() {}
  // Shows the new front surface.
  virtual void Present(const Surface& front) { (void)front; }
  // Moves the toolkit's pending input into Events(); with wait, blocks until
  // there is some.
  virtual void PumpEvents(bool wait) { (void)wait; }
  // Waits for the next display refresh, so that frames come at its pace.
  virtual void WaitForRefresh() {}
  // Moves the pointer to a surface position, where the desktop allows it.
  virtual void MovePointer(int x, int y) { (void)x, (void)y; }

  // ---- Dialogs ----
  // Runs the dialog modally; the procedure's EndDialog value, or -1 when it
  // cannot be created.
  virtual int RunDialog(const DialogTemplate& dialogTemplate, DialogProc proc, void* context) {
    (void)dialogTemplate, (void)proc, (void)context;
    return -1;
  }
  // Shows a file dialog; false when cancelled.
  virtual bool FileDialog(const FileDialogRequest& request, FileDialogResult* out) {
    (void)request, (void)out;
    return false;
  }
};

// The current backend; never null (a silent one is in place until another
// is set). SetUi(nullptr) restores the silent one.
PlatformUI& Ui();
void SetUi(PlatformUI* ui);

// Shows the file dialog; when a file is chosen, its folder becomes the
// current folder, as the desktop's own dialogs leave it. False when
// cancelled.
bool GetFileName(const FileDialogRequest& request, FileDialogResult* out);
