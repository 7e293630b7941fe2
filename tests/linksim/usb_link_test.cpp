// The USB link against a virtual Pell5 on the virtual bus: the handshake that re-aligns the
// sequence to a packet left pending, stale replies, and detection beside an Ethernet card.
#include <gtest/gtest.h>

#include "linksim/link_bench.h"

namespace torvexan::testing {
namespace {

int TimesExecuted(const sim::VirtualCard& card, int sequence) {
  int n = 0;
  for (int i = 0; i < card.historyCount(); ++i) n += card.History(i).sequence == sequence;
  return n;
}

class ConnectedPell5 : public ::testing::Test {
 protected:
  void SetUp() override {
    card = &bench.world().usb.AddCard();
    bench.Start();
    bench.ConnectAndReset(card->card);
  }
  LinkBench bench;
  sim::UsbCard* card = nullptr;
};

// How the link is lost with packet 0 pending: the card never saw it, or ran it and every
// answer was lost on the way back.
enum class Loss { kCardSilent, kRepliesLost };

class PendingPacketZero : public ConnectedPell5, public ::testing::WithParamInterface<Loss> {};

TEST_P(PendingPacketZero, HandshakeAnnouncesTwoFiftyFiveAndThePacketRunsOnce) {
  // Wait for the wrap, so that the next packet carries sequence 0.
  ASSERT_TRUE(bench.RunUntil(
      [&] { return bench.session().usbSequence == 0 && bench.session().txLength == 0; }, 600));
  sim::FaultShares lost{};
  lost.drop = 1.0;
  if (GetParam() == Loss::kCardSilent) card->card.SetSilent(true);
  if (GetParam() == Loss::kRepliesLost) card->fromCard.SetShares(lost);
  bench.Tick();
  ASSERT_FALSE(bench.online()) << "ten failed attempts must lose the link";
  ASSERT_GT(bench.session().txLength, 0);
  ASSERT_EQ(bench.session().txSequence, 0);
  const int runsBefore = TimesExecuted(card->card, 0);
  EXPECT_EQ(runsBefore, GetParam() == Loss::kRepliesLost ? 1 : 0);

  card->card.SetSilent(false);
  card->fromCard.SetShares(sim::FaultShares{});
  bench.Tick();
  if (!bench.online()) {
    // The connect request is on its way: it names the number before the pending packet's.
    EXPECT_EQ(bench.session().usbSequence, 255);
  }
  ASSERT_TRUE(bench.RunUntil([&] { return bench.online(); }, 20));
  // The pending packet went out in the tick the handshake ended and was accepted.
  EXPECT_EQ(bench.session().txLength, 0);
  EXPECT_EQ(bench.session().usbSequence, 1);
  bench.RunTicks(20);
  EXPECT_TRUE(bench.online());
  EXPECT_EQ(TimesExecuted(card->card, 0), 1) << "packet 0 lost or run twice";
  EXPECT_EQ(card->card.stats().stale, 0u);
  EXPECT_EQ(bench.host().machine->EStop, 0);
}

INSTANTIATE_TEST_SUITE_P(Pell5, PendingPacketZero,
                         ::testing::Values(Loss::kCardSilent, Loss::kRepliesLost),
                         [](const auto& info) {
                           return std::string(info.param == Loss::kCardSilent ? "CardSilent"
                                                                              : "RepliesLost");
                         });

TEST_F(ConnectedPell5, StaleReplyIsReadPastWithinTheSameAttempt) {
  // One answer arrives twice; its copy waits in the endpoint for the next exchange.
  sim::FaultShares twice{};
  twice.duplicate = 1.0;
  card->fromCard.SetShares(twice);
  bench.Tick();
  card->fromCard.SetShares(sim::FaultShares{});
  const sim::UsbStats before = bench.world().usb.stats();
  const uint32_t repeats = card->card.stats().duplicates;
  bench.Tick();
  const sim::UsbStats& after = bench.world().usb.stats();
  EXPECT_EQ(after.bulkOut - before.bulkOut, 1u) << "the packet was written more than once";
  EXPECT_EQ(after.bulkIn - before.bulkIn, 2u) << "the stale reply was not read past";
  EXPECT_EQ(bench.session().txLength, 0);
  EXPECT_EQ(card->card.stats().duplicates, repeats);
  EXPECT_EQ(bench.state().link.transport.ExchangeAttempts, 0);
  bench.RunTicks(10);
  EXPECT_TRUE(bench.online());
}

// A reply later than the read time-out makes the attempt write the packet again, and the card
// answers the repeat too; the answers left over are read past, and the traffic settles back to
// one write per exchange.
TEST_F(ConnectedPell5, AfterOneLateReplyEveryPacketIsWrittenOnceAgain) {
  card->fromCard.SetLatency(25);
  bench.Tick();
  card->fromCard.SetLatency(0);
  ASSERT_GT(bench.session().counters.resends, 0u) << "the reply was not late enough";
  bench.RunTicks(5);
  const sim::UsbStats before = bench.world().usb.stats();
  const uint64_t exchanges = bench.session().counters.exchanges;
  const uint64_t resends = bench.session().counters.resends;
  bench.RunTicks(50);
  EXPECT_EQ(bench.world().usb.stats().bulkOut - before.bulkOut,
            bench.session().counters.exchanges - exchanges);
  EXPECT_EQ(bench.session().counters.resends, resends);
  EXPECT_TRUE(bench.online());
}

TEST(UsbBesideEthernet, UsbCardBecomesTheCardAndTheEthernetCardHearsOnlyTheBroadcast) {
  LinkBench bench;
  bench.world().net.AddLocalAddress("10.0.0.1");
  sim::NetCard& eth = bench.world().net.AddCard(sim::CardModel::kLorn5, "10.0.0.50");
  sim::UsbCard& usb = bench.world().usb.AddCard();
  bench.Start();
  bench.ConnectAndReset(usb.card);
  bench.RunTicks(50);
  EXPECT_EQ(bench.session().cardType, kCardPell5);
  EXPECT_EQ(bench.session().maxSegments, 5);
  EXPECT_EQ(std::string(bench.session().serialText), usb.serialString);
  EXPECT_EQ(eth.card.stats().discoveries, 1u);
  EXPECT_EQ(eth.card.stats().commands, 0u);
  EXPECT_GT(usb.card.stats().commands, 50u);
  // The broadcast went out in the first tick, before the USB open found the device.
  ASSERT_FALSE(bench.tap().log().empty());
  EXPECT_EQ(bench.tap().log().front().kind, TappedDatagram::Kind::kBroadcast);
  EXPECT_EQ(bench.tap().Of(TappedDatagram::Kind::kBroadcast).size(), 1u);
}

}  // namespace
}  // namespace torvexan::testing
