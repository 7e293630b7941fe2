#include "state/plugin_state.h"

namespace torvexan {

int ChannelOf(const PluginSettings& settings, int hostAxis) {
  for (int c = 0; c < kCardChannels; ++c) {
    if (settings.AxisMap[c] == hostAxis) return c;
  }
  return -1;
}

void ReportToHost(const PluginState& s, const char* text) {
  if (s.host.CodeCallback != nullptr) s.host.CodeCallback(text);
}

}  // namespace torvexan
