// How often the Ethernet exchange sends an unanswered packet again: at the usual pace, backing
// off, while the card has rows to spare; in every tick its answer is overdue while the card's
// buffer, counted down from its last answer by the time since, runs low.
#include <gtest/gtest.h>

#include <vector>

#include "link/card_session.h"
#include "link/eth_transport.h"
#include "link_fixture.h"

namespace torvexan::testing {
namespace {

constexpr uint8_t kExecutingQueue = 3;
constexpr uint8_t kReady = 1;
constexpr int kLinkLossTicks = 110;
constexpr int kTicksPerLowBuffer = 25;  // 100 rows, two batches, at 5 ms a row and 20 ms a tick

class EthResendPace : public LinkFixture {
 protected:
  // Online with a Lorn5 whose first answers came within the tick of their send; the card then
  // reports `freeSlots` and `cardState` in every answer.
  void ConnectTo(uint8_t freeSlots, uint8_t cardState) {
    Start(true);
    usb->present = false;
    ASSERT_TRUE(TickUntilOnline());
    card.freeSlots = freeSlots;
    card.replyState = cardState;
    QueueStatusPoll();
    Tick();
    ASSERT_EQ(session->txLength, 0);
    ASSERT_EQ(session->freeSlots, freeSlots);
  }

  // Rows of a move left pending the way the streamer leaves them.
  void QueueRows(uint8_t count) {
    ASSERT_EQ(session->txLength, 0);
    std::vector<int32_t> rows(size_t{count} * session->axisCount, 1);
    session->txLength = BuildMotionCmd(*session, 7, count, 1, rows.data());
    ASSERT_GT(session->txLength, 0);
  }

  // The card falls silent with a packet pending; the ticks (counted from the silence) in which
  // it went out, until the link is lost (lostAt) or `limit` ticks have passed.
  std::vector<int> SendsIntoSilence(int limit) {
    card.answerCommands = false;
    const std::vector<uint8_t> firstWire = Pending();
    std::vector<int> ticks;
    for (int tick = 1; tick <= limit && session->online; ++tick) {
      const size_t sent = CommandSends();
      Tick();
      EXPECT_LE(CommandSends() - sent, 1u) << "two sends in tick " << tick;
      if (CommandSends() != sent) {
        ticks.push_back(tick);
        EXPECT_EQ(net.sent.back().wire, firstWire) << "a resend in tick " << tick << " differs";
      }
      if (!session->online) lostAt = tick;
    }
    return ticks;
  }

  // A card that stops answering is sent its packet again at the usual pace, backing off.
  void ExpectBackingOffUntilTheLinkIsLost() {
    const std::vector<int> ticks = SendsIntoSilence(500);
    ASSERT_GE(ticks.size(), 2u);
    EXPECT_EQ(lostAt, 1 + kLinkLossTicks);
    EXPECT_LE(ticks.size(), 20u) << "a silent card is not flooded";
    EXPECT_GE(Gaps(ticks).back(), 9);
  }

  int lostAt = 0;

  std::vector<uint8_t> Pending() {
    std::vector<uint8_t> plain(session->txPacket, session->txPacket + session->txLength);
    return WireEncode(plain);
  }

  static std::vector<int> Gaps(const std::vector<int>& ticks) {
    std::vector<int> gaps;
    for (size_t i = 1; i < ticks.size(); ++i) gaps.push_back(ticks[i] - ticks[i - 1]);
    return gaps;
  }
};

TEST_F(EthResendPace, CardRunningLowIsSentThePacketEveryTickUntilTheLinkIsLost) {
  ConnectTo(150, kExecutingQueue);  // 49 rows: less than two batches
  QueueRows(20);
  const std::vector<int> ticks = SendsIntoSilence(500);
  EXPECT_EQ(lostAt, 1 + kLinkLossTicks) << "the link is lost after the same silence";
  ASSERT_FALSE(ticks.empty());
  EXPECT_EQ(ticks.size(), size_t{kLinkLossTicks});
  for (int gap : Gaps(ticks)) EXPECT_EQ(gap, 1);
  EXPECT_EQ(session->counters.linkLosses, 1u);
}

// The card's buffer was full at its last answer: the packet backs off at first, and once the
// rows run since would have left less than two batches it goes every tick.
TEST_F(EthResendPace, FullCardBacksOffUntilItsBufferIsCountedDownToLow) {
  ConnectTo(0, kExecutingQueue);
  QueueStatusPoll();
  const std::vector<int> ticks = SendsIntoSilence(60);
  std::vector<int> early, late;
  for (int t : ticks) (t < kTicksPerLowBuffer - 4 ? early : late).push_back(t);
  const std::vector<int> earlyGaps = Gaps(early);
  ASSERT_GE(earlyGaps.size(), 4u);
  for (size_t i = 1; i < earlyGaps.size(); ++i) EXPECT_GE(earlyGaps[i], earlyGaps[i - 1]);
  EXPECT_GE(earlyGaps.back(), 3) << "a full card's packet did not back off";
  ASSERT_GE(late.size(), 2u);
  EXPECT_LE(late.front(), kTicksPerLowBuffer + 1) << "the card ran low and was not sent to";
  for (size_t i = 1; i < late.size(); ++i) {
    if (late[i - 1] > kTicksPerLowBuffer) {
      EXPECT_EQ(late[i] - late[i - 1], 1) << late[i];
    }
  }
}

// Nothing runs out on a card that stands with nothing to run, and a jog is fed a few rows a
// tick whatever happens: their packets back off as a silent card's should.
TEST_F(EthResendPace, IdleCardKeepsTheUsualPace) {
  ConnectTo(199, kReady);
  QueueStatusPoll();
  ExpectBackingOffUntilTheLinkIsLost();
}

TEST_F(EthResendPace, JogKeepsTheUsualPaceOnAnEmptyCard) {
  ConnectTo(199, kExecutingQueue);
  state->motion.MotionMode = kJogMove;
  QueueRows(2);
  ExpectBackingOffUntilTheLinkIsLost();
}

// The card answered the discovery within the tick: the first exchanges wait as long as that,
// not the fixed time. (A card found on the second address gets no such sample: the request
// on the first may have been answered late, with the same number.)
TEST_F(EthResendPace, DiscoveryAnsweredAloneGivesTheFirstRoundTrip) {
  Start(true);
  usb->present = false;
  card.reachableFrom = kFirstLocal;
  ASSERT_TRUE(TickUntilOnline());
  ASSERT_EQ(card.discoveryRequests, 1);
  card.holdReplies = true;
  QueueStatusPoll();
  Tick();
  Ticks(2);
  EXPECT_EQ(CommandSends(), 2u) << "the packet waited the fixed time for want of a sample";
}

}  // namespace
}  // namespace torvexan::testing
