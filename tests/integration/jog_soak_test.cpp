// The soak's host (jobs checked step-exact; jogs, dwells, homing and probing between them) on a
// virtual Lorn5 behind a lossy, late and duplicating network that also damages replies, falls
// silent, restarts the card and presses its emergency stop, all in virtual time. The replies
// carry no checksum: a damaged one must still never cost a step (it is held back when the card
// cannot have said it, and asked for again), no job may end off and no jog may run on after
// JogOff.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "e2e/example_jobs.h"
#include "e2e/link_exercise.h"
#include "integration/machine_rig.h"
#include "signals/io_config.h"

namespace torvexan::testing {
namespace {

constexpr uint64_t kRunMs = 1800000;
constexpr uint64_t kSilenceEveryMs = 47000;
constexpr uint64_t kLongestSilenceMs = 6000;  // long enough to lose the link, or not
constexpr uint64_t kRebootEveryMs = 83000;
constexpr uint64_t kEstopEveryMs = 31000;
constexpr uint64_t kEstopHoldMs = 300;
// X and Y reference on switches 30 mm below where they stand at power-up, Z on one 10 mm above;
// the work's top is 12.5 mm below Z's power-up position. Card inputs 1 to 3 and 5.
constexpr int32_t kXYHomeSteps = -30000;
constexpr int32_t kZHomeSteps = 10000;
constexpr int32_t kSurfaceSteps = -12500;
constexpr uint8_t kFirstHomePin = 1;
constexpr uint8_t kProbePin = 5;

void PressReset(void* context) {
  static_cast<MachineRig*>(context)->plugin().Reset();
}
void JogOn(void* context, int axis, int direction, double speed) {
  static_cast<MachineRig*>(context)->plugin().JogOn(axis, direction, speed);
}
void JogOff(void* context, int axis) {
  static_cast<MachineRig*>(context)->plugin().JogOff(axis);
}
void Dwell(void* context, double seconds) {
  static_cast<MachineRig*>(context)->plugin().DoDwell(seconds);
}
void Home(void* context, int axis) {
  static_cast<MachineRig*>(context)->plugin().Home(axis);
}
void Probe(void* context) {
  static_cast<MachineRig*>(context)->plugin().Probe();
}

// The home switches and the probe on the card's machine, and the host's signal tables and
// referencing values that go with them.
void WireSwitches(MachineRig& rig) {
  sim::Machine& machine = rig.card().machine();
  machine.SetHome(0, kXYHomeSteps);
  machine.SetHome(1, kXYHomeSteps);
  machine.SetHome(2, kZHomeSteps, false);
  machine.SetProbeSurface(2, kSurfaceSteps);
  HostMachine& m = *rig.host().machine;
  HostControl& c = *rig.host().control;
  for (int a = 0; a < 3; ++a) {
    m.InputSignals[HomeInput(a)] =
        InputSignal{1, static_cast<uint8_t>(kFirstHomePin + a), kCardPort, 0, 0};
    c.HomeSpeedPercent[a] = 20;
    c.HomeNegative[a] = a == 2 ? 0 : 1;
  }
  m.InputSignals[kProbeInput] = InputSignal{1, kProbePin, kCardPort, 0, 0};
}

// Silences, restarts and emergency stops at random times of the card's own.
class CardTroubles {
 public:
  CardTroubles(sim::VirtualCard& card, uint64_t seed)
      : card_(card), random_(seed * 0x9E3779B97F4A7C15ULL + 1) {}

  void At(uint64_t now) {
    if (now >= silenceAt_) {
      card_.SetSilent(true);
      silentUntil_ = now + Draw(kLongestSilenceMs);
      silenceAt_ = silentUntil_ + 1 + Draw(2 * kSilenceEveryMs);
    }
    if (silentUntil_ != 0 && now >= silentUntil_) {
      card_.SetSilent(false);
      silentUntil_ = 0;
    }
    if (now >= rebootAt_) {
      card_.Reboot(2000);
      rebootAt_ = now + 1 + Draw(2 * kRebootEveryMs);
    }
    if (now >= estopAt_) {
      card_.machine().estop = true;
      estopUntil_ = now + kEstopHoldMs;
      estopAt_ = estopUntil_ + 1 + Draw(2 * kEstopEveryMs);
    }
    if (estopUntil_ != 0 && now >= estopUntil_) {
      card_.machine().estop = false;
      estopUntil_ = 0;
    }
  }

 private:
  uint64_t Draw(uint64_t below) {
    random_ = random_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return (random_ >> 33) % below;
  }

