// The USB side of the check: the libusb library, the card's device and its connect handshake.
#pragma once

#include "check_report.h"
#include "platform/platform.h"

namespace torvexan::check {

// Fills the device part of the report through the plug-in's USB transport. The library part
// (where it was looked for) is the caller's: it depends on the system.
void CheckUsbCard(const Platform& platform, double tickMs, UsbReport& r);

}  // namespace torvexan::check
