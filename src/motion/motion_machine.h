// The motion state machine: decides each tick what the card receives next.
#pragma once

#include "host/plugin_state.h"

namespace torvexan {

// One step of the sequence selected by MotionMode; called only while the link is up.
void MotionTick(PluginState& s);

// The next pass would send rows that this tick's exchanges did not carry: nothing is pending,
// and queue streaming has a batch for which the card has room, or the jog's feed wanted more
// than one packet carries.
bool MoreRowsWaiting(const PluginState& s);

// Ends every sequence and returns to queue streaming.
void ResetMotion(PluginState& s);

}  // namespace torvexan
