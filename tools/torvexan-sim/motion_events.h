// The card's motion faults, each with its time and job line: every time its buffer ran dry
// while the host's stream was open (an underrun) and every stretch in which an axis moved
// faster or accelerated harder than its limits. A stretch that an emergency stop, a restart or
// a lost link caused (the card halts at once) is put down to that stop, not to the motion.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "card/card_trace.h"
#include "sim/host/job_driver.h"
#include "tools/torvexan-sim/card_after_stop.h"

namespace torvexan::sim {

struct MotionEvent {
  double seconds = 0.0;  // on the host's timeline
  int line = 0;          // the job line of the row the card ran
  int axis = -1;         // -1: an underrun
  std::string text;
  int stop = -1;  // index of the stop that caused it, -1 for none
};

struct MotionFaults {
  std::vector<MotionEvent> events;  // at most kMostMotionEvents; the counts go on
  size_t underruns = 0;             // not caused by a stop
  size_t overLimits = 0;            // stretches over a limit not caused by a stop
  unsigned axesOver = 0;            // bit c: axis c went over a limit outside any stop
};

inline constexpr size_t kMostMotionEvents = 50;

// timelineToCardMs: the card's trace clock at the zero of the host's timeline.
MotionFaults FindMotionFaults(const std::vector<TraceSample>& trace, const HostControl& limits,
                              double timelineToCardMs, const std::vector<StopRecord>& stops,
                              const std::vector<CardAfterStop>& halts);

// The events on the safety timeline, in their places by time.
void MergeMotionEvents(const MotionFaults& faults, std::vector<SafetyEvent>* timeline);

}  // namespace torvexan::sim
