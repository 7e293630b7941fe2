// What the card's own trace says of each stop of the job: once the card had halted, did the
// machine's axes move again before the run ended (or before the operator's reset)?
#pragma once

#include <cstdint>
#include <vector>

#include "card/card_trace.h"
#include "sim/host/job_driver.h"

namespace torvexan::sim {

struct CardAfterStop {
  bool halted = false;       // the card left the stream after the stop, or ran it dry
  bool ranDry = false;       // still in its stream with its buffer empty (a silent link)
  double haltSeconds = 0.0;  // when, on the host's timeline
  int64_t stepsMoved = 0;    // machine steps, all axes, between the halt and the window's end
};

// One finding per stop. timelineToCardMs: the card's trace clock at the zero of the host's
// timeline. A stop the operator reset is watched until the card leaves its halted state.
std::vector<CardAfterStop> CheckCardAfterStops(const std::vector<TraceSample>& trace,
                                               const std::vector<StopRecord>& stops,
                                               double timelineToCardMs);

}  // namespace torvexan::sim
