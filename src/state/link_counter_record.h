// What a user or a support engineer asks for when a link misbehaves: how many exchanges went
// through, how many sends had to be repeated, which replies were thrown away, how often the
// link was lost and how hard the plug-in looked for a card. Plain counters bumped where the
// event happens; they never change what goes on the wire.
#pragma once

#include <cstdint>

namespace torvexan {

struct LinkCounters {
  uint64_t exchanges;          // pending packets answered by the card
  uint64_t resends;            // sends of a packet beyond its first
  uint64_t staleReplies;       // replies carrying another packet's sequence
  uint64_t rejectedReplies;    // bad marker, unknown kind or too short
  uint64_t heldReplies;        // out of bounds for the card's clock: asked again
  uint64_t linkLosses;         // the link was up and a transport gave up on the card
  uint64_t discoveryPasses;    // rounds over the local addresses
  uint64_t discoveryRequests;  // broadcasts sent, one per local address and pass
  uint64_t usbOpens;           // attempts to open the card's USB device
  uint64_t usbConnects;        // USB connect handshakes begun
};

}  // namespace torvexan
