// The pattern every value dialog follows, built once: fields filled at
// opening and copied into their buffers on every change, check boxes and
// radio buttons acting on their flags at once, OK ending with 1 and Cancel
// with 0. A dialog adds its template, its bindings and, where it has them,
// its own buttons.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "dialogs/value_text.h"
#include "platform/dialog.h"

struct ValueField {
  int id;
  ValueText* buffer;
  std::string initial;
};

// A check box whose every click toggles *flag.
struct ValueFlag {
  int id;
  int* flag;
};

// A radio button that sets *target to value when clicked.
struct ValueChoice {
  int id;
  int* target;
  int value;
};

struct ValueDialog {
  const DialogTemplate* dialogTemplate = nullptr;
  std::vector<ValueField> fields;
  std::vector<ValueFlag> flags;
  std::vector<ValueChoice> choices;
  // Texts shown at opening that are no field (extents and sizes).
  std::vector<std::pair<int, std::string>> texts;
  // Any other button; may end the dialog.
  std::function<void(Dialog&, int control)> onButton;
};

// Runs the dialog modally: 1 for OK, 0 for Cancel, -1 when it could not be
// shown.
int RunValueDialog(ValueDialog& dialog);

// Shows `text` in field `id` and in its buffer, for the dialogs' own buttons.
void SetField(Dialog& dialog, ValueDialog& values, int id, const char* text);
