// The reset the host's Reset and the card's emergency-stop input share.
#include "motion/reset_path.h"

#include "link/link_machine.h"
#include "motion/motion_machine.h"
#include "motion/profile.h"

namespace torvexan {

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
  s.requests.RequestFlags = kRequestHalt;
}

void ResetMachine(PluginState& s) {
  CardSession* session = s.session.get();
  if (session == nullptr) return;
  if (!session->online) {
    ResetWithoutLink(s);
    return;
  }
  HostMachine& m = *s.host.machine;
  EndEverySequence(s);
  if (!m.EStop) {
    for (int i = 0; i < session->axisCount && i < kCardChannels; ++i) {
      const int h = s.settings.AxisMap[i];
      // A channel mapped to no axis (nor to the spindle's record) starts from 0.
      s.motion.PositionImage[i] = IsHostAxis(h) ? m.Axes[h].PositionCounts : 0;
    }
    s.requests.RequestFlags = kRequestConfigure;
    // The host's reset: the outputs follow its signals again from the configuration on.
    session->outputsHeldOff = 0;
  } else {
    ClearForEmergencyStop(s);
    s.requests.RequestFlags = kRequestHalt;
  }
}

}  // namespace torvexan
