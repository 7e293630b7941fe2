#pragma once

#include "platform/window_timer.h"

namespace torvexan {

// Window timers for hosts without Windows: a fixed list of periodic timers that the host's
// loop dispatches on its own thread. Times are milliseconds of a monotonic clock.
class TimerList final : public WindowTimer {
 public:
  static constexpr int kMaxTimers = 8;

  TimerList(TimerProc tick, void* context, uint32_t (*now)())
      : tick_(tick), context_(context), now_(now) {}

  uintptr_t Start(uintptr_t id, uint32_t periodMs) override;
  void Stop(void* window, uintptr_t id) override;

  // Runs the tick procedure once for every timer that is due (a late timer is not run twice
  // to catch up). Returns the milliseconds until the next one is due, -1 when none runs.
  int Dispatch();
  int ActiveCount() const;

 private:
  struct Entry {
    uintptr_t id;
    uint32_t periodMs;
    uint32_t dueAt;
    bool active;
  };
  TimerProc tick_;
  void* context_;
  uint32_t (*now_)();
  Entry entries_[kMaxTimers] = {};
  uintptr_t nextId_ = 1;
};

}  // namespace torvexan
