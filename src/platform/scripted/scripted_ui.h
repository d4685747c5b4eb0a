// A user interface for tests: answers come from a queue the test fills, and
// every message box and progress text is kept in a transcript.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/ui.h"

class ScriptedUI final : public PlatformUI {
 public:
  struct Message {
    std::string text;
    std::string caption;
    unsigned type;
    int answer;
  };

  // Queues the answer to the next question (IDYES, IDNO, IDOK, IDCANCEL).
  void Answer(int result) { answers_.push_back(result); }

  int MessageBox(const char* text, const char* caption, unsigned type) override;
  void ProgressCreate() override;
  void ProgressSetText(int control, const char* text) override;
  void ProgressDestroy() override;
  void SetCursor(CursorShape shape) override { cursor = shape; }

  std::vector<Message> messages;
  // Every text set on the progress box, as "control:text".
  std::vector<std::string> progressTexts;
  int progressCreated = 0;
  int progressDestroyed = 0;
  bool progressOpen = false;
  CursorShape cursor = CursorShape::Arrow;
  // Questions asked while the answer queue was empty.
  int unanswered = 0;

 private:
  std::deque<int> answers_;
};

// Installs a ScriptedUI for the life of a scope.
class ScopedScriptedUI {
 public:
  ScopedScriptedUI() { SetUi(&ui); }
  ~ScopedScriptedUI() { SetUi(nullptr); }
  ScriptedUI ui;
};
