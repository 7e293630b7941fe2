// The periodic cycle: a 20 ms window timer that the host's Update calls keep alive.
#pragma once

#include "state/plugin_state.h"

namespace torvexan {

inline constexpr uint32_t kTickPeriodMs = 20;
inline constexpr uintptr_t kCycleTimerId = 1;
inline constexpr int32_t kIdleTicksBeforeStop = 20;  // ticks without Update that still work

// Update(): notes the call and starts the cycle timer when none runs.
void NoteUpdate(PluginState& s);

// One step of the link state machine, then what it reported: an answered exchange has its
// reply mapped into the host, a lost link stops motion under way. Returns the link step's
// result (0 waiting, 1 yielded).
int RunLinkStep(PluginState& s);

// One timer tick: keep-alive bookkeeping, then (unless a tick is already in progress) the
// request dispatcher and the motion state machine while online, and the link state machine.
void CycleTick(PluginState& s, void* window, uintptr_t id);

}  // namespace torvexan
