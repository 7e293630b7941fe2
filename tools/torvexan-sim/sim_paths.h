// Where torvexan-sim finds the plug-in, the virtual card and the substitute libusb when the
// command line does not say. The virtual cards run on Linux only, so on Windows there is only
// the plug-in to find.
#pragma once

#include <string>

namespace torvexan::sim {

std::string DefaultPluginPath();
bool FileExists(const std::string& path);
#ifndef _WIN32
std::string DefaultCardProgram();
std::string DefaultUsbLibDir();
#endif

}  // namespace torvexan::sim
