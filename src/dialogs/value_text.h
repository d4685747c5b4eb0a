// What every editing dialog shares: the text buffer an edit field leaves
// behind and the conversions between numbers and field texts.
#pragma once

#include <string>

class Dialog;

// An edit field's text as the dialog last saw it; longer texts are cut.
constexpr int ValueTextSize = 260;
struct ValueText {
  char text[ValueTextSize] = "";
  void Set(const char* value);
};

// Copies control `id`'s current text into the buffer.
void CopyFieldText(const Dialog& dialog, int id, ValueText* buffer);

// Shows `text` in control `id` and keeps it in the buffer too.
void ShowFieldText(Dialog& dialog, int id, const char* text, ValueText* buffer);

// The number at the start of a text (leading blanks skipped, stopping at the
// first character that does not fit); a text that is no number gives 0.
float TextValue(const char* text);

// A number as the dialogs print it: "%f", six decimals.
std::string FormatValue(double value);
