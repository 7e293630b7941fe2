// The motion state machine: decides each tick what the card receives next.
#pragma once

#include "host/plugin_state.h"

namespace torvexan {

// One step of the sequence selected by MotionMode; called only while the link is up.
void MotionTick(PluginState& s);

// Queue streaming would send a batch of the host's queue on its next pass: nothing is pending,
// entries wait and the card has room for them.
bool QueueBatchWaiting(const PluginState& s);

// Ends every sequence and returns to queue streaming.
void ResetMotion(PluginState& s);

}  // namespace torvexan
