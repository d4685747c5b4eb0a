// Shared by the GTK backend's units; nothing outside gtk/ includes it.
#pragma once

#include <gtk/gtk.h>

#include <string>

#include "platform/dialog.h"

namespace gtkui {

// Text as the toolkit needs it (UTF-8); bytes that are not UTF-8 are read
// as Latin-1, as names from older model files often are.
std::string DisplayText(const char* text);

// Modal windows nest: the newest one owns what opens next, or the main
// window when none is open (nullptr before the main window exists).
GtkWindow* DialogParent();
void PushModal(GtkWindow* window);
// Removes the window and gives the keyboard back to its owner.
void PopModal(GtkWindow* window);
// Makes the window take the keyboard as soon as it is on screen, also where
// no window manager hands it over.
void FocusWhenMapped(GtkWidget* window);

// Builds and runs a dialog from its template; the procedure's result, or -1
// when it cannot be built.
int RunTemplateDialog(const DialogTemplate& dialogTemplate, DialogProc proc, void* context);

}  // namespace gtkui
