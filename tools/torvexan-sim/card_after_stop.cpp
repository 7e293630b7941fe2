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

CardAfterStop CheckOne(const std::vector<TraceSample>& trace, const StopRecord& stop,
                       double timelineToCardMs) {
  CardAfterStop found;
  const double stopMs = timelineToCardMs + stop.seconds * 1000.0;
  size_t i = 0;
  // A card the silent link left in its stream has halted in effect once its buffer is dry.
  while (i < trace.size() && (static_cast<double>(trace[i].ms) < stopMs ||
                              (trace[i].state == kStreaming && trace[i].buffered > 0))) {
    ++i;
  }
  if (i == trace.size()) return found;
  found.halted = true;
  found.ranDry = trace[i].state == kStreaming;
  found.haltSeconds = (static_cast<double>(trace[i].ms) - timelineToCardMs) / 1000.0;
  const int haltState = trace[i].state;
  // After the operator's reset the card may move again: its state changes or rows arrive first.
  for (size_t k = i + 1; k < trace.size(); ++k) {
    if (stop.resumed && (trace[k].state != haltState || trace[k].buffered > 0)) break;
    found.stepsMoved += StepsBetween(trace[k - 1], trace[k]);
  }
  return found;
}

}  // namespace

std::vector<CardAfterStop> CheckCardAfterStops(const std::vector<TraceSample>& trace,
                                               const std::vector<StopRecord>& stops,
                                               double timelineToCardMs) {
  std::vector<CardAfterStop> found;
  for (const StopRecord& s : stops) found.push_back(CheckOne(trace, s, timelineToCardMs));
  return found;
}

}  // namespace torvexan::sim
