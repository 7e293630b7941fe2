#include <dlfcn.h>

#include "sim/host/plugin_loader.h"

namespace torvexan::sim::loader {

void* Open(const std::string& path, std::string* error) {
  // RTLD_LOCAL keeps the plug-in's own symbols out of the way of a second plug-in.
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* reason = dlerror();
    *error = reason != nullptr ? reason : ("cannot load " + path);
  }
  return library;
}

void* Find(void* library, const char* name) {
  return dlsym(library, name);
}

void Close(void* library) {
  dlclose(library);
}

// The library exports TorvexanDispatchTimers itself: without Windows timers the host's loop
// runs the plug-in's cycle timer through it.
void AddHostEntries(PluginTable&) {}

}  // namespace torvexan::sim::loader
