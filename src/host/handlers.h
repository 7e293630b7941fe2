// The host-side handlers of the entry points that act on the machine. None of them talks to
// the card: they set request bits, switch the motion mode, or prepare profiles and positions.
#pragma once

#include "host/plugin_state.h"

namespace torvexan {

void HandleDoDwell(PluginState& s, double time);
void HandleReset(PluginState& s);
// The part of a reset that needs no link: every sequence ends, profiles and the pending packet
// are dropped, and the card is to be halted first thing when the link returns.
void ResetWithoutLink(PluginState& s);
void HandlePurge(PluginState& s, int16_t mask);
void HandleJogOn(PluginState& s, int16_t axis, int16_t direction, double speed);
void HandleJogOff(PluginState& s, int16_t axis);
void HandleProbe(PluginState& s);
void HandleHome(PluginState& s, int16_t axis);
void HandleNotify(PluginState& s, int32_t code);

// The card channel that carries a host axis (first match in AxisMap), or -1.
int ChannelOf(const PluginState& s, int hostAxis);

// Passes a status text to the host's status line.
void ReportToHost(const PluginState& s, const char* text);

// The modal configuration dialog; returns its result.
int RunConfigurationDialog(PluginState& s);

}  // namespace torvexan
