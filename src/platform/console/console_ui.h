// The command line's user interface: messages go to standard error with
// their caption, questions are answered by a rule the front end sets, and
// progress is one updating line on standard error when it is a terminal.
#pragma once

#include <string>

#include "platform/ui.h"

class ConsoleUI final : public PlatformUI {
 public:
  // Decides the answer to a question; the default answers No and Cancel.
  using AnswerRule = int (*)(const char* text, const char* caption, unsigned type, void* context);

  ConsoleUI();
  void SetAnswerRule(AnswerRule rule, void* context);

  int MessageBox(const char* text, const char* caption, unsigned type) override;
  void ProgressCreate() override;
  void ProgressSetText(int control, const char* text) override;
  void ProgressDestroy() override;
  void SetCursor(CursorShape) override {}

 private:
  void DrawProgress();
  void ClearProgressLine();

  AnswerRule rule_;
  void* context_ = nullptr;
  bool terminal_;
  bool progressOpen_ = false;
  bool lineDrawn_ = false;
  std::string line1_, line2_, percent_;
};
