#include "sim/host/host_main_window.h"

#include <windows.h>

namespace torvexan::sim {
namespace {

constexpr const char* kWindowClass = "TorvexanSimHost";
constexpr UINT kExitCommandId = 100;
constexpr int kWindowWidth = 640;
constexpr int kWindowHeight = 480;
constexpr int kMaxLabel = 64;

}  // namespace

struct HostMainWindow::Parts {
  HWND window = nullptr;
  HMENU pluginMenu = nullptr;
};

HostMainWindow::HostMainWindow() : parts_(std::make_unique<Parts>()) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = ::DefWindowProcA;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.lpszClassName = kWindowClass;
  // A second window of this program finds the class already registered, which is fine.
  ::RegisterClassA(&wc);
  HMENU bar = ::CreateMenu();
  HMENU file = ::CreatePopupMenu();
  parts_->pluginMenu = ::CreatePopupMenu();
  ::AppendMenuA(file, MF_STRING, kExitCommandId, "Exit");
  ::AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "File");
  ::AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(parts_->pluginMenu), kPluginMenuTitle);
  // The window is never shown: the plug-in only needs its menu bar.
  parts_->window = ::CreateWindowA(kWindowClass, "torvexan-sim", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                   CW_USEDEFAULT, kWindowWidth, kWindowHeight, nullptr, bar,
                                   wc.hInstance, nullptr);
  // Without a window nobody owns the menus.
  if (parts_->window == nullptr) {
    ::DestroyMenu(bar);
    parts_->pluginMenu = nullptr;
  }
}

HostMainWindow::~HostMainWindow() {
  // The window takes its menu bar and the bar's submenus with it.
  if (parts_->window != nullptr) ::DestroyWindow(parts_->window);
}

HostWindow HostMainWindow::handle() const {
  return parts_->window;
}

bool HostMainWindow::LastPluginItem(std::string* label, uint32_t* id) const {
  if (parts_->pluginMenu == nullptr) return false;
  const int count = ::GetMenuItemCount(parts_->pluginMenu);
  char text[kMaxLabel] = {};
  MENUITEMINFOA item{};
  item.cbSize = sizeof item;
  item.fMask = MIIM_ID | MIIM_STRING;
  item.dwTypeData = text;
  item.cch = sizeof text;
  if (count <= 0 ||
      !::GetMenuItemInfoA(parts_->pluginMenu, static_cast<UINT>(count - 1), TRUE, &item)) {
    return false;
  }
  *label = text;
  *id = item.wID;
  return true;
}

}  // namespace torvexan::sim
