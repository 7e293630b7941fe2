// Loads the plug-in the way the host loads one: open the shared library and look up each
// exported function by name (dlopen on POSIX systems, LoadLibraryA on Windows).
#pragma once

#include <string>

#include "sim/host/plugin_table.h"

namespace torvexan::sim {

class PluginLibrary {
 public:
  PluginLibrary() = default;
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;
  ~PluginLibrary();

  // Opens the library at path and binds every entry point. On failure the reason (the
  // loader's message, or the names that are not exported) goes to *error. On Windows the
  // timer slot pumps the thread's messages, which is how the DLL's own timers run.
  bool Open(const std::string& path, std::string* error);
  void Close();

  const PluginTable& table() const { return table_; }

 private:
  void* handle_ = nullptr;
  PluginTable table_;
};

}  // namespace torvexan::sim
