// The card's motion faults, each with its time and job line: every time its buffer ran dry
// while the host's stream was open (an underrun) and every stretch in which an axis moved
// faster or accelerated harder than its limits. A stretch that an emergency stop, a restart or
// a lost link caused (the card halts at once) is put down to that stop, not to the motion.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "card/card_trace.h"
#include "sim/host/job_driver.h"
#include "tools/torvexan-sim/card_after_stop.h"

namespace torvexan::sim {

// Velocity and acceleration are measured over windows of this many 5 ms periods: one step of
// rounding then moves an acceleration by at most 2 / (steps per unit * window^2).
inline constexpr int kMeasureWindowPeriods = 4;

struct MotionEvent {
  double seconds = 0.0;  // on the host's timeline (on the card's clock while folding)
  int line = 0;          // the job line of the row the card ran
  int axis = -1;         // -1: an underrun
  std::string text;
  int stop = -1;  // index of the stop that caused it, -1 for none
  // The card halted at once within the measuring windows (a home switch, a probe's touch, a
  // halt): such a stop is abrupt by design.
  bool atHalt = false;
};

struct MotionFaults {
  std::vector<MotionEvent> events;  // those kept for the timeline
  size_t underruns = 0;             // not caused by a stop
  size_t overLimits = 0;            // stretches over a limit not caused by a stop
  unsigned axesOver = 0;            // bit c: axis c went over a limit outside any stop or halt
};

// Events kept for the timeline; any beyond are counted as faults, whatever caused them.
inline constexpr size_t kMostMotionEvents = 1000;

// Folds the trace in period by period.
class MotionFold {
 public:
  explicit MotionFold(const HostControl& limits) : limits_(limits) {}
  // recent: the last periods, newest at the back.
  void Add(const std::deque<TraceSample>& recent);
  // timelineToCardMs: the card's trace clock at the zero of the host's timeline.
  MotionFaults Finish(const std::vector<StopRecord>& stops, const std::vector<CardAfterStop>& halts,
                      double timelineToCardMs) const;

 private:
  const HostControl& limits_;
  std::vector<MotionEvent> events_;  // on the card's clock
  size_t moreUnderruns_ = 0;         // beyond kMostMotionEvents
  size_t moreOverLimits_ = 0;
  bool fast_[kMaxAxes] = {};
  bool hard_[kMaxAxes] = {};
};

// The events on the safety timeline, in their places by time.
void MergeMotionEvents(const MotionFaults& faults, std::vector<SafetyEvent>* timeline);

}  // namespace torvexan::sim
