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

// Reports step / total of a long loop with fixed lines, calling the box
// only when the whole percentage changes, so a loop pays one comparison per
// step.
class PercentReporter {
 public:
  PercentReporter(const char* line1, const char* line2, int total);
  void At(int step) {
    if (step >= next_) Report(step);
  }

 private:
  void Report(int step);
  const char* line1_;
  const char* line2_;
  int total_;
  int next_ = 0;
};

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
