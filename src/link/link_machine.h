// The link state machine: finds the card, connects, exchanges the pending packet and
// reconnects after a loss. One step per timer tick; it reports what happened and the timer
// cycle decides what runs next (the reply's mapping into the host, or the stop after a loss).
#pragma once

#include "state/plugin_state.h"

namespace torvexan {

// Link resume points.
enum LinkStepValue : uint16_t {
  kLinkStart = 0,
  kLinkEthConnect = 1,
  kLinkUsbConnect = 2,
  kLinkDetect = 3,
  kLinkIdle = 4,
  kLinkEthExchange = 5,
  kLinkUsbExchange = 6,
};

// What a link step did that the rest of the tick acts on.
enum class LinkEvent : uint8_t {
  kNone,       // connecting, waiting for a reply, or idle
  kExchanged,  // the pending packet is done and the link is up: its reply waits to be mapped
  kLost,       // an exchange ended with the link lost; the pending packet is still pending
};

// Returns 0 (waiting) or 1 (yielded); what happened goes to `event`.
int LinkTick(PluginState& s, LinkEvent& event);

// The spindle speed as a level 0..7 on output bits 0..2 (the MultiStep setting).
void ApplySpindleStep(CardSession& c);

// Forgets the packet left pending by a lost link, so that it is not exchanged after the
// reconnect. The card may have run it already, so the next packet never reuses its number.
void DropPendingPacket(PluginState& s);

}  // namespace torvexan
