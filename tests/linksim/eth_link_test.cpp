// The Ethernet link against virtual Lorn cards: resends, loss and rediscovery, discovery over
// several addresses and cards, and model recognition, judged by what went over the wire.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "link/round_trips.h"
#include "linksim/link_bench.h"

namespace torvexan::testing {
namespace {

using Kind = TappedDatagram::Kind;

// Holds back the card's reply to the next packet by replyMs; returns that packet's send.
TappedDatagram SendWithSlowReply(LinkBench& bench, sim::NetCard& card, uint32_t replyMs) {
  card.toCard.SetLatency(1);
  card.fromCard.SetLatency(replyMs - 1);
  const size_t mark = bench.tap().size();
  EXPECT_TRUE(bench.RunUntil([&] { return !bench.tap().Of(Kind::kSend, mark).empty(); }, 5));
  card.fromCard.SetLatency(sim::kDefaultLatencyMs);
  return bench.tap().Of(Kind::kSend, mark).front();
}

std::vector<TappedDatagram> SendsOf(LinkBench& bench, int sequence, size_t from = 0) {
  std::vector<TappedDatagram> out;
  for (const auto& d : bench.tap().Of(Kind::kSend, from)) {
    if (d.Sequence() == sequence) out.push_back(d);
  }
  return out;
}

int TimesExecuted(const sim::VirtualCard& card, int sequence) {
  int n = 0;
  for (int i = 0; i < card.historyCount(); ++i) n += card.History(i).sequence == sequence;
  return n;
}

// Sends of every packet in the ticks from `mark` on, by sequence number.
int PacketsSentTwice(LinkBench& bench, size_t mark) {
  const auto sends = bench.tap().Of(Kind::kSend, mark);
  int twice = 0;
  for (size_t i = 1; i < sends.size(); ++i) twice += sends[i].Sequence() == sends[i - 1].Sequence();
  return twice;
}

// A card that has answered within a tick so far and suddenly takes 200 ms: the packet goes out
// again after the wait its round trips gave, long before the fixed wait of 11 ticks would end;
// it runs once, and the answer that turns up after it is dropped.
TEST_F(ConnectedLorn5, LateReplyBringsTheSameBytesAgainAfterTheMeasuredWaitAndRunsOnce) {
  bench.RunTicks(40);  // round trips of a quick card
  const TappedDatagram sent = SendWithSlowReply(bench, *card, 201);
  bench.RunTicks(3 * kTimeoutTicks);
  const auto sends = SendsOf(bench, sent.Sequence());
  ASSERT_GE(sends.size(), 2u);
  EXPECT_EQ(sends[1].bytes, sends[0].bytes) << "the resend differs";
  EXPECT_LE(sends[1].tick - sends[0].tick, 3u) << "the wait did not follow the round trips";
  EXPECT_TRUE(bench.online());
  // The resends reached the card as repeats: answered again, run once.
  EXPECT_GE(card->card.stats().duplicates, 1u);
  EXPECT_EQ(TimesExecuted(card->card, sent.Sequence()), 1);
  EXPECT_GE(bench.session().counters.staleReplies, 1u) << "the late answer was not dropped";
}

// A card that answers slowly all the time (60 ms each way, 6 to 7 ticks a round trip): after
// the round trips are learnt it is never sent a packet twice, and no more often than with the
// fixed wait of 11 ticks.
TEST(SlowCard, IsNotSentMorePacketsTwiceThanWithTheFixedWait) {
  LinkBench bench;
  bench.world().net.AddLocalAddress("10.0.0.1");
  sim::NetCard& card = bench.world().net.AddCard(sim::CardModel::kLorn5, "10.0.0.50");
  card.toCard.SetLatency(60);
  card.fromCard.SetLatency(60);
  bench.Start();
  bench.ConnectAndReset(card.card);
  const size_t mark = bench.tap().size();
  const uint64_t resends = bench.session().counters.resends;
  bench.RunTicks(500);
  EXPECT_GT(bench.tap().Of(Kind::kSend, mark).size(), 50u);
  EXPECT_EQ(PacketsSentTwice(bench, mark), 0);
  EXPECT_EQ(bench.session().counters.resends, resends);
  EXPECT_EQ(card.card.stats().duplicates, 0u);
  EXPECT_GE(ReplyWaitTicks(bench.state().link.transport.roundTrips), 6u);
}

// The same card slows down in the middle of a session: a few packets go out twice while its
// new round trips are learnt, then none.
TEST_F(ConnectedLorn5, CardThatSlowsDownIsLearntAfterAFewResends) {
  bench.RunTicks(40);
  card->toCard.SetLatency(60);
  card->fromCard.SetLatency(60);
  const size_t mark = bench.tap().size();
  bench.RunTicks(100);
  EXPECT_LE(PacketsSentTwice(bench, mark), 6);
  const size_t later = bench.tap().size();
  bench.RunTicks(300);
  EXPECT_GT(bench.tap().Of(Kind::kSend, later).size(), 30u);
  EXPECT_EQ(PacketsSentTwice(bench, later), 0);
  EXPECT_TRUE(bench.online());
}

// The late reply and the answer to its resend both come back; the second one lies in the
// socket when the next packet goes out. It must be dropped without a resend, or every later
// packet meets the stale answer of its predecessor and goes out twice for good.
TEST_F(ConnectedLorn5, AfterOneLateReplyEveryPacketGoesOutOnceAgain) {
  const TappedDatagram sent = SendWithSlowReply(bench, *card, 201);
  ASSERT_TRUE(bench.RunUntil([&] { return SendsOf(bench, sent.Sequence()).size() == 2; }, 20));
  ASSERT_TRUE(bench.RunUntil([&] { return bench.session().txLength == 0; }, 5));
  const uint32_t duplicatesBefore = card->card.stats().duplicates;
  const uint64_t resendsBefore = bench.session().counters.resends;
  const size_t mark = bench.tap().size();
  bench.RunTicks(100);

  const auto sends = bench.tap().Of(Kind::kSend, mark);
  ASSERT_GT(sends.size(), 40u);
  int twice = 0;
  for (size_t i = 1; i < sends.size(); ++i) twice += sends[i].Sequence() == sends[i - 1].Sequence();
  EXPECT_EQ(twice, 0);
  EXPECT_EQ(card->card.stats().duplicates, duplicatesBefore);
  EXPECT_EQ(bench.session().counters.resends, resendsBefore);
  EXPECT_TRUE(bench.online());
}

TEST_F(ConnectedLorn5, SilenceOfTenFixedWaitsLosesTheLinkAndDiscoveryAloneFindsTheCardAgain) {
  const uint32_t usbOpens = bench.world().usb.stats().opens;
  card->card.SetSilent(true);
  const size_t mark = bench.tap().size();
  ASSERT_TRUE(bench.RunUntil([&] { return !bench.online(); }, 200));
  const auto sends = bench.tap().Of(Kind::kSend, mark);
  ASSERT_GE(sends.size(), static_cast<size_t>(kSendsBeforeLoss));
  EXPECT_LE(sends.size(), 2u * kSendsBeforeLoss) << "a silent card is flooded";
  for (size_t i = 1; i < sends.size(); ++i) {
    EXPECT_EQ(sends[i].bytes, sends[0].bytes);
    EXPECT_LE(sends[i].tick - sends[i - 1].tick, kTimeoutTicks + 1);
  }
  // Lost when the time that ten sends took with the fixed wait has passed since the first.
  EXPECT_EQ(bench.tick() - sends[0].tick, kSendsBeforeLoss * (kTimeoutTicks + 1));
  // The packet waits for the card; the model is kept, so only discovery runs.
  ASSERT_GT(bench.session().txLength, 0);
  const int pending = sends[0].Sequence();
  EXPECT_EQ(bench.session().txSequence, pending);
  bench.RunTicks(60);
  EXPECT_EQ(bench.session().cardType, kCardLorn5);
  const auto passes = bench.tap().Of(Kind::kBroadcast, mark);
  EXPECT_GE(passes.size(), 3u);
  // A discovery announces the pending packet's number, so the card keeps its answer.
  for (const auto& d : passes) EXPECT_EQ(d.Sequence(), pending);

  card->card.SetSilent(false);
  ASSERT_TRUE(bench.RunUntil([&] { return bench.online(); }, 3 * kTimeoutTicks));
  ASSERT_TRUE(bench.RunUntil([&] { return bench.session().txLength == 0; }, 5));
  bench.RunTicks(20);
  EXPECT_TRUE(bench.online());
  EXPECT_EQ(bench.world().usb.stats().opens, usbOpens) << "a known Ethernet card went to USB";
  EXPECT_LE(TimesExecuted(card->card, pending), 1) << "the packet held over the loss ran twice";
  EXPECT_EQ(bench.host().machine->EStop, 0);
}

TEST(Discovery, CardOnTheSecondAddressAnswersTheBroadcastSentAsTheFirstWaitEnds) {
  LinkBench bench;
  bench.world().net.AddLocalAddress("10.0.0.1", 0);
  bench.world().net.AddLocalAddress("10.0.1.1", 1);
  sim::NetCard& card = bench.world().net.AddCard(sim::CardModel::kLorn5, "10.0.1.50", 1);
  bench.Start();
  ASSERT_TRUE(bench.RunUntil([&] { return bench.online(); }, 100));
  const uint32_t onlineAt = bench.tick();
  const auto passes = bench.tap().Of(Kind::kBroadcast);
  ASSERT_EQ(passes.size(), 2u);
  EXPECT_EQ(passes[0].localAddress, sim::Ipv4("10.0.0.1"));
  EXPECT_EQ(passes[1].localAddress, sim::Ipv4("10.0.1.1"));
  EXPECT_EQ(passes[1].tick - passes[0].tick, kTimeoutTicks + 1);
  EXPECT_EQ(onlineAt, passes[1].tick + 1);  // the reply is read on the next tick
  EXPECT_EQ(bench.session().cardAddress.address, sim::Ipv4("10.0.1.50"));
  EXPECT_EQ(card.card.stats().discoveries, 1u);
}

struct Racer {
  uint32_t latencyA, latencyB;
  int winner;
};

class TwoCardsAnswer : public ::testing::TestWithParam<Racer> {};

TEST_P(TwoCardsAnswer, FirstReplyReadWinsAndTheOtherCardIsNeverContacted) {
  const Racer r = GetParam();
  LinkBench bench;
  bench.world().net.AddLocalAddress("10.0.0.1");
  sim::CardOptions a, b;
  b.hardwareAddress[5] = 0x02;
  sim::NetCard* cards[2] = {&bench.world().net.AddCard(sim::CardModel::kLorn5, "10.0.0.50", 0, a),
                            &bench.world().net.AddCard(sim::CardModel::kLorn4, "10.0.0.51", 0, b)};
  cards[0]->SetLatency(r.latencyA);
  cards[1]->SetLatency(r.latencyB);
  bench.Start();
  sim::NetCard& winner = *cards[r.winner];
  sim::NetCard& loser = *cards[1 - r.winner];
  bench.ConnectAndReset(winner.card);
  bench.RunTicks(50);
  EXPECT_EQ(bench.session().cardAddress.address, winner.address);
  EXPECT_EQ(std::string(bench.session().serialText),
            r.winner == 0 ? "025456000001" : "025456000002");
  EXPECT_EQ(bench.session().cardType, r.winner == 0 ? kCardLorn5 : kCardLorn4);
  EXPECT_EQ(loser.card.stats().discoveries, 1u);
  EXPECT_EQ(loser.card.stats().packets, 1u) << "the other card heard more than the broadcast";
  EXPECT_GT(winner.card.stats().commands, 20u);
}

INSTANTIATE_TEST_SUITE_P(EitherCardFirst, TwoCardsAnswer,
                         ::testing::Values(Racer{1, 3, 0}, Racer{4, 1, 1}));

TEST(Discovery, ReplyWithAnotherSequenceEndsTheWaitOnThatAddressAtOnce) {
  LinkBench bench;
  bench.world().net.AddLocalAddress("10.0.0.1", 0);
  bench.world().net.AddLocalAddress("10.0.1.1", 1);  // nobody on this segment
  sim::NetCard& card = bench.world().net.AddCard(sim::CardModel::kLorn5, "10.0.0.50", 0);
  // Every request arrives with one byte damaged; when that byte is part of the sequence
  // number the card answers, echoing a number the plug-in did not send.
  sim::FaultShares damage{};
  damage.corrupt = 1.0;
  card.toCard.SetShares(damage);
  bench.Start();
  bench.RunTicks(400);
  EXPECT_FALSE(bench.online());

  const auto& log = bench.tap().log();
  int foreign = 0;
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].kind != Kind::kReceived) continue;
    ASSERT_GT(i, 0u);
    const TappedDatagram& request = log[i - 1];
    ASSERT_EQ(request.kind, Kind::kBroadcast) << "more than one datagram read on one address";
    EXPECT_EQ(request.localAddress, sim::Ipv4("10.0.0.1"));
    ASSERT_NE(log[i].Sequence(), request.Sequence());
    ++foreign;
    // The next address gets its request in the same tick, not after the time-out.
    ASSERT_LT(i + 1, log.size());
    EXPECT_EQ(log[i + 1].kind, Kind::kBroadcast);
    EXPECT_EQ(log[i + 1].localAddress, sim::Ipv4("10.0.1.1"));
    EXPECT_EQ(log[i + 1].tick, log[i].tick);
    EXPECT_EQ(log[i].tick, request.tick + 1);
  }
  EXPECT_GT(foreign, 0) << "no damaged request was answered";
  std::printf("answered with a foreign sequence: %d of %u requests\n", foreign,
              card.card.stats().packets);
}

