// The host's idle wait between two passes of its loop. On Windows the wait ends early when a
// message arrives, so the plug-in's timer ticks are dispatched without delay.
#pragma once

namespace torvexan::sim {

void WaitForHostEvents(int ms);

}  // namespace torvexan::sim
