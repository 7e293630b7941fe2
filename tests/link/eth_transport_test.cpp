// The Ethernet transport, driven tick by tick through the link state machine against the
// scripted network and card.
#include <gtest/gtest.h>

#include <vector>

#include "link/card_session.h"
#include "link/eth_transport.h"
#include "link_fixture.h"

namespace torvexan::testing {
namespace {

class EthTransportTest : public LinkFixture {
 protected:
  // Brings the link up through the discovery of the card on the second address.
  void Connect() {
    Start(false);
    ASSERT_TRUE(TickUntilOnline());
  }

  const SentPacket& LastCommand() const {
    for (auto it = net.sent.rbegin(); it != net.sent.rend(); ++it) {
      if (it->toAddress == card.address) return *it;
    }
    throw std::logic_error("no command sent");
  }
};

TEST_F(EthTransportTest, CardOnTheSecondAddressIsFoundAfterTheFirstTimesOut) {
  Start(false);
  ASSERT_EQ(kFirstLocal, Ip(10, 0, 0, 1));
  ASSERT_EQ(kSecondLocal, Ip(192, 168, 1, 10));
  ::testing::internal::CaptureStdout();
  Tick();
  ASSERT_EQ(net.sent.size(), 1u);
  EXPECT_EQ(net.sent[0].localAddress, kFirstLocal);
  EXPECT_EQ(net.sent[0].toAddress, Ip(255, 255, 255, 255));
  EXPECT_EQ(net.sent[0].toPort, 1234);
  EXPECT_EQ(net.sent[0].wire, (Bytes{0x55, 0xFF, 0xFE, 0xFE, 0xFE}));
  const FakeSocket& first = net.sockets.at(net.sent[0].socket);
  EXPECT_EQ(first.boundPort, 1235);
  EXPECT_TRUE(first.broadcast);
  EXPECT_TRUE(first.nonBlocking);

  Ticks(10);  // ten ticks are not yet "more than ten"
  EXPECT_EQ(net.sent.size(), 1u);
  EXPECT_FALSE(session->online);

  Tick();  // the eleventh: the next address is tried and answers within the same tick
  const std::string out = ::testing::internal::GetCapturedStdout();
  ASSERT_EQ(net.sent.size(), 2u);
  EXPECT_EQ(net.sent[1].localAddress, kSecondLocal);
  EXPECT_TRUE(net.sockets.at(net.sent[0].socket).closed);
  EXPECT_TRUE(session->online);
  EXPECT_EQ(out,
            "sent from 10.0.0.1----------0\r\n"
            "sent from 192.168.1.10----------1\r\n"
            "receieved from 192.168.1.50,-------------------ID: 1\r\n");

  const FakeSocket& connected = net.sockets.at(session->socket);
  EXPECT_TRUE(connected.connected);
  EXPECT_FALSE(connected.broadcast);
  EXPECT_EQ(connected.peer.address, card.address);
  EXPECT_EQ(connected.peer.port, NetPort(1234));
  EXPECT_EQ(session->cardAddress.address, card.address);
  EXPECT_STREQ(session->serialText, "001A2B3C4D5E");
  EXPECT_STREQ(session->deviceName, "TorvexanEth V01.2A");
  EXPECT_EQ(session->ethSequence, 1);
  EXPECT_EQ(state->link.transport.DiscoveryCount, 0u);
  EXPECT_EQ(session->cardType, kCardUnknown) << "the model is known only from the first reply";
  EXPECT_EQ(state->link.LinkStep, kLinkIdle);
}

TEST_F(EthTransportTest, DiscoveryReplyWithAnotherSequenceMovesOnAtOnce) {
  Start(false);
  card.reachableFrom = kFirstLocal;
  card.discoverySequenceSkew = 1;
  Tick();
  EXPECT_EQ(net.sent.size(), 2u) << "the second address is tried in the same tick";
  EXPECT_TRUE(net.sockets.at(net.sent[0].socket).closed);
  EXPECT_FALSE(session->online);
  EXPECT_EQ(session->ethSequence, 0);
  EXPECT_STREQ(session->serialText, "000000000000000000");
}

TEST_F(EthTransportTest, EmptyDatagramPrintsTheErrorAndMovesOn) {
  Start(false);
  card.answerDiscovery = false;
  card.reachableFrom = kFirstLocal;
  Tick();
  net.Deliver(net.sent[0].socket, Datagram{});
  ::testing::internal::CaptureStdout();
  Tick();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "WSAStartup failed.errno=[11]sent from 192.168.1.10----------1\r\n");
  EXPECT_EQ(net.sent.size(), 2u);
}

TEST_F(EthTransportTest, FirstOfTwoAnsweringCardsWins) {
  FakeEthCard other;
  other.address = Ip(192, 168, 1, 51);
  other.reachableFrom = kSecondLocal;
  other.mac[5] = 0x99;
  Start(false);
  net.peers.push_back(&other);
  ASSERT_TRUE(TickUntilOnline());
  EXPECT_EQ(session->cardAddress.address, card.address);
  EXPECT_STREQ(session->serialText, "001A2B3C4D5E");
  QueueStatusPoll();
  Tick();
  EXPECT_EQ(card.commands.size(), 1u);
  EXPECT_TRUE(other.commands.empty());
}

TEST_F(EthTransportTest, LateReplyMeansTheSameBytesGoOutAgainAndEitherAnswerCounts) {
  Connect();
  card.holdReplies = true;
  QueueStatusPoll();
  Tick();
  ASSERT_EQ(CommandSends(), 1u);
  const Bytes firstWire = LastCommand().wire;
  EXPECT_EQ(firstWire, Bytes(session->txPacket, session->txPacket + 21)) << "encoded in place";
  EXPECT_EQ(WireDecode(firstWire)[8], kMotionCmd);
  Ticks(10);
  EXPECT_EQ(CommandSends(), 1u);
  Tick();
  ASSERT_EQ(CommandSends(), 2u);
  EXPECT_EQ(LastCommand().wire, firstWire);
  EXPECT_EQ(session->txLength, 21);

  card.ReleaseHeld(net);  // both answers arrive; the first is taken
  Tick();
  EXPECT_EQ(session->txLength, 0);
  EXPECT_EQ(session->ethSequence, 2);
  EXPECT_EQ(session->cardType, kCardLorn5);

  // The second answer is now stale: the next exchange drops it and takes its own.
  card.holdReplies = false;
  QueueStatusPoll();
  Tick();
  EXPECT_EQ(session->txLength, 0);
  EXPECT_EQ(CommandSends(), 3u);
  EXPECT_EQ(session->ethSequence, 3);
}

// The card answered at once before: the packet goes out again soon after each miss, the link is
// lost after the silence that ten fixed waits of more than ten ticks make, whatever the sends.
TEST_F(EthTransportTest, SilenceOfTenFixedWaitsLosesTheLinkAndThePacketWaitsForTheNextCard) {
  Start(true);
  usb->present = false;
  ASSERT_TRUE(TickUntilOnline());
  QueueStatusPoll();
  Tick();
  ASSERT_EQ(session->cardType, kCardLorn5);

  card.answerCommands = false;
  QueueStatusPoll();
  const int32_t pending = session->txLength;
  const uint16_t sequence = session->txSequence;
  const size_t before = CommandSends();
  std::vector<int> sendTicks;
  int ticks = 0;
  while (session->online && ticks < 500) {
    const size_t sent = CommandSends();
    Tick();
    ++ticks;
    if (CommandSends() != sent) sendTicks.push_back(ticks);
  }
  EXPECT_FALSE(session->online);
  EXPECT_EQ(ticks, 1 + 10 * 11) << "the first send, then the time of ten waits of 11 ticks";
  ASSERT_EQ(CommandSends() - before, sendTicks.size());
  ASSERT_GE(sendTicks.size(), 10u);
  EXPECT_LE(sendTicks.size(), 20u) << "a silent card is not flooded";
  // An answer came within the tick before: the first resends follow within a few ticks, later
  // ones wait longer and never longer than the fixed wait.
  EXPECT_LE(sendTicks[1] - sendTicks[0], 3);
  for (size_t i = 2; i < sendTicks.size(); ++i) {
    EXPECT_GE(sendTicks[i] - sendTicks[i - 1], sendTicks[i - 1] - sendTicks[i - 2]) << i;
    EXPECT_LE(sendTicks[i] - sendTicks[i - 1], 11) << i;
  }
  const Bytes wire = LastCommand().wire;
  EXPECT_EQ(WireDecode(wire)[3], static_cast<uint8_t>(sequence));
  EXPECT_EQ(session->txLength, pending);
  EXPECT_EQ(state->link.LinkStep, kLinkStart);

  card.answerCommands = true;
  const int usbAttempts = usb->openAttempts;
  ASSERT_TRUE(TickUntilOnline());
  EXPECT_EQ(usb->openAttempts, usbAttempts) << "a known model reconnects without detection";
  EXPECT_EQ(session->txLength, 0) << "the pending packet went out right after reconnecting";
  EXPECT_EQ(LastCommand().wire, wire);
  EXPECT_EQ(card.commands.back()[3], static_cast<uint8_t>(sequence));
}

TEST_F(EthTransportTest, FirstReplyLengthTellsTheModel) {
  struct Case {
    int length;
    uint32_t model;
    int axes;
  };
  for (const Case& c :
       {Case{84, kCardLorn4, 4}, Case{92, kCardLorn5, 5}, Case{64, kCardUnknown, 5}}) {
    Connect();
    card.statusLength = c.length;
    QueueStatusPoll();
    Tick();
    EXPECT_EQ(session->cardType, c.model) << c.length;
    EXPECT_EQ(session->axisCount, c.axes) << c.length;
    if (c.model != kCardUnknown) {
      EXPECT_EQ(session->maxSegments, 50);
      EXPECT_EQ(session->minSegments, 30);
      EXPECT_EQ(session->mpgAnyAxisMask, c.model == kCardLorn4 ? 0xF00u : 0x1F00u);
      EXPECT_EQ(session->txLength, 0);
    }
    StopCardSession(*session);
    session = nullptr;
    net = ScriptedNet{};
    card = FakeEthCard{};
  }
}

TEST_F(EthTransportTest, ModelIsTakenFromTheLengthEvenWhenTheReplyIsRejected) {
  Connect();
  card.statusLength = 84;
  card.holdReplies = true;
  QueueStatusPoll();
  Tick();
  ASSERT_EQ(card.held.size(), 1u);
  Bytes plain = WireDecode(card.held[0].second.wire);
  plain[1] = 0xAB;
  net.Deliver(card.held[0].first, Datagram{WireEncode(plain), card.address, 1234});
  card.held.clear();
  Tick();
  EXPECT_EQ(session->cardType, kCardLorn4);
  EXPECT_EQ(session->axisCount, 4);
  EXPECT_GT(session->txLength, 0) << "the rejected reply does not end the exchange";
}

TEST_F(EthTransportTest, KnownModelIsNotChangedByAnotherLength) {
  Connect();
  ApplyCardModel(*session, kCardLorn4);
  card.statusLength = 92;
  QueueStatusPoll();
  Tick();
  EXPECT_EQ(session->txLength, 0);
  EXPECT_EQ(session->cardType, kCardLorn4);
}

TEST_F(EthTransportTest, ShortReplyIsRejectedNotParsedFromOldBytes) {
  Connect();
  QueueStatusPoll();
  Tick();  // a full reply leaves its bytes in the reply buffer
  ASSERT_EQ(session->axisPosition[0], 1);
  card.holdReplies = true;
  QueueStatusPoll();
  Tick();
  Bytes plain = WireDecode(card.held[0].second.wire);
  plain.resize(40);  // the header and a few fields only
  plain[19] = 0x42;
  net.Deliver(card.held[0].first, Datagram{WireEncode(plain), card.address, 1234});
  card.held.clear();
  const size_t sends = CommandSends();
  Tick();
  EXPECT_EQ(session->txLength, 21);
  EXPECT_EQ(session->axisPosition[0], 1);
  EXPECT_EQ(CommandSends(), sends + 1) << "after a burst without an answer the packet goes again";
}

TEST_F(EthTransportTest, SocketNeverWritableLosesTheLinkWithoutSending) {
  Connect();
  net.writable = false;
  QueueStatusPoll();
  Ticks(11);
  EXPECT_TRUE(session->online);
  Tick();
  EXPECT_FALSE(session->online);
  EXPECT_EQ(CommandSends(), 0u);
  EXPECT_GT(session->txLength, 0);
  EXPECT_EQ(state->link.LinkStep, kLinkStart);
}

TEST_F(EthTransportTest, ExchangeExitsWhenOfflineAndForeignMarkersRestart) {
  Start(false);
  session->txLength = BuildStatusPoll(*session);
  EXPECT_EQ(EthExchangeStep(*state, session->txLength), kStepExited);
  EXPECT_TRUE(net.sent.empty());
  state->link.TransportStep = 21;  // a USB resume point
  EXPECT_EQ(EthDiscoveryStep(*state), kStepWaiting);
  EXPECT_EQ(state->link.TransportStep, 0);
  EXPECT_EQ(net.hostNameCalls, 0);
}

}  // namespace
}  // namespace torvexan::testing
