#include "tools/torvexan-sim/card_after_stop.h"

#include "sim/host/coolant_outputs.h"

#include <algorithm>
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

// The first row of the host's stream the card runs after the reset (referencing again runs
// in sequences of the card's own) must find the spindle and the coolant as the job had them.
void CheckRestored(const std::vector<TraceSample>& trace, size_t from, const StopRecord& stop,
                   double timelineToCardMs, CardAfterStop* found) {
  size_t k = from;
  while (k < trace.size() &&
         !(trace[k].state == kStreaming && k > 0 && StepsBetween(trace[k - 1], trace[k]) > 0)) {
    ++k;
  }
  if (k == trace.size()) return;
  found->ranAgain = true;
  found->ranAgainSeconds = (static_cast<double>(trace[k].ms) - timelineToCardMs) / 1000.0;
  found->spindleThen = trace[k].spindle;
  found->outputsThen = trace[k].outputs;
  const JobModes& on = stop.modes;
  const bool turning =
      on.spindle == SpindleTurn::kClockwise || on.spindle == SpindleTurn::kCounterClockwise;
  const int coolant =
      (on.flood ? 1 << (kFloodOutput - 1) : 0) | (on.mist ? 1 << (kMistOutput - 1) : 0);
  const int coolantMask = (1 << (kFloodOutput - 1)) | (1 << (kMistOutput - 1));
  found->restored =
      (trace[k].spindle != 0) == turning && (trace[k].outputs & coolantMask) == coolant;
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
  // The counts as they stood before the fault: those of the last period the card still ran.
  size_t before = i;
  while (before > 0 && trace[before].state == kHalted) --before;
  found.line = static_cast<int>(trace[i].tag != 0 ? trace[i].tag : trace[before].tag);
  for (int a = 0; a < kMaxAxes && a < kHostAxisCount; ++a) {
    const int32_t offset = trace[before].physical[a] - trace[before].positions[a];
    found.rest[a] = trace[i].physical[a] - offset;
    found.restarted = found.restarted || trace[i].physical[a] - trace[i].positions[a] != offset;
  }
  // After the operator's reset the card may move again: its state changes or rows arrive first.
  size_t k = i + 1;
  for (; k < trace.size(); ++k) {
    if (stop.resumed && (trace[k].state != haltState || trace[k].buffered > 0)) break;
    found.stepsMoved += StepsBetween(trace[k - 1], trace[k]);
  }
  if (stop.resumed) CheckRestored(trace, k, stop, timelineToCardMs, &found);
  return found;
}

constexpr double kOnPathSteps = 1.0;  // the card's whole steps against the host's fractions

}  // namespace

void ApplyCardRest(const std::vector<CardAfterStop>& found, std::vector<StopRecord>* stops) {
  for (size_t k = 0; k < found.size() && k < stops->size(); ++k) {
    const CardAfterStop& c = found[k];
    StopRecord& s = (*stops)[k];
    if (!c.halted) continue;
    std::copy(c.rest, c.rest + kHostAxisCount, s.at);
    s.positionLost = c.restarted;
    if (s.positionLost) std::copy(c.rest, c.rest + kHostAxisCount, s.lastKnown);
    if (c.line > 0) s.cardLine = c.line;
    if (s.window.empty()) continue;
    double at[kHostAxisCount];
    for (int a = 0; a < kHostAxisCount; ++a) at[a] = c.rest[a];
    if (const std::optional<PathMatch> match = s.window.Match(at, kOnPathSteps)) {
      s.path = StopRecord::Path::kOnPath;
      s.sliceMatched = match->slice;
      s.line = match->line;
      s.window.PositionAt(match->slice, s.commanded);
    } else {
      s.path = StopRecord::Path::kOffPath;
      s.sliceMatched = -1;
      if (c.line > 0) s.line = c.line;
      s.window.PositionAt(s.window.lastSlice(), s.commanded);
    }
  }
}

std::vector<CardAfterStop> CheckCardAfterStops(const std::vector<TraceSample>& trace,
                                               const std::vector<StopRecord>& stops,
                                               double timelineToCardMs) {
  std::vector<CardAfterStop> found;
  for (const StopRecord& s : stops) found.push_back(CheckOne(trace, s, timelineToCardMs));
  return found;
}

}  // namespace torvexan::sim
