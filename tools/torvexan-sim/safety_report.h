// The safety part of the report: the timeline of emergency stops, resets, aborted sequences,
// status texts and card faults, and for every stop where the machine came to rest against
// what the host had commanded.
#pragma once

#include <cstdio>

#include "tools/torvexan-sim/sim_report.h"

namespace torvexan::sim {

void PrintSafety(std::FILE* out, const RunFacts& facts, const HostControl& limits);

// Puts the events torvexan-card printed ("torvexan-card: the card restarts at 3.004 s") on the
// timeline, in their places by time. cardStartMs: when the card started, on the run's clock.
void MergeCardEvents(const std::string& cardOutput, uint64_t cardStartMs, RunFacts* facts);
// "stands on the commanded path" or what else the watch found.
const char* StopPathWords(const StopRecord& stop);

}  // namespace torvexan::sim
