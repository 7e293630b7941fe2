// The link state machine: finds the card, connects, exchanges the pending packet, folds the
// reply into the host and reconnects after a loss. One step per timer tick.
#pragma once

#include "host/plugin_state.h"

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

// Returns 0 (waiting) or 1 (yielded); the tick ignores it.
int LinkTick(PluginState& s);

// Forgets the packet left pending by a lost link, so that it is not exchanged after the
// reconnect. The card may have run it already, so the next packet never reuses its number.
void DropPendingPacket(PluginState& s);

}  // namespace torvexan
