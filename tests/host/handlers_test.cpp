// Dwell, reset, purge, jog stop and notifications as the host calls them between ticks.
#include <gtest/gtest.h>

#include "motion/profile.h"
#include "motion/queue_rows.h"
#include "support/fake_platform.h"
#include "support/host_world.h"

namespace torvexan::testing {
namespace {

class Handlers : public ::testing::Test {
 protected:
  void SetUp() override {
    StartPlugin(plugin, world);
    s.session->online = 1;
  }
  FakePlatform fake;
  HostWorld world;
  Plugin plugin{fake.platform()};
  PluginState& s = plugin.state();
};

TEST_F(Handlers, DwellTakesSecondsOrMillisecondsAndNeverWaitsForANegativeTime) {
  fake.clock.nowMs = 1234;
  plugin.DoDwell(1.5);
  EXPECT_EQ(s.DwellMs, 1500);
  EXPECT_EQ(s.DwellStart, 1234u);
  EXPECT_EQ(world.machine->Dwelling, 1);
  EXPECT_EQ(s.MotionMode, kDwellWait);
  world.control->DwellInMs = 1;
  plugin.DoDwell(1.5);
  EXPECT_EQ(s.DwellMs, 1);
  world.control->DwellInMs = 0;
  plugin.DoDwell(-2.0);
  EXPECT_EQ(s.DwellMs, 0);
}

TEST_F(Handlers, ResetOutsideEmergencyStopLoadsPositionsAndRequestsExactlyConfigure) {
  world.machine->Axes[0].PositionCounts = 100;
  world.machine->Axes[4].PositionCounts = -7;
  world.machine->Jogging = 1;
  s.RequestFlags = kRequestSetPositions | kRequestStopMotion;
  s.MotionMode = kJogMove;
  plugin.Reset();
  EXPECT_EQ(s.PositionImage[0], 100);
  EXPECT_EQ(s.PositionImage[4], -7);
  EXPECT_EQ(s.RequestFlags, kRequestConfigure);
  EXPECT_EQ(s.MotionMode, kQueueStreaming);
  EXPECT_EQ(world.machine->Jogging, 0);
  EXPECT_EQ(world.machine->SequenceEnded, 1);
}

TEST_F(Handlers, ResetInEmergencyStopClearsOutputsAndRequestsExactlyHalt) {
  world.machine->EStop = 1;
  s.session->outputBits = 0xF;
  s.session->spindleValue = 500;
  s.session->jogStopBits = 3;
  s.RequestFlags = kRequestSetPositions | kRequestConfigure;
  plugin.Reset();
  EXPECT_EQ(s.session->outputBits, 0);
  EXPECT_EQ(s.session->spindleValue, 0);
  EXPECT_EQ(s.session->jogStopBits, 0);
  EXPECT_EQ(s.RequestFlags, kRequestHalt);
}

// Without the link the reset still ends the jog, leaves it nothing to resume with, and asks for
// the halt as the first packet after the reconnect.
TEST_F(Handlers, ResetWhileOfflineEndsMotionLocallyAndAsksForTheHaltFirst) {
  world.control->StepsPerUnit[0] = 1000.0;
  world.control->Acceleration[0] = 100.0;
  world.machine->Axes[0].Enabled = 1;
  plugin.JogOn(0, 0, 10.0);
  ASSERT_EQ(s.MotionMode, kJogMove);
  s.session->online = 0;
  s.session->txLength = 40;  // rows kept for after the reconnect
  s.session->txEncoded = 1;
  s.session->spindleValue = 500;
  s.RequestFlags = kRequestStopMotion | kRequestSetPositions;
  world.machine->EStop = 1;
  plugin.Reset();

  ASSERT_EQ(HostCallbacks::Codes().size(), 1u);
  EXPECT_EQ(HostCallbacks::Codes()[0], "(\xC9\xE8\xB1\xB8\xCE\xB4\xC1\xAC\xBD\xD3)");
  EXPECT_EQ(s.MotionMode, kQueueStreaming);
  EXPECT_EQ(world.machine->Jogging, 0);
  EXPECT_EQ(world.machine->SequenceEnded, 1);
  EXPECT_EQ(s.session->txLength, 0);
  EXPECT_EQ(s.session->txEncoded, 0);
  EXPECT_EQ(s.session->spindleValue, 0);
  EXPECT_EQ(s.RequestFlags, kRequestHalt);
  int32_t rows[kRowBufferValues];
  EXPECT_EQ(GenerateRows(*s.session, 10, rows), 0) << "the jog profile survived the reset";
}

TEST_F(Handlers, PurgeZeroesNamedAxesAndKeepsTheOthers) {
  world.machine->Axes[0].PositionCounts = 10;
  world.machine->Axes[1].PositionCounts = 20;
  plugin.Purge(1);
  EXPECT_EQ(s.PositionImage[0], 0);
  EXPECT_EQ(s.PositionImage[1], 20);
  EXPECT_EQ(s.PurgeMask, 1);
  EXPECT_EQ(s.RequestFlags, kRequestSetPositions);
}

TEST_F(Handlers, JogOffOnlyActsWhileJogging) {
  plugin.JogOff(1);
  EXPECT_EQ(s.RequestFlags, 0u);
  world.machine->Jogging = 1;
  plugin.JogOff(1);
  EXPECT_EQ(s.session->jogStopBits, 2);
  EXPECT_EQ(s.RequestFlags, kRequestJogStop);
}

TEST_F(Handlers, StopNotificationEndsSequencesAndStopsMotionOnlyWhenNotIdle) {
  s.MotionMode = kHomingSequence;
  world.machine->Homing = 1;
  world.control->MotionIdle = 1;
  plugin.Notify(-1);  // only the low 16 bits count
  EXPECT_EQ(s.MotionMode, kQueueStreaming);
  EXPECT_EQ(world.machine->Homing, 0);
  EXPECT_EQ(s.RequestFlags, 0u);
  world.control->MotionIdle = 0;
  plugin.Notify(0xFFFF);
  EXPECT_EQ(s.RequestFlags, kRequestStopMotion);
}

TEST_F(Handlers, SpindleNotificationsScaleAndClampTheSpindleValue) {
  world.control->SpindlePwm = 1;
  s.settings.SpindleRatio = 0.5f;
  world.control->SpindleFraction = 0.8;
  plugin.Notify(3);
  EXPECT_EQ(s.session->spindleValue, 400);
  world.control->SpindleFraction = 3.0;
  plugin.Notify(5);
  EXPECT_EQ(s.session->spindleValue, 1000);
  world.control->SpindleFraction = -1.0;
  plugin.Notify(3);
  EXPECT_EQ(s.session->spindleValue, 0);
  world.control->SpindleFraction = 0.5;
  world.control->SpindlePwm = 0;
  plugin.Notify(3);
  EXPECT_EQ(s.session->spindleValue, 0);
  world.control->SpindlePwm = 1;
  plugin.Notify(3);
  plugin.Notify(4);
  EXPECT_EQ(s.session->spindleValue, 0);
}

}  // namespace
}  // namespace torvexan::testing
