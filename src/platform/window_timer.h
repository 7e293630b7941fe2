// Window timers of the host's user-interface thread. On Windows these are SetTimer and
// KillTimer; elsewhere a timer list that the host's loop dispatches on its own thread.
#pragma once

#include <cstdint>

namespace torvexan {

// The tick procedure: window and timer id as the timer system hands them over.
using TimerProc = void (*)(void* context, void* window, uintptr_t id);

class WindowTimer {
 public:
  virtual ~WindowTimer() = default;
  // Starts a timer without owner window; the tick procedure bound to this timer system runs
  // every periodMs on the host's thread. Returns the id the timer system gave the new timer
  // (a timer without owner window gets an id of the system's choosing), 0 on failure.
  virtual uintptr_t Start(uintptr_t id, uint32_t periodMs) = 0;
  // Stops the timer identified by the window and id the tick procedure received.
  virtual void Stop(void* window, uintptr_t id) = 0;
};

}  // namespace torvexan
