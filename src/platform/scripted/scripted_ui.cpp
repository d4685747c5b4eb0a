#include "platform/scripted/scripted_ui.h"

int ScriptedUI::MessageBox(const char* text, const char* caption, unsigned type) {
  int answer = IDOK;
  const unsigned kind = type & MB_TYPEMASK;
  if (kind == MB_YESNO || kind == MB_OKCANCEL) {
    if (answers_.empty()) {
      // An unexpected question gets the answer that changes nothing.
      ++unanswered;
      answer = kind == MB_YESNO ? IDNO : IDCANCEL;
    } else {
      answer = answers_.front();
      answers_.pop_front();
    }
  }
  messages.push_back({text ? text : "", caption ? caption : "", type, answer});
  return answer;
}

void ScriptedUI::ProgressCreate() {
  ++progressCreated;
  progressOpen = true;
}

void ScriptedUI::ProgressSetText(int control, const char* text) {
  progressTexts.push_back(std::to_string(control) + ":" + (text ? text : ""));
}

void ScriptedUI::ProgressDestroy() {
  ++progressDestroyed;
  progressOpen = false;
}

// ---- Window input ---------------------------------------------------------------

void ScriptedUI::Key(int key, bool ctrl) {
  WindowEvent e;
  e.kind = EventKind::KeyDown;
  e.key = key;
  e.ctrl = ctrl;
  Post(e);
}

void ScriptedUI::Move(int x, int y) { Press(EventKind::MouseMove, x, y); }

void ScriptedUI::Press(EventKind kind, int x, int y) {
  WindowEvent e;
  e.kind = kind;
  e.x = x;
  e.y = y;
  Post(e);
}

void ScriptedUI::Frame(int count) {
  for (int i = 0; i < count; ++i) input_.push_back({{}, {}, true});
}

bool ScriptedUI::WindowCreate(const char* title, int width, int height) {
  windowTitle = title ? title : "";
  windowWidth = width;
  windowHeight = height;
  windowOpen = windowCanOpen;
  return windowCanOpen;
}

void ScriptedUI::PumpEvents(bool wait) {
  bool delivered = false;
  while (!input_.empty()) {
    Step step = std::move(input_.front());
    input_.pop_front();
    if (step.frameMark) {
      // A waiting pump needs something to return with.
      if (wait && !delivered && Events().Empty()) continue;
      return;
    }
    if (step.look) {
      // What the look queues comes next, before the rest of the script.
      const size_t before = input_.size();
      step.look();
      std::deque<Step> added(input_.begin() + long(before), input_.end());
      input_.erase(input_.begin() + long(before), input_.end());
      input_.insert(input_.begin(), added.begin(), added.end());
      continue;
    }
    Events().Post(step.event);
    delivered = true;
  }
  if (!delivered && Events().Empty()) PostQuit(ScriptEndCode);
}

// ---- Dialogs ----------------------------------------------------------------------

int ScriptedUI::RunDialog(const DialogTemplate& dialogTemplate, DialogProc proc, void* context) {
  Dialog dialog(dialogTemplate, proc, context);
  dialog.Start();
  std::vector<DialogAction> script;
  auto queued = dialogScripts_.find(dialogTemplate.resource);
  if (queued != dialogScripts_.end() && !queued->second.empty()) {
    script = std::move(queued->second.front());
    queued->second.pop_front();
  }
  for (const DialogAction& action : script) {
    if (dialog.Ended()) break;
    switch (action.kind) {
      case DialogAction::SetText: dialog.UserSetText(action.control, action.text.c_str()); break;
      case DialogAction::Click: dialog.UserClick(action.control); break;
      case DialogAction::Select: dialog.UserSelect(action.control, action.index); break;
      case DialogAction::Inspect: action.inspect(dialog); break;
    }
  }
  if (!dialog.Ended()) dialog.UserClick(IDC_CANCEL);
  // A procedure that ignores Cancel would hold a real user forever; the
  // script ends it as cancelled.
  if (!dialog.Ended()) dialog.EndDialog(0);
  DialogRun run{dialogTemplate.resource, dialog.Caption(), dialog.Result(), {}, {}};
  for (const DialogControl& c : dialogTemplate.controls) {
    run.texts[c.id] = dialog.ItemText(c.id);
    run.checks[c.id] = dialog.IsDlgButtonChecked(c.id);
  }
  dialogs.push_back(run);
  return dialog.Result();
}

bool ScriptedUI::FileDialog(const FileDialogRequest& request, FileDialogResult* out) {
  fileRequests.push_back(request);
  if (files_.empty()) return false;
  *out = files_.front();
  files_.pop_front();
  return !out->path.empty();
}
