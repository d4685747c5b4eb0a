// The help command: the manual vornix.html in the program's data folder,
// opened with the desktop's handler for HTML pages.
#pragma once

#include <string>

extern const char* const HelpIntroText;
extern const char* const HelpMissingText;

// Hands the manual's absolute path to a viewer; false when none could be
// started.
using HelpOpener = bool (*)(const std::string& path);

// Starts `xdg-open path`, or the program named by the environment variable
// VORNIX_HELP_OPENER instead, without a shell. Waits at most 1.5 seconds:
// false also when the opener fails within that time; one still running is
// left to run on its own.
bool OpenWithDesktopViewer(const std::string& path);

// The opener ShowHelp uses; OpenWithDesktopViewer unless a test sets another.
extern HelpOpener gHelpOpener;

// The program's data folder (ProgramDataFolder): the build folder or the
// installed one; the current folder when the executable cannot be found.
std::string ProgramFolder();

// Shows the intro message, then opens folder/vornix.html; shows
// HelpMissingText when the file cannot be read or no viewer starts.
void ShowHelpFrom(const std::string& folder);

// ShowHelpFrom(ProgramFolder()): the Open dialog may have moved the current
// folder, so the manual is found from the executable.
void ShowHelp();
