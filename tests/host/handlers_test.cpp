// Dwell, reset, purge, jog stop and notifications as the host calls them between ticks.
#include <gtest/gtest.h>

#include <vector>

#include "host/modbus_frame.h"
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
  EXPECT_EQ(s.motion.DwellMs, 1500);
  EXPECT_EQ(s.motion.DwellStart, 1234u);
  EXPECT_EQ(world.machine->Dwelling, 1);
  EXPECT_EQ(s.motion.MotionMode, kDwellWait);
  world.control->DwellInMs = 1;
  plugin.DoDwell(1.5);
  EXPECT_EQ(s.motion.DwellMs, 1);
  world.control->DwellInMs = 0;
  plugin.DoDwell(-2.0);
  EXPECT_EQ(s.motion.DwellMs, 0);
}

TEST_F(Handlers, ResetOutsideEmergencyStopLoadsPositionsAndRequestsExactlyConfigure) {
  world.machine->Axes[0].PositionCounts = 100;
  world.machine->Axes[4].PositionCounts = -7;
  world.machine->Jogging = 1;
  s.requests.RequestFlags = kRequestSetPositions | kRequestStopMotion;
  s.motion.MotionMode = kJogMove;
  plugin.Reset();
  EXPECT_EQ(s.motion.PositionImage[0], 100);
  EXPECT_EQ(s.motion.PositionImage[4], -7);
  EXPECT_EQ(s.requests.RequestFlags, kRequestConfigure);
  EXPECT_EQ(s.motion.MotionMode, kQueueStreaming);
  EXPECT_EQ(world.machine->Jogging, 0);
  EXPECT_EQ(world.machine->SequenceEnded, 1);
}

TEST_F(Handlers, AChannelMappedBeyondTheSixHostAxesTakesNoPositionFromTheSpindleRecord) {
  // Only a damaged record maps a channel there; the spindle's record (index 6) holds no
  // position that a card channel could start from.
  world.machine->Axes[kSpindleAxis].PositionCounts = 4321;
  world.machine->Axes[3].PositionCounts = 55;
  s.settings.AxisMap[3] = kSpindleAxis;
  s.motion.PositionImage[3] = 99;
  plugin.Reset();
  EXPECT_EQ(s.motion.PositionImage[3], 0);
  s.motion.PositionImage[3] = 99;
  plugin.Purge(1 << kSpindleAxis);
  EXPECT_EQ(s.motion.PositionImage[3], 99) << "purge leaves the channel alone";
  EXPECT_EQ(s.motion.PurgeMask, 0);
}

TEST_F(Handlers, ResetInEmergencyStopClearsOutputsAndRequestsExactlyHalt) {
  world.machine->EStop = 1;
  s.session->outputBits = 0xF;
  s.session->spindleValue = 500;
  s.session->jogStopBits = 3;
  s.requests.RequestFlags = kRequestSetPositions | kRequestConfigure;
  plugin.Reset();
  EXPECT_EQ(s.session->outputBits, 0);
  EXPECT_EQ(s.session->spindleValue, 0);
  EXPECT_EQ(s.session->jogStopBits, 0);
  EXPECT_EQ(s.requests.RequestFlags, kRequestHalt);
}

// Without the link the reset still ends the jog, leaves it nothing to resume with, and asks for
// the halt as the first packet after the reconnect.
TEST_F(Handlers, ResetWhileOfflineEndsMotionLocallyAndAsksForTheHaltFirst) {
  world.control->StepsPerUnit[0] = 1000.0;
  world.control->Acceleration[0] = 100.0;
  world.machine->Axes[0].Enabled = 1;
  plugin.JogOn(0, 0, 10.0);
  ASSERT_EQ(s.motion.MotionMode, kJogMove);
  s.session->online = 0;
  s.session->txLength = 40;  // rows kept for after the reconnect
  s.session->txEncoded = 1;
  s.session->spindleValue = 500;
  s.requests.RequestFlags = kRequestStopMotion | kRequestSetPositions;
  world.machine->EStop = 1;
  plugin.Reset();

  ASSERT_EQ(HostCallbacks::Codes().size(), 1u);
  EXPECT_EQ(HostCallbacks::Codes()[0], "(\xC9\xE8\xB1\xB8\xCE\xB4\xC1\xAC\xBD\xD3)");
  EXPECT_EQ(s.motion.MotionMode, kQueueStreaming);
  EXPECT_EQ(world.machine->Jogging, 0);
  EXPECT_EQ(world.machine->SequenceEnded, 1);
  EXPECT_EQ(s.session->txLength, 0);
  EXPECT_EQ(s.session->txEncoded, 0);
  EXPECT_EQ(s.session->spindleValue, 0);
  EXPECT_EQ(s.requests.RequestFlags, kRequestHalt);
  int32_t rows[kRowBufferValues];
  EXPECT_EQ(GenerateRows(*s.session, 10, rows), 0) << "the jog profile survived the reset";
}

TEST_F(Handlers, PurgeZeroesNamedAxesAndKeepsTheOthers) {
  world.machine->Axes[0].PositionCounts = 10;
  world.machine->Axes[1].PositionCounts = 20;
  plugin.Purge(1);
  EXPECT_EQ(s.motion.PositionImage[0], 0);
  EXPECT_EQ(s.motion.PositionImage[1], 20);
  EXPECT_EQ(s.motion.PurgeMask, 1);
  EXPECT_EQ(s.requests.RequestFlags, kRequestSetPositions);
}

TEST_F(Handlers, JogOffOnlyActsWhileJogging) {
  plugin.JogOff(1);
  EXPECT_EQ(s.requests.RequestFlags, 0u);
  world.machine->Jogging = 1;
  plugin.JogOff(1);
  EXPECT_EQ(s.session->jogStopBits, 2);
  EXPECT_EQ(s.requests.RequestFlags, kRequestJogStop);
}

