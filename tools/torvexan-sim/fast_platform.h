// What of the system the plug-in may use in a run with --fast: the host's menu bar, and on
// Linux the COM ports under $TORVEXAN_SERIAL_DIR (the simulated Modbus device). Its sockets
// and libusb are the virtual network's and bus's: a dry run never reaches a real card.
#pragma once

#include <memory>

#include "platform/menu_bar.h"
#include "platform/serial_port.h"

namespace torvexan::sim {

std::unique_ptr<MenuBar> FastMenuBar();
// Null on Windows: the user codes of a dry run write to no COM port of the PC.
std::unique_ptr<SerialPort> FastSerialPort();

}  // namespace torvexan::sim
