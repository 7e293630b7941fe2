#include "platform/win32/win32_dialogs.h"

namespace torvexan {

namespace {

// A dialog box seen through the behaviour's narrow window interface.
class Win32DialogWindow final : public DialogWindow {
 public:
  explicit Win32DialogWindow(HWND window) : w_(window) {}

  void SetText(int id, const char* text) override { ::SetDlgItemTextA(w_, id, text); }

  int GetText(int id, char* text, int size) override {
    if (size <= 0) return 0;
    text[0] = '\0';
    return static_cast<int>(::GetDlgItemTextA(w_, id, text, size));
  }

  void SetCheck(int id, bool checked) override {
    ::CheckDlgButton(w_, id, checked ? BST_CHECKED : BST_UNCHECKED);
  }

  bool IsChecked(int id) override { return ::IsDlgButtonChecked(w_, id) == BST_CHECKED; }

  void Enable(int id, bool enabled) override { ::EnableWindow(::GetDlgItem(w_, id), enabled); }

  void AddListItem(int id, const char* text) override {
    ::SendDlgItemMessageA(w_, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
  }

  void SelectListItem(int id, int index) override {
    ::SendDlgItemMessageA(w_, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }

  int GetSelectedListText(int id, char* text, int size) override {
    if (size <= 0) return 0;
    text[0] = '\0';
    const LRESULT index = ::SendDlgItemMessageA(w_, id, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return 0;
    // CB_GETLBTEXT takes no buffer size: an entry longer than the buffer is not read.
    const LRESULT length = ::SendDlgItemMessageA(w_, id, CB_GETLBTEXTLEN, index, 0);
    if (length == CB_ERR || length >= size) return 0;
    const LRESULT copied =
        ::SendDlgItemMessageA(w_, id, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
    return copied == CB_ERR ? 0 : static_cast<int>(copied);
  }

  void SetCaption(const char* text) override { ::SetWindowTextA(w_, text); }

  bool Ask(const char* text, const char* caption) override {
    return ::MessageBoxA(w_, text, caption, MB_OKCANCEL | MB_ICONWARNING | MB_DEFBUTTON2) == IDOK;
  }

  bool StartTimer(uintptr_t id, uint32_t periodMs) override {
    return ::SetTimer(w_, id, periodMs, nullptr) != 0;
  }

  void StopTimer(uintptr_t id) override { ::KillTimer(w_, id); }

  void End(int result) override { ::EndDialog(w_, result); }

 private:
  HWND w_;
};

DialogHandler* HandlerOf(HWND window) {
  return reinterpret_cast<DialogHandler*>(::GetWindowLongPtrA(window, DWLP_USER));
}

}  // namespace

int Win32DialogRunner::RunModal(const DialogTemplate& dialog, DialogHandler& handler) {
  if (proc_ == nullptr) return -1;
  // One of each at a time: a second open of the dialog on the screen brings that one to the
  // front and does nothing else.
  if (shown_ != nullptr && shownResource_ == dialog.resourceId) {
    ::SetForegroundWindow(shown_);
    return 0;
  }
  DialogHandler* const outer = opening_;
  const int outerResource = shownResource_;
  const HWND outerShown = shown_;
  opening_ = &handler;
  shownResource_ = dialog.resourceId;
  shown_ = nullptr;  // until its window exists
  const INT_PTR result =
      ::DialogBoxParamA(module_, MAKEINTRESOURCEA(dialog.resourceId), nullptr, proc_, 0);
  opening_ = outer;
  shownResource_ = outerResource;
  shown_ = outerShown;
  return static_cast<int>(result);  // -1: the dialog could not be created
}

INT_PTR Win32DialogRunner::Message(HWND window, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    // From here on the window itself knows its behaviour, so dialogs opened from inside this
    // one's modal loop do not mix up their messages.
    DialogHandler* handler = opening_;
    if (handler == nullptr) return TRUE;
    ::SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(handler));
    shown_ = window;
    Win32DialogWindow w(window);
    handler->OnInit(w);
    return TRUE;  // the dialog manager sets the default focus
  }
  DialogHandler* handler = HandlerOf(window);
  if (handler == nullptr) return FALSE;
  Win32DialogWindow w(window);
  switch (message) {
    case WM_TIMER:
      handler->OnTimer(w, wParam);
      return TRUE;
    case WM_COMMAND:
      handler->OnCommand(w, LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_CLOSE:
      handler->OnClose(w);
      return TRUE;
    case WM_NCDESTROY:
      ::SetWindowLongPtrA(window, DWLP_USER, 0);
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace torvexan