struct ModelCase {
  sim::CardModel model;
  uint32_t cardType;
  int axes;
  size_t replyLength;
};

class ModelFromFirstReply : public ::testing::TestWithParam<ModelCase> {};

TEST_P(ModelFromFirstReply, LengthOfTheFirstExchangeReplyNamesTheModel) {
  const ModelCase m = GetParam();
  LinkBench bench;
  bench.world().net.AddLocalAddress("10.0.0.1");
  bench.world().net.AddCard(m.model, "10.0.0.50");
  bench.Start();
  ASSERT_TRUE(bench.RunUntil([&] { return bench.online(); }, 100));
  // Connected but not yet recognised: the first packet goes out with five axes.
  EXPECT_EQ(bench.session().cardType, kCardUnknown);
  EXPECT_EQ(bench.session().axisCount, 5);
  const size_t mark = bench.tap().size();
  ASSERT_TRUE(bench.RunUntil([&] { return bench.session().cardType != kCardUnknown; }, 5));
  const auto replies = bench.tap().Of(Kind::kReceived, mark);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].bytes.size(), m.replyLength);
  EXPECT_EQ(bench.session().cardType, m.cardType);
  EXPECT_EQ(bench.session().axisCount, m.axes);
  EXPECT_EQ(bench.session().maxSegments, 50);
  EXPECT_EQ(bench.session().minSegments, 30);
}

INSTANTIATE_TEST_SUITE_P(Lorn, ModelFromFirstReply,
                         ::testing::Values(ModelCase{sim::CardModel::kLorn4, kCardLorn4, 4, 84},
                                           ModelCase{sim::CardModel::kLorn5, kCardLorn5, 5, 92}),
                         [](const auto& info) {
                           return std::string(info.param.axes == 4 ? "Lorn4" : "Lorn5");
                         });

}  // namespace
}  // namespace torvexan::testing
