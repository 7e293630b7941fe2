// Dwell, reset and purge.
#include <cmath>

#include "host/handlers.h"
#include "motion/reset_path.h"

namespace torvexan {

namespace {
// GB2312 for "(device not connected)".
constexpr const char* kNotConnectedText = "(\xC9\xE8\xB1\xB8\xCE\xB4\xC1\xAC\xBD\xD3)";
}  // namespace

void HandleDoDwell(PluginState& s, double time) {
  const double ms = s.host.control->DwellInMs ? time : time * 1000.0;
  // A negative or non-finite time ends the dwell at once instead of waiting for weeks.
  s.motion.DwellMs =
      (std::isfinite(ms) && ms > 0.0) ? static_cast<int32_t>(std::fmin(ms, 2147483647.0)) : 0;
  s.host.machine->Dwelling = 1;
  s.motion.DwellStart = s.platform.clock->TickCountMs();
  s.motion.MotionMode = kDwellWait;
}

void HandleReset(PluginState& s) {
  if (s.session == nullptr) return;
  if (!s.session->online) ReportToHost(s, kNotConnectedText);
  ResetMachine(s);
}

void HandlePurge(PluginState& s, int16_t mask) {
  CardSession* session = s.session.get();
  if (session == nullptr) return;
  const HostMachine& m = *s.host.machine;
  s.motion.PurgeMask = 0;
  for (int i = 0; i < session->axisCount && i < kCardChannels; ++i) {
    const int h = s.settings.AxisMap[i];
    if (!IsHostAxis(h)) continue;
    if (mask & (1 << h)) {
      s.motion.PositionImage[i] = 0;
      s.motion.PurgeMask |= static_cast<uint8_t>(1u << i);
    } else {
      s.motion.PositionImage[i] = m.Axes[h].PositionCounts;
    }
  }
  s.requests.RequestFlags |= kRequestSetPositions;
}

void HandleJogOff(PluginState& s, int16_t axis) {
  CardSession* session = s.session.get();
  if (session == nullptr || !s.host.machine->Jogging) return;
  const int channel = ChannelOf(s.settings, axis);
  if (channel < 0) return;
  session->jogStopBits |= static_cast<uint8_t>(1u << channel);
  s.requests.RequestFlags |= kRequestJogStop;
}

}  // namespace torvexan
