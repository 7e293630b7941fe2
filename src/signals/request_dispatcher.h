// The request dispatcher: turns the most urgent one-shot request into the pending packet.
#pragma once

#include "state/plugin_state.h"

namespace torvexan {

// Called once per tick while online, before the motion state machine.
void DispatchRequests(PluginState& s);

}  // namespace torvexan
