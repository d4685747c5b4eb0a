// What the program asks of a user interface: message boxes, the modeless
// progress box and the pointer shape. The desktop, the command line and the
// tests each provide one backend; the rest of the program calls Ui() only.
#pragma once

// Message box types and results, with the values the rest of the program
// has always used for them.
enum MessageBoxFlags : unsigned {
  MB_OK = 0x0,
  MB_OKCANCEL = 0x1,
  MB_YESNO = 0x4,
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
};

// The current backend; never null (a silent one is in place until another
// is set). SetUi(nullptr) restores the silent one.
PlatformUI& Ui();
void SetUi(PlatformUI* ui);
