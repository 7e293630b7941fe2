// What opening a library means on this system: dlopen and dlsym (plugin_library_posix.cpp) or
// LoadLibraryA and GetProcAddress (plugin_library_win32.cpp).
#pragma once

#include <string>

#include "sim/host/plugin_table.h"

namespace torvexan::sim::loader {

// The library's handle; null (the loader's message in *error) when it cannot be loaded.
void* Open(const std::string& path, std::string* error);
void* Find(void* library, const char* name);
void Close(void* library);
// Fills the slots that a host on this system provides itself rather than the library.
void AddHostEntries(PluginTable& table);

}  // namespace torvexan::sim::loader
