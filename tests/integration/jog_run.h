// A jog on the simulated machine, stopped by the host's JogOff once it cruises, with the card's
// position written down every 5 ms: whether the card ever ran dry, and how long and how far the
// axis still went after the stop. Free of any test framework, so the jog test and the jog
// figures program measure alike.
#pragma once

#include <cstdint>
#include <vector>

#include "harness/timeline.h"
#include "integration/machine_rig.h"

namespace torvexan::testing {

// The card's position of one axis in the middle of every 5 ms period (rows run on its edges).
class PositionTrace : public sim::TimeParticipant {
 public:
  static constexpr uint64_t kPeriodMs = 5;
  static constexpr uint64_t kOffsetMs = 2;

  PositionTrace(sim::Timeline& timeline, const sim::VirtualCard& card, int axis)
      : timeline_(timeline), card_(card), axis_(axis) {
    next_ = (timeline.now() / kPeriodMs + 1) * kPeriodMs + kOffsetMs;
    timeline_.Add(this);  // after the network and the bus: samples see this instant's rows
  }
  ~PositionTrace() override { timeline_.Remove(this); }
  PositionTrace(const PositionTrace&) = delete;
  PositionTrace& operator=(const PositionTrace&) = delete;

  uint64_t NextEventMs() const override { return next_; }
  void RunUntil(uint64_t nowMs) override {
    while (nowMs >= next_) {
      samples_.push_back(card_.position(axis_));
      next_ += kPeriodMs;
    }
  }
  const std::vector<int32_t>& samples() const { return samples_; }

 private:
  sim::Timeline& timeline_;
  const sim::VirtualCard& card_;
  int axis_;
  uint64_t next_;
  std::vector<int32_t> samples_;
};

struct JogStop {
  bool ended = false;              // the jog mode ended and the host saw it
  uint32_t underruns = 0;          // the card ran dry during the jog or its stop
  int32_t cruiseStepsPerRow = 0;   // the speed reached, steps per 5 ms
  int rowsBeforeDeceleration = 0;  // full-speed periods from JogOff until the axis slows
  int msToStandstill = 0;          // from JogOff until the last period that moved
  int64_t stepsAfterJogOff = 0;
};

inline constexpr double kJogSpeed = 20.0;          // units/s: 100 steps a row at 1000 steps/unit
inline constexpr double kJogAcceleration = 200.0;  // units/s^2
inline constexpr int kJogCruiseTicks = 60;         // ticks between JogOn and JogOff

// Jogs X with the given JogBufSize, stops it after cruiseTicks and measures the stop.
inline JogStop JogAndStop(MachineRig& machine, uint32_t jogBufSize,
                          int cruiseTicks = kJogCruiseTicks, int maxStopTicks = 500) {
  JogStop r;
  machine.state().settings.JogBufSize = jogBufSize;
  machine.host().control->Acceleration[0] = kJogAcceleration;
  const uint32_t underrunsBefore = machine.card().stats().underruns;
  PositionTrace trace(machine.world().timeline, machine.card(), 0);
  machine.plugin().JogOn(0, 0, kJogSpeed);
  machine.RunTicks(cruiseTicks);
  const size_t off = trace.samples().size();
  machine.plugin().JogOff(0);
  const HostMachine& host = *machine.host().machine;
  r.ended = machine.RunUntil(
      [&] { return host.Jogging == 0 && machine.state().motion.MotionMode == kQueueStreaming; },
      maxStopTicks);
  machine.RunTicks(5);
  r.underruns = machine.card().stats().underruns - underrunsBefore;

  const std::vector<int32_t>& p = trace.samples();
  if (off < 2 || p.size() <= off) return r;
  r.cruiseStepsPerRow = p[off - 1] - p[off - 2];
  // The S-curve leaves the first rows of the deceleration at full speed within a step.
  size_t slowing = off;
  while (slowing < p.size() && p[slowing] - p[slowing - 1] >= r.cruiseStepsPerRow - 1) ++slowing;
  r.rowsBeforeDeceleration = static_cast<int>(slowing - off);
  size_t last = off;
  for (size_t i = off; i < p.size(); ++i) {
    if (p[i] != p[i - 1]) last = i + 1;
  }
  r.msToStandstill = static_cast<int>((last - off) * PositionTrace::kPeriodMs);
  r.stepsAfterJogOff = p.back() - p[off - 1];
  return r;
}

}  // namespace torvexan::testing
