// Jog, home and probe requests: what they check, the first profiles they build, the mode.
#include <gtest/gtest.h>

#include "support/fake_platform.h"
#include "support/host_world.h"

namespace torvexan::testing {
namespace {

class MotionHandlers : public ::testing::Test {
 protected:
  void SetUp() override {
    StartPlugin(plugin, world);
    s.session->online = 1;
    for (int a = 0; a < kHostAxisCount; ++a) {
      world.machine->Axes[a].Enabled = 1;
      world.control->StepsPerUnit[a] = 1000.0;
      world.control->MaxVelocity[a] = 10.0;
      world.control->Acceleration[a] = 100.0;
    }
    world.doubles->Values[kJogRatePercent] = 50.0;
  }
  const AxisProfile& Profile(int channel) const { return s.session->axisJog[channel]; }

  FakePlatform fake;
  HostWorld world;
  Plugin plugin{fake.platform()};
  PluginState& s = plugin.state();
};

TEST_F(MotionHandlers, JogAtSpeedZeroUsesTheJogRateUnlessFullSpeedIsSet) {
  plugin.JogOn(1, 0, 0.0);
  EXPECT_EQ(s.motion.MotionMode, kJogMove);
  EXPECT_EQ(world.machine->Jogging, 1);
  EXPECT_EQ(s.motion.ActiveAxis, 1);
  EXPECT_FLOAT_EQ(Profile(1).speed, 5.0);
  EXPECT_EQ(Profile(1).direction, 1);
  EXPECT_FLOAT_EQ(Profile(1).distance, 999.0);  // no soft limits
  world.fullSpeedJog = 1;
  plugin.JogOn(1, 1, 0.0);
  EXPECT_FLOAT_EQ(Profile(1).speed, 10.0);
  EXPECT_EQ(Profile(1).direction, -1);
}

TEST_F(MotionHandlers, JogIsRefusedInEstopWithQueuedMovesOnSlavesAndUnmappedAxes) {
  world.machine->EStop = 1;
  plugin.JogOn(0, 0, 1.0);
  EXPECT_EQ(HostCallbacks::Codes(), std::vector<std::string>{"(No Jogging in Estop!)"});
  world.machine->EStop = 0;
  world.machine->MoveQueueWrite = 3;
  plugin.JogOn(0, 0, 1.0);
  world.machine->MoveQueueWrite = 0;
  world.machine->Axes[3].IsSlave = 1;
  world.machine->Axes[3].SlaveOf = 1;
  plugin.JogOn(3, 0, 1.0);
  plugin.JogOn(5, 0, 1.0);  // C is not carried by the default axis map
  plugin.JogOn(-3, 0, 1.0);
  EXPECT_EQ(s.motion.MotionMode, kQueueStreaming);
  EXPECT_EQ(world.machine->Jogging, 0);
  // Jogging the master records its slave.
  plugin.JogOn(1, 0, 1.0);
  EXPECT_EQ(s.motion.SlaveAxis, 3);
}

TEST_F(MotionHandlers, JogWithSoftLimitsTargetsTheLimit) {
  world.machine->SoftLimitsOn = 1;
  world.machine->SoftLimitMin[0] = -5000;
  world.control->AxisPosition[0] = 2.0;
  plugin.JogOn(0, 1, 1.0);
  EXPECT_EQ(Profile(0).direction, -1);
  EXPECT_FLOAT_EQ(Profile(0).distance, 7.0);
}

// An axis being homed is not homed until its homing is done: a homing cut short must not
// leave the mark of an earlier one.
TEST_F(MotionHandlers, HomeStartsTheApproachTowardsTheSwitchWithTheAxisNotHomed) {
  world.control->HomeSpeedPercent[0] = 50;
  world.control->HomeNegative[0] = 1;
  world.machine->AxisHomed[0] = 1;
  world.machine->AxisHomed[1] = 1;
  plugin.Home(0);
  EXPECT_EQ(s.motion.MotionMode, kHomingSequence);
  EXPECT_EQ(world.machine->Homing, 1);
  EXPECT_EQ(world.machine->AxisHomed[0], 0);
  EXPECT_EQ(world.machine->AxisHomed[1], 1);
  EXPECT_FLOAT_EQ(Profile(0).speed, 5.0);
  EXPECT_EQ(Profile(0).direction, -1);
  EXPECT_GT(Profile(0).stepCount, 0);
}

TEST_F(MotionHandlers, HomeOnAnAxisWithoutChannelOnlyNotesTheAxis) {
  world.machine->AxisHomed[5] = 1;
  plugin.Home(5);
  EXPECT_EQ(s.motion.ActiveAxis, 5);
  EXPECT_EQ(world.machine->AxisHomed[5], 1);
  EXPECT_EQ(s.motion.MotionMode, kQueueStreaming);
  EXPECT_EQ(world.machine->Homing, 0);
}

TEST_F(MotionHandlers, ProbeRefusalsReportTheirReason) {
  world.machine->EStop = 1;
  world.machine->ProbeRunning = 1;
  plugin.Probe();
  EXPECT_EQ(HostCallbacks::Codes().back(), "(Probe called but not turned on.)");
  EXPECT_EQ(world.machine->ProbeRunning, 0);
  world.machine->InputSignals[kProbeInput].Enabled = 1;
  s.motion.MotionMode = kJogMove;
  plugin.Probe();
  EXPECT_EQ(HostCallbacks::Codes().back(), "( No Probing in Estop!!)");
  world.machine->EStop = 0;
  plugin.Probe();
  EXPECT_EQ(HostCallbacks::Codes().back(), "(Waiting for sequence to End!)");
  EXPECT_EQ(HostCallbacks::Codes().size(), 3u);
}

TEST_F(MotionHandlers, ProbeBuildsOneProfilePerChannelAtTheFeedRate) {
  world.machine->InputSignals[kProbeInput].Enabled = 1;
  world.control->FeedPerSecond = 2.0;
  world.control->ProbeTarget[2] = -3.0;
  world.control->MotionIdle = 1;
  plugin.Probe();
  EXPECT_EQ(s.motion.MotionMode, kProbingSequence);
  EXPECT_EQ(world.control->MotionIdle, 0);
  EXPECT_EQ(Profile(2).direction, -1);
  EXPECT_FLOAT_EQ(Profile(2).distance, 3.0);
  EXPECT_FLOAT_EQ(Profile(2).speed, 2.0);
  EXPECT_EQ(Profile(0).stepCount, 0);  // already at the target
}

}  // namespace
}  // namespace torvexan::testing
