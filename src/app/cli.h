// The command line front end: vornix info|convert ...
#pragma once

// Runs one command line; returns the process exit status.
int RunCommandLine(int argc, char** argv);
