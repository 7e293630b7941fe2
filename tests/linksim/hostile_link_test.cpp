// The link on a hostile or untidy network: datagrams from strangers, forged and oversized
// replies, floods of discovery answers; a host with many addresses; a plug-in stopped in the
// middle of a USB handshake; a packet left pending for a card of the other family.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/packets.h"
#include "linksim/link_bench.h"

namespace torvexan::testing {
namespace {

constexpr uint16_t kPluginPort = 1235;

std::vector<uint8_t> Encoded(std::vector<uint8_t> plain) {
  ChainEncode(plain.data(), static_cast<int>(plain.size()));
  return plain;
}

// A well-formed Lorn5 status reply carrying the given sequence and values no real card sent.
std::vector<uint8_t> ForgedStatus(uint16_t sequence) {
  std::vector<uint8_t> r(92, 0);
  r[0] = 0x55;
  r[1] = 0xAA;
  r[2] = 3;
  r[3] = static_cast<uint8_t>(sequence);
  r[4] = static_cast<uint8_t>(sequence >> 8);
  r[5] = 7;      // freeSlots
  r[8] = 3;      // executing
  r[19] = 0x5A;  // axis 0 far away
  r[21] = 0x7F;
  return Encoded(r);
}

class HostileLorn5 : public ConnectedLorn5 {
 protected:
  // Sends from a stranger to the plug-in's port, once per tick for ticks ticks.
  void Spray(uint32_t from, uint16_t fromPort, int ticks, bool rightSequence,
             const std::vector<uint8_t>& fixed = {}) {
    for (int i = 0; i < ticks; ++i) {
      const std::vector<uint8_t> d =
          fixed.empty() ? ForgedStatus(rightSequence ? bench.session().txSequence : 0x4242) : fixed;
      bench.world().net.Inject(from, fromPort, sim::Ipv4("10.0.0.1"), kPluginPort, d.data(),
                               static_cast<int>(d.size()));
      bench.Tick();
    }
  }

