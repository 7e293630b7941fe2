// What the card's reply and the host's signal tables exchange after every completed exchange.
#pragma once

#include "state/plugin_state.h"

namespace torvexan {

// Positions, speeds, card state, handwheel and jog mode into the host.
void MapFeedback(PluginState& s);
// Card input pins into the host's input signals; the card's emergency-stop input; leaving
// limit-override mode.
void MapInputs(PluginState& s);
// The host's output signals into the card's output bits for the next packet.
void MapOutputs(const HostMachine& m, CardSession& session);
// After an exchange that left the link up: feedback, input mapping and output mapping in that
// order, then the MultiStep spindle step over output bits 0..2.
void MapReply(PluginState& s);
// The link to the card went down: motion in progress stops and the host learns why, as after
// an emergency stop; an idle machine only reconnects.
void MapLinkLoss(PluginState& s);

}  // namespace torvexan
