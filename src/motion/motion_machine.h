// The motion state machine: decides each tick what the card receives next.
#pragma once

#include "state/plugin_state.h"

namespace torvexan {

// One step of the sequence selected by MotionMode; called only while the link is up.
void MotionTick(PluginState& s);

// Ends every sequence and returns to queue streaming.
void ResetMotion(PluginState& s);

}  // namespace torvexan
