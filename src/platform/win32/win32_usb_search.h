// Where libusb-1.0.dll is taken from, shared by the plug-in and the card check so that the
// check reports the search the plug-in makes: the host program's folder, the plug-in's own
// folder and the system folder, in this order. Never the current directory (a file dialog of
// the host moves it to wherever the user opened a job, and a libusb-1.0.dll lying there would
// run inside the host) and never the folders of the PATH.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace torvexan {

inline constexpr const char* kUsbLibraryFileName = "libusb-1.0.dll";

// The folder of a module's file (null: the program's); empty when unknown.
std::string ModuleFolder(HMODULE module);

// The folders searched, in order, each once: the program's, the plug-in's (pluginFolder) and
// the system folder.
std::vector<std::string> UsbLibraryFolders(const std::string& pluginFolder);

// Loads the library from the first of the folders that holds a loadable copy; its own imports
// resolve from its folder and the system folder only. Null when none loads; *path (when given)
// is then empty.
HMODULE LoadUsbLibrary(const std::vector<std::string>& folders, std::string* path = nullptr);

}  // namespace torvexan
