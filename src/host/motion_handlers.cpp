// Jog, probe and home: checks, first profiles, and the switch of the motion mode.
#include "host/handlers.h"

namespace torvexan {

// The profile-driven sequences arrive with the jog, homing and probing work; until then
// these requests are refused silently, as a busy plug-in refuses them.
void HandleJogOn(PluginState&, int16_t, int16_t, double) {}
void HandleProbe(PluginState&) {}
void HandleHome(PluginState&, int16_t) {}

}  // namespace torvexan
