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
  // Where the machine came to rest, in the card's counts as they stood before the fault (a
  // restart sets the card's counts to zero; the machine stays where it is), and the job line
  // of the row it ran last.
  int32_t rest[kHostAxisCount] = {};
  int line = 0;
  bool restarted = false;  // the card's counts no longer name where the machine stands
  // After the operator's reset: what the card had on when it ran its first row again.
  bool ranAgain = false;
  double ranAgainSeconds = 0.0;  // on the host's timeline
  int spindleThen = 0;           // the card's spindle value
  int outputsThen = 0;           // its output bits
  bool restored = true;          // spindle and coolant as the job had them at the stop
};

// The card's own account of each stop, put in the place of what the host saw: where the
// machine came to rest, on which line, and whether that lies on the stretch of the commanded
// path the card could stand on. A restarted card's position stays known here: the trace
// follows the machine, not the card's count.
void ApplyCardRest(const std::vector<CardAfterStop>& found, std::vector<StopRecord>* stops);

// Watches the card from one stop on, period by period.
class StopWatch {
 public:
  explicit StopWatch(double stopCardMs) : stopMs_(stopCardMs) {}
  // s follows previous (null for the first period seen).
  void Add(const TraceSample* previous, const TraceSample& s);
  // A stop the operator reset counts only the steps before the card left its halt, and is
  // judged by what the card had on when it ran the job again.
  CardAfterStop Finding(const StopRecord& stop, double timelineToCardMs) const;

 private:
  double stopMs_;
  bool halted_ = false;
  bool ranDry_ = false;
  double haltMs_ = 0.0;
  int haltState_ = 0;
  TraceSample halt_;  // the period it halted in
  // The card's counts against the machine's and its move tag before a restart changed them.
  bool rebooted_ = false;
  int32_t frame_[kMaxAxes] = {};
  uint32_t tag_ = 0;
  bool ranAgain_ = false;
  TraceSample again_;  // the first period it ran the host's stream again
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
