// The desktop's user interface on GTK 3: the program's window showing the
// front surface, its input recorded into Events(), message boxes, file
// dialogs, dialogs built from templates and the progress box.
#pragma once

#include <string>

#include "platform/ui.h"

// Opens the display and returns the backend (the caller owns it), or
// nullptr with a one-line reason in *error when no display can be opened.
// windowed: an ordinary window of the display mode's size instead of one
// covering the screen.
PlatformUI* CreateGtkUI(bool windowed, std::string* error);
