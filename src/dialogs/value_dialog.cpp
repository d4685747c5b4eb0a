#include "dialogs/value_dialog.h"

namespace {

ValueField* FieldOf(ValueDialog& values, int id) {
  for (ValueField& field : values.fields)
    if (field.id == id) return &field;
  return nullptr;
}

void Open(Dialog& dialog, ValueDialog& values) {
  for (ValueField& field : values.fields) ShowFieldText(dialog, field.id, field.initial.c_str(), field.buffer);
  for (const ValueFlag& flag : values.flags) dialog.CheckDlgButton(flag.id, *flag.flag != 0);
  for (const ValueChoice& choice : values.choices)
    dialog.CheckDlgButton(choice.id, *choice.target == choice.value);
  for (const auto& text : values.texts) dialog.SetDlgItemText(text.first, text.second.c_str());
}

bool Toggle(ValueDialog& values, int id) {
  for (const ValueFlag& flag : values.flags) {
    if (flag.id != id) continue;
    *flag.flag = !*flag.flag;
    return true;
  }
  for (const ValueChoice& choice : values.choices) {
    if (choice.id != id) continue;
    *choice.target = choice.value;
    return true;
  }
  return false;
}

int ValueDialogProc(Dialog& dialog, DialogMessage message, int control, Notification code, void* context) {
  ValueDialog& values = *static_cast<ValueDialog*>(context);
  if (message == DialogMessage::Init) {
    Open(dialog, values);
    return 1;
  }
  if (code == Notification::EditChanged) {
    ValueField* field = FieldOf(values, control);
    if (field) CopyFieldText(dialog, control, field->buffer);
    return field != nullptr;
  }
  if (code != Notification::Clicked) return 0;
  if (control == IDC_OK || control == IDC_CANCEL) {
    dialog.EndDialog(control == IDC_OK ? 1 : 0);
    return 1;
  }
  if (Toggle(values, control)) return 1;
  if (values.onButton) values.onButton(dialog, control);
  return 1;
}

}  // namespace

int RunValueDialog(ValueDialog& values) {
  return DialogBox(*values.dialogTemplate, ValueDialogProc, &values);
}

void SetField(Dialog& dialog, ValueDialog& values, int id, const char* text) {
  ValueField* field = FieldOf(values, id);
  if (field)
    ShowFieldText(dialog, id, text, field->buffer);
  else
    dialog.SetDlgItemText(id, text);
}
