#include "platform/dialog.h"

#include <strings.h>

#include <cstring>

#include "platform/ui.h"

Dialog::Dialog(const DialogTemplate& dialogTemplate, DialogProc proc, void* context)
    : template_(dialogTemplate), proc_(proc), context_(context), caption_(dialogTemplate.caption) {
  for (const DialogControl& c : template_.controls) {
    ControlState state{c.id, c.label ? c.label : "", 0, {}, -1, {}};
    if (c.kind == ControlKind::PaintArea && c.width > 0 && c.height > 0)
      state.pixels.assign(size_t(c.width) * size_t(c.height), 0);
    states_.push_back(state);
  }
}

const DialogControl* Dialog::Control(int id) const {
  for (const DialogControl& c : template_.controls)
    if (c.id == id) return &c;
  return nullptr;
}

Dialog::ControlState* Dialog::State(int id) {
  for (ControlState& s : states_)
    if (s.id == id) return &s;
  return nullptr;
}

const Dialog::ControlState* Dialog::State(int id) const {
  for (const ControlState& s : states_)
    if (s.id == id) return &s;
  return nullptr;
}

void Dialog::SetCaption(const char* caption) {
  caption_ = caption ? caption : "";
  Changed(0);
}

int Dialog::GetDlgItemText(int id, char* buffer, int size) const {
  if (!buffer || size <= 0) return 0;
  const ControlState* s = State(id);
  const size_t length = s ? std::min(s->text.size(), size_t(size - 1)) : 0;
  if (length > 0) std::memcpy(buffer, s->text.data(), length);
  buffer[length] = '\0';
  return int(length);
}

std::string Dialog::ItemText(int id) const {
  const ControlState* s = State(id);
  return s ? s->text : std::string();
}

void Dialog::SetDlgItemText(int id, const char* text) {
  ControlState* s = State(id);
  if (!s) return;
  s->text = text ? text : "";
  Changed(id);
}

int Dialog::IsDlgButtonChecked(int id) const {
  const ControlState* s = State(id);
  return s ? s->checked : 0;
}

void Dialog::CheckDlgButton(int id, int checked) {
  ControlState* s = State(id);
  if (!s) return;
  s->checked = checked ? 1 : 0;
  Changed(id);
}

void Dialog::ListReset(int id) {
  ControlState* s = State(id);
  if (!s) return;
  s->rows.clear();
  s->selection = -1;
  Changed(id);
}

int Dialog::ListAdd(int id, const char* text) {
  ControlState* s = State(id);
  if (!s) return -1;
  s->rows.push_back(text ? text : "");
  Changed(id);
  return int(s->rows.size()) - 1;
}

int Dialog::ListCount(int id) const {
  const ControlState* s = State(id);
  return s ? int(s->rows.size()) : 0;
}

std::string Dialog::ListText(int id, int index) const {
  const ControlState* s = State(id);
  if (!s || index < 0 || index >= int(s->rows.size())) return std::string();
  return s->rows[size_t(index)];
}

int Dialog::ListSelection(int id) const {
  const ControlState* s = State(id);
  return s ? s->selection : -1;
}

bool Dialog::ListSelect(int id, int index) {
  ControlState* s = State(id);
  if (!s || index < -1 || index >= int(s->rows.size())) return false;
  s->selection = index;
  Changed(id);
  return true;
}

int Dialog::ListFindPrefix(int id, int after, const char* prefix) const {
  const ControlState* s = State(id);
  if (!s || !prefix) return -1;
  const int count = int(s->rows.size());
  const size_t length = std::strlen(prefix);
  const int start = after < -1 || after >= count ? -1 : after;
  for (int k = 1; k <= count; ++k) {
    const int i = (start + k) % count;
    const std::string& row = s->rows[size_t(i)];
    if (row.size() >= length && strncasecmp(row.c_str(), prefix, length) == 0) return i;
  }
  return -1;
}

void Dialog::Paint(int id, const std::vector<uint32_t>& pixels) {
  ControlState* s = State(id);
  if (!s || pixels.size() != s->pixels.size()) return;
  s->pixels = pixels;
  Changed(id);
}

const std::vector<uint32_t>& Dialog::PaintedPixels(int id) const {
  static const std::vector<uint32_t> none;
  const ControlState* s = State(id);
  return s ? s->pixels : none;
}

void Dialog::EndDialog(int result) {
  ended_ = true;
  result_ = result;
}

void Dialog::Notify(int id, Notification code) {
  if (proc_) proc_(*this, DialogMessage::Command, id, code, context_);
}

void Dialog::Start() {
  if (proc_) proc_(*this, DialogMessage::Init, 0, Notification::None, context_);
}

void Dialog::UserSetText(int id, const char* text) {
  const DialogControl* c = Control(id);
  if (!c || (c->kind != ControlKind::Edit)) return;
  ControlState* s = State(id);
  const std::string value = text ? text : "";
  if (s->text == value) return;
  s->text = value;
  Changed(id);
  Notify(id, Notification::EditChanged);
}

void Dialog::UserClick(int id) {
  const DialogControl* c = Control(id);
  // Enter and Esc reach the procedure as OK and Cancel even where the
  // dialog has no such button, as a dialog manager sends them.
  if (!c && id != IDC_OK && id != IDC_CANCEL) return;
  if (c && c->kind == ControlKind::CheckBox) {
    ControlState* s = State(id);
    s->checked = !s->checked;
    Changed(id);
  } else if (c && c->kind == ControlKind::RadioButton) {
    for (const DialogControl& other : template_.controls) {
      if (other.kind != ControlKind::RadioButton || other.group != c->group) continue;
      ControlState* s = State(other.id);
      const int checked = other.id == id ? 1 : 0;
      if (s->checked == checked) continue;
      s->checked = checked;
      Changed(other.id);
    }
  } else if (c && c->kind != ControlKind::Button && c->kind != ControlKind::DefaultButton) {
    return;
  }
  Notify(id, Notification::Clicked);
}

void Dialog::UserSelect(int id, int index) {
  const DialogControl* c = Control(id);
  if (!c || c->kind != ControlKind::ListBox) return;
  ControlState* s = State(id);
  if (index < -1 || index >= int(s->rows.size()) || s->selection == index) return;
  s->selection = index;
  Changed(id);
  Notify(id, Notification::SelectionChanged);
}

int DialogBox(const DialogTemplate& dialogTemplate, DialogProc proc, void* context) {
  return Ui().RunDialog(dialogTemplate, proc, context);
}
