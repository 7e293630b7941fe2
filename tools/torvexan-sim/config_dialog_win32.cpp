#include <windows.h>

#include "sim/host/host_loop.h"
#include "tools/torvexan-sim/config_dialog.h"

namespace torvexan::sim {
namespace {

constexpr const char* kUpdateWindowClass = "TorvexanSimUpdates";
constexpr UINT_PTR kUpdateTimerId = 1;

// A message-only window whose timer calls Update: the dialog's modal loop dispatches its
// messages as the host's own loop would.
LRESULT CALLBACK UpdateWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER && wParam == kUpdateTimerId) {
    auto* host = reinterpret_cast<VirtualHost*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (host != nullptr) host->Update();
    return 0;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

bool ConfigDialogAvailable(std::string*) {
  return true;
}

int OpenConfigDialog(VirtualHost& host) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = &UpdateWindowProc;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.lpszClassName = kUpdateWindowClass;
  ::RegisterClassA(&wc);  // a second dialog finds the class registered, which is fine
  HWND updates = ::CreateWindowA(kUpdateWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 wc.hInstance, nullptr);
  if (updates != nullptr) {
    ::SetWindowLongPtrA(updates, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&host));
    ::SetTimer(updates, kUpdateTimerId, kUpdatePeriodMs, nullptr);
  }
  host.Update();
  const int result = host.Config();
  if (updates != nullptr) {
    ::KillTimer(updates, kUpdateTimerId);
    ::DestroyWindow(updates);
  }
  return result;
}

}  // namespace torvexan::sim
