// Homing and probing end to end on every card model: the plug-in's sequences drive the virtual
// card's switch and probe, and the host ends up with exactly what happened on the machine.
#include <gtest/gtest.h>

#include <tuple>

#include "integration/machine_operator.h"
#include "motion/profile.h"

namespace torvexan::testing {
namespace {

constexpr int32_t kHomeSwitchAt = -3000;  // X's home switch, active at and below
constexpr int32_t kReference = 1234;      // the position X takes at its switch
constexpr int32_t kPullOffSteps = 5000;   // the default 5 units of pull-off
constexpr int kSlaveAxis = 3;             // A follows X
constexpr int kSequenceTicks = 1500;

class Homing : public ::testing::TestWithParam<std::tuple<CardCase, bool>> {
 protected:
  Homing() : op(std::get<0>(GetParam())) {}
  MachineOperator op;
};

TEST_P(Homing, FindsTheSwitchTakesTheReferenceAndPullsOffWithTheSlave) {
  HostMachine& m = *op.host().machine;
  op.state().settings.HomeTwice = std::get<1>(GetParam());
  m.HomeReferenceCounts[0] = kReference;
  m.Axes[kSlaveAxis].IsSlave = 1;
  m.Axes[kSlaveAxis].SlaveOf = 0;
  op.card().machine().SetHome(0, kHomeSwitchAt);
  op.machine.ConnectAndReset();

  op.plugin().Home(0);
  ASSERT_EQ(op.state().motion.MotionMode, kHomingSequence);
  int32_t atSwitch = 0, slaveAtSwitch = 0;
  ASSERT_TRUE(op.RunUntil(
      [&] {
        if (op.card().stats().homeStops == 1 && atSwitch == 0) {
          atSwitch = op.card().position(0);
          slaveAtSwitch = op.card().position(kSlaveAxis);
        }
        return op.state().motion.MotionMode == kQueueStreaming;
      },
      kSequenceTicks));
  op.RunTicks(5);

  EXPECT_EQ(op.card().stats().homeStops, 1u);
  EXPECT_LE(atSwitch, kHomeSwitchAt);
  EXPECT_GT(atSwitch, kHomeSwitchAt - 30) << "the approach ran past the switch";
  EXPECT_EQ(slaveAtSwitch, atSwitch) << "the slave did not follow the approach";
  // Negative homing pulls off in the positive direction, from the reference.
  EXPECT_EQ(op.card().position(0), kReference + kPullOffSteps);
  EXPECT_EQ(m.Axes[0].PositionCounts, kReference + kPullOffSteps);
  EXPECT_EQ(op.card().position(kSlaveAxis), atSwitch + kPullOffSteps);
  EXPECT_EQ(m.Axes[kSlaveAxis].PositionCounts, atSwitch + kPullOffSteps);
  EXPECT_EQ(m.AxisHomed[0], 1);
  EXPECT_EQ(m.AxisHomed[kSlaveAxis], 0);
  EXPECT_EQ(m.Homing, 0);
  EXPECT_EQ(m.EStop, 0);
  EXPECT_EQ(op.host().control->MotionIdle, 1);
  EXPECT_EQ(op.sequenceEnds, 1);
}

// A switch that never closes (a broken wire, a switch not fitted): the approach runs out its
// 9999 units, and where it ends is no reference.
TEST_P(Homing, ThatRunsItsWholeApproachWithoutTheSwitchTakesNoReference) {
  HostMachine& m = *op.host().machine;
  HostControl& c = *op.host().control;
  op.state().settings.HomeTwice = std::get<1>(GetParam());
  op.state().settings.Jerk = 100000.0;
  m.HomeReferenceCounts[0] = kReference;
  c.StepsPerUnit[0] = 1.0;  // 9999 steps at 10 a row: a short run
  c.MaxVelocity[0] = 4000.0;
  c.Acceleration[0] = 20000.0;
  op.machine.ConnectAndReset();
  HostCallbacks::Codes().clear();

  op.plugin().Home(0);
  ASSERT_EQ(op.state().motion.MotionMode, kHomingSequence);
  ASSERT_TRUE(
      op.RunUntil([&] { return op.state().motion.MotionMode == kQueueStreaming; }, kSequenceTicks));
  op.RunTicks(5);

  EXPECT_EQ(op.card().stats().homeStops, 0u);
  EXPECT_EQ(op.card().position(0), -9999) << "the approach did not run its whole length";
  EXPECT_EQ(m.Axes[0].PositionCounts, -9999) << "a reference where no switch was found";
  EXPECT_EQ(m.AxisHomed[0], 0);
  EXPECT_EQ(m.Homing, 0);
  EXPECT_TRUE(op.Reported("(Home switch not found! Axis not homed.)"));
  EXPECT_EQ(op.host().control->MotionIdle, 1);
  EXPECT_EQ(op.sequenceEnds, 1);
}

// Homing upwards onto a switch that closes only in the approach's last rows, when all of them
// have gone to the card: the axis stops short of where they end, below it, and that is a switch
// found, not an approach that ran its whole length.
TEST_P(Homing, UpwardsFindsASwitchThatClosesAfterTheLastRowsWereSent) {
  HostMachine& m = *op.host().machine;
  HostControl& c = *op.host().control;
  op.state().settings.HomeTwice = std::get<1>(GetParam());
  op.state().settings.Jerk = 100000.0;
  m.HomeReferenceCounts[0] = kReference;
  c.HomeNegative[0] = 0;
  c.StepsPerUnit[0] = 1.0;  // 9999 steps at 10 a row
  c.MaxVelocity[0] = 4000.0;
  c.Acceleration[0] = 20000.0;
  constexpr int32_t kSwitchAt = 9900;  // active at and above: ten rows before the end
  op.card().machine().SetHome(0, kSwitchAt, false);
  op.machine.ConnectAndReset();
  HostCallbacks::Codes().clear();

  op.plugin().Home(0);
  ASSERT_EQ(op.state().motion.MotionMode, kHomingSequence);
  int rowsLeftAtSwitch = -1;
  int32_t atSwitch = 0;
  ASSERT_TRUE(op.RunUntil(
      [&] {
        if (op.card().stats().homeStops == 1 && rowsLeftAtSwitch < 0) {
          rowsLeftAtSwitch = ProfileRowsLeft(*op.state().session);
          atSwitch = op.card().position(0);
        }
        return op.state().motion.MotionMode == kQueueStreaming;
      },
      kSequenceTicks));
  op.RunTicks(5);

  ASSERT_EQ(op.card().stats().homeStops, 1u);
  ASSERT_EQ(rowsLeftAtSwitch, 0) << "the switch closed before the last rows were sent";
  EXPECT_GE(atSwitch, kSwitchAt);
  EXPECT_LT(atSwitch, 9999) << "the approach ran its whole length";
  EXPECT_FALSE(op.Reported("(Home switch not found! Axis not homed.)"));
  EXPECT_EQ(m.AxisHomed[0], 1);
  // Positive homing pulls off in the negative direction, from the reference.
  EXPECT_EQ(op.card().position(0), kReference - 5);
  EXPECT_EQ(m.Axes[0].PositionCounts, kReference - 5);
  EXPECT_EQ(m.Homing, 0);
  EXPECT_EQ(op.sequenceEnds, 1);
}

std::string HomingName(const ::testing::TestParamInfo<std::tuple<CardCase, bool>>& info) {
  return std::string(std::get<0>(info.param).name) +
         (std::get<1>(info.param) ? "HomeTwice" : "HomeOnce");
}

INSTANTIATE_TEST_SUITE_P(EveryModel, Homing,
                         ::testing::Combine(::testing::Values(kLorn4Case, kLorn5Case, kPell5Case),
                                            ::testing::Bool()),
                         HomingName);

class Probing : public ::testing::TestWithParam<CardCase> {
 protected:
  Probing() : op(GetParam()) {}

