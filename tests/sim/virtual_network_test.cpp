// The virtual network as the plug-in's socket layer sees it: discovery by broadcast, segments,
// connected sockets, exact arrival times, faults and a long lossy run.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cerrno>
#include <chrono>

#include "card_packets.h"
#include "harness/sim_world.h"

namespace torvexan::sim::testing {
namespace {

constexpr uint16_t kLocalPort = 1235;
constexpr uint64_t kTickMs = 20;

class Network : public ::testing::Test {
 protected:
  Timeline timeline;
  VirtualNetwork net{timeline};

  SocketHandle OpenOn(const char* address) {
    const SocketHandle s = net.OpenUdp();
    EXPECT_EQ(net.Bind(s, Ipv4(address), kLocalPort), 0);
    net.SetBroadcast(s, true);
    net.SetNonBlocking(s);
    return s;
  }
  void Discover(SocketHandle s, uint16_t seq) {
    Bytes d{0x55, 0xAA, 0x01, static_cast<uint8_t>(seq), static_cast<uint8_t>(seq >> 8)};
    EncodeChained(d.data(), 5);
    ASSERT_EQ(net.SendTo(s, d.data(), 5, kLimitedBroadcast, kCardPort), 5);
  }
  Bytes Read(SocketHandle s, Ipv4SocketAddress* from = nullptr) {
    Bytes b(100, 0);
    const int n = net.ReceiveFrom(s, b.data(), 100, from);
    b.resize(static_cast<size_t>(std::max(n, 0)));
    DecodeChained(b.data(), static_cast<int>(b.size()));
    return b;
  }
};

// The harness reads addresses without the system's socket library (it builds for Windows and
// must reach no real network): the same bytes as inet_pton, and nothing for a bad text.
TEST(NetworkAddresses, DottedTextInNetworkByteOrder) {
  for (const char* text : {"192.168.1.10", "10.0.0.50", "255.255.255.255", "0.0.0.0"}) {
    in_addr a{};
    ASSERT_EQ(::inet_pton(AF_INET, text, &a), 1);
    EXPECT_EQ(Ipv4(text), a.s_addr) << text;
  }
  for (const char* bad : {"256.1.1.1", "1.2.3", "1.2.3.4x", "", "a.b.c.d"}) {
    EXPECT_EQ(Ipv4(bad), 0u) << bad;
  }
}

TEST_F(Network, DiscoveryReplyArrivesAfterTheLatencyBothWays) {
  net.AddLocalAddress("10.0.0.5");
  net.AddCard(CardModel::kLorn5, "10.0.0.77");
  const SocketHandle s = OpenOn("10.0.0.5");
  Discover(s, 3);
  EXPECT_FALSE(net.IsReadable(s));
  timeline.Advance(1);
  EXPECT_FALSE(net.IsReadable(s));
  timeline.Advance(1);
  ASSERT_TRUE(net.IsReadable(s));
  Ipv4SocketAddress from{};
  const Bytes r = Read(s, &from);
  ASSERT_EQ(r.size(), 16u);
  EXPECT_EQ(Get16(r, 3), 3);
  EXPECT_EQ(from.address, Ipv4("10.0.0.77"));
  EXPECT_EQ(from.port, htons(kCardPort));
  EXPECT_EQ(from.family, 2);
}

TEST_F(Network, BroadcastStaysOnItsSegment) {
  net.AddLocalAddress("192.168.1.2", 0);
  net.AddLocalAddress("10.1.1.2", 1);
  net.AddCard(CardModel::kLorn4, "10.1.1.50", 1);
  uint32_t addresses[4];
  ASSERT_EQ(net.LookupAddresses("virtualhost", 0, addresses, 4), 2);
  const SocketHandle first = OpenOn("192.168.1.2");
  Discover(first, 0);
  timeline.Advance(50);
  EXPECT_FALSE(net.IsReadable(first));
  net.Shutdown(first);
  net.Close(first);
  const SocketHandle second = OpenOn("10.1.1.2");
  Discover(second, 0);
  timeline.Advance(2);
  EXPECT_TRUE(net.IsReadable(second));
}

TEST_F(Network, TwoCardsBothAnswerAndAConnectedSocketHearsOnlyItsPeer) {
  net.AddLocalAddress("10.0.0.1");
  net.AddCard(CardModel::kLorn5, "10.0.0.20");
  net.AddCard(CardModel::kLorn4, "10.0.0.21").SetLatency(3);
  const SocketHandle s = OpenOn("10.0.0.1");
  Discover(s, 0);
  timeline.Advance(2);
  Ipv4SocketAddress from{};
  ASSERT_EQ(Read(s, &from).size(), 16u);
  EXPECT_EQ(from.address, Ipv4("10.0.0.20"));
  ASSERT_EQ(net.Connect(s, from), 0);
  timeline.Advance(10);
  EXPECT_FALSE(net.IsReadable(s)) << "the second card's answer is not for this socket";
  Bytes poll = EthPoll(1);
  EncodeChained(poll.data(), static_cast<int>(poll.size()));
  net.Send(s, poll.data(), static_cast<int>(poll.size()));
  timeline.Advance(2);
  EXPECT_EQ(Read(s).size(), 92u);
  EXPECT_EQ(net.card(1).card.stats().commands, 0u);
}

TEST_F(Network, SocketErrorsFollowTheSocketsApi) {
  net.AddLocalAddress("10.0.0.1");
  const SocketHandle s = net.OpenUdp();
  EXPECT_EQ(net.Bind(s, Ipv4("10.9.9.9"), kLocalPort), -1) << "not a local address";
  ASSERT_EQ(net.Bind(s, Ipv4("10.0.0.1"), kLocalPort), 0);
  const SocketHandle twin = net.OpenUdp();
  EXPECT_EQ(net.Bind(twin, Ipv4("10.0.0.1"), kLocalPort), -1);
  EXPECT_EQ(net.LastError(), EADDRINUSE);
  const uint8_t b[5] = {};
  EXPECT_EQ(net.SendTo(s, b, 5, kLimitedBroadcast, kCardPort), -1) << "broadcast not enabled";
  EXPECT_EQ(net.LastError(), EACCES);
  uint8_t buffer[100];
  EXPECT_EQ(net.Receive(s, buffer, 100), -1);
  EXPECT_EQ(net.LastError(), EWOULDBLOCK);
  net.Close(s);
  EXPECT_FALSE(net.IsReadable(s));
  EXPECT_EQ(net.Send(s, b, 5), -1);
  net.writable = false;
  EXPECT_FALSE(net.IsWritable(twin));
}

// A minimal requester with the resend rule of the link: the same bytes again after more
// than ten 20 ms ticks without the answer carrying its number.
struct Requester {
  VirtualNetwork& net;
  Timeline& timeline;
  SocketHandle s;
  uint16_t seq = 0;
  int resends = 0;

