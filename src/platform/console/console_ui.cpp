#include "platform/console/console_ui.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

int DefaultAnswer(const char*, const char*, unsigned type, void*) {
  switch (type & MB_TYPEMASK) {
    case MB_YESNO: return IDNO;
    case MB_OKCANCEL: return IDCANCEL;
    default: return IDOK;
  }
}

// Message texts carry their own line breaks; a trailing one is dropped so
// that each message ends with exactly one.
std::string Trimmed(const char* text) {
  std::string s = text ? text : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

}  // namespace

ConsoleUI::ConsoleUI() : rule_(DefaultAnswer), terminal_(isatty(STDERR_FILENO) == 1) {}

void ConsoleUI::SetAnswerRule(AnswerRule rule, void* context) {
  rule_ = rule ? rule : DefaultAnswer;
  context_ = context;
}

int ConsoleUI::MessageBox(const char* text, const char* caption, unsigned type) {
  ClearProgressLine();
  const int answer = rule_(text, caption, type, context_);
  std::fprintf(stderr, "%s: %s\n", caption ? caption : "", Trimmed(text).c_str());
  const unsigned kind = type & MB_TYPEMASK;
  if (kind == MB_YESNO || kind == MB_OKCANCEL) {
    const char* word = answer == IDYES ? "Yes" : answer == IDNO ? "No" : answer == IDOK ? "OK" : "Cancel";
    std::fprintf(stderr, "  -> %s\n", word);
  }
  DrawProgress();
  return answer;
}

void ConsoleUI::ProgressCreate() {
  progressOpen_ = true;
  line1_.clear();
  line2_.clear();
  percent_.clear();
}

void ConsoleUI::ProgressSetText(int control, const char* text) {
  const std::string value = text ? text : "";
  switch (control) {
    case ProgressLine1: line1_ = value; break;
    case ProgressLine2: line2_ = value; break;
    case ProgressPercentLine: percent_ = value; DrawProgress(); break;
    default: break;
  }
}

void ConsoleUI::ProgressDestroy() {
  ClearProgressLine();
  progressOpen_ = false;
}

void ConsoleUI::DrawProgress() {
  if (!terminal_ || !progressOpen_ || (line1_.empty() && line2_.empty() && percent_.empty())) return;
  std::string line = line1_;
  if (!line2_.empty()) line += (line.empty() ? "" : " ") + line2_;
  if (!percent_.empty()) line += (line.empty() ? "" : " ") + percent_;
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  lineDrawn_ = true;
}

void ConsoleUI::ClearProgressLine() {
  if (!lineDrawn_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  lineDrawn_ = false;
}
