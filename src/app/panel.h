// The screen around the viewports: the menu panel and its hover looks, the
// borders, the start hints and the drawn pointer, all blitted from the
// bitmaps that lie beside the program.
#pragma once

constexpr int MenuItemCount = 19;

// Library bitmap slots of the screen bitmaps; -1 while not loaded.
struct ShellBitmaps {
  int title = -1;
  int cursor = -1;
  int panel = -1;
  int marker = -1;
};
extern ShellBitmaps gBitmaps;

// The menu item (command number) under a pointer position, or -1.
int MenuItemAt(int x, int y);

// The panel in its normal look, and on screens wider than 640 its filler.
void DrawPanel();
// The top, bottom and right borders and, with two viewports, the divider.
void DrawBorders();
// The marker of the current mouse mode, then the hover look of the item
// under the pointer.
void DrawModeMarkerAndHover();
// The two strips telling a new user how to turn the view and pick polygons.
void DrawHints();
// The drawn pointer with its top-left corner at the pointer, cut off where
// it leaves the screen.
void DrawPointer();
