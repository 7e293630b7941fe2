// Modal dialogs from the templates of the plug-in's own module.
#pragma once

#include <windows.h>

#include "platform/dialog.h"

namespace torvexan {

class Win32DialogRunner final : public DialogRunner {
 public:
  // dialogProc is a procedure that reaches this runner's Message by itself: Windows hands a
  // dialog procedure no context before the dialog's first message.
  Win32DialogRunner(HMODULE module, DLGPROC dialogProc) : module_(module), proc_(dialogProc) {}

  // The module whose resources hold the templates.
  void SetModule(HMODULE module) { module_ = module; }

  int RunModal(const DialogTemplate& dialog, DialogHandler& handler) override;

  // The dialog procedure's work, for every dialog this runner opened.
  INT_PTR Message(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  HMODULE module_;
  DLGPROC proc_;
  DialogHandler* opening_ = nullptr;  // the handler of the dialog being created
  // The dialog shown last, and its template: it has no owner window, so the host's menu stays
  // live beneath it and may ask for the same dialog again.
  int shownResource_ = 0;
  HWND shown_ = nullptr;
};

}  // namespace torvexan
