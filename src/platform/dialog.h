// Modal dialogs from a template of the plug-in's resources. The behaviour behind a dialog talks
// to its window only through DialogWindow; on Windows that is the real dialog box, elsewhere
// the dialog model of platform/dialog_model.h.
#pragma once

#include <cstdint>

namespace torvexan {

// The notification code of a button click.
inline constexpr int kNotifyClicked = 0;

// What a control of a template is; the dialog model needs only this much of the template.
enum class DialogControlKind : uint8_t {
  kPushButton,
  kCheckBox,
  kEdit,
  kStatic,
  kDropDownList,
  kGroupBox,
};

struct DialogControlDef {
  int id;            // -1: a label or group box without identifier
  const char* text;  // the template's initial text
  DialogControlKind kind;
  bool disabled;
};

struct DialogTemplate {
  int resourceId;  // the template's number in the module's resources
  const char* caption;
  const DialogControlDef* controls;
  int controlCount;
};

// The open dialog window, as seen by the behaviour behind it.
class DialogWindow {
 public:
  virtual ~DialogWindow() = default;
  virtual void SetText(int id, const char* text) = 0;
  // Copies at most size - 1 characters and a NUL; returns the length copied.
  virtual int GetText(int id, char* text, int size) = 0;
  virtual void SetCheck(int id, bool checked) = 0;
  virtual bool IsChecked(int id) = 0;
  virtual void Enable(int id, bool enabled) = 0;
  virtual void AddListItem(int id, const char* text) = 0;
  virtual void SelectListItem(int id, int index) = 0;
  // The text of the selected list entry; empty when none is selected.
  virtual int GetSelectedListText(int id, char* text, int size) = 0;
  virtual void SetCaption(const char* text) = 0;
  // A question in a box owned by the dialog, with OK and Cancel; true when the user chose OK.
  // The dialog stays open (and its timers tick) while the box is up.
  virtual bool Ask(const char* text, const char* caption) = 0;
  // Timers owned by the dialog window: they tick only while it is open.
  virtual bool StartTimer(uintptr_t id, uint32_t periodMs) = 0;
  virtual void StopTimer(uintptr_t id) = 0;
  // Ends the modal loop; the opener receives result.
  virtual void End(int result) = 0;
};

// The behaviour of one dialog: called on the host's thread from inside the modal loop.
class DialogHandler {
 public:
  virtual ~DialogHandler() = default;
  virtual void OnInit(DialogWindow& window) = 0;
  virtual void OnTimer(DialogWindow& window, uintptr_t id) = 0;
  // A command from a control: the control's id and its notification code (0: clicked).
  virtual void OnCommand(DialogWindow& window, int id, int notification) = 0;
  // The window's close box.
  virtual void OnClose(DialogWindow& window) = 0;
};

class DialogRunner {
 public:
  virtual ~DialogRunner() = default;
  // Opens the template as a modal dialog without owner window and returns when it ends,
  // with the result given to End. The host's windows stay live beneath it: asked for a dialog
  // that is open already, it opens no second one, brings the open one to the front (where
  // windows have a front) and returns 0 at once.
  virtual int RunModal(const DialogTemplate& dialog, DialogHandler& handler) = 0;
};

}  // namespace torvexan
