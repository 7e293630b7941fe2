// A card exchange must never touch the heap: this program counts every global operator new
// while 50-row Lorn5 exchanges run, through the link state machine over a card that answers at
// once, and through the bare build, encode, decode and parse.
#include <gtest/gtest.h>

#include <cstring>

#include "host/timer_cycle.h"
#include "link/card_session.h"
#include "link/link_machine.h"
#include "link/packets.h"
#include "loopback_card_net.h"
#include "state/plugin_state.h"
#include "support/heap_counter.h"
#include "support/host_world.h"

namespace torvexan::testing {
namespace {

constexpr int kRows = 50;
constexpr int kExchanges = 20000;

template <typename Body>
long CountAllocations(Body body) {
  StartCountingAllocations();
  body();
  return StopCountingAllocations();
}

void IgnoreCode(const char*) {}

// A plug-in state bound to host records, its Lorn5 link already up over the loopback card.
struct ExchangeWorld {
  HostWorld world;
  LoopbackCardNet net;
  PluginState s{Platform{}};
  int32_t rows[kRows * kMaxCardAxes];

  ExchangeWorld() {
    s.host.machine = world.machine.get();
    s.host.doubles = world.doubles.get();
    s.host.control = world.control.get();
    s.host.frame = world.frame.get();
    s.host.CodeCallback = &IgnoreCode;
    s.session = std::make_unique<CardSession>();
    CardSession& c = *s.session;
    ResetCardSession(c);
    ApplyCardModel(c, kCardLorn5);
    s.platform.clock = &net;
    c.net = &net;
    c.socket = LoopbackCardNet::kSocket;
    c.online = 1;
    s.link.LinkStep = kLinkIdle;
    for (int i = 0; i < kRows * kMaxCardAxes; ++i) rows[i] = i % 97 - 48;
  }
};

TEST(LinkAllocations, TheCounterSeesAnAllocation) {
  const long seen = CountAllocations([] {
    void* volatile p = ::operator new(16);
    ::operator delete(p);
  });
  EXPECT_EQ(seen, 1);
}

TEST(LinkAllocations, FullMotionExchangesThroughTheLinkMachineAllocateNothing) {
  ExchangeWorld w;
  CardSession& c = *w.s.session;
  int completed = 0;
  const long seen = CountAllocations([&] {
    for (int i = 0; i < kExchanges; ++i) {
      c.txLength = BuildMotionCmd(c, i, kRows, kQueueSegments, w.rows);
      ++w.s.cycle.TickCount;
      RunLinkStep(w.s);
      completed += c.txLength == 0 ? 1 : 0;
    }
  });
  EXPECT_EQ(completed, kExchanges);
  EXPECT_EQ(w.net.sends, kExchanges) << "one send per exchange: no resends";
  EXPECT_EQ(c.counters.exchanges, static_cast<uint64_t>(kExchanges));
  EXPECT_EQ(seen, 0);
}

TEST(LinkAllocations, BuildEncodeDecodeParseAllocateNothing) {
  ExchangeWorld w;
  CardSession& c = *w.s.session;
  uint8_t reply[LoopbackCardNet::kStatusLength] = {0x55, 0xAA, 3};
  ChainEncode(reply, sizeof reply);
  int accepted = 0;
  const long seen = CountAllocations([&] {
    for (int i = 0; i < kExchanges; ++i) {
      const int length = BuildMotionCmd(c, i, kRows, kQueueSegments, w.rows);
      ChainEncode(c.txPacket, length);
      ChainDecode(c.txPacket, length);
      std::memcpy(c.rxBuffer, reply, sizeof reply);
      ChainDecode(c.rxBuffer, sizeof reply);
      accepted += ParseEthReply(c, c.rxBuffer, sizeof reply) == kReplyAccepted ? 1 : 0;
    }
  });
  EXPECT_EQ(accepted, kExchanges);
  EXPECT_EQ(seen, 0);
}

}  // namespace
}  // namespace torvexan::testing
