#include "sim/host/host_loop.h"

#include <algorithm>

namespace torvexan::sim {

int HostLoop::RunOnce(uint64_t nowMs) {
  if (!updated_ || nowMs >= nextUpdateMs_) {
    host_.Update();
    ++updates_;
    nextUpdateMs_ = updated_ ? nextUpdateMs_ + kUpdatePeriodMs : nowMs + kUpdatePeriodMs;
    // A late pass does not make up for missed Update calls with a burst of them.
    if (nextUpdateMs_ <= nowMs) nextUpdateMs_ = nowMs + kUpdatePeriodMs;
    updated_ = true;
  }
  const int timerMs = host_.DispatchTimers();
  driver_.Step(nowMs);
  int waitMs = static_cast<int>(std::min<uint64_t>(nextUpdateMs_ - nowMs, kMaxWaitMs));
  if (timerMs >= 0) waitMs = std::min(waitMs, timerMs);
  return waitMs;
}

}  // namespace torvexan::sim
