// The dialog model a host on a system without Windows dialogs hands to the plug-in: it stands
// in for the dialog window, holding each control's text, check, enabled state and list, the
// caption and the dialog's timers. The host plays the user through it (typing, clicking, the
// close box) and fires its timers from its own loop. Fixed capacity: opening a dialog
// allocates nothing.
#pragma once

#include <cstdint>

#include "platform/dialog.h"

namespace torvexan {

class DialogModel final : public DialogWindow {
 public:
  static constexpr int kMaxControls = 48;
  static constexpr int kMaxText = 128;
  static constexpr int kMaxListItems = 8;
  static constexpr int kMaxListText = 32;
  static constexpr int kMaxTimers = 4;
  static constexpr int kMaxQuestion = 1024;

  // The host's modal loop: runs while the dialog is open, until the user (the host) has ended
  // it. Without one a dialog ends as if its close box had been pressed at once.
  using ModalLoop = void (*)(void* context, DialogModel& dialog);
  void SetModalLoop(ModalLoop loop, void* context) {
    loop_ = loop;
    loopContext_ = context;
  }

  // Opens a template: controls and caption as the template has them, then the behaviour's
  // initialisation, then the host's modal loop. Returns the dialog's result.
  int Run(const DialogTemplate& dialog, DialogHandler& handler);

  // What the user does.
  void Type(int id, const char* text);
  void Click(int id);  // a push button or check box; disabled controls take no clicks
  void Choose(int id, int index);
  void PressCloseBox();
  // The host's loop fires a dialog timer; a timer that is not running does nothing.
  void FireTimer(uintptr_t id);
  // How the user answers the behaviour's questions from now on (OK until told otherwise).
  void AnswerQuestions(bool ok) { answer_ = ok; }

  // What the user sees.
  bool open() const { return handler_ != nullptr; }
  int result() const { return result_; }
  int resourceId() const { return resourceId_; }
  const char* caption() const { return caption_; }
  const char* Text(int id) const;
  bool Checked(int id) const;
  bool Enabled(int id) const;
  int ListCount(int id) const;
  const char* ListItem(int id, int index) const;
  int Selection(int id) const;  // -1: none
  bool TimerRunning(uintptr_t id) const;
  uint32_t TimerPeriodMs(uintptr_t id) const;  // 0: not running
  int RunningTimers() const;
  // The last question asked (empty: none since the dialog opened), and how many were asked.
  const char* LastQuestion() const { return question_; }
  int Questions() const { return questions_; }

  // DialogWindow, the behaviour's side.
  void SetText(int id, const char* text) override;
  int GetText(int id, char* text, int size) override;
  void SetCheck(int id, bool checked) override;
  bool IsChecked(int id) override;
  void Enable(int id, bool enabled) override;
  void AddListItem(int id, const char* text) override;
  void SelectListItem(int id, int index) override;
  int GetSelectedListText(int id, char* text, int size) override;
  void SetCaption(const char* text) override;
  bool Ask(const char* text, const char* caption) override;
  bool StartTimer(uintptr_t id, uint32_t periodMs) override;
  void StopTimer(uintptr_t id) override;
  void End(int result) override;

 private:
  struct Control {
    int id;
    DialogControlKind kind;
    char text[kMaxText];
    bool checked;
    bool enabled;
    char list[kMaxListItems][kMaxListText];
    int listCount;
    int selection;
  };
  struct Timer {
    uintptr_t id;
    uint32_t periodMs;
  };

  Control* Find(int id);
  const Control* Find(int id) const;

  ModalLoop loop_ = nullptr;
  void* loopContext_ = nullptr;
  DialogHandler* handler_ = nullptr;  // set while the dialog is open
  bool ending_ = false;
  int result_ = 0;
  int resourceId_ = 0;
  char caption_[kMaxText] = {};
  Control controls_[kMaxControls] = {};
  int controlCount_ = 0;
  Timer timers_[kMaxTimers] = {};
  bool answer_ = true;
  char question_[kMaxQuestion] = {};
  int questions_ = 0;
};

}  // namespace torvexan
