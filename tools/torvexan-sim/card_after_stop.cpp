#include "tools/torvexan-sim/card_after_stop.h"

#include <cmath>
#include <cstdlib>

namespace torvexan::sim {
namespace {

// The machine steps all axes made from one period to the next.
int64_t StepsBetween(const TraceSample& a, const TraceSample& b) {
  int64_t steps = 0;
  for (int i = 0; i < kMaxAxes; ++i) steps += std::llabs(int64_t{b.physical[i]} - a.physical[i]);
  return steps;
}

}  // namespace

void StopWatch::Add(const TraceSample* previous, const TraceSample& s) {
  if (!halted_) {
    // A card the silent link left in its stream has halted in effect once its buffer is dry.
    if (static_cast<double>(s.ms) < stopMs_ || (s.state == kStreaming && s.buffered > 0)) return;
    halted_ = true;
    ranDry_ = s.state == kStreaming;
    haltMs_ = static_cast<double>(s.ms);
    haltState_ = s.state;
    return;
  }
  if (previous == nullptr) return;
  const int64_t steps = StepsBetween(*previous, s);
  total_ += steps;
  // After the operator's reset the card may move again: its state changes or rows arrive first.
  left_ = left_ || s.state != haltState_ || s.buffered > 0;
  if (!left_) untilLeft_ += steps;
}

CardAfterStop StopWatch::Finding(bool resumed, double timelineToCardMs) const {
  CardAfterStop found;
  if (!halted_) return found;
  found.halted = true;
  found.ranDry = ranDry_;
  found.haltSeconds = (haltMs_ - timelineToCardMs) / 1000.0;
  found.stepsMoved = resumed ? untilLeft_ : total_;
  return found;
}

std::vector<CardAfterStop> CheckCardAfterStops(const std::vector<TraceSample>& trace,
                                               const std::vector<StopRecord>& stops,
                                               double timelineToCardMs) {
  std::vector<CardAfterStop> found;
  for (const StopRecord& stop : stops) {
    StopWatch watch(timelineToCardMs + stop.seconds * 1000.0);
    for (size_t i = 0; i < trace.size(); ++i) watch.Add(i == 0 ? nullptr : &trace[i - 1], trace[i]);
    found.push_back(watch.Finding(stop.resumed, timelineToCardMs));
  }
  return found;
}

}  // namespace torvexan::sim
