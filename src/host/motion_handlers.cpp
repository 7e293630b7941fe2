// Jog, probe and home: checks, the first profiles, and the switch of the motion mode. The
// sequences that run the moves belong to the motion state machine.
#include <cmath>

#include "host/handlers.h"
#include "motion/profile.h"

namespace torvexan {

namespace {

constexpr int kHandwheelJogMode = 2;
constexpr double kUnlimitedJogUnits = 999.0;  // a jog without soft limits
constexpr int kProbeInputEnabledIndex = kProbeInput;

// The first of axes A, B, C slaved to the given axis; 0 (none) when it has no channel.
int32_t SlaveLookup(const PluginState& s, int axis) {
  const HostMachine& m = *s.host.machine;
  for (int a = 3; a < kHostAxisCount; ++a) {
    if (m.Axes[a].IsSlave && m.Axes[a].SlaveOf == axis)
      return ChannelOf(s.settings, a) >= 0 ? a : 0;
  }
  return 0;
}

// A host axis the card can move on its own: carried by a channel, enabled, not a slave.
int DrivableChannel(const PluginState& s, int axis) {
  if (!IsHostAxis(axis)) return -1;
  const int channel = ChannelOf(s.settings, axis);
  const AxisRecord& a = s.host.machine->Axes[axis];
  return (channel >= 0 && a.Enabled && !a.IsSlave) ? channel : -1;
}

}  // namespace

void HandleJogOn(PluginState& s, int16_t axis, int16_t direction, double speed) {
  if (!s.session) return;
  HostMachine& m = *s.host.machine;
  const HostControl& c = *s.host.control;
  if (m.HostSuspended) return;
  if (m.EStop) {
    ReportToHost(s, "(No Jogging in Estop!)");
    return;
  }
  if (s.motion.MotionMode != kQueueStreaming && s.motion.MotionMode != kJogMove) return;
  if (c.JogMode == kHandwheelJogMode && s.settings.MPGDisable) return;
  if (m.MoveQueueWrite != m.MoveQueueRead) return;  // the host has queued moves
  const int channel = DrivableChannel(s, axis);
  if (channel < 0) return;

  if (speed == 0.0) {
    speed = c.MaxVelocity[axis];
    const HostBool* fullSpeed = s.host.frame->FullSpeedJog;
    if (fullSpeed == nullptr || *fullSpeed == 0) {
      speed *= s.host.doubles->Values[kJogRatePercent] / 100.0;
    }
  }
  const double stepsPerUnit = c.StepsPerUnit[axis];
  double distance = direction != 0 ? -kUnlimitedJogUnits : kUnlimitedJogUnits;
  if (m.SoftLimitsOn) {
    const double limit = direction != 0 ? m.SoftLimitMin[axis] : m.SoftLimitMax[axis];
    distance = (limit - c.AxisPosition[axis] * stepsPerUnit) / stepsPerUnit;
  }
  if (!m.Jogging) ClearProfiles(*s.session);
  s.motion.ActiveAxis = axis;
  s.motion.SlaveAxis = SlaveLookup(s, axis);
  s.motion.MotionMode = c.JogMode == kHandwheelJogMode ? kHandwheelJog : kJogMove;
  s.motion.MotionStep = 0;
  StartJogProfile(s.settings, *s.session, NarrowToFloat(speed), NarrowToFloat(c.Acceleration[axis]),
                  NarrowToFloat(distance), stepsPerUnit, channel);
  m.Jogging = 1;
}

void HandleHome(PluginState& s, int16_t axis) {
  if (!s.session) return;
  HostMachine& m = *s.host.machine;
  if (m.HostSuspended || s.motion.MotionMode != kQueueStreaming) return;
  s.motion.ActiveAxis = axis;
  const int channel = DrivableChannel(s, axis);
  if (channel < 0) return;
  s.motion.SlaveAxis = SlaveLookup(s, axis);
  m.Homing = 1;
  // Homed again only once this homing is done: one cut short leaves the axis not homed.
  m.AxisHomed[axis] = 0;
  BuildHomeApproach(s.settings, *s.host.control, *s.session, channel);
  s.motion.MotionMode = kHomingSequence;
  s.motion.MotionStep = 0;
}

void HandleProbe(PluginState& s) {
  HostMachine& m = *s.host.machine;
  HostControl& c = *s.host.control;
  if (!m.InputSignals[kProbeInputEnabledIndex].Enabled) {
    ReportToHost(s, "(Probe called but not turned on.)");
    m.ProbeRunning = 0;
    c.ProbeState = 0;
    return;
  }
  if (!s.session || m.HostSuspended) return;
  if (m.EStop) {
    ReportToHost(s, "( No Probing in Estop!!)");
    return;
  }
  if (s.motion.MotionMode != kQueueStreaming) {
    ReportToHost(s, "(Waiting for sequence to End!)");
    return;
  }
  double distance[kHostAxisCount];
  for (int k = 0; k < kHostAxisCount; ++k) distance[k] = c.ProbeTarget[k] - c.AxisPosition[k];
  CardSession& session = *s.session;
  ClearProfiles(session);
  for (int i = 0; i < session.axisCount && i < kCardChannels; ++i) {
    const int h = s.settings.AxisMap[i];
    if (!IsHostAxis(h)) continue;
    BuildProfile(s.settings.Jerk, NarrowToFloat(c.Acceleration[h]), NarrowToFloat(c.FeedPerSecond),
                 NarrowToFloat(distance[h]), kTimeQuantum, c.StepsPerUnit[h], session.axisJog[i]);
  }
  s.motion.MotionMode = kProbingSequence;
  s.motion.MotionStep = 0;
  c.MotionIdle = 0;
}

}  // namespace torvexan
