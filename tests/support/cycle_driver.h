// Drives a plug-in in front of virtual cards as the host and the clock would: the host's
// Update every 100 ms, the cycle timer firing, 20 ms passing for everybody; and the operator's
// reset of a card that powered up halted.
#pragma once

#include "harness/sim_world.h"
#include "support/fake_platform.h"
#include "support/host_world.h"

namespace torvexan::testing {

inline constexpr uint32_t kTickMs = 20;
inline constexpr int kHostUpdateEveryTicks = 5;  // the host's Update comes every 100 ms

// Runs tick() until done() holds, at most maxTicks times; false when it never did.
template <typename TickFn, typename Done>
bool TickUntil(TickFn tick, Done done, int maxTicks) {
  for (int i = 0; i < maxTicks; ++i) {
    if (done()) return true;
    tick();
  }
  return done();
}

class CycleDriver {
 public:
  CycleDriver(Plugin& plugin, ManualTimer& timer, sim::SimWorld& world)
      : plugin_(plugin), timer_(timer), world_(world) {}

  // One firing of the plug-in's cycle timer alone: no Update, no time passing.
  void TimerTick() {
    if (!timer_.running.empty()) plugin_.OnTimer(nullptr, timer_.running.front());
  }
  // The host's window timer fires late where the system's timer granularity rounds its 20 ms
  // up (to 31.25 ms at 64 Hz): ticks then come every periodUs microseconds.
  void SetTickPeriodUs(uint32_t periodUs) { tickUs_ = periodUs; }
  uint32_t tickPeriodUs() const { return tickUs_; }

  // One tick of the plug-in's cycle, then a tick period passes (the fraction of a millisecond
  // is carried to the next tick).
  void Tick() {
    if (ticks_ % kHostUpdateEveryTicks == 0) plugin_.Update();
    ++ticks_;
    TimerTick();
    carryUs_ += tickUs_;
    world_.Advance(carryUs_ / 1000);
    carryUs_ %= 1000;
  }
  void RunTicks(int n) {
    for (int i = 0; i < n; ++i) Tick();
  }
  template <typename Done>
  bool RunUntil(Done done, int maxTicks) {
    return TickUntil([this] { Tick(); }, done, maxTicks);
  }

  // What the host does when the operator presses reset after an emergency stop: clear EStop,
  // call Reset, and once the card is configured and ready take note of the ended sequence.
  bool ResetFromEmergencyStop(HostWorld& host, const sim::VirtualCard& card) {
    host.machine->EStop = 0;
    plugin_.Reset();
    if (!RunUntil([&] { return card.state() == 1 && plugin_.state().requests.RequestFlags == 0; },
                  300)) {
      return false;
    }
    host.machine->SequenceEnded = 0;
    return true;
  }

  // Waits for the link and the model, then resets the card out of its power-up halt as an
  // operator would. Returns what went wrong, or nullptr.
  const char* ConnectAndReset(HostWorld& host, const sim::VirtualCard& card) {
    const PluginState& s = plugin_.state();
    if (!RunUntil([&] { return s.session->online && s.session->cardType != kCardUnknown; }, 500)) {
      return "the card never came online";
    }
    RunTicks(3);
    if (!ResetFromEmergencyStop(host, card)) return "the card never became ready";
    RunTicks(3);
    return host.machine->EStop == 0 ? nullptr : "the emergency stop came back";
  }

 private:
  Plugin& plugin_;
  ManualTimer& timer_;
  sim::SimWorld& world_;
  uint64_t ticks_ = 0;
  uint32_t tickUs_ = kTickMs * 1000;
  uint64_t carryUs_ = 0;
};

}  // namespace torvexan::testing
