#include "host/timer_cycle.h"

#include "link/link_machine.h"
#include "motion/motion_machine.h"
#include "signals/request_dispatcher.h"

namespace torvexan {

namespace {

constexpr uint32_t kLimitOverrideFlag = 0x40;  // header flag while limits are overridden

void StopCycleTimer(PluginState& s, void* window, uintptr_t id) {
  s.platform.timer->Stop(window, id);
  if (id == s.timerId) s.timerId = 0;
  s.TimerRunning = false;
}

}  // namespace

void NoteUpdate(PluginState& s) {
  s.UpdateSeen = true;
  // Only one cycle timer at a time: several Updates before its first tick must not start
  // more timers, or the cycle would run at a multiple of its period.
  if (!s.TimerRunning && s.timerId == 0) {
    s.timerId = s.platform.timer->Start(kCycleTimerId, kTickPeriodMs);
  }
}

void CycleTick(PluginState& s, void* window, uintptr_t id) {
  if (s.lifecycle != Lifecycle::kRunning) {
    StopCycleTimer(s, window, id);
    return;
  }
  ++s.IdleTicks;
  if (s.IdleTicks > kIdleTicksBeforeStop) {
    if (!s.UpdateSeen) {
      StopCycleTimer(s, window, id);
      return;
    }
    s.UpdateSeen = false;
    s.IdleTicks = 0;
    s.TimerRunning = true;
  } else if (s.UpdateSeen) {
    s.UpdateSeen = false;
    s.IdleTicks = 0;
    s.TimerRunning = true;
  }
  // The host's message loop may run inside a tick (inside a host callback); such a nested
  // tick only keeps the books.
  if (s.InTick) return;
  ++s.TickCount;
  s.InTick = true;
  if (CardSession* session = s.session.get()) {
    session->headerFlags = s.host.machine->LimitOverride != 0 ? kLimitOverrideFlag : 0;
    if (session->online) {
      DispatchRequests(s);
      MotionTick(s);
    }
    LinkTick(s);
  }
  s.InTick = false;
}

}  // namespace torvexan
