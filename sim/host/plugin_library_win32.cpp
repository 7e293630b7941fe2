#include "sim/host/plugin_library.h"

#include <windows.h>

#include <type_traits>

namespace torvexan::sim {
namespace {

// A Windows host runs the plug-in's cycle timer from its message loop, so the DLL exports no
// TorvexanDispatchTimers. Its slot empties this thread's message queue instead: each due
// WM_TIMER reaches the plug-in's tick procedure through DispatchMessage. Windows keeps the
// timers' schedule itself, so there is no time until the next one to report.
int PumpMessages() {
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
  return -1;
}

std::string LoaderMessage(DWORD code) {
  char text[256] = {};
  const DWORD length =
      ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       0, text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  return message.empty() ? "error " + std::to_string(code) : message;
}

}  // namespace

PluginLibrary::~PluginLibrary() {
  Close();
}

bool PluginLibrary::Open(const std::string& path, std::string* error) {
  Close();
  const HMODULE module = ::LoadLibraryA(path.c_str());
  if (module == nullptr) {
    *error = "cannot load " + path + ": " + LoaderMessage(::GetLastError());
    return false;
  }
  handle_ = module;
  VisitEntries(table_, [module](const char* name, auto& slot) {
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
        reinterpret_cast<void*>(::GetProcAddress(module, name)));
  });
  table_.TorvexanDispatchTimers = &PumpMessages;
  const std::string missing = MissingEntries(table_);
  if (!missing.empty()) {
    *error = path + " does not export: " + missing;
    Close();
    return false;
  }
  return true;
}

void PluginLibrary::Close() {
  if (handle_ != nullptr) {
    ::FreeLibrary(static_cast<HMODULE>(handle_));
    // Ticks already queued for the unloaded library would call into nothing.
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE)) {
    }
  }
  handle_ = nullptr;
  table_ = PluginTable{};
}

}  // namespace torvexan::sim
