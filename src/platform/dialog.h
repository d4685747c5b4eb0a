// Dialog boxes built from data. A template names the dialog (resource
// number and caption) and lists its controls with their ids, kinds, labels
// and grid positions; a procedure gets the init and command notifications
// and works the controls through a Dialog. The backends build the controls
// (real widgets on the desktop, plain state in the scripted one) and run
// the dialog modally until the procedure ends it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Control ids every dialog shares.
enum DialogButtonId : int { IDC_OK = 1, IDC_CANCEL = 2 };

enum class ControlKind {
  StaticText,   // label: the text; multi-line with \n
  Edit,         // label: the initial text
  ReadOnlyEdit, // an edit the user cannot type into
  Button,       // label: the caption
  DefaultButton,// the button Enter presses (OK)
  CheckBox,     // label: the caption; toggles itself when clicked
  RadioButton,  // label: the caption; checks itself and clears its group
  ListBox,      // a list of rows, one selected
  GroupBox,     // a framed group with its own grid; label: the caption
  Picture,      // a picture or decoration; label: alt text, may be empty
  PaintArea,    // a square of pixels the procedure paints (width x height)
};

struct DialogControl {
  int id;
  ControlKind kind;
  const char* label;
  // Position in the grid of the dialog, or of the group box named by
  // parent (0: the dialog itself), in cells.
  int column, row;
  int columnSpan = 1, rowSpan = 1;
  int parent = 0;
  // Radio buttons with the same group exclude each other.
  int group = 0;
  // PaintArea: size in pixels.
  int width = 0, height = 0;
};

struct DialogTemplate {
  int resource;
  const char* caption;
  std::vector<DialogControl> controls;
};

enum class DialogMessage { Init, Command };
enum class Notification { None, Clicked, EditChanged, SelectionChanged };

class Dialog;
// Returns nonzero when it handled the message.
using DialogProc = int (*)(Dialog& dialog, DialogMessage message, int control, Notification code,
                           void* context);

// The state of a running dialog's controls. The backend mirrors every
// change on screen through the Changed hook and reports the user's actions
// through the User* calls, which notify the procedure.
class Dialog {
 public:
  Dialog(const DialogTemplate& dialogTemplate, DialogProc proc, void* context);
  virtual ~Dialog() = default;
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  const DialogTemplate& Template() const { return template_; }
  const DialogControl* Control(int id) const;
  const std::string& Caption() const { return caption_; }
  void SetCaption(const char* caption);

  // Texts (GetDlgItemText copies at most size - 1 characters and a zero,
  // and returns the number copied).
  int GetDlgItemText(int id, char* buffer, int size) const;
  std::string ItemText(int id) const;
  void SetDlgItemText(int id, const char* text);

  // Check boxes and radio buttons (1 checked, 0 not).
  int IsDlgButtonChecked(int id) const;
  void CheckDlgButton(int id, int checked);

  // List boxes; indexes from 0, -1 for none.
  void ListReset(int id);
  int ListAdd(int id, const char* text);  // returns the new row's index
  int ListCount(int id) const;
  std::string ListText(int id, int index) const;
  int ListSelection(int id) const;
  // Selects the row (-1 clears the selection); false outside the list.
  bool ListSelect(int id, int index);
  // The first row after `after` (-1: from the top, wrapping round) whose text
  // begins with prefix, compared without regard to case; -1 when none.
  int ListFindPrefix(int id, int after, const char* prefix) const;

  // A paint area's pixels, 0x00RRGGBB, row by row.
  void Paint(int id, const std::vector<uint32_t>& pixels);
  const std::vector<uint32_t>& PaintedPixels(int id) const;

  void EndDialog(int result);
  bool Ended() const { return ended_; }
  int Result() const { return result_; }

  // The backend's side: start the dialog (the init notification), and what
  // the user did. Each updates the state first, then notifies the procedure.
  void Start();
  void UserSetText(int id, const char* text);
  void UserClick(int id);
  void UserSelect(int id, int index);

 protected:
  // A control's text, check state, rows or pixels changed by the procedure
  // (or by the user through the calls above); id 0 is the caption.
  virtual void Changed(int id) { (void)id; }

 private:
  struct ControlState {
    int id;
    std::string text;
    int checked = 0;
    std::vector<std::string> rows;
    int selection = -1;
    std::vector<uint32_t> pixels;
  };
  ControlState* State(int id);
  const ControlState* State(int id) const;
  void Notify(int id, Notification code);

  const DialogTemplate& template_;
  DialogProc proc_;
  void* context_;
  std::string caption_;
  std::vector<ControlState> states_;
  bool ended_ = false;
  int result_ = 0;
};

// Runs the dialog modally (DialogBox): the result EndDialog gave, or -1
// when it could not be created.
int DialogBox(const DialogTemplate& dialogTemplate, DialogProc proc, void* context);