  // The stranger's values never reached the session, and the card's stream went on.
  void ExpectUnharmed(uint32_t commandsBefore) {
    EXPECT_TRUE(bench.online());
    EXPECT_EQ(bench.session().cardAddress.address, card->address);
    EXPECT_NE(bench.session().freeSlots, 7);
    EXPECT_EQ(bench.session().axisPosition[0], card->card.position(0));
    EXPECT_EQ(bench.session().counters.linkLosses, 0u);
    EXPECT_GT(card->card.stats().commands, commandsBefore + 20) << "from " << commandsBefore;
  }
};

TEST_F(HostileLorn5, ForgedRepliesFromAnotherAddressOrPortAreNeverTaken) {
  const uint32_t before = card->card.stats().commands;
  Spray(sim::Ipv4("10.0.0.66"), 1234, 40, true);  // another address, the card's port
  Spray(card->address, 4321, 40, true);           // the card's address, another port
  Spray(sim::Ipv4("10.0.0.66"), 1234, 40, false);
  ExpectUnharmed(before);
}

TEST_F(HostileLorn5, OversizedAndShortDatagramsFromTheCardsAddressAreRejected) {
  const uint32_t before = card->card.stats().commands;
  std::vector<uint8_t> big(1500, 0xA5);
  Spray(card->address, 1234, 60, false, big);
  Spray(card->address, 1234, 60, false, {0x55});
  ExpectUnharmed(before);
}

TEST(HostileDiscovery, FloodOfForgedDiscoveryRepliesNeitherConnectsNorBlocksTheCard) {
  LinkBench bench;
  bench.world().net.AddLocalAddress("10.0.0.1");
  sim::NetCard& card = bench.world().net.AddCard(sim::CardModel::kLorn5, "10.0.0.50");
  card.SetLatency(30);  // the flood arrives before the card's answer
  bench.Start();
  // Replies with a wrong sequence, many per tick, for the first two passes.
  for (int i = 0; i < 30; ++i) {
    std::vector<uint8_t> r(16, 0);
    r[0] = 0x55;
    r[1] = 0xAA;
    r[3] = static_cast<uint8_t>(bench.session().ethSequence + 9);
    const std::vector<uint8_t> wire = Encoded(r);
    for (int k = 0; k < 40; ++k) {
      bench.world().net.Inject(sim::Ipv4("10.0.0.66"), 1234, sim::Ipv4("10.0.0.1"), kPluginPort,
                               wire.data(), static_cast<int>(wire.size()));
    }
    bench.Tick();
    EXPECT_FALSE(bench.online() && bench.session().cardAddress.address != card.address);
  }
  ASSERT_TRUE(bench.RunUntil([&] { return bench.online(); }, 200));
  EXPECT_EQ(bench.session().cardAddress.address, card.address);
}

TEST(ManyAddresses, DiscoveryWalksEveryLocalAddressToTheCardBehindTheFortieth) {
  LinkBench bench;
  constexpr int kAddresses = 40;
  for (int i = 0; i < kAddresses; ++i) {
    const std::string a = "10.0." + std::to_string(i) + ".1";
    bench.world().net.AddLocalAddress(a.c_str(), i);
  }
  sim::NetCard& card =
      bench.world().net.AddCard(sim::CardModel::kLorn5, "10.0.39.50", kAddresses - 1);
  bench.Start();
  ASSERT_TRUE(bench.RunUntil([&] { return bench.online(); }, kAddresses * 12 + 20));
  EXPECT_EQ(bench.session().cardAddress.address, card.address);
  const auto broadcasts = bench.tap().Of(TappedDatagram::Kind::kBroadcast);
  ASSERT_EQ(broadcasts.size(), static_cast<size_t>(kAddresses));
  EXPECT_EQ(broadcasts.back().localAddress, sim::Ipv4("10.0.39.1"));
}

TEST(UsbHandshake, StopPlugCancelsAndFreesTheTransferInFlightBeforeClosing) {
  LinkBench bench;
  sim::UsbCard& usb = bench.world().usb.AddCard();
  usb.stalled = true;  // the handshake's transfers wait for their time-out
  bench.Start();
  ASSERT_TRUE(
      bench.RunUntil([&] { return bench.state().link.transport.ConnectTransfer != nullptr; }, 20));
  ASSERT_EQ(bench.world().usb.pendingTransfers(), 1);
  bench.plugin().StopPlug();
  const sim::UsbStats& stats = bench.world().usb.stats();
  EXPECT_EQ(stats.closesWithTransferInFlight, 0u) << "the device was closed under the transfer";
  EXPECT_EQ(stats.cancels, 1u);
  EXPECT_EQ(stats.transfersFreed, stats.transfersAllocated);
  EXPECT_EQ(bench.world().usb.pendingTransfers(), 0);
  EXPECT_EQ(bench.world().usb.openHandles(), 0);
}

TEST(FamilyChange, PacketBuiltForTheEthernetFamilyIsDroppedWhenAUsbCardIsFound) {
  LinkBench bench;
  bench.world().net.AddLocalAddress("10.0.0.1");
  sim::NetCard& eth = bench.world().net.AddCard(sim::CardModel::kLorn5, "10.0.0.50");
  sim::UsbCard& usb = bench.world().usb.AddCard();
  usb.plugged = false;
  eth.SetLatency(400);  // no reply before the link is lost: the model stays unknown
  bench.Start();
  ASSERT_TRUE(bench.RunUntil([&] { return bench.online(); }, 200));
  ASSERT_EQ(bench.session().cardType, kCardUnknown);
  eth.unplugged = true;
  ASSERT_TRUE(bench.RunUntil([&] { return bench.session().txLength > 0; }, 5));
  ASSERT_TRUE(bench.RunUntil([&] { return !bench.online(); }, 200));
  ASSERT_GT(bench.session().txLength, 0) << "the Ethernet packet waits for the next card";
  usb.plugged = true;
  ASSERT_TRUE(bench.RunUntil([&] { return bench.session().cardType == kCardPell5; }, 400));
  const uint64_t losses = bench.session().counters.linkLosses;
  bench.RunTicks(200);
  EXPECT_TRUE(bench.online());
  EXPECT_EQ(bench.session().counters.linkLosses, losses) << "the link keeps reconnecting";
  EXPECT_GT(usb.card.stats().commands, 100u);
  EXPECT_EQ(usb.card.stats().rejected, 0u) << "the USB card was sent an Ethernet packet";
}

}  // namespace
}  // namespace torvexan::testing
