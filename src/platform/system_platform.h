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
#endif

class SystemPlatform {
 public:
#ifdef _WIN32
  // tick is called by Windows on the host's thread for every timer the plug-in starts.
  explicit SystemPlatform(NativeTimerProc tick);
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

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
  Platform platform_{};
};

}  // namespace torvexan
