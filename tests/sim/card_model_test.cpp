// The virtual card against the byte layouts: replies, configuration, the motion buffer,
// states and sequence numbers.
#include <gtest/gtest.h>

#include "card_packets.h"

namespace torvexan::sim::testing {
namespace {

TEST(CardWire, ChainedCodeMatchesTheWorkedExampleBothWays) {
  uint8_t b[5] = {0x55, 0xAA, 0x01, 0x00, 0x00};
  EncodeChained(b, 5);
  EXPECT_EQ(Bytes(b, b + 5), (Bytes{0x55, 0xFF, 0xFE, 0xFE, 0xFE}));
  DecodeChained(b, 5);
  EXPECT_EQ(Bytes(b, b + 5), (Bytes{0x55, 0xAA, 0x01, 0x00, 0x00}));
}

TEST(CardReplies, StatusLengthFollowsTheModel) {
  VirtualCard lorn4(CardModel::kLorn4), lorn5(CardModel::kLorn5), pell5(CardModel::kPell5);
  EXPECT_EQ(Send(lorn4, EthPoll(1)).size(), 84u);
  EXPECT_EQ(Send(lorn5, EthPoll(1)).size(), 92u);
  EXPECT_EQ(Send(pell5, Usb(3, 1)).size(), 64u);
  // Each family answers only its own transport.
  EXPECT_TRUE(Send(pell5, EthPoll(2)).empty());
}

TEST(CardReplies, PowerUpStatusIsHaltedWithAnEmptyBuffer) {
  VirtualCard card(CardModel::kLorn5);
  const EthStatus s(Send(card, EthPoll(0x1234)));
  EXPECT_EQ(s.raw[0], 0x55);
  EXPECT_EQ(s.raw[1], 0xAA);
  EXPECT_EQ(s.kind(), 3);
  EXPECT_EQ(s.sequence(), 0x1234);
  EXPECT_EQ(s.freeSlots(), 199);
  EXPECT_EQ(s.state(), 0);
  EXPECT_EQ(s.statusBits() & 0x80, 0x80);
}

TEST(CardReplies, UsbStatusUsesItsOwnOffsets) {
  VirtualCard card(CardModel::kPell5);
  Bytes set = Usb(10, 7, {0x05});
  Put32(set, 9, 1111);
  Put32(set, 17, -2222);
  const Bytes ack = Send(card, set);
  EXPECT_EQ(ack[0], 1);
  EXPECT_EQ(ack[1], 4);  // positions are acknowledged
  EXPECT_EQ(ack[2], 7);
  EXPECT_EQ(ack[3], 199);
  EXPECT_EQ(Get32(ack, 17), 0) << "an acknowledgement carries nothing but the free slots";
  card.Advance(10);
  const Bytes r = Send(card, Usb(3, 8));
  EXPECT_EQ(r[1], 3);
  EXPECT_EQ(Get16(r, 4), 2);  // two 5 ms periods
  EXPECT_EQ(r[6], 0);
  EXPECT_EQ(Get32(r, 17), 1111);
  EXPECT_EQ(Get32(r, 21), 0);
  EXPECT_EQ(Get32(r, 25), -2222);
}

TEST(CardReplies, DiscoveryAnswersWithAddressAndFirmware) {
  CardOptions o;
  const uint8_t mac[6] = {0x00, 0x1B, 0xC5, 0x0A, 0xFE, 0x42};
  std::copy(mac, mac + 6, o.hardwareAddress);
  o.firmwareMajor = 0x02;
  o.firmwareMinor = 0x11;
  VirtualCard card(CardModel::kLorn4, o);
  const Bytes r = Send(card, {0x55, 0xAA, 0x01, 0x39, 0x05});
  ASSERT_EQ(r.size(), 16u);
  EXPECT_EQ(Get16(r, 3), 0x0539);
  EXPECT_EQ(Bytes(r.begin() + 8, r.begin() + 14), Bytes(mac, mac + 6));
  EXPECT_EQ(r[14], 0x02);
  EXPECT_EQ(r[15], 0x11);
}

TEST(CardReplies, MalformedPacketsAreNotAnswered) {
  VirtualCard card(CardModel::kLorn5);
  EXPECT_TRUE(Send(card, {0x55, 0xAB, 0x02, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0}).empty());
  Bytes shortRows = EthRows(1, 1, 0, 5, Same(3, {1, 1, 1, 1, 1}));
  shortRows.resize(shortRows.size() - 1);
  EXPECT_TRUE(Send(card, shortRows).empty());
  Bytes shortSet = Eth(10, 2, {0x1F});
  EXPECT_TRUE(Send(card, shortSet).empty());
  EXPECT_EQ(card.stats().rejected, 3u);
  EXPECT_EQ(card.stats().commands, 0u);
}

TEST(CardConfiguration, FiveAxisLayoutLoadsPositionsPinsAndPolarities) {
  VirtualCard card(CardModel::kLorn5);
  AxisPins x;
  x.limit1 = 1;
  x.limit2 = 2;
  x.home = 3;
  x.homeLow = true;
  x.dirLow = true;
  const EthStatus s(
      Send(card, EthConfigure(1, 5, false, {10, 20, 30, 40, 50}, {x}, 7, true, 0x03)));
  EXPECT_EQ(s.state(), 1);
  const IoSetup& io = card.io();
  EXPECT_TRUE(io.loaded);
  EXPECT_EQ(io.axes[0].limit1Pin, 1);
  EXPECT_EQ(io.axes[0].limit2Pin, 2);
  EXPECT_EQ(io.axes[0].homePin, 3);
  EXPECT_TRUE(io.axes[0].homeLow);
  EXPECT_TRUE(io.axes[0].directionLow);
  EXPECT_TRUE(io.axes[0].stepLow);
  EXPECT_TRUE(io.axes[1].stepLow);
  EXPECT_FALSE(io.axes[2].stepLow);
  EXPECT_EQ(io.probePin, 7);
  EXPECT_TRUE(io.probeLow);
  EXPECT_EQ(io.outputPinByte, 0x04);
  EXPECT_EQ(io.depth, -1234);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(s.position(i), 10 * (i + 1));
}

TEST(CardConfiguration, FourAxisTakesDirectionsFromThePolarityByte) {
  VirtualCard card(CardModel::kLorn4);
  AxisPins x;
  x.dirLow = true;  // the 4-axis layout has no direction bit in the flag byte
  Send(card, EthConfigure(1, 4, true, {1, 2, 3, 4}, {x}, 0, false, 0x21));
  EXPECT_FALSE(card.io().axes[0].directionLow);
  EXPECT_TRUE(card.io().axes[1].directionLow);
  EXPECT_TRUE(card.io().axes[0].stepLow);
  EXPECT_EQ(card.io().depth, -1234);
  EXPECT_EQ(card.position(3), 4);
}

TEST(CardConfiguration, UsbLayoutPutsTheAxisBlockAt29) {
  VirtualCard card(CardModel::kPell5);
  Bytes c = Usb(11, 1, {0x1F});
  for (int i = 0; i < 5; ++i) Put32(c, 9 + 4 * i, 100 + i);
  c[29 + 2 * 4] = 0x65;      // axis 4: second limit pin 6, first limit pin 5
  c[30 + 2 * 4] = 0x80 | 9;  // direction low-active, home pin 9
  c[39] = 0x2B;              // aux pin 2, probe pin 11
  c[40] = 0x10;              // probe low-active
  c[41] = 0x10;              // step low-active on axis 4
  Put32(c, 42, 777);
  c[46] = 0x08;
  c[47] = 0xFF;
  c[48] = 0x32;
  c[49] = 0x50;
  Put16(c, 50, 0x0102);
  const Bytes r = Send(card, c);
  EXPECT_EQ(r[6], 1);
  const IoSetup& io = card.io();
  EXPECT_EQ(io.axes[4].limit1Pin, 5);
  EXPECT_EQ(io.axes[4].limit2Pin, 6);
  EXPECT_EQ(io.axes[4].homePin, 9);
  EXPECT_TRUE(io.axes[4].directionLow);
  EXPECT_TRUE(io.axes[4].stepLow);
  EXPECT_EQ(io.probePin, 11);
  EXPECT_EQ(io.auxPin, 2);
  EXPECT_TRUE(io.probeLow);
  EXPECT_EQ(io.depth, 777);
  EXPECT_EQ(io.outputPinByte, 0x08);
  EXPECT_EQ(io.timingWord, 0x0102);
  EXPECT_EQ(card.position(4), 104);
}

TEST(CardConfiguration, BareConfigureMakesTheCardReadyKeepingItsSetUp) {
  VirtualCard card(CardModel::kLorn5);
  EXPECT_EQ(EthStatus(Send(card, Eth(11, 1))).state(), 1);
  EXPECT_FALSE(card.io().loaded);
}

class Streaming : public ::testing::Test {
 protected:
  VirtualCard card{CardModel::kLorn5};
  uint16_t seq = 1;
  EthStatus Cmd(Bytes b) { return EthStatus(Send(card, std::move(b))); }
  EthStatus Poll() { return Cmd(EthPoll(seq++)); }
  void SetUp() override { Cmd(Eth(11, seq++)); }
};

TEST_F(Streaming, RowsRunOnePerPeriodAndFreeTheirSlots) {
  const EthStatus s = Cmd(EthRows(seq++, 1, 0x51, 5, Same(10, {3, -2, 1, 0, 7})));
  EXPECT_EQ(s.freeSlots(), 189);
  EXPECT_EQ(s.state(), 3);
  card.Advance(24);  // four whole periods
  const EthStatus p = Poll();
  EXPECT_EQ(p.freeSlots(), 193);
  EXPECT_EQ(p.cardTime(), 4);
  EXPECT_EQ(p.position(0), 12);
  EXPECT_EQ(p.position(1), -8);
  EXPECT_EQ(p.position(4), 28);
  EXPECT_EQ(p.counter(), 0x51u);
}

TEST_F(Streaming, RunningDryWithoutEndOfStreamIsOneUnderrun) {
  Cmd(EthRows(seq++, 1, 9, 5, Same(4, {1, 0, 0, 0, 0})));
  card.Advance(100);
  EXPECT_EQ(Poll().state(), 3) << "the stream is still open";
  EXPECT_EQ(card.stats().underruns, 1u);
  EXPECT_EQ(card.stats().starvedPeriods, 16u);
  Cmd(EthRows(seq++, 1, 10, 5, Same(2, {1, 0, 0, 0, 0})));
  card.Advance(50);
  EXPECT_EQ(card.stats().underruns, 2u);
  EXPECT_EQ(Cmd(Eth(9, seq++)).state(), 1) << "end of stream on an empty buffer ends at once";
  EXPECT_EQ(card.position(0), 6);
}

TEST_F(Streaming, EndOfStreamWaitsForTheBufferToRunOut) {
  Cmd(EthRows(seq++, 1, 0, 5, Same(6, {0, 1, 0, 0, 0})));
  EXPECT_EQ(Cmd(Eth(9, seq++)).state(), 3);
  card.Advance(30);
  EXPECT_EQ(Poll().state(), 3);
  card.Advance(5);
  EXPECT_EQ(Poll().state(), 1);
  EXPECT_EQ(card.stats().underruns, 0u);
  EXPECT_EQ(card.position(1), 6);
}

TEST_F(Streaming, StopMotionFlushesTheBuffer) {
  Cmd(EthRows(seq++, 1, 0, 5, Same(50, {1, 1, 1, 1, 1})));
  card.Advance(10);
  const EthStatus s = Cmd(Eth(8, seq++));
  EXPECT_EQ(s.state(), 1);
  EXPECT_EQ(s.freeSlots(), 199);
  card.Advance(100);
  EXPECT_EQ(card.position(0), 2);
}

TEST_F(Streaming, FullBufferRefusesTheExcess) {
  for (int i = 0; i < 4; ++i) Cmd(EthRows(seq++, 1, 0, 5, Same(50, {1, 0, 0, 0, 0})));
  EXPECT_EQ(Poll().freeSlots(), 0);
  EXPECT_EQ(card.stats().rowsRefused, 1u);
}

TEST_F(Streaming, HaltStopsAndRefusesRowsUntilConfigured) {
  Cmd(EthRows(seq++, 1, 0, 5, Same(20, {1, 0, 0, 0, 0})));
  EXPECT_EQ(Cmd(Eth(1, seq++)).state(), 0);
  const EthStatus s = Cmd(EthRows(seq++, 1, 0, 5, Same(5, {1, 0, 0, 0, 0})));
  EXPECT_EQ(s.state(), 0);
  EXPECT_EQ(s.freeSlots(), 199);
  EXPECT_EQ(Cmd(Eth(11, seq++)).state(), 1);
}

TEST_F(Streaming, EmergencyStopHaltsAndLatchesUntilConfigured) {
  Cmd(EthRows(seq++, 1, 0, 5, Same(20, {1, 0, 0, 0, 0})));
  card.machine().estop = true;
  card.Advance(5);
  EthStatus s = Poll();
  EXPECT_EQ(s.state(), 0);
  EXPECT_EQ(s.inputs() & 0x8000, 0x8000);
  EXPECT_EQ(Cmd(Eth(11, seq++)).state(), 0) << "no configuration while the button is down";
  card.machine().estop = false;
  card.Advance(5);
  EXPECT_EQ(Poll().state(), 0);
  EXPECT_EQ(Cmd(Eth(11, seq++)).state(), 1);
  EXPECT_EQ(card.stats().estopHalts, 1u);
}

TEST_F(Streaming, FreshSampleBitMarksNewPositions) {
  card.Advance(5);
  EXPECT_EQ(Poll().statusBits(), 0x80);
  EXPECT_EQ(Poll().statusBits(), 0) << "nothing new since the last status";
  Cmd(Eth(10, seq++, {0x01, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  const EthStatus s = Poll();
  EXPECT_EQ(s.statusBits(), 0x80);
  EXPECT_EQ(s.position(0), 5);
}

TEST_F(Streaming, CardTimeWrapsAtSixteenBits) {
  card.Advance(65536u * 5 + 15);
  EXPECT_EQ(Poll().cardTime(), 3);
}

TEST(CardSequence, RepeatedCommandIsAnsweredFromCacheAndNotRun) {
  VirtualCard card(CardModel::kLorn5);
  Send(card, Eth(11, 1));
  const Bytes rows = EthRows(2, 1, 0, 5, Same(10, {1, 0, 0, 0, 0}));
  const Bytes first = Send(card, rows);
  card.Advance(20);
  const Bytes again = Send(card, rows);
  EXPECT_EQ(first, again);
  EXPECT_EQ(card.stats().duplicates, 1u);
  EXPECT_EQ(card.stats().rowsReceived, 10u);
  // A new number runs again, even with the same bytes otherwise.
  EXPECT_EQ(EthStatus(Send(card, EthPoll(3))).freeSlots(), 199 - 10 + 4);
}

TEST(CardSequence, DiscoveryKeepsTheCacheOnlyForTheAnnouncedNumber) {
  VirtualCard card(CardModel::kLorn5);
  Send(card, Eth(11, 7));
  const Bytes rows = EthRows(8, 1, 0, 5, Same(3, {1, 0, 0, 0, 0}));
  Send(card, rows);
  Send(card, {0x55, 0xAA, 0x01, 8, 0});  // the plug-in reconnects with packet 8 pending
  Send(card, rows);
  EXPECT_EQ(card.stats().duplicates, 1u);
  Send(card, {0x55, 0xAA, 0x01, 0, 0});  // a fresh plug-in
  Send(card, rows);
  EXPECT_EQ(card.stats().duplicates, 1u);
  EXPECT_EQ(card.stats().rowsReceived, 6u);
}

TEST(CardSequence, UsbConnectEchoesAndRealignsToAPendingPacket) {
  VirtualCard card(CardModel::kPell5);
  card.Advance(15);
  Bytes connect(64, 0);
  connect[0] = 2;
  connect[1] = 1;
  connect[2] = 255;
  connect[3] = 'P';
  const Bytes r = Send(card, connect);
  ASSERT_EQ(r.size(), 64u);
  EXPECT_EQ(r[0], 1);
  EXPECT_EQ(r[1], 3);
  EXPECT_EQ(r[2], 255);
  EXPECT_EQ(r[3], 199);
  EXPECT_EQ(Get16(r, 4), 3);
  // Packet 0 ran, its reply was lost, and the plug-in reconnects announcing 255.
  Send(card, Usb(11, 0, {0x1F}));
  Send(card, connect);
  Send(card, Usb(11, 0, {0x1F}));
  EXPECT_EQ(card.stats().duplicates, 1u);
  EXPECT_EQ(card.stats().commands, 1u);
}

TEST(CardSequence, RebootForgetsEverythingAndIsSilentWhileBooting) {
  VirtualCard card(CardModel::kLorn5);
  Send(card, Eth(11, 1));
  Send(card, EthRows(2, 1, 0, 5, Same(10, {1, 0, 0, 0, 0})));
  card.Advance(20);
  card.Reboot(100);
  EXPECT_TRUE(Send(card, EthPoll(3)).empty());
  card.Advance(99);
  EXPECT_TRUE(Send(card, EthPoll(3)).empty());
  card.Advance(1);
  const EthStatus s(Send(card, EthPoll(2)));  // the old number is no repeat after a restart
  EXPECT_EQ(s.state(), 0);
  EXPECT_EQ(s.position(0), 0);
  EXPECT_EQ(s.cardTime(), 0);
  EXPECT_EQ(card.stats().duplicates, 0u);
}

// The first packet to reach a restarted card may have been built before the restart: the card
// switches nothing on until it has been configured, whatever the headers ask.
TEST(CardOutputs, PowerUpIsDarkUntilAConfigurationEndsTheHalt) {
  VirtualCard card(CardModel::kLorn5);
  Bytes lit = EthRows(1, 1, 0, 5, Same(10, {1, 0, 0, 0, 0}));
  lit[9] = 0x03;
  Put16(lit, 10, 500);
  Send(card, lit);
  EXPECT_EQ(card.outputs(), 0);
  EXPECT_EQ(card.spindle(), 0);
  EXPECT_EQ(card.stats().rowsRefused, 10u);
  Send(card, Eth(1, 2, {}, 0x03, 500));  // a halt is no configuration
  EXPECT_EQ(card.spindle(), 0);
  card.machine().estop = true;
  card.Advance(5);
  Send(card, Eth(11, 3, {}, 0x03, 500));  // refused while the button is down
  EXPECT_EQ(card.outputs(), 0);
  EXPECT_TRUE(card.dark());
  card.machine().estop = false;
  Send(card, Eth(11, 4, {}, 0x01, 0));
  EXPECT_EQ(card.outputs(), 0x01) << "from its configuration on the card follows the headers";
  EXPECT_EQ(card.spindle(), 0);
  Send(card, Eth(3, 5, {0, 0, 0, 0, 0, 0}, 0x03, 500));
  EXPECT_EQ(card.spindle(), 500);
  // A halt of a configured card is not a restart: the headers still rule, as the plug-in
  // holds its outputs off itself.
  Send(card, Eth(1, 6, {}, 0x02, 250));
  EXPECT_EQ(card.outputs(), 0x02);
  EXPECT_EQ(card.spindle(), 250);
  card.Reboot(0);
  Send(card, Eth(3, 7, {0, 0, 0, 0, 0, 0}, 0x03, 500));
  EXPECT_EQ(card.outputs(), 0);
  EXPECT_EQ(card.spindle(), 0);
}

TEST(CardOutputs, UsbCardPowersUpDarkToo) {
  VirtualCard card(CardModel::kPell5);
  Bytes lit = Usb(3, 1, {0x15});
  lit[4] = 0x03;
  lit[5] = 0xF4;
  lit[6] = 0x01;
  Send(card, lit);
  EXPECT_EQ(card.outputs(), 0);
  EXPECT_EQ(card.spindle(), 0);
  Bytes configure = Usb(11, 2);
  configure[4] = 0x03;
  Send(card, configure);
  EXPECT_EQ(card.outputs(), 0x03);
}

TEST(CardSequence, SilentCardAnswersNothingButKeepsMoving) {
  VirtualCard card(CardModel::kLorn5);
  Send(card, Eth(11, 1));
  Send(card, EthRows(2, 1, 0, 5, Same(10, {1, 0, 0, 0, 0})));
  card.SetSilent(true);
  EXPECT_TRUE(Send(card, EthPoll(3)).empty());
  card.Advance(50);
  EXPECT_EQ(card.position(0), 10);
}

}  // namespace
}  // namespace torvexan::sim::testing
