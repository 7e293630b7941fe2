// Where torvexan-sim finds the plug-in, the virtual card and the substitute libusb when the
// command line does not say.
#pragma once

#include <string>

namespace torvexan::sim {

std::string DefaultPluginPath();
std::string DefaultCardProgram();
std::string DefaultUsbLibDir();
bool FileExists(const std::string& path);

}  // namespace torvexan::sim
