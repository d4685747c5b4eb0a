// The choice of rendering method and display resolution at start-up: the
// selection callback the library calls from qlt_Enumerate.
#pragma once

#include <cstdint>

enum ModeDialogControl : int {
  ModeDialogResource = 102,
  ModeMethodList = 1003,
  ModeResolutionList = 1004,
  ModePicture = 1153,
};

extern const char* const InsufficientMemoryQuestion;

// Shows the dialog with the methods and their modes; writes the chosen
// method index and mode number (1 .. 8; both 0 after Cancel). Returns 1 for
// OK, 0 for Cancel, -1 when the dialog could not be made.
int SelectRenderingMode(int methodCount, char (*methodNames)[128], int32_t (*methodModes)[8], int* outMethod,
                        int* outMode);
