#include "sim/host/plugin_library.h"

#include <type_traits>

#include "sim/host/plugin_loader.h"

namespace torvexan::sim {

PluginLibrary::~PluginLibrary() {
  Close();
}

bool PluginLibrary::Open(const std::string& path, std::string* error) {
  Close();
  handle_ = loader::Open(path, error);
  if (handle_ == nullptr) return false;
  void* handle = handle_;
  VisitEntries(table_, [handle](const char* name, auto& slot) {
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(loader::Find(handle, name));
  });
  loader::AddHostEntries(table_);
  const std::string missing = MissingEntries(table_);
  if (!missing.empty()) {
    *error = path + " does not export: " + missing;
    Close();
    return false;
  }
  return true;
}

void PluginLibrary::Close() {
  if (handle_ != nullptr) loader::Close(handle_);
  handle_ = nullptr;
  table_ = PluginTable{};
}

}  // namespace torvexan::sim
