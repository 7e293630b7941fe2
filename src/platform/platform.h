// The platform the plug-in runs on: one narrow interface per facility. The system build
// wires the real Win32 or POSIX implementations; tests hand in fakes.
#pragma once

#include "platform/clock.h"
#include "platform/dialog.h"
#include "platform/menu_bar.h"
#include "platform/message_box.h"
#include "platform/net_api.h"
#include "platform/serial_port.h"
#include "platform/usb_library.h"
#include "platform/window_timer.h"

namespace torvexan {

struct Platform {
  NetApi* net;
  WindowTimer* timer;
  MenuBar* menu;
  MessageBox* messageBox;
  Clock* clock;
  UsbLoader* usb;
  SerialPort* serial;     // may be null: the notifications for the COM port then send nothing
  DialogRunner* dialogs;  // null: a platform without dialogs
};

}  // namespace torvexan
