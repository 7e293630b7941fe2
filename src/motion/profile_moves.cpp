// Profiles of jogs and homing moves built from the host's axis limits, and the slaving of
// computed rows.
#include <algorithm>
#include <cfloat>
#include <cmath>

#include "motion/profile.h"

namespace torvexan {

namespace {

constexpr float kHomeApproachDistance = 9999.0f;  // units; the home switch ends the run sooner
constexpr int kFirstSlavedChannel = 3;            // channels 0 to 2 carry X, Y, Z

float HomeSpeed(const HostControl& c, int h) {
  return NarrowToFloat(c.HomeSpeedPercent[h] / 100.0 * c.MaxVelocity[h]);
}

void BuildHomeProfile(double jerk, const HostControl& c, AxisProfile& p, int h, float distance) {
  BuildProfile(jerk, NarrowToFloat(c.Acceleration[h]), HomeSpeed(c, h), distance, kTimeQuantum,
               c.StepsPerUnit[h], p);
}

// The channel whose column a slaved channel copies, or -1 when it should stay still.
int MasterChannel(const PluginSettings& settings, const HostMachine& machine, int channel,
                  int axes) {
  const int h = settings.AxisMap[channel];
  if (!IsHostAxis(h)) return channel;
  const AxisRecord& axis = machine.Axes[h];
  if (!axis.IsSlave) return channel;
  const int master = ChannelOf(settings, axis.SlaveOf);
  // A master that no channel of this card carries does not move in computed rows, so its
  // slave does not move either.
  return master < axes ? master : -1;
}

}  // namespace

void ApplySlaving(const PluginSettings& settings, const HostMachine& machine,
                  const CardSession& session, int32_t* rows, int count) {
  const int axes = std::min<int>(session.axisCount, kMaxCardAxes);
  int source[kMaxCardAxes] = {};
  for (int c = kFirstSlavedChannel; c < axes; ++c) {
    source[c] = MasterChannel(settings, machine, c, axes);
  }
  for (int i = 0; i < count; ++i) {
    int32_t* row = rows + i * axes;
    for (int c = kFirstSlavedChannel; c < axes; ++c) row[c] = source[c] < 0 ? 0 : row[source[c]];
  }
}

float NarrowToFloat(double v) {
  if (std::isfinite(v) && std::fabs(v) > FLT_MAX) return v > 0 ? HUGE_VALF : -HUGE_VALF;
  return static_cast<float>(v);
}

void StartJogProfile(const PluginSettings& settings, CardSession& session, float speed,
                     float acceleration, float distance, double stepsPerUnit, int channel) {
  if (channel < 0 || channel >= kMaxCardAxes) return;
  BuildProfile(settings.Jerk, acceleration, speed, distance, kTimeQuantum, stepsPerUnit,
               session.axisJog[channel]);
}

void BuildHomeApproach(const PluginSettings& settings, const HostControl& control,
                       CardSession& session, int channel) {
  ClearProfiles(session);
  if (channel < 0 || channel >= kMaxCardAxes) return;
  const int h = settings.AxisMap[channel];
  if (!IsHostAxis(h)) return;
  const bool negative = control.HomeNegative[h] != 0;
  BuildHomeProfile(settings.Jerk, control, session.axisJog[channel], h,
                   negative ? -kHomeApproachDistance : kHomeApproachDistance);
}

void BuildHomePullOff(const PluginSettings& settings, const HostControl& control,
                      CardSession& session, int hostAxis) {
  ClearProfiles(session);
  const int h = hostAxis;
  if (!IsHostAxis(h)) return;
  const int channel = ChannelOf(settings, h);
  if (channel < 0) return;
  const float pullOff = NarrowToFloat(settings.PullOff(channel));
  const bool negative = control.HomeNegative[h] != 0;
  BuildHomeProfile(settings.Jerk, control, session.axisJog[channel], h,
                   negative ? pullOff : -pullOff);
}

}  // namespace torvexan
