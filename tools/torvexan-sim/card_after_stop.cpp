#include "tools/torvexan-sim/card_after_stop.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "sim/host/coolant_outputs.h"

namespace torvexan::sim {
namespace {

// The machine steps all axes made from one period to the next.
int64_t StepsBetween(const TraceSample& a, const TraceSample& b) {
  int64_t steps = 0;
  for (int i = 0; i < kMaxAxes; ++i) steps += std::llabs(int64_t{b.physical[i]} - a.physical[i]);
  return steps;
}

constexpr double kOnPathSteps = 1.0;  // the card's whole steps against the host's fractions

}  // namespace

void StopWatch::Add(const TraceSample* previous, const TraceSample& s) {
  if (!halted_) {
    // The counts' frame and the line until a restart: the machine stays, the counts restart.
    rebooted_ = rebooted_ || (previous != nullptr && s.reboots > previous->reboots);
    if (!rebooted_) {
      for (int a = 0; a < kMaxAxes; ++a) frame_[a] = s.physical[a] - s.positions[a];
      tag_ = s.tag;
    }
    // A card the silent link left in its stream has halted in effect once its buffer is dry.
    if (static_cast<double>(s.ms) < stopMs_ || (s.state == kStreaming && s.buffered > 0)) return;
    halted_ = true;
    ranDry_ = s.state == kStreaming;
    haltMs_ = static_cast<double>(s.ms);
    haltState_ = s.state;
    halt_ = s;
    return;
  }
  if (previous == nullptr) return;
  const int64_t steps = StepsBetween(*previous, s);
  total_ += steps;
  // After the operator's reset the card may move again: its state changes or rows arrive first.
  left_ = left_ || s.state != haltState_ || s.buffered > 0;
  if (!left_) untilLeft_ += steps;
  // Referencing again runs in sequences of the card's own; the job runs in its stream.
  if (left_ && !ranAgain_ && s.state == kStreaming && steps > 0) {
    ranAgain_ = true;
    again_ = s;
  }
}

CardAfterStop StopWatch::Finding(const StopRecord& stop, double timelineToCardMs) const {
  CardAfterStop found;
  if (!halted_) return found;
  found.halted = true;
  found.ranDry = ranDry_;
  found.haltSeconds = (haltMs_ - timelineToCardMs) / 1000.0;
  found.stepsMoved = stop.resumed ? untilLeft_ : total_;
  found.restarted = rebooted_;
  found.line = static_cast<int>(rebooted_ || halt_.tag == 0 ? tag_ : halt_.tag);
  for (int a = 0; a < kMaxAxes && a < kHostAxisCount; ++a) {
    found.rest[a] = halt_.physical[a] - frame_[a];
  }
  if (stop.resumed && ranAgain_) {
    found.ranAgain = true;
    found.ranAgainSeconds = (static_cast<double>(again_.ms) - timelineToCardMs) / 1000.0;
    found.spindleThen = again_.spindle;
    found.outputsThen = again_.outputs;
    const JobModes& on = stop.modes;
    const bool turning =
        on.spindle == SpindleTurn::kClockwise || on.spindle == SpindleTurn::kCounterClockwise;
    const int flood = 1 << (kFloodOutput - 1);
    const int mist = 1 << (kMistOutput - 1);
    const int coolant = (on.flood ? flood : 0) | (on.mist ? mist : 0);
    found.restored =
        (again_.spindle != 0) == turning && (again_.outputs & (flood | mist)) == coolant;
  }
  return found;
}

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
  for (const StopRecord& stop : stops) {
    StopWatch watch(timelineToCardMs + stop.seconds * 1000.0);
    for (size_t i = 0; i < trace.size(); ++i) watch.Add(i == 0 ? nullptr : &trace[i - 1], trace[i]);
    found.push_back(watch.Finding(stop, timelineToCardMs));
  }
  return found;
}

}  // namespace torvexan::sim