  sim::VirtualCard& card_;
  uint64_t random_;
  uint64_t silenceAt_ = kSilenceEveryMs, silentUntil_ = 0;
  uint64_t rebootAt_ = kRebootEveryMs;
  uint64_t estopAt_ = kEstopEveryMs, estopUntil_ = 0;
};

// What the host is told about the switches: the truth, unless a test says otherwise.
e2e::SoakMachine TrueSwitches() {
  e2e::SoakMachine switches;
  switches.probeDepthSteps = kZHomeSteps - kSurfaceSteps;
  return switches;
}

e2e::ExerciseFigures Soak(uint64_t seed, double damagedReplies,
                          const e2e::SoakMachine& switches = TrueSwitches()) {
  MachineRig machine(sim::CardModel::kLorn5);
  HostWorld& host = machine.host();
  for (int a = 0; a < 3; ++a) {
    host.control->MaxVelocity[a] = 50.0;
    host.control->Acceleration[a] = 500.0;
  }
  WireSwitches(machine);
  sim::FaultShares shares;
  shares.drop = 0.2;
  shares.duplicate = 0.02;
  shares.delay = 0.02;
  shares.delayMs = 300;  // past the resend time-out: late and out-of-order replies
  machine.netCard()->SetFaults(shares, seed);
  shares.corrupt = damagedReplies;  // replies only: a damaged command would run as damaged
  machine.netCard()->fromCard.SetShares(shares);

  e2e::ExerciseGoals goals;
  goals.soak = true;
  goals.timeLimitMs = kRunMs;
  e2e::LinkExercise exercise(*host.machine, *host.control, goals, &PressReset, &machine);
  // Every fourth job is one of two example jobs: a rapid-and-feed path far faster than the
  // generated ones, with rows of tens of steps.
  std::vector<e2e::ExampleJob> examples(2);
  std::string error;
  EXPECT_TRUE(
      e2e::PlanExampleJob(TORVEXAN_EXAMPLES_DIR "/demo.nc", *host.control, &examples[0], &error))
      << error;
  EXPECT_TRUE(e2e::PlanExampleJob(TORVEXAN_EXAMPLES_DIR "/spindle_codes.nc", *host.control,
                                  &examples[1], &error))
      << error;
  exercise.SetExampleJobs(&examples);
  e2e::HostActions actions;
  actions.jogOn = &JogOn;
  actions.jogOff = &JogOff;
  actions.dwell = &Dwell;
  actions.home = &Home;
  actions.probe = &Probe;
  actions.context = &machine;
  actions.seed = seed;
  exercise.SetActions(actions, switches);

  CardTroubles troubles(machine.card(), seed);
  const uint64_t start = machine.world().timeline.now();
  while (!exercise.finished()) {
    machine.Tick();
    const uint64_t now = machine.world().timeline.now() - start;
    troubles.At(now);
    exercise.Step(now);
  }
  return exercise.figures();
}

TEST(JogSoak, DamagedRepliesCostNoStepAndNoJogRunsOn) {
  for (uint64_t seed = 1; seed <= 12; ++seed) {
    const e2e::ExerciseFigures f = Soak(seed, 0.01);
    e2e::PrintSoakFigures("virtual soak", f.finishedMs, f);
    EXPECT_GT(f.jogs, 20) << "seed " << seed;
    EXPECT_GT(f.homingsCompleted, 5) << "seed " << seed;
    EXPECT_GT(f.probingsCompleted, 0) << "seed " << seed;
    EXPECT_GT(f.jobsChecked, 100) << "seed " << seed;
    EXPECT_GT(f.examplesChecked, 3) << "seed " << seed;
    EXPECT_EQ(f.positionErrors, 0) << "seed " << seed;
    EXPECT_EQ(f.jogsRunOn, 0) << "seed " << seed;
    // A damaged reply that reads "stopped" must not end a homing or probing move early.
    EXPECT_EQ(f.sequenceErrors, 0) << "seed " << seed;
  }
}

// Without damaged replies every fault leaves the host able to tell what ran: a job that was
// not stopped ends exactly where it was commanded, on every axis, also when a silence let the
// card run dry in the middle of it; a homing or probing that was not cut ends homed at the
// reference or at the work, and one that was cut leaves no result.
TEST(JogSoak, NoStepLostWithoutDamagedReplies) {
  e2e::ExerciseFigures all;
  for (uint64_t seed = 1; seed <= 40; ++seed) {
    const e2e::ExerciseFigures f = Soak(seed, 0.0);
    all.jobsChecked += f.jobsChecked;
    all.homingsCompleted += f.homingsCompleted;
    all.homingsAborted += f.homingsAborted;
    all.probingsCompleted += f.probingsCompleted;
    all.probingsAborted += f.probingsAborted;
    EXPECT_EQ(f.positionErrors, 0) << "seed " << seed;
    EXPECT_EQ(f.sequenceErrors, 0) << "seed " << seed;
  }
  e2e::PrintSoakFigures("virtual soak, 40 runs", 0, all);
  EXPECT_GT(all.jobsChecked, 4000);
  // The faults must also reach the sequences, or the rules for cut ones were never tried.
  EXPECT_GT(all.homingsCompleted, 200);
  EXPECT_GT(all.homingsAborted, 10);
  EXPECT_GT(all.probingsCompleted, 100);
  EXPECT_GT(all.probingsAborted, 10);
}

// The checks are not blind: a host that expects the work's top 100 steps lower than it is, or
// a pull-off of 4 units where the plug-in pulls off 5, counts every probing or homing that
// completes as a violation. Only a homing that ended just before a halt escapes: its positions
// can no longer be read, only its flag.
TEST(JogSoak, CountsAProbeOffTheWorkAndAHomingOffItsReference) {
  e2e::SoakMachine deeper = TrueSwitches();
  deeper.probeDepthSteps += 100;
  const e2e::ExerciseFigures probes = Soak(1, 0.0, deeper);
  EXPECT_GT(probes.probingsStarted, 5);
  EXPECT_EQ(probes.probingsCompleted, 0);
  // The soak's time may run out while the last sequence runs: it is judged neither way.
  EXPECT_EQ(probes.sequenceErrors + probes.probingsUnsettled,
            probes.probingsStarted - probes.probingsAborted);

  e2e::SoakMachine shorter = TrueSwitches();
  shorter.pullOffUnits = 4.0;
  const e2e::ExerciseFigures homings = Soak(1, 0.0, shorter);
  EXPECT_GT(homings.homingsStarted, 5);
  EXPECT_LE(homings.homingsCompleted, 2);
  EXPECT_EQ(homings.sequenceErrors + homings.homingsCompleted + homings.homingsUnsettled,
            homings.homingsStarted - homings.homingsAborted);
}

}  // namespace
}  // namespace torvexan::testing
