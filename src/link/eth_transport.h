// The Ethernet cards over UDP: discovery by broadcast on each local address, then the
// exchange of the pending packet on a socket connected to the card. Both are resumable steps
// called once per tick; neither waits: readiness is tested with zero time-outs and every
// time-out counts ticks of TickCount.
#pragma once

#include <cstdint>

#include "link/step_result.h"
#include "state/plugin_state.h"

namespace torvexan {

// Transport resume points of the Ethernet operations (TransportStep). The values differ from
// the USB ones so that a step finding a marker it does not own can tell.
enum EthStepValue : uint16_t {
  kEthAwaitingDiscoveryReply = 10,
  kEthAwaitingWritable = 11,
  kEthSend = 12,
  kEthAwaitingReply = 13,
};

inline constexpr uint16_t kCardPort = 1234;
inline constexpr uint16_t kLocalPort = 1235;
inline constexpr int kEthReplyCapacity = 100;  // largest datagram read

// The model of a card not yet known, from the length of its first status reply (the
// card-model table's statusReplyLength): Lorn5, Lorn4, or unknown for any other length.
uint32_t CardModelFromReplyLength(int length);

// Looks for a card: one local address at a time, a little over 10 ticks each. Returns 3 once
// a card answered and the socket is connected to it (online set), else 0.
int EthDiscoveryStep(PluginState& s);

// Exchanges the pending packet's first length bytes, resending the same bytes on time-out.
// Returns 2 when offline on entry or the socket never became writable (online cleared), 3
// when over (accepted, or online cleared after the last send), 0 while waiting.
int EthExchangeStep(PluginState& s, int length);

}  // namespace torvexan
