// The session's link counters, driven tick by tick through the link state machine against the
// scripted Ethernet and USB cards: what each misbehaviour of the link adds.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "link/link_counters.h"
#include "link_fixture.h"

namespace torvexan::testing {
namespace {

class LinkCountersTest : public LinkFixture {
 protected:
  const LinkCounters& Counters() const { return session->counters; }

  // Ticks until the pending packet is answered or the link is lost.
  void TickUntilDone(int limit = 500) {
    for (int i = 0; i < limit && session->txLength != 0 && session->online; ++i) Tick();
  }
};

TEST_F(LinkCountersTest, DiscoveryCountsPassesAndOneRequestPerAddress) {
  Start(false);
  ASSERT_TRUE(TickUntilOnline());
  EXPECT_EQ(Counters().discoveryPasses, 1u);
  EXPECT_EQ(Counters().discoveryRequests, 2u) << "the card sits behind the second address";
  EXPECT_EQ(Counters().exchanges, 0u) << "a discovery reply is not an exchange";
  EXPECT_EQ(Counters().usbOpens, 0u) << "no USB library installed";
}

TEST_F(LinkCountersTest, EveryPassWithoutACardTriesEachAddressAgain) {
  Start(false);
  card.reachableFrom = 0;
  Ticks(3 * 11 * 2);
  EXPECT_EQ(Counters().discoveryPasses, 3u);
  EXPECT_EQ(Counters().discoveryRequests, 6u);
}

TEST_F(LinkCountersTest, LateReplyCountsAResendAndTheStaleAnswerLater) {
  Start(false);
  ASSERT_TRUE(TickUntilOnline());
  card.holdReplies = true;
  QueueStatusPoll();
  Ticks(12);
  ASSERT_EQ(CommandSends(), 2u);
  EXPECT_EQ(Counters().resends, 1u);
  card.ReleaseHeld(net);  // both answers arrive: the first is taken
  Tick();
  EXPECT_EQ(Counters().exchanges, 1u);
  EXPECT_EQ(Counters().staleReplies, 0u) << "the second answer is still unread";

  card.holdReplies = false;
  QueueStatusPoll();
  Tick();
  EXPECT_EQ(session->txLength, 0);
  EXPECT_EQ(Counters().exchanges, 2u);
  EXPECT_EQ(Counters().staleReplies, 1u);
  EXPECT_EQ(Counters().resends, 1u);
  EXPECT_EQ(Counters().rejectedReplies, 0u);
  EXPECT_EQ(Counters().linkLosses, 0u);
}

TEST_F(LinkCountersTest, LossIsCountedOnceAndThePacketKeptOverItIsAResend) {
  Start(true);
  usb->present = false;
  ASSERT_TRUE(TickUntilOnline());
  QueueStatusPoll();
  Tick();
  ASSERT_EQ(session->cardType, kCardLorn5);
  const uint64_t opens = Counters().usbOpens;
  EXPECT_EQ(opens, static_cast<uint64_t>(usb->openAttempts));

  card.answerCommands = false;
  QueueStatusPoll();
  const size_t sendsBefore = CommandSends();
  TickUntilDone();
  ASSERT_FALSE(session->online);
  EXPECT_EQ(Counters().linkLosses, 1u);
  const uint64_t sends = CommandSends() - sendsBefore;
  EXPECT_GE(sends, 10u);
  EXPECT_EQ(Counters().resends, sends - 1) << "every send of one packet but its first";
  Ticks(3);  // offline ticks lose nothing more
  EXPECT_EQ(Counters().linkLosses, 1u);

  card.answerCommands = true;
  ASSERT_TRUE(TickUntilOnline());
  EXPECT_EQ(Counters().discoveryPasses, 2u);
  EXPECT_EQ(session->txLength, 0);
  EXPECT_EQ(Counters().resends, sends) << "the kept packet went out again after reconnecting";
  EXPECT_EQ(Counters().exchanges, 2u);
  EXPECT_EQ(Counters().usbOpens, opens) << "a known model reconnects without detection";
}

TEST_F(LinkCountersTest, CardAnsweringOnlyShortRepliesIsRejectedUntilTheLinkIsLost) {
  Start(false);
  ASSERT_TRUE(TickUntilOnline());
  card.statusLength = 30;  // too short for a status reply of any model
  QueueStatusPoll();
  Tick();  // a rejected answer sends the packet again, but only once a tick
  EXPECT_EQ(Counters().rejectedReplies, 1u);
  EXPECT_EQ(Counters().resends, 0u);
  Tick();
  EXPECT_EQ(Counters().rejectedReplies, 2u);
  EXPECT_EQ(Counters().resends, 1u);
  int ticks = 2;
  while (session->online && ticks < 500) {
    Tick();
    ++ticks;
  }
  EXPECT_EQ(ticks, 1 + 10 * 11) << "lost after the silence ten fixed waits make";
  EXPECT_EQ(Counters().rejectedReplies, Counters().resends + 1) << "each send rejected";
  EXPECT_LE(Counters().resends, 110u) << "at most one send a tick";
  EXPECT_EQ(Counters().linkLosses, 1u);
  EXPECT_EQ(Counters().exchanges, 0u);
  EXPECT_EQ(session->txLength, 21) << "kept for the next card";
}

TEST_F(LinkCountersTest, UsbCardCountsOpensHandshakesRepliesAndLoss) {
  Start(true);
  card.reachableFrom = 0;
  ASSERT_TRUE(TickUntilOnline());
  ASSERT_EQ(session->cardType, kCardPell5);
  EXPECT_EQ(Counters().usbOpens, 2u) << "detection's open, then the handshake's own";
  EXPECT_EQ(Counters().usbConnects, 1u);

  QueueStatusPoll();
  const uint8_t sequence = session->usbSequence;
  Bytes badMarker = UsbStatusReply(sequence, 1);
  badMarker[0] = 9;
  usb->scriptedReplies = {badMarker, UsbStatusReply(static_cast<uint8_t>(sequence - 1), 1),
                          UsbStatusReply(sequence, 1)};
  Tick();
  EXPECT_EQ(session->txLength, 0);
  EXPECT_EQ(Counters().exchanges, 1u);
  EXPECT_EQ(Counters().rejectedReplies, 1u);
  EXPECT_EQ(Counters().staleReplies, 1u);
  EXPECT_EQ(Counters().resends, 1u) << "the rejected reply cost a second write";

  usb->answerCommands = false;
  QueueStatusPoll();
  Tick();
  ASSERT_FALSE(session->online);
  EXPECT_EQ(Counters().linkLosses, 1u);
  EXPECT_EQ(Counters().resends, 10u);

  usb->answerCommands = true;
  ASSERT_TRUE(TickUntilOnline());
  TickUntilDone();
  EXPECT_EQ(session->txLength, 0);
  EXPECT_EQ(Counters().usbConnects, 2u);
  EXPECT_EQ(Counters().resends, 11u) << "the kept packet's first write after reconnecting";
  EXPECT_EQ(Counters().exchanges, 2u);
  EXPECT_EQ(Counters().discoveryPasses, 1u) << "a known USB model never looks on Ethernet";
}

TEST(LinkCountersLine, NamesEveryCounterOnOneLine) {
  LinkCounters c{};
  c.exchanges = 12345678901ull;
  c.resends = 2;
  c.staleReplies = 3;
  c.rejectedReplies = 4;
  c.heldReplies = 10;
  c.linkLosses = 5;
  c.discoveryPasses = 6;
  c.discoveryRequests = 7;
  c.usbOpens = 8;
  c.usbConnects = 9;
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  PrintLinkCounters(f, c);
  std::rewind(f);
  char text[512] = {};
  const size_t n = std::fread(text, 1, sizeof text - 1, f);
  std::fclose(f);
  EXPECT_EQ(
      std::string(text, n),
      "link counters: exchanges 12345678901, resends 2, stale replies 3, rejected replies 4, "
      "held replies 10, link losses 5, discovery passes 6, discovery requests 7, usb opens 8, "
      "usb connects 9\n");
}

}  // namespace
}  // namespace torvexan::testing
