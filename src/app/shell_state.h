// The shell's global state, shared by the front ends and the commands.
#pragma once

#include <cstdint>

struct ShellState {
  int32_t viewLayout = 0;   // 0 Render and Select, 1 Render only, 2 Select only
  int32_t viewpoint = 0;    // 0 free view, 1 Top ... 6 Back
  int32_t modelChanged = 0;
  int32_t commandPending = 0;
  int32_t pendingCommand = 0;
  int32_t openAfterSave = 0;
  float viewRotation[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  float modelOffset[3] = {0, 0, 0};
  float panX = 0, panY = 0, cameraZ = 0;
  // Handed to the library only by the options dialog; scenes use it too.
  float lightColour[3] = {1.0f, 0.95f, 0.9f};
};

extern ShellState gShell;

// Sets modelChanged when the Model has any vertex.
void MarkModelChanged();
