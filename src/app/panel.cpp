#include "app/panel.h"

#include <algorithm>

#include "app/shell_state.h"
#include "app/viewports.h"
#include "render/qlt.h"

ShellBitmaps gBitmaps;

namespace {

// Rows of each item, both ends inclusive; x runs from 0 to 127.
struct ItemRows {
  int top, bottom;
};
constexpr ItemRows MenuItemRects[MenuItemCount] = {
    {55, 67},   {68, 80},   {81, 93},   {94, 106},  {107, 119}, {120, 132}, {159, 171},
    {172, 184}, {185, 197}, {198, 210}, {211, 223}, {250, 262}, {263, 275}, {276, 288},
    {289, 301}, {302, 314}, {341, 353}, {354, 366}, {367, 379},
};

// One region of the panel bitmap onto the back buffer, rectangles right and
// bottom exclusive.
void Blit(int bitmap, int sl, int sr, int st, int sb, int dl, int dr, int dt, int db) {
  if (bitmap < 0) return;
  qlt_BitmapBlit(bitmap, QltBackBufferIndex, sl, sr, st, sb, dl, dr, dt, db);
}

}  // namespace

int MenuItemAt(int x, int y) {
  if (x < 0 || x > 127) return -1;
  for (int i = 0; i < MenuItemCount; ++i)
    if (y >= MenuItemRects[i].top && y <= MenuItemRects[i].bottom) return i;
  return -1;
}

void DrawPanel() {
  int w = 0, h = 0;
  ScreenSize(&w, &h);
  Blit(gBitmaps.panel, 0, 128, 0, 480, 0, 128, 0, 480);
  if (w > 640) Blit(gBitmaps.panel, 258, 379, 389, 475, 0, 128, 480, h);
}

void DrawBorders() {
  int w = 0, h = 0;
  ScreenSize(&w, &h);
  Blit(gBitmaps.panel, 128, 640, 0, 3, 128, w, 0, 3);
  if (gShell.viewLayout == 0) Blit(gBitmaps.panel, 128, 639, 239, 242, 128, w - 1, h / 2 - 1, h / 2 + 2);
  Blit(gBitmaps.panel, 128, 640, 477, 480, 128, w, h - 3, h);
  Blit(gBitmaps.panel, 637, 640, 0, 480, w - 3, w, 0, h);
}

void DrawModeMarkerAndHover() {
  const int mode = gView.mouseMode;
  if (mode >= 0 && mode <= 2) {
    const ItemRows rows = MenuItemRects[6 + mode];
    Blit(gBitmaps.panel, 256, 276, rows.top, rows.bottom + 1, 0, 20, rows.top, rows.bottom + 1);
  }
  const int item = MenuItemAt(gShell.pointerX, gShell.pointerY);
  if (item < 0) return;
  const ItemRows rows = MenuItemRects[item];
  const bool currentMode = item >= 6 && item <= 8 && item - 6 == mode;
  const int left = currentMode ? 384 : 128;
  Blit(gBitmaps.panel, left, left + 127, rows.top, rows.bottom + 1, 0, 127, rows.top, rows.bottom + 1);
}

void DrawHints() {
  int w = 0, h = 0;
  ScreenSize(&w, &h);
  const int m = (w - 128) / 2;
  const int upper = h / 4, lower = 3 * (h / 4);
  Blit(gBitmaps.panel, 259, 634, 95, 153, m - 59, m + 316, upper - 29, upper + 29);
  Blit(gBitmaps.panel, 259, 634, 330, 388, m - 59, m + 316, lower - 29, lower + 29);
}

void DrawPointer() {
  if (gBitmaps.cursor < 0) return;
  int w = 0, h = 0;
  ScreenSize(&w, &h);
  const int x = gShell.pointerX, y = gShell.pointerY;
  // The display refuses a blit that reaches past its edge, so the pointer
  // is cut there instead of vanishing.
  const int width = std::min(11, w - x), height = std::min(19, h - y);
  if (width <= 0 || height <= 0) return;
  qlt_BitmapBlit(gBitmaps.cursor, QltBackBufferIndex, 0, width, 0, height, x, x + width, y, y + height);
}
