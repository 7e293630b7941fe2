#include "platform/posix/menu_model_bar.h"
#include "platform/posix/posix_serial.h"
#include "tools/torvexan-sim/fast_platform.h"

namespace torvexan::sim {

std::unique_ptr<MenuBar> FastMenuBar() {
  return std::make_unique<MenuModelBar>();
}

std::unique_ptr<SerialPort> FastSerialPort() {
  return std::make_unique<PosixSerialPort>();
}

}  // namespace torvexan::sim
