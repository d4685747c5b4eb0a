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
