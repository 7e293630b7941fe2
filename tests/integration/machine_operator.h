// A machine set up for homing, probing and jogging, and the host around it as the operator
// sees it: each tick the host's planner tops up its job (and drops it once in emergency stop),
// the host takes note of every ended sequence, and the operator may keep turning the handwheel.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "integration/job_feeder.h"
#include "integration/machine_fixture.h"
#include "signals/io_config.h"

namespace torvexan::testing {

inline constexpr uint8_t kHomePin = 1;              // card input of X's home switch
inline constexpr uint8_t kProbePin = 2;             // card input of the probe
inline constexpr double kAxisSpeed = 10.0;          // units per second
inline constexpr double kAxisAcceleration = 100.0;  // units per second squared
inline constexpr double kStepsPerUnit = 1000.0;     // as the rig sets it
inline constexpr int32_t kProbeSentinel = 0x5EA5;   // ProbeCounts nobody wrote

class MachineOperator {
 public:
  explicit MachineOperator(const CardCase& card) : machine(card.model), axes(card.axes) {
    HostMachine& m = *host().machine;
    HostControl& c = *host().control;
    m.InputSignals[HomeInput(0)] = InputSignal{1, kHomePin, kCardPort, 0, 0};
    m.InputSignals[kProbeInput] = InputSignal{1, kProbePin, kCardPort, 0, 0};
    for (int a = 0; a < kHostAxisCount; ++a) {
      c.MaxVelocity[a] = kAxisSpeed;
      c.Acceleration[a] = kAxisAcceleration;
      m.Axes[a].ProbeCounts = kProbeSentinel;
      m.Axes[a].ProbeFlag = 1;
    }
    c.HomeSpeedPercent[0] = 50;
    c.HomeNegative[0] = 1;
    c.FeedPerSecond = 5.0;
  }

  HostWorld& host() { return machine.host(); }
  sim::VirtualCard& card() { return machine.card(); }
  PluginState& state() { return machine.state(); }
  Plugin& plugin() { return machine.plugin(); }
  bool online() { return state().session->online != 0; }

  // The host starts a job of the given length; it is fed as the plug-in takes it.
  void StartJob(int slices) {
    job = std::make_unique<JobFeeder>(host(), axes, slices);
    job->Fill();
  }

  // One tick of the machine with the host and the operator around it.
  void Tick() {
    HostMachine& m = *host().machine;
    if (job) {
      if (m.EStop) {
        job->Abandon();
      } else {
        job->Fill();
      }
    }
    if (wheelCountsPerTick != 0) card().machine().TurnHandwheel(wheelCountsPerTick);
    if (m.SequenceEnded) {
      m.SequenceEnded = 0;
      ++sequenceEnds;
    }
    machine.Tick();
  }
  void RunTicks(int n) {
    for (int i = 0; i < n; ++i) Tick();
  }
  template <typename Done>
  bool RunUntil(Done done, int maxTicks) {
    return TickUntil([this] { Tick(); }, done, maxTicks);
  }

  // Pulls the cable (or the USB plug) of the card, or puts it back.
  void Unplug(bool out) {
    if (machine.netCard()) machine.netCard()->unplugged = out;
    if (machine.usbCard()) machine.usbCard()->plugged = !out;
  }

  bool Reported(const char* text) const {
    for (const std::string& code : HostCallbacks::Codes()) {
      if (code == text) return true;
    }
    return false;
  }

  SimulatedMachine machine;
  int axes;
  std::unique_ptr<JobFeeder> job;
  int32_t wheelCountsPerTick = 0;
  int sequenceEnds = 0;
};

}  // namespace torvexan::testing
