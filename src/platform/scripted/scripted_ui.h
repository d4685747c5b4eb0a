// A user interface for tests: answers, dialog scripts, file choices and
// window input come from queues the test fills, and every message box,
// dialog and progress text is kept in a transcript.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/events.h"
#include "platform/ui.h"

// What a test does in a dialog, in order, once the dialog has started.
struct DialogAction {
  enum Kind { SetText, Click, Select, Inspect } kind;
  int control = 0;
  std::string text;
  int index = -1;
  std::function<void(Dialog&)> inspect;

  static DialogAction Type(int control, std::string text) { return {SetText, control, std::move(text), -1, {}}; }
  static DialogAction Press(int control) { return {Click, control, {}, -1, {}}; }
  static DialogAction Pick(int control, int row) { return {Select, control, {}, row, {}}; }
  static DialogAction Look(std::function<void(Dialog&)> look) { return {Inspect, 0, {}, -1, std::move(look)}; }
};

class ScriptedUI final : public PlatformUI {
 public:
  struct Message {
    std::string text;
    std::string caption;
    unsigned type;
    int answer;
  };
  // One dialog as it ended: its caption, result and the controls' texts and
  // check states.
  struct DialogRun {
    int resource;
    std::string caption;
    int result;
    std::map<int, std::string> texts;
    std::map<int, int> checks;
  };

  // ---- Questions ----
  // Queues the answer to the next question (IDYES, IDNO, IDOK, IDCANCEL).
  void Answer(int result) { answers_.push_back(result); }

  // ---- Dialogs ----
  // Queues the actions for the next run of dialog `resource`. A dialog with
  // no script left, or still open after its script, gets Cancel.
  void ScriptDialog(int resource, std::vector<DialogAction> actions) {
    dialogScripts_[resource].push_back(std::move(actions));
  }
  // Queues the file the next file dialog returns; an empty path cancels.
  void ChooseFile(std::string path, int filterIndex = 1) { files_.push_back({std::move(path), filterIndex}); }

  // ---- Window input ----
  // Input is delivered by the pump up to the next frame mark, so each
  // Frame() separates what one pass of the main loop sees. When the script
  // is used up the pump posts a quit with ScriptEndCode.
  static constexpr int ScriptEndCode = -99;
  void Post(const WindowEvent& event) { input_.push_back({event, {}, false}); }
  void Key(int key, bool ctrl = false);
  void Move(int x, int y);
  void Press(EventKind kind, int x, int y);  // LeftDown, LeftUp, RightDown, RightUp
  void Click(int x, int y) {                 // left down and up in one place
    Press(EventKind::LeftDown, x, y);
    Press(EventKind::LeftUp, x, y);
  }
  void Frame(int count = 1);
  // Runs `look` when the pump reaches it (the back buffer then holds what
  // the previous pass drew).
  void Inspect(std::function<void()> look) { input_.push_back({{}, std::move(look), false}); }

  // ---- PlatformUI ----
  int MessageBox(const char* text, const char* caption, unsigned type) override;
  void ProgressCreate() override;
  void ProgressSetText(int control, const char* text) override;
  void ProgressDestroy() override;
  void SetCursor(CursorShape shape) override { cursor = shape; }
  bool WindowCreate(const char* title, int width, int height) override;
  void WindowDestroy() override { windowOpen = false; }
  void Present(const Surface&) override { ++presents; }
  void PumpEvents(bool wait) override;
  void MovePointer(int x, int y) override { pointerMoves.push_back({x, y}); }
  int RunDialog(const DialogTemplate& dialogTemplate, DialogProc proc, void* context) override;
  bool FileDialog(const FileDialogRequest& request, FileDialogResult* out) override;

  // ---- Transcript ----
  std::vector<Message> messages;
  // Every text set on the progress box, as "control:text".
  std::vector<std::string> progressTexts;
  int progressCreated = 0;
  int progressDestroyed = 0;
  bool progressOpen = false;
  CursorShape cursor = CursorShape::Arrow;
  // Questions asked while the answer queue was empty.
  int unanswered = 0;
  std::vector<DialogRun> dialogs;
  std::vector<FileDialogRequest> fileRequests;
  bool windowCanOpen = true;
  bool windowOpen = false;
  std::string windowTitle;
  int windowWidth = 0, windowHeight = 0;
  int presents = 0;
  std::vector<std::pair<int, int>> pointerMoves;

 private:
  struct Step {
    WindowEvent event;
    std::function<void()> look;
    bool frameMark;
  };
  std::deque<int> answers_;
  std::map<int, std::deque<std::vector<DialogAction>>> dialogScripts_;
  std::deque<FileDialogResult> files_;
  std::deque<Step> input_;
};

// Installs a ScriptedUI for the life of a scope.
class ScopedScriptedUI {
 public:
  ScopedScriptedUI() { SetUi(&ui); }
  ~ScopedScriptedUI() { SetUi(nullptr); }
  ScriptedUI ui;
};
