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

// The backend is a module of its own, loaded by the desktop program alone,
// so that the command line starts without GTK and the libraries it brings.
// The module's file and its entry point, which calls CreateGtkUI.
constexpr const char* GtkModuleFile = "vornix-gtk.so";
constexpr const char* GtkModuleEntry = "VornixCreateGtkUI";
using CreateGtkUIFunction = PlatformUI* (*)(bool windowed, std::string* error);
