// The shell's global state, shared by the front ends and the commands.
#pragma once

#include <cstdint>

struct ShellState {
  int32_t viewLayout = 0;   // 0 Render and Select, 1 Render only, 2 Select only
  int32_t viewpoint = 0;    // 0 free view, 1 Top ... 6 Back
  int32_t modelChanged = 0;
  int32_t commandPending = 0;
  int32_t pendingCommand = 0;
  int32_t redrawCount = 1;  // 1: draw now and next frame; 2: draw once more; 0: leave
  int32_t projecting = 0;
  int32_t projectionAccepted = 0;
  int32_t editorRequest = 0;
  int32_t openAfterSave = 0;
  int32_t exitAfterSave = 0;
  int32_t hintVisible = 1;
  int32_t drawnCursor = 1;  // the pointer is drawn from mouse.bmp
  int32_t appActive = 0;
  int32_t titleShowing = 0;
  uint16_t pointerX = 0, pointerY = 0;
  float viewRotation[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  float modelOffset[3] = {0, 0, 0};
  float panX = 0, panY = 0, cameraZ = 0;
  // Handed to the library only by the options dialog; scenes use it too.
  float lightColour[3] = {1.0f, 0.95f, 0.9f};
  float lightDirection[3] = {0, 1.0f, 0};
  int32_t bilinearFiltering = 0;

  // Mouse state of the viewports.
  int32_t leftHeld = 0, rightHeld = 0;
  uint16_t anchorX = 0, anchorY = 0;        // last press or drag step
  uint16_t bandStartX = 0, bandStartY = 0;  // last press
  int32_t bandArmedAdd = 0, bandArmedRemove = 0;
  int32_t bandVisible = 0;
};

extern ShellState gShell;

// Sets modelChanged when the Model has any vertex.
void MarkModelChanged();
