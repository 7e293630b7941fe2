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

// Watches the card from one stop on, period by period.
class StopWatch {
 public:
  explicit StopWatch(double stopCardMs) : stopMs_(stopCardMs) {}
  // s follows previous (null for the first period seen).
  void Add(const TraceSample* previous, const TraceSample& s);
  // resumed: the operator reset, so only the steps before the card left its halt count.
  CardAfterStop Finding(bool resumed, double timelineToCardMs) const;

 private:
  double stopMs_;
  bool halted_ = false;
  bool ranDry_ = false;
  double haltMs_ = 0.0;
  int haltState_ = 0;
  bool left_ = false;  // the card left its halt: its state changed or rows arrived
  int64_t untilLeft_ = 0;
  int64_t total_ = 0;
};

// One finding per stop. timelineToCardMs: the card's trace clock at the zero of the host's
// timeline. A stop the operator reset is watched until the card leaves its halted state.
std::vector<CardAfterStop> CheckCardAfterStops(const std::vector<TraceSample>& trace,
                                               const std::vector<StopRecord>& stops,
                                               double timelineToCardMs);

}  // namespace torvexan::sim