  Bytes Exchange(Bytes plain) {
    plain[3] = static_cast<uint8_t>(seq);
    plain[4] = static_cast<uint8_t>(seq >> 8);
    EncodeChained(plain.data(), static_cast<int>(plain.size()));
    for (int send = 0; send < 10; ++send) {
      if (send > 0) ++resends;
      net.Send(s, plain.data(), static_cast<int>(plain.size()));
      for (int tick = 0; tick <= 10; ++tick) {
        timeline.Advance(kTickMs);
        while (net.IsReadable(s)) {
          Bytes r(100, 0);
          const int n = net.Receive(s, r.data(), 100);
          r.resize(static_cast<size_t>(n));
          DecodeChained(r.data(), n);
          if (n >= 6 && r[0] == 0x55 && r[1] == 0xAA && Get16(r, 3) == seq) {
            ++seq;
            return r;
          }
        }
      }
    }
    return {};
  }
};

TEST_F(Network, TwoThousandExchangesThroughTenPercentLossEachWay) {
  net.AddLocalAddress("10.0.0.1");
  NetCard& nc = net.AddCard(CardModel::kLorn5, "10.0.0.2");
  FaultShares loss;
  loss.drop = 0.1;
  nc.SetFaults(loss, 2026);
  const SocketHandle s = OpenOn("10.0.0.1");
  Ipv4SocketAddress card{2, htons(kCardPort), Ipv4("10.0.0.2"), {}};
  net.Connect(s, card);
  Requester link{net, timeline, s};
  const auto wallStart = std::chrono::steady_clock::now();
  ASSERT_EQ(EthStatus(link.Exchange(Eth(11, 0))).state(), 1);
  int rowsSent = 0;
  for (int i = 0; i < 2000; ++i) {
    const bool rows = i % 4 == 0;
    const Bytes r =
        link.Exchange(rows ? EthRows(0, 1, i, 5, Same(10, {1, 0, 0, 0, 0})) : EthPoll(0));
    ASSERT_FALSE(r.empty()) << "exchange " << i;
    rowsSent += rows ? 10 : 0;
  }
  const double wallMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart)
          .count();
  const CardStats& st = nc.card.stats();
  EXPECT_EQ(st.commands, 2001u) << "every command ran once, however often it was sent";
  EXPECT_EQ(st.rowsReceived, static_cast<uint32_t>(rowsSent));
  EXPECT_GT(st.duplicates, 50u);
  EXPECT_GT(link.resends, 200);
  EXPECT_EQ(nc.card.position(0), rowsSent);
  EXPECT_GT(timeline.now(), 60'000u) << "over a minute of link time";
  EXPECT_LT(wallMs, 5'000.0);
}

TEST_F(Network, SilentCardRunsIntoTheTimeOutToTheMillisecond) {
  net.AddLocalAddress("10.0.0.1");
  NetCard& nc = net.AddCard(CardModel::kLorn5, "10.0.0.2");
  nc.SetLatency(0);
  const SocketHandle s = OpenOn("10.0.0.1");
  nc.card.SetSilent(true);
  Discover(s, 0);
  timeline.Advance(11 * kTickMs);
  EXPECT_FALSE(net.IsReadable(s));
  nc.card.SetSilent(false);
  Discover(s, 0);
  EXPECT_TRUE(net.IsReadable(s)) << "without latency the answer is there within the call";
}

TEST_F(Network, CardRebootedMidSessionAnswersHaltedWithFreshTime) {
  net.AddLocalAddress("10.0.0.1");
  NetCard& nc = net.AddCard(CardModel::kLorn5, "10.0.0.2");
  const SocketHandle s = OpenOn("10.0.0.1");
  Ipv4SocketAddress card{2, htons(kCardPort), Ipv4("10.0.0.2"), {}};
  net.Connect(s, card);
  Requester link{net, timeline, s};
  link.Exchange(Eth(11, 0));
  timeline.Advance(1000);
  nc.card.Reboot(300);
  const int before = link.resends;
  const EthStatus r(link.Exchange(EthPoll(0)));
  EXPECT_EQ(r.state(), 0);
  EXPECT_LT(r.cardTime(), 60);
  EXPECT_GT(link.resends, before) << "the booting card missed the first send";
}

TEST_F(Network, UnpluggedCardHearsNothing) {
  net.AddLocalAddress("10.0.0.1");
  NetCard& nc = net.AddCard(CardModel::kLorn5, "10.0.0.2");
  const SocketHandle s = OpenOn("10.0.0.1");
  nc.unplugged = true;
  Discover(s, 0);
  timeline.Advance(100);
  EXPECT_FALSE(net.IsReadable(s));
  EXPECT_EQ(nc.card.stats().packets, 0u);
}

TEST(SimWorldTime, OneClockRunsEthernetAndUsbCardsAlike) {
  SimWorld world;
  world.net.AddLocalAddress("10.0.0.1");
  NetCard& eth = world.net.AddCard(CardModel::kLorn5, "10.0.0.2");
  UsbCard& usb = world.usb.AddCard();
  world.Advance(60'000);
  EXPECT_EQ(eth.card.cardTime(), 12'000);
  EXPECT_EQ(usb.card.cardTime(), 12'000);
  EXPECT_EQ(world.timeline.TickCountMs(), 60'000u);
}

TEST(TimelineClock, TickCountFollowsTheTimelineAndWraps) {
  Timeline t;
  t.SetTickOffset(0xFFFFFFF0u);
  EXPECT_EQ(t.TickCountMs(), 0xFFFFFFF0u);
  t.Advance(0x20);
  EXPECT_EQ(t.TickCountMs(), 0x10u);
  EXPECT_EQ(t.now(), 0x20u);
}

}  // namespace
}  // namespace torvexan::sim::testing
