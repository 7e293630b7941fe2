// The real platform of the build: Win32 on Windows, POSIX elsewhere. Owned by the one plug-in
// instance behind the exported entry points.
#pragma once

#include <memory>

#include "platform/platform.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace torvexan {

#ifdef _WIN32
// A Windows timer procedure (TIMERPROC: window, message, id, time). Windows hands it no
// context, so on Windows the owner of the one plug-in instance supplies one that reaches that
// instance by itself; no other global is needed to route a tick.
using NativeTimerProc = TIMERPROC;
#else
class DialogModel;
#endif

class SystemPlatform {
 public:
#ifdef _WIN32
  // tick is called by Windows on the host's thread for every timer the plug-in starts;
  // dialogProc is the dialog procedure of every dialog the plug-in opens, and must hand its
  // messages to DialogMessage of this platform.
  SystemPlatform(NativeTimerProc tick, DLGPROC dialogProc = nullptr);
#else
  // tick is the window-timer tick procedure, called with context on the host's thread.
  SystemPlatform(TimerProc tick, void* context);
#endif
  ~SystemPlatform();
  SystemPlatform(const SystemPlatform&) = delete;
  SystemPlatform& operator=(const SystemPlatform&) = delete;

  const Platform& platform() const {
    return platform_;
  }

  // Hosts without Windows timers call this from their loop: runs the tick procedure of every
  // timer that is due. Returns the milliseconds until the next timer is due (-1: none runs).
  // On Windows the host's message loop dispatches the timers and this returns -1.
  int DispatchTimers();

#ifdef _WIN32
  // The plug-in's own module, whose resources hold the dialog templates; the loader hands it
  // to DllMain.
  void SetModule(HMODULE module);
  // The folder searched for libusb-1.0.dll after the program's own, when the plug-in's module
  // is not the one to take it from (the card check names Mach3's PlugIns folder).
  void SetUsbPluginFolder(const char* folder);
  INT_PTR DialogMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
#else
  // The dialog model a host without Windows dialogs shows the plug-in's dialogs in; null:
  // dialogs end at once.
  void SetDialogModel(DialogModel* model);
#endif

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
  Platform platform_{};
};

}  // namespace torvexan
