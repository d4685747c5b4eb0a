// The modeless progress box that long passes report to. It sits with the
// library's services because the model passes report through it too.
#pragma once

// Creates and shows the box (first line, second line and percentage empty).
void ProgressShow();
// Destroys the box.
void ProgressHide();
bool ProgressIsShowing();
// Either line may be null (left unchanged); percent -1 shows no percentage.
// Equal percentages and updates within 100 timer units are suppressed.
void ProgressUpdate(const char* line1, const char* line2, int percent);

// Opens a box for the length of a pass when none is showing, so that a pass
// called on its own still shows progress; an open box is only updated.
class ProgressScope {
 public:
  ProgressScope();
  ~ProgressScope();
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;

 private:
  bool opened_;
};
