// The window's input as the program sees it: key presses with Windows
// virtual-key codes, pointer moves and button presses in surface pixels,
// activation and the close request. Backends only record into the queue;
// the main loop takes the events out, as a window procedure would get them.
#pragma once

#include <deque>

// Virtual-key codes the program reacts to; letters and digits are their
// upper-case character codes ('A' .. 'Z', '0' .. '9').
enum VirtualKey : int {
  VK_RETURN = 0x0D,
  VK_CONTROL = 0x11,
  VK_ESCAPE = 0x1B,
  VK_SPACE = 0x20,
  VK_LEFT = 0x25,
  VK_UP = 0x26,
  VK_RIGHT = 0x27,
  VK_DOWN = 0x28,
  VK_ADD = 0x6B,
  VK_SUBTRACT = 0x6D,
  VK_F1 = 0x70,
  VK_F2 = 0x71,
};

enum class EventKind {
  KeyDown,     // key, ctrl
  MouseMove,   // x, y
  LeftDown,    // x, y
  LeftUp,      // x, y
  RightDown,   // x, y
  RightUp,     // x, y
  Activate,    // the window got the focus
  Deactivate,  // the window lost it
  Close,       // close the window: code 0 the user asked, 1 the program posted it
  Quit,        // the program's own quit message; code holds the exit code
};

struct WindowEvent {
  EventKind kind = EventKind::MouseMove;
  int key = 0;        // KeyDown: the virtual-key code
  bool ctrl = false;  // KeyDown: [Ctrl] was held at the press
  int x = 0, y = 0;   // pointer events: position in surface pixels
  int code = 0;       // Quit: the exit code; Close: who asked
};

// First in, first out; one queue for the whole program.
class EventQueue {
 public:
  void Post(const WindowEvent& event) { events_.push_back(event); }
  bool Next(WindowEvent* out) {
    if (events_.empty()) return false;
    *out = events_.front();
    events_.pop_front();
    return true;
  }
  bool Empty() const { return events_.empty(); }
  void Clear() { events_.clear(); }

 private:
  std::deque<WindowEvent> events_;
};

EventQueue& Events();

// Posts the quit message with its exit code (PostQuitMessage).
void PostQuit(int code);
// Posts the program's own close message, which closes without a question.
void PostClose();
