// Conversion of the host's move-queue entries into rows of whole steps per card channel.
#pragma once

#include <cstdint>

#include "state/plugin_state.h"

namespace torvexan {

inline constexpr int kMaxRowsPerPacket = 50;
inline constexpr int kRowBufferValues = kMaxRowsPerPacket * kMaxCardAxes;

// Entries the host has queued and the plug-in not yet taken.
int QueuedEntries(const HostMachine& m);

// Converts up to n queue entries (n at most kMaxRowsPerPacket) into rows of axisCount values,
// advancing MoveQueueRead and carrying each host axis's step fraction in StepRemainders;
// returns the rows written and stores the last entry's MoveTag in tag.
int ConvertQueueRows(const PluginSettings& settings, HostMachine& machine,
                     const HostControl& control, const CardSession& session, MotionState& motion,
                     int n, int32_t* rows, int32_t& tag);

}  // namespace torvexan
