// TEMPORARY until signals lands: empty bodies so the link state machine links on this branch.
// Drop this file when merging the signal mapping.
#include "signals/signal_mapping.h"

namespace torvexan {

void MapFeedback(PluginState& s) {
  (void)s;
}
void MapInputs(PluginState& s) {
  (void)s;
}
void MapOutputs(PluginState& s) {
  (void)s;
}

}  // namespace torvexan
