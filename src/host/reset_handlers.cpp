// Dwell, reset and purge.
#include <cmath>

#include "host/handlers.h"
#include "link/link_machine.h"
#include "motion/motion_machine.h"
#include "motion/profile.h"

namespace torvexan {

namespace {
// GB2312 for "(device not connected)".
constexpr const char* kNotConnectedText = "(\xC9\xE8\xB1\xB8\xCE\xB4\xC1\xAC\xBD\xD3)";
}  // namespace

int ChannelOf(const PluginState& s, int hostAxis) {
  for (int c = 0; c < kCardChannels; ++c) {
    if (s.settings.AxisMap[c] == hostAxis) return c;
  }
  return -1;
}

void ReportToHost(const PluginState& s, const char* text) {
  if (s.host.CodeCallback != nullptr) s.host.CodeCallback(text);
}

void HandleDoDwell(PluginState& s, double time) {
  const double ms = s.host.control->DwellInMs ? time : time * 1000.0;
  // A negative or non-finite time ends the dwell at once instead of waiting for weeks.
  s.DwellMs =
      (std::isfinite(ms) && ms > 0.0) ? static_cast<int32_t>(std::fmin(ms, 2147483647.0)) : 0;
  s.host.machine->Dwelling = 1;
  s.DwellStart = s.platform.clock->TickCountMs();
  s.MotionMode = kDwellWait;
}

namespace {

// What every reset does first: the host's pending words and every sequence end; a homing or
// probing sequence cut short says so.
void EndEverySequence(PluginState& s) {
  ReportSequenceAborted(s);
  s.host.control->PendingWordA = 0;
  s.host.control->PendingWordB = 0;
  s.host.machine->Homing = 0;
  ResetMotion(s);
}

// In emergency stop nothing may start again by itself: no dwell, probe, spindle, outputs or
// pending jog stop survive the reset.
void ClearForEmergencyStop(PluginState& s) {
  CardSession& session = *s.session;
  s.host.machine->Dwelling = 0;
  s.host.machine->ProbeRunning = 0;
  s.host.control->PendingWordA = 0;
  s.host.control->PendingWordB = 0;
  session.spindleValue = 0;
  session.outputBits = 0;
  session.jogStopBits = 0;
}

}  // namespace

void ResetWithoutLink(PluginState& s) {
  EndEverySequence(s);
  // A cut jog or sequence must not pick up its profile, or its rows, when the link returns.
  ClearProfiles(*s.session);
  DropPendingPacket(s);
  if (s.host.machine->EStop) ClearForEmergencyStop(s);
  // The halt is the first packet after the reconnect: the card may still hold rows.
  s.RequestFlags = kRequestHalt;
}

void HandleReset(PluginState& s) {
  CardSession* session = s.session.get();
  if (session == nullptr) return;
  if (!session->online) {
    ReportToHost(s, kNotConnectedText);
    ResetWithoutLink(s);
    return;
  }
  HostMachine& m = *s.host.machine;
  EndEverySequence(s);
  if (!m.EStop) {
    for (int i = 0; i < session->axisCount && i < kCardChannels; ++i) {
      const int h = s.settings.AxisMap[i];
      s.PositionImage[i] = (h >= 0 && h < kAxisRecordCount) ? m.Axes[h].PositionCounts : 0;
    }
    s.RequestFlags = kRequestConfigure;
  } else {
    ClearForEmergencyStop(s);
    s.RequestFlags = kRequestHalt;
  }
}

void HandlePurge(PluginState& s, int16_t mask) {
  CardSession* session = s.session.get();
  if (session == nullptr) return;
  const HostMachine& m = *s.host.machine;
  s.PurgeMask = 0;
  for (int i = 0; i < session->axisCount && i < kCardChannels; ++i) {
    const int h = s.settings.AxisMap[i];
    if (h < 0 || h >= kHostAxisCount) continue;
    if (mask & (1 << h)) {
      s.PositionImage[i] = 0;
      s.PurgeMask |= static_cast<uint8_t>(1u << i);
    } else {
      s.PositionImage[i] = m.Axes[h].PositionCounts;
    }
  }
  s.RequestFlags |= kRequestSetPositions;
}

void HandleJogOff(PluginState& s, int16_t axis) {
  CardSession* session = s.session.get();
  if (session == nullptr || !s.host.machine->Jogging) return;
  const int channel = ChannelOf(s, axis);
  if (channel < 0) return;
  session->jogStopBits |= static_cast<uint8_t>(1u << channel);
  s.RequestFlags |= kRequestJogStop;
}

}  // namespace torvexan
