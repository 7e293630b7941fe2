// One request per free tick, in priority order, into the single pending packet.
#include <cstring>
#include <vector>

#include "link/packets.h"
#include "signals/request_dispatcher.h"
#include "signals_fixture.h"

namespace torvexan::testing {
namespace {

struct Sent {
  uint8_t code;
  int length;
};

class Dispatcher : public SignalsFixture {
 protected:
  bool Usb() { return card().cardType == kCardPell4 || card().cardType == kCardPell5; }
  int PayloadOffset() { return Usb() ? kUsbHeaderLength : kEthHeaderLength; }
  uint8_t CommandCode() { return card().txPacket[Usb() ? 3 : 8]; }

  int32_t PacketI32(int offset) {
    const uint8_t* p = card().txPacket + offset;
    return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
  }

  // One tick of a free link: the dispatcher may build, then the exchange completes.
  bool FreeTick(Sent* sent = nullptr) {
    DispatchRequests(s);
    if (card().txLength == 0) return false;
    if (sent) *sent = Sent{CommandCode(), card().txLength};
    card().txLength = 0;
    return true;
  }
};

class DispatcherOnEveryModel : public Dispatcher, public ::testing::WithParamInterface<uint32_t> {};

INSTANTIATE_TEST_SUITE_P(CardModels, DispatcherOnEveryModel,
                         ::testing::Values(uint32_t{kCardLorn5}, uint32_t{kCardPell5}));

TEST_P(DispatcherOnEveryModel, HaltThenStopThenSetPositionsOnThreeSuccessiveFreeTicks) {
  Online(GetParam());
  const int n = card().axisCount;
  const int32_t positions[kCardChannels] = {-1, 70000, 0, -123456, 9};
  std::memcpy(s.motion.PositionImage, positions, sizeof positions);
  s.motion.PurgeMask = 0x05;
  s.requests.RequestFlags = kRequestSetPositions | kRequestStopMotion | kRequestHalt;

  std::vector<uint8_t> codes;
  Sent sent{};
  ASSERT_TRUE(FreeTick(&sent));
  codes.push_back(sent.code);
  EXPECT_EQ(s.requests.RequestFlags, kRequestSetPositions | kRequestStopMotion);
  ASSERT_TRUE(FreeTick(&sent));
  codes.push_back(sent.code);
  EXPECT_EQ(s.requests.RequestFlags, kRequestSetPositions);
  DispatchRequests(s);
  ASSERT_NE(card().txLength, 0);
  codes.push_back(CommandCode());
  EXPECT_EQ(codes, (std::vector<uint8_t>{kHaltCmd, kStopMotionCmd, kSetPositionsCmd}));
  EXPECT_EQ(card().txLength, PayloadOffset() + 1 + 4 * n);
  EXPECT_EQ(card().txPacket[PayloadOffset()], 0x05);
  for (int i = 0; i < n; ++i) EXPECT_EQ(PacketI32(PayloadOffset() + 1 + 4 * i), positions[i]);
  EXPECT_EQ(s.requests.RequestFlags, 0u);

  card().txLength = 0;
  EXPECT_FALSE(FreeTick()) << "nothing is left to serve";
}

TEST_P(DispatcherOnEveryModel, ResetOutOfEmergencyStopConfiguresWithItsPositionsThenStops) {
  Online(GetParam());
  const int n = card().axisCount;
  for (int a = 0; a < kHostAxisCount; ++a) m.Axes[a].PositionCounts = 1000 * (a + 1) - 7;
  s.settings.AxisMap[3] = 5;  // channel 3 drives C
  plugin.Reset();
  ASSERT_EQ(s.requests.RequestFlags, kRequestConfigure);
  s.requests.RequestFlags |=
      kRequestJogStop;  // dropped by the configuration: the card starts afresh

  DispatchRequests(s);
  ASSERT_NE(card().txLength, 0);
  EXPECT_EQ(CommandCode(), kConfigureCmd);
  EXPECT_EQ(card().txLength, Usb() ? 42 + 2 * n : 25 + 6 * n);
  const int positionsAt = PayloadOffset() + 1;
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(PacketI32(positionsAt + 4 * i), m.Axes[s.settings.AxisMap[i]].PositionCounts);
  }
  EXPECT_EQ(s.requests.RequestFlags, kRequestStopMotion);

  card().txLength = 0;
  Sent sent{};
  ASSERT_TRUE(FreeTick(&sent));
  EXPECT_EQ(sent.code, kStopMotionCmd);
  EXPECT_EQ(s.requests.RequestFlags, 0u);
}

TEST_F(Dispatcher, AnyOtherPendingRequestGoesBeforeTheConfiguration) {
  s.requests.RequestFlags = kRequestConfigure | kRequestSetPositions;
  Sent sent{};
  ASSERT_TRUE(FreeTick(&sent));
  EXPECT_EQ(sent.code, kSetPositionsCmd);
  ASSERT_TRUE(FreeTick(&sent));
  EXPECT_EQ(sent.code, kConfigureCmd);
  EXPECT_EQ(s.requests.RequestFlags, kRequestStopMotion);
}

TEST_F(Dispatcher, APendingPacketHoldsBackEveryRequest) {
  for (uint32_t bit : {kRequestHalt, kRequestStopMotion, kRequestSetPositions, kRequestConfigure}) {
    card().txLength = 21;
    card().txPacket[8] = kMotionCmd;
    s.requests.RequestFlags = bit;
    DispatchRequests(s);
    EXPECT_EQ(card().txLength, 21) << bit;
    EXPECT_EQ(card().txPacket[8], kMotionCmd) << bit;
    EXPECT_EQ(s.requests.RequestFlags, bit);
  }
}

TEST_F(Dispatcher, TheJogStopRequestIsLeftToTheJogSequences) {
  s.requests.RequestFlags = kRequestJogStop;
  EXPECT_FALSE(FreeTick());
  EXPECT_EQ(s.requests.RequestFlags, kRequestJogStop);
}

}  // namespace
}  // namespace torvexan::testing
