// The desktop program: start-up, the title screen, the main loop and the
// handling of the window's input.
#pragma once

#include <string>

struct DesktopOptions {
  // The folder of the program's bitmaps and sample model; empty: the
  // program's data folder (ProgramDataFolder).
  std::string programFolder;
  // A model opened through the Open sequence instead of the sample.
  std::string modelPath;
};

// Runs the program to its end with the installed user interface; returns
// the exit code.
int RunDesktop(const DesktopOptions& options);

// One pass of the main loop after its message pump: flip, panel, command,
// view, hover pick, viewports, band, projection box and viewpoint name.
void RunFrame();
// One window event as the window procedure handles it outside the title.
void HandleEvent(const struct WindowEvent& event);