TEST_F(Handlers, StopNotificationEndsSequencesAndStopsMotionOnlyWhenNotIdle) {
  s.motion.MotionMode = kHomingSequence;
  world.machine->Homing = 1;
  world.control->MotionIdle = 1;
  plugin.Notify(-1);  // only the low 16 bits count
  EXPECT_EQ(s.motion.MotionMode, kQueueStreaming);
  EXPECT_EQ(world.machine->Homing, 0);
  EXPECT_EQ(s.requests.RequestFlags, 0u);
  world.control->MotionIdle = 0;
  plugin.Notify(0xFFFF);
  EXPECT_EQ(s.requests.RequestFlags, kRequestStopMotion);
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

// No spindle while the host is in emergency stop; after the operator's reset the next spindle-on
// starts it as before.
TEST_F(Handlers, SpindleStaysOffInEmergencyStop) {
  world.control->SpindlePwm = 1;
  world.control->SpindleFraction = 0.8;
  world.machine->EStop = 1;
  for (int code : {3, 5}) {
    plugin.Notify(code);
    EXPECT_EQ(s.session->spindleValue, 0) << code;
  }
  world.machine->EStop = 0;
  plugin.Notify(3);
  EXPECT_EQ(s.session->spindleValue, 800);
}

using Bytes = std::vector<uint8_t>;

TEST(ModbusFrame, CrcOfTheFirstUserCodeIsKnown) {
  const uint8_t body[] = {0x01, 0x06, 0x00, 0x64, 0x00, 0x01};
  EXPECT_EQ(ModbusCrc16(body, sizeof body), 0xD509);
  // The standard check value of CRC-16/MODBUS.
  const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(ModbusCrc16(check, sizeof check), 0x4B37);
}

TEST(ModbusFrame, RegisterWriteCarriesTheValueHighByteFirstAndItsCrcLowByteFirst) {
  uint8_t frame[kRegisterWriteLength];
  BuildRegisterWrite(1, frame);
  EXPECT_EQ(Bytes(frame, frame + 8), (Bytes{0x01, 0x06, 0x00, 0x64, 0x00, 0x01, 0x09, 0xD5}));
  BuildRegisterWrite(0x1234, frame);
  EXPECT_EQ(Bytes(frame, frame + 6), (Bytes{0x01, 0x06, 0x00, 0x64, 0x12, 0x34}));
  const uint16_t crc = ModbusCrc16(frame, 6);
  EXPECT_EQ(frame[6], crc & 0xFF);
  EXPECT_EQ(frame[7], crc >> 8);
}

TEST_F(Handlers, UserCodesWriteOneFrameEachToTheHostsComPortAndCloseIt) {
  world.control->ComPort = 3;
  world.control->ComBaud = 19200;
  plugin.Notify(101);
  plugin.Notify(227);
  EXPECT_EQ(fake.serial.port, 3);
  EXPECT_EQ(fake.serial.baud, 19200);
  ASSERT_EQ(fake.serial.writes.size(), 2u);
  EXPECT_EQ(fake.serial.writes[0], (Bytes{0x01, 0x06, 0x00, 0x64, 0x00, 0x01, 0x09, 0xD5}));
  EXPECT_EQ(fake.serial.writes[1][5], 0x7F);
  EXPECT_EQ(fake.serial.opens, 2);
  EXPECT_EQ(fake.serial.closes, 2);
  EXPECT_FALSE(fake.serial.isOpen);
}

TEST_F(Handlers, CodesOutsideTheUserRangeInAnyOfTheir32BitsOpenNoPort) {
  world.control->MotionIdle = 1;  // -1 also stops sequences; keep that quiet here
  for (int code : {100, 228, -1, 0x10065, 0x10000 + 227, 3, 0xFFFF}) plugin.Notify(code);
  EXPECT_EQ(fake.serial.opens, 0);
}

TEST_F(Handlers, APortThatCannotBeOpenedSendsNothingAndReportsNothing) {
  fake.serial.refuseOpen = true;
  plugin.Notify(150);
  EXPECT_EQ(fake.serial.opens, 1);
  EXPECT_TRUE(fake.serial.writes.empty());
  EXPECT_TRUE(HostCallbacks::Codes().empty());
  EXPECT_TRUE(fake.messageBox.shown.empty());
}

TEST_F(Handlers, MenuCodeOpensTheConfigurationDialogWhenItsLow16BitsAreTheMenuId) {
  int opened = 0;
  fake.dialog.SetModalLoop(
      [](void* count, DialogModel& d) {
        ++*static_cast<int*>(count);
        EXPECT_EQ(d.resourceId(), 102);
        d.PressCloseBox();
      },
      &opened);
  s.host.PluginMenuId = 4711;
  plugin.Notify(4711);
  plugin.Notify(4711 + 0x10000);
  EXPECT_EQ(opened, 2);
  plugin.Config();
  EXPECT_EQ(opened, 3);
  // A menu id beyond 16 bits is no code's low half: no code opens the dialog.
  s.host.PluginMenuId = 4711 + 0x10000;
  plugin.Notify(4711);
  plugin.Notify(4711 + 0x10000);
  EXPECT_EQ(opened, 3);
  EXPECT_TRUE(fake.messageBox.shown.empty());
  s.session.reset();
  s.host.PluginMenuId = 4711;
  plugin.Notify(4711);
  EXPECT_EQ(opened, 3);
  ASSERT_EQ(fake.messageBox.shown.size(), 1u);
  EXPECT_EQ(fake.messageBox.shown[0].first, "Device driver loading error.");
}

}  // namespace
}  // namespace torvexan::testing
