// The commands of the menu panel and the keys, run by the main loop one
// at a time, and the exit question.
#pragma once

#include "platform/ui.h"

extern const char* const ModelChangedQuestion;
extern const char* const ExitQuestion;
// Refusal of the PolyList commands while a projection runs.
extern const char* const ProjectingText;
extern const char* const DeleteQuestion;

// The Open and Save dialogs' requests, filters in their fixed order.
FileDialogRequest OpenDialogRequest();
FileDialogRequest SaveDialogRequest();

// Runs command 0 .. 18 to completion, dialogs included; any other number
// does nothing.
void RunCommand(int command);

// [Esc] outside a projection and the window's close button: asks, offers to
// save a changed Model first, and closes.
void AskToExit();

// Makes the desktop's surface visible so that a dialog is seen over the
// full-screen picture.
void ShowDesktopSurface();
