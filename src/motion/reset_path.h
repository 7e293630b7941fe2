// The reset the host's Reset and the card's emergency-stop input share.
#pragma once

#include "state/plugin_state.h"

namespace torvexan {

// Ends every sequence, then asks the card for what the reset needs: outside emergency stop a
// configure with the host's positions, in emergency stop the halt. With the link down only the
// local part happens and the halt waits for the reconnect.
void ResetMachine(PluginState& s);

// The local part of a reset while the link is down: sequences, profiles and the pending packet
// are dropped, and the halt is the first thing the card hears when the link returns.
void ResetWithoutLink(PluginState& s);

}  // namespace torvexan
