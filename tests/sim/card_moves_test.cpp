// The card's own moves: homing to a switch, probing to a surface, the handwheel, limits and
// the inputs it reports on the configured pins.
#include <gtest/gtest.h>

#include "card_packets.h"

namespace torvexan::sim::testing {
namespace {

constexpr uint8_t kHomePin = 3;
constexpr uint8_t kProbePin = 5;

class Moves : public ::testing::Test {
 protected:
  VirtualCard card{CardModel::kLorn5};
  uint16_t seq = 1;
  EthStatus Cmd(Bytes b) { return EthStatus(Send(card, std::move(b))); }
  EthStatus Poll() { return Cmd(EthPoll(seq++)); }
  void Configure(const std::vector<AxisPins>& pins, bool probeLow = false) {
    Cmd(EthConfigure(seq++, 5, false, {0, 0, 0, 0, 0}, pins, kProbePin, probeLow));
  }
  // Feeds rows of kind 2 as the sequences do, 50 at a time, while the card moves.
  void Feed(std::vector<int16_t> row, int packets) {
    for (int i = 0; i < packets; ++i) {
      const int room = std::min(50, card.freeSlots());
      Cmd(EthRows(seq++, 2, 0, 5, Same(room, row)));
      card.Advance(250);
    }
  }
};

TEST_F(Moves, HomeSwitchEndsTheApproachOnTheRowThatTripsIt) {
  AxisPins x;
  x.home = kHomePin;
  x.homeLow = true;
  Configure({x});
  card.machine().SetHome(0, -1000);
  EXPECT_EQ(Poll().inputs() & (1 << (kHomePin - 1)), 1 << (kHomePin - 1))
      << "a low-active input reads high while its switch is open";
  Cmd(Eth(5, seq++, {0, 255}, 0, 0, 0x02));
  Feed({-7, 0, 0, 0, 0}, 4);
  const EthStatus s = Poll();
  EXPECT_EQ(s.state(), 1);
  EXPECT_EQ(s.freeSlots(), 199);
  EXPECT_LE(s.position(0), -1000);
  EXPECT_GT(s.position(0), -1007);
  EXPECT_EQ(s.inputs() & (1 << (kHomePin - 1)), 0);
  EXPECT_EQ(card.stats().homeStops, 1u);
  EXPECT_GT(card.stats().rowsRefused, 0u) << "rows sent after the stop stay refused";
}

TEST_F(Moves, UnwiredHomeSwitchNeverEndsTheApproach) {
  Configure({});
  card.machine().SetHome(0, -100);
  Cmd(Eth(5, seq++, {0, 255}));
  Feed({-10, 0, 0, 0, 0}, 1);
  EXPECT_EQ(Poll().state(), 4);
  EXPECT_EQ(card.position(0), -500);
}

TEST_F(Moves, PullOffAfterProfileStartIgnoresTheHomeSwitch) {
  AxisPins x;
  x.home = kHomePin;
  Configure({x});
  card.machine().SetHome(0, 0);  // standing on the switch
  Cmd(Eth(4, seq++));
  Cmd(EthRows(seq++, 2, 0, 5, Same(20, {-5, 0, 0, 0, 0})));
  Cmd(Eth(9, seq++));
  card.Advance(200);
  EXPECT_EQ(Poll().state(), 1);
  EXPECT_EQ(card.position(0), -100);
}

TEST_F(Moves, ProbeContactLatchesThePositionAndEndsTheMove) {
  Configure({}, true);
  card.machine().SetProbeSurface(2, -333);
  Cmd(Eth(6, seq++));
  Feed({1, 0, -4, 0, 0}, 2);
  const EthStatus s = Poll();
  EXPECT_EQ(s.state(), 1);
  EXPECT_EQ(s.position(2), -336);
  EXPECT_EQ(s.probe(5, 2), -336);
  EXPECT_EQ(s.probe(5, 0), 84);
  EXPECT_EQ(s.inputs() & (1 << (kProbePin - 1)), 0) << "low-active probe in contact reads low";
  EXPECT_EQ(card.stats().probeTrips, 1u);
}

TEST_F(Moves, ProbingWithoutContactLatchesWhereTheMoveEnded) {
  Configure({});
  card.machine().SetProbeSurface(2, -10000);
  Cmd(Eth(6, seq++));
  Cmd(EthRows(seq++, 2, 0, 5, Same(10, {0, 0, -2, 0, 0})));
  Cmd(Eth(9, seq++));
  card.Advance(100);
  const EthStatus s = Poll();
  EXPECT_EQ(s.state(), 1);
  EXPECT_EQ(s.probe(5, 2), -20);
  EXPECT_EQ(card.stats().probeTrips, 0u);
}

TEST_F(Moves, ProbingWithNoRowsEndsOnEndOfStream) {
  Configure({});
  SCOPED_TRACE("all profiles empty: the first feed is an end of stream");
  Cmd(Eth(6, seq++));
  EXPECT_EQ(Cmd(Eth(9, seq++)).state(), 1);
}

TEST_F(Moves, HandwheelMovesTheAxisAndItsSlave) {
  Configure({});
  EXPECT_EQ(Cmd(Eth(7, seq++, {1, 3})).state(), 4);
  card.machine().handwheelAxis = 1;
  card.machine().handwheelX10 = true;
  card.machine().TurnHandwheel(5);
  card.Advance(5);
  EthStatus s = Poll();
  EXPECT_EQ(s.handwheel(), 5);
  EXPECT_EQ(s.inputs() & 0x2200, 0x2200);  // selector Y and times ten
  card.Advance(20);
  s = Poll();
  EXPECT_EQ(s.handwheel(), 0);
  EXPECT_EQ(s.position(1), 50);
  EXPECT_EQ(s.position(3), 50);
  EXPECT_EQ(s.state(), 4);
  EXPECT_EQ(Cmd(Eth(8, seq++)).state(), 1);
}

TEST_F(Moves, LimitSwitchStopsMotionUnlessOverridden) {
  AxisPins x;
  x.limit1 = 1;
  x.limit2 = 2;
  Configure({x});
  card.machine().SetLimits(0, -50, 50);
  Cmd(EthRows(seq++, 1, 0, 5, Same(30, {4, 0, 0, 0, 0})));
  card.Advance(150);
  EXPECT_EQ(Poll().state(), 1);
  EXPECT_EQ(card.position(0), 52);
  EXPECT_EQ(card.stats().limitStops, 1u);
  // Leaving the switch with the host's override on.
  Cmd(EthRows(seq++, 1, 0, 5, Same(30, {-4, 0, 0, 0, 0}), 0x40));
  card.Advance(200);
  EXPECT_EQ(card.position(0), -68);
  EXPECT_EQ(card.stats().limitStops, 1u);
}

TEST_F(Moves, SecondProfileStartKeepsTheQueuedRows) {
  Configure({});
  Cmd(Eth(4, seq++));
  EXPECT_EQ(Cmd(EthRows(seq++, 2, 0, 5, Same(40, {1, 0, 0, 0, 0}))).state(), 4);
  Cmd(Eth(4, seq++));
  EXPECT_EQ(Poll().freeSlots(), 159);
}

TEST_F(Moves, SetPositionsTouchesOnlyMaskedAxes) {
  Configure({});
  Bytes set = Eth(10, seq++, {0x12});
  set.resize(16 + 20, 0);
  for (int i = 0; i < 5; ++i) Put32(set, 16 + 4 * i, 1000 + i);
  EXPECT_EQ(Cmd(set).kind(), 4);
  const EthStatus s = Poll();
  EXPECT_EQ(s.position(0), 0);
  EXPECT_EQ(s.position(1), 1001);
  EXPECT_EQ(s.position(4), 1004);
}

TEST(FourAxisInputs, HandwheelLinesSitWhereTheModelPutsThem) {
  VirtualCard card(CardModel::kLorn4);
  card.machine().handwheelAxis = 3;
  card.machine().handwheelX100 = true;
  card.machine().estop = true;  // the 4-axis card has no emergency-stop input
  EXPECT_EQ(card.InputWord(), 0x0800 | 0x2000);
}

}  // namespace
}  // namespace torvexan::sim::testing
