#include "dialogs/value_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/dialog.h"

void ValueText::Set(const char* value) {
  std::strncpy(text, value ? value : "", ValueTextSize - 1);
  text[ValueTextSize - 1] = '\0';
}

void CopyFieldText(const Dialog& dialog, int id, ValueText* buffer) {
  dialog.GetDlgItemText(id, buffer->text, ValueTextSize);
}

void ShowFieldText(Dialog& dialog, int id, const char* text, ValueText* buffer) {
  dialog.SetDlgItemText(id, text);
  CopyFieldText(dialog, id, buffer);
}

float TextValue(const char* text) { return float(std::strtod(text, nullptr)); }

std::string FormatValue(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%f", value);
  return text;
}
