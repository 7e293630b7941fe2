// What the check needs from the operating system beyond the plug-in's own platform layer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

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

#ifdef _WIN32
// Beside Mach3.exe the check searches for libusb-1.0.dll where the plug-in in Mach3's PlugIns
// folder does: this is that plug-in folder.
std::string UsbPluginFolder();
#endif

// The plug-in's link code prints diagnostic lines on standard output; the report must stay
// clean (JSON above all). Returns a stream on the original standard output and sends standard
// output itself to the null device.
std::FILE* TakeStdoutForReport();

// Started by a double-click, the check is the only program of its console window, which closes
// when it ends: then it asks for a key first, so that the report can be read. Returns at once
// when started from a command prompt or with its input redirected.
void WaitForKeyInOwnWindow(std::FILE* report);

// Asks for a fine system timer, so that waits of a millisecond or two are kept.
void UseFineTimer();

}  // namespace torvexan::check
