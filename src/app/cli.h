// The command line front end: vornix info|convert|render ..., --help and
// --version; anything else starts the desktop program.
#pragma once

#include <string>

// What the arguments ask of the desktop program.
struct DesktopArguments {
  bool windowed = false;
  std::string file;  // a model to open instead of the sample
};

// True when the arguments start the desktop program (none, or
// [--windowed] [FILE]); fills *out.
bool IsDesktopCommandLine(int argc, char** argv, DesktopArguments* out);

// Runs one command line; returns the process exit status.
int RunCommandLine(int argc, char** argv);

// The desktop program with the installed user interface.
int RunDesktopProgram(const DesktopArguments& arguments);

// Shown for --version.
extern const char* const VersionText;
