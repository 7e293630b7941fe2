// What the Windows test hosts share: the plug-in's 21 entry points looked up by name in the
// loaded Torvexan.dll, and a main window whose menu bar holds the "PlugIn Control" menu.
#pragma once

#include <windows.h>

#include <cstdio>
#include <memory>

#include "host/entry_points.h"
#include "state/host_records.h"

namespace torvexan::win32test {

// The 21 entry points, typed by their declarations.
struct EntryPoints {
  decltype(&::SetProName) SetProName;
  decltype(&::SetDoButton) SetDoButton;
  decltype(&::SetSetDRO) SetSetDRO;
  decltype(&::SetGetDRO) SetGetDRO;
  decltype(&::SetGetLED) SetGetLED;
  decltype(&::SetSetLED) SetSetLED;
  decltype(&::SetCode) SetCode;
  decltype(&::SetGetMenuRange) SetGetMenuRange;
  decltype(&::InitControl) InitControl;
  decltype(&::PostInitControl) PostInitControl;
  decltype(&::Config) Config;
  decltype(&::StopPlug) StopPlug;
  decltype(&::Update) Update;
  decltype(&::Notify) Notify;
  decltype(&::DoDwell) DoDwell;
  decltype(&::Reset) Reset;
  decltype(&::JogOn) JogOn;
  decltype(&::JogOff) JogOff;
  decltype(&::Purge) Purge;
  decltype(&::Probe) Probe;
  decltype(&::Home) Home;
};

template <typename Fn>
bool Find(HMODULE dll, const char* name, Fn& fn) {
  fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(dll, name)));
  if (fn == nullptr) std::printf("missing export %s\n", name);
  return fn != nullptr;
}

// Looks every entry point up by its plain name; names each one that is missing.
inline bool FindAll(HMODULE dll, EntryPoints& e) {
  bool ok = true;
#define TORVEXAN_FIND(name) ok = Find(dll, #name, e.name) && ok
  TORVEXAN_FIND(SetProName);
  TORVEXAN_FIND(SetDoButton);
  TORVEXAN_FIND(SetSetDRO);
  TORVEXAN_FIND(SetGetDRO);
  TORVEXAN_FIND(SetGetLED);
  TORVEXAN_FIND(SetSetLED);
  TORVEXAN_FIND(SetCode);
  TORVEXAN_FIND(SetGetMenuRange);
  TORVEXAN_FIND(InitControl);
  TORVEXAN_FIND(PostInitControl);
  TORVEXAN_FIND(Config);
  TORVEXAN_FIND(StopPlug);
  TORVEXAN_FIND(Update);
  TORVEXAN_FIND(Notify);
  TORVEXAN_FIND(DoDwell);
  TORVEXAN_FIND(Reset);
  TORVEXAN_FIND(JogOn);
  TORVEXAN_FIND(JogOff);
  TORVEXAN_FIND(Purge);
  TORVEXAN_FIND(Probe);
  TORVEXAN_FIND(Home);
#undef TORVEXAN_FIND
  return ok;
}

// The command id the test hosts hand out for the plug-in's menu item.
inline constexpr int kPluginMenuId = 4711;

// The host's callbacks: one command id, and status texts printed.
inline int MenuRange(int count) {
  return count == 1 ? kPluginMenuId : -1;
}
inline void PrintStatus(const char* text) {
  std::printf("host status: %s\n", text);
}

// The four records a host hands to InitControl, alive for as long as the plug-in runs.
struct HostRecords {
  std::unique_ptr<HostMachine> machine = std::make_unique<HostMachine>();
  std::unique_ptr<HostDoubles> doubles = std::make_unique<HostDoubles>();
  std::unique_ptr<HostControl> control = std::make_unique<HostControl>();
  std::unique_ptr<HostFrame> frame = std::make_unique<HostFrame>();

  explicit HostRecords(HWND mainWindow) { frame->MainWindow = mainWindow; }
  bool InitControl(const EntryPoints& e) {
    return e.InitControl(machine.get(), doubles.get(), control.get(), frame.get());
  }
};

inline constexpr const char* kPluginMenuTitle = "PlugIn Control";

// The host's main window: a "File" menu and the "PlugIn Control" menu the plug-in looks for.
// The plug-in menu is handed back through pluginMenu when asked for.
inline HWND CreatePluginHostWindow(const char* className, const char* title,
                                   HMENU* pluginMenu = nullptr) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = ::DefWindowProcA;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.lpszClassName = className;
  ::RegisterClassA(&wc);
  HMENU bar = ::CreateMenu();
  HMENU file = ::CreatePopupMenu();
  ::AppendMenuA(file, MF_STRING, 100, "Exit");
  HMENU plugins = ::CreatePopupMenu();
  ::AppendMenuA(plugins, MF_STRING, 200, "Config Plugins");
  ::AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "File");
  ::AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(plugins), kPluginMenuTitle);
  if (pluginMenu != nullptr) *pluginMenu = plugins;
  return ::CreateWindowA(className, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 400,
                         300, nullptr, bar, wc.hInstance, nullptr);
}

}  // namespace torvexan::win32test
