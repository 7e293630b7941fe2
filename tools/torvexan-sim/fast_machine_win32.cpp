#include "platform/win32/win32_menu_bar.h"
#include "tools/torvexan-sim/fast_platform.h"

namespace torvexan::sim {

std::unique_ptr<MenuBar> FastMenuBar() {
  return std::make_unique<Win32MenuBar>();
}

std::unique_ptr<SerialPort> FastSerialPort() {
  return nullptr;
}

}  // namespace torvexan::sim
