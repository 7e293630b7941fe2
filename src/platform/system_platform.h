// The real platform of the build: Win32 on Windows, POSIX elsewhere. Owned by the one plug-in
// instance behind the exported entry points.
#pragma once

#include <memory>

#include "platform/platform.h"

namespace torvexan {

class SystemPlatform {
 public:
  // tick is the window-timer tick procedure, called with context on the host's thread.
  SystemPlatform(TimerProc tick, void* context);
  ~SystemPlatform();
  SystemPlatform(const SystemPlatform&) = delete;
  SystemPlatform& operator=(const SystemPlatform&) = delete;

  const Platform& platform() const { return platform_; }

  // Hosts without Windows timers call this from their loop: runs the tick procedure of every
  // timer that is due. Returns the milliseconds until the next timer is due (-1: none runs).
  int DispatchTimers();

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
  Platform platform_{};
};

}  // namespace torvexan
