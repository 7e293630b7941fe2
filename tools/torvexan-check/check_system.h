// What the check needs from the operating system beyond the plug-in's own platform layer.
#pragma once

#include <cstdint>
#include <cstdio>

#include "check_report.h"
#include "platform/net_api.h"

namespace torvexan::check {

// Waits up to timeoutMs for the socket to become readable.
bool WaitReadable(SocketHandle s, int timeoutMs);

// The network mask of a local address (network byte order); false when no interface has it.
bool LocalMask(uint32_t address, uint32_t* mask);

// Where the system looks for the libusb library the plug-in loads, and where (and whether) it
// finds a usable one. Fills the library fields of the report.
void ProbeUsbLibrary(UsbReport& r);

// The plug-in's link code prints diagnostic lines on standard output; the report must stay
// clean (JSON above all). Returns a stream on the original standard output and sends standard
// output itself to the null device.
std::FILE* TakeStdoutForReport();

// Asks for a fine system timer, so that waits of a millisecond or two are kept.
void UseFineTimer();

}  // namespace torvexan::check
