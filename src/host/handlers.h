// The host-side handlers of the entry points that act on the machine. None of them talks to
// the card: they set request bits, switch the motion mode, or prepare profiles and positions.
#pragma once

#include "state/plugin_state.h"

namespace torvexan {

void HandleDoDwell(PluginState& s, double time);
void HandleReset(PluginState& s);
void HandlePurge(PluginState& s, int16_t mask);
void HandleJogOn(PluginState& s, int16_t axis, int16_t direction, double speed);
void HandleJogOff(PluginState& s, int16_t axis);
void HandleProbe(PluginState& s);
void HandleHome(PluginState& s, int16_t axis);
void HandleNotify(PluginState& s, int32_t code);

}  // namespace torvexan
