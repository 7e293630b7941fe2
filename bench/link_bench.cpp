// Cost of one card exchange without the network: a full 50-row Lorn5 motion command built,
// chain-encoded and decoded again as the card does, and a 92-byte status reply decoded and
// parsed; then the same through the Ethernet exchange step against a card that answers at once.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

#include "link/card_session.h"
#include "link/eth_transport.h"
#include "link/packets.h"
#include "loopback_card_net.h"
#include "state/plugin_state.h"

namespace torvexan {
namespace {

constexpr int kRows = 50;
constexpr int kStatusLength = 92;

// 50 rows of five channels, as the motion streamer hands them over.
struct Rows {
  int32_t values[kRows * kMaxCardAxes];
  Rows() {
    for (int i = 0; i < kRows * kMaxCardAxes; ++i) values[i] = (i * 37) % 2001 - 1000;
  }
};

std::unique_ptr<CardSession> Lorn5Session() {
  auto s = std::make_unique<CardSession>();
  ResetCardSession(*s);
  ApplyCardModel(*s, kCardLorn5);
  s->online = 1;
  return s;
}

// A card's status reply to sequence, on the wire.
void StatusReplyWire(uint16_t sequence, uint8_t (&wire)[kStatusLength]) {
  std::memset(wire, 0, sizeof wire);
  wire[0] = 0x55;
  wire[1] = 0xAA;
  wire[2] = 3;
  wire[3] = static_cast<uint8_t>(sequence);
  wire[4] = static_cast<uint8_t>(sequence >> 8);
  wire[5] = 120;
  for (int i = 19; i < kStatusLength; ++i) wire[i] = static_cast<uint8_t>(i * 7);
  ChainEncode(wire, kStatusLength);
}

void BM_Lorn5ExchangeEncodeDecodeParse(benchmark::State& state) {
  auto s = Lorn5Session();
  const Rows rows;
  uint8_t replyWire[kStatusLength];
  StatusReplyWire(s->ethSequence, replyWire);
  int32_t tag = 0;
  for (auto _ : state) {
    s->txLength = BuildMotionCmd(*s, ++tag, kRows, kQueueSegments, rows.values);
    ChainEncode(s->txPacket, s->txLength);
    ChainDecode(s->txPacket, s->txLength);  // the card's side
    std::memcpy(s->rxBuffer, replyWire, kStatusLength);
    ChainDecode(s->rxBuffer, kStatusLength);
    const int r = ParseEthReply(*s, s->rxBuffer, kStatusLength);
    if (r != kReplyAccepted) state.SkipWithError("reply not accepted");
    benchmark::DoNotOptimize(s->axisPosition);
    s->txLength = 0;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["packet bytes"] = BuildMotionCmd(*s, 1, kRows, kQueueSegments, rows.values);
}
BENCHMARK(BM_Lorn5ExchangeEncodeDecodeParse);

void BM_Lorn5EthExchangeStep(benchmark::State& state) {
  testing::LoopbackCardNet net;
  PluginState ps{Platform{}};
  ps.platform.clock = &net;
  ps.session = Lorn5Session();
  CardSession& c = *ps.session;
  c.net = &net;
  c.socket = testing::LoopbackCardNet::kSocket;
  const Rows rows;
  int32_t tag = 0;
  for (auto _ : state) {
    c.txLength = BuildMotionCmd(c, ++tag, kRows, kQueueSegments, rows.values);
    ++ps.cycle.TickCount;
    if (EthExchangeStep(ps, c.txLength) != kStepEnded || !c.online) {
      state.SkipWithError("exchange did not finish in one step");
      break;
    }
    c.txLength = 0;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["resends"] = static_cast<double>(c.counters.resends);
}
BENCHMARK(BM_Lorn5EthExchangeStep);

}  // namespace
}  // namespace torvexan
