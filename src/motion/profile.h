// The plug-in's own motion planning: one jerk-limited profile per card channel, sampled into
// 5 ms rows of whole steps, shortened into a stop, and the profiles of jogs and homing moves
// built from the host's axis limits.
#pragma once

#include <cstdint>

#include "state/axis_profile.h"
#include "state/plugin_state.h"

namespace torvexan {

inline constexpr double kTimeQuantum = 0.005;  // seconds of one row
inline constexpr double kMinJerk = 0.1;        // units per second cubed; keeps the times finite
// Largest step distance of one profile: rounded positions must stay within a 32-bit count.
inline constexpr double kMaxProfileSteps = 2.0e9;
// Largest number of rows of one profile; a longer (slower) move is refused.
inline constexpr double kMaxProfileRows = 2.0e9;

// Plans a profile of the signed distance under the given limits and makes it ready to run from
// its first step. Limits that cannot describe a move leave the profile with no steps.
void BuildProfile(double jerkLimit, double acceleration, double speed, double signedDistance,
                  double timeQuantum, double stepsPerUnit, AxisProfile& p);

// Position (units, along the direction of travel) that the profile reaches at step index.
double ProfilePosition(const AxisProfile& p, int32_t index);

// Advances the profile by one row; the signed step delta of that row, 0 once it has ended.
int32_t NextProfileStep(AxisProfile& p);

// Fills up to n rows of axisCount values (row-major, channel 0 first) from every channel's
// profile; returns the rows filled, fewer than n once all profiles have ended.
int GenerateRows(CardSession& session, int n, int32_t* rows);

// Rows that the channels' profiles still have to generate (the longest of them).
int ProfileRowsLeft(const CardSession& session);

// Turns the remainder of a running profile into the shortest smooth stop.
void StopProfile(AxisProfile& p);

// Idles the profiles of all channels of the card.
void ClearProfiles(CardSession& session);

// Makes channels 3 and 4 of count computed rows copy the channel of the axis they are slaved to.
void ApplySlaving(const PluginSettings& settings, const HostMachine& machine,
                  const CardSession& session, int32_t* rows, int count);

// Host values arrive as doubles; moves are planned from their 4-byte float values. Values beyond
// the float range become infinite, which the build then refuses.
float NarrowToFloat(double v);

// The jog profile of one channel, under the Jerk setting.
void StartJogProfile(const PluginSettings& settings, CardSession& session, float speed,
                     float acceleration, float distance, double stepsPerUnit, int channel);

// Clears all profiles and plans the homed channel's long run towards its home switch.
void BuildHomeApproach(const PluginSettings& settings, const HostControl& control,
                       CardSession& session, int channel);

// Clears all profiles and plans the pull-off of the homed host axis away from its home switch.
void BuildHomePullOff(const PluginSettings& settings, const HostControl& control,
                      CardSession& session, int hostAxis);

}  // namespace torvexan