  void ProbeDownTo(double units) {
    op.host().control->ProbeTarget[2] = units;
    op.machine.ConnectAndReset();
    op.plugin().Probe();
    ASSERT_EQ(op.state().motion.MotionMode, kProbingSequence);
    ASSERT_TRUE(op.RunUntil([&] { return op.state().motion.MotionMode == kQueueStreaming; },
                            kSequenceTicks));
    op.RunTicks(5);
  }

  // The Ethernet cards report where the probe touched; the USB card's replies carry no probe
  // positions, so there the host's values say nothing about this probe.
  void ExpectProbeCountsAre(int32_t z) {
    const HostMachine& m = *op.host().machine;
    for (int a = 0; a < op.axes; ++a) EXPECT_EQ(m.Axes[a].ProbeFlag, 0) << "axis " << a;
    if (op.card().usb()) return;
    EXPECT_EQ(m.Axes[2].ProbeCounts, z);
    EXPECT_EQ(m.Axes[0].ProbeCounts, 0);
  }

  MachineOperator op;
};

TEST_P(Probing, StopsAtTheContactAndReportsIt) {
  constexpr int32_t kSurface = -2000;
  op.card().machine().SetProbeSurface(2, kSurface);
  ProbeDownTo(-5.0);
  EXPECT_EQ(op.card().stats().probeTrips, 1u);
  const int32_t z = op.card().position(2);
  EXPECT_LE(z, kSurface);
  EXPECT_GT(z, kSurface - 30) << "the probe ran past the contact";
  EXPECT_EQ(op.host().machine->Axes[2].PositionCounts, z);
  ExpectProbeCountsAre(z);
  EXPECT_EQ(op.host().machine->EStop, 0);
  EXPECT_EQ(op.sequenceEnds, 1);
}

// Where a probe without contact ended is the target, not a surface: the host gets no probe
// position and is told so.
TEST_P(Probing, WithoutContactRunsToTheTargetAndLeavesNoProbePosition) {
  HostCallbacks::Codes().clear();
  ProbeDownTo(-5.0);
  EXPECT_EQ(op.card().stats().probeTrips, 0u);
  EXPECT_EQ(op.card().position(2), -5000);
  EXPECT_EQ(op.host().machine->Axes[2].PositionCounts, -5000);
  for (int a = 0; a < op.axes; ++a) {
    EXPECT_EQ(op.host().machine->Axes[a].ProbeCounts, kProbeSentinel) << "axis " << a;
    EXPECT_EQ(op.host().machine->Axes[a].ProbeFlag, 1) << "axis " << a;
  }
  EXPECT_TRUE(op.Reported("(Probe made no contact! No probe position.)"));
  EXPECT_EQ(op.sequenceEnds, 1);
}

// Probing upwards onto a surface met only in the move's last rows, when all of them have gone
// to the card: the probe stops short of the target, and that is a contact.
TEST_P(Probing, UpwardsStopsAtAContactMetAfterTheLastRowsWereSent) {
  constexpr int32_t kSurface = 4800;  // active at and above, 200 steps short of the target
  op.card().machine().SetProbeSurface(2, kSurface, false);
  op.host().control->ProbeTarget[2] = 5.0;
  op.machine.ConnectAndReset();
  HostCallbacks::Codes().clear();
  op.plugin().Probe();
  ASSERT_EQ(op.state().motion.MotionMode, kProbingSequence);
  int rowsLeftAtContact = -1;
  ASSERT_TRUE(op.RunUntil(
      [&] {
        if (op.card().stats().probeTrips == 1 && rowsLeftAtContact < 0) {
          rowsLeftAtContact = ProfileRowsLeft(*op.state().session);
        }
        return op.state().motion.MotionMode == kQueueStreaming;
      },
      kSequenceTicks));
  op.RunTicks(5);

  ASSERT_EQ(op.card().stats().probeTrips, 1u);
  ASSERT_EQ(rowsLeftAtContact, 0) << "the contact came before the last rows were sent";
  const int32_t z = op.card().position(2);
  EXPECT_GE(z, kSurface);
  EXPECT_LT(z, kSurface + 30) << "the probe ran past the contact";
  EXPECT_FALSE(op.Reported("(Probe made no contact! No probe position.)"));
  EXPECT_EQ(op.host().machine->Axes[2].PositionCounts, z);
  ExpectProbeCountsAre(z);
  EXPECT_EQ(op.sequenceEnds, 1);
}

INSTANTIATE_TEST_SUITE_P(EveryModel, Probing, ::testing::Values(kLorn4Case, kLorn5Case, kPell5Case),
                         CardCaseName);

}  // namespace
}  // namespace torvexan::testing
