#include "sim/host/plugin_library.h"

#include <dlfcn.h>

#include <type_traits>

namespace torvexan::sim {

PluginLibrary::~PluginLibrary() {
  Close();
}

bool PluginLibrary::Open(const std::string& path, std::string* error) {
  Close();
  // RTLD_LOCAL keeps the plug-in's own symbols out of the way of a second plug-in.
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* reason = dlerror();
    *error = reason != nullptr ? reason : ("cannot load " + path);
    return false;
  }
  void* handle = handle_;
  VisitEntries(table_, [handle](const char* name, auto& slot) {
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(dlsym(handle, name));
  });
  const std::string missing = MissingEntries(table_);
  if (!missing.empty()) {
    *error = path + " does not export: " + missing;
    Close();
    return false;
  }
  return true;
}

void PluginLibrary::Close() {
  if (handle_ != nullptr) dlclose(handle_);
  handle_ = nullptr;
  table_ = PluginTable{};
}

}  // namespace torvexan::sim
