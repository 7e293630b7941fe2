#include <windows.h>

#include "sim/host/plugin_loader.h"

namespace torvexan::sim::loader {
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
  const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  return message.empty() ? "error " + std::to_string(code) : message;
}

}  // namespace

void* Open(const std::string& path, std::string* error) {
  const HMODULE library = ::LoadLibraryA(path.c_str());
  if (library == nullptr) *error = "cannot load " + path + ": " + LoaderMessage(::GetLastError());
  return library;
}

void* Find(void* library, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

void Close(void* library) {
  ::FreeLibrary(static_cast<HMODULE>(library));
  // Ticks already queued for the unloaded library would call into nothing.
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE)) {
  }
}

void AddHostEntries(PluginTable& table) {
  table.TorvexanDispatchTimers = &PumpMessages;
}

}  // namespace torvexan::sim::loader
