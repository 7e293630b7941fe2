#include "tools/torvexan-sim/motion_events.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "sim/host/machine_setup.h"
#include "tools/torvexan-sim/console_log.h"

namespace torvexan::sim {
namespace {

// A fault comes before the host's stop by up to this much (the host stops when it learns of
// it); the card's halt ends what the stop causes, once the measuring windows have passed it.
constexpr double kCauseBeforeStopSeconds = 3.0;
constexpr double kAfterHaltSeconds = 0.1;
constexpr double kVelocitySlack = 1.0001;
constexpr double kPeriodSeconds = 0.005;

// The stop whose stretch, from just before the host's stop to the card's halt, holds t.
int StopAt(double t, const std::vector<StopRecord>& stops,
           const std::vector<CardAfterStop>& halts) {
  for (size_t i = 0; i < stops.size(); ++i) {
    const double halt =
        i < halts.size() && halts[i].halted ? halts[i].haltSeconds : stops[i].seconds + 1.0;
    if (t >= stops[i].seconds - kCauseBeforeStopSeconds && t <= halt + kAfterHaltSeconds) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

}  // namespace

void MotionFold::Add(const std::deque<TraceSample>& recent) {
  const size_t n = recent.size();
  if (n < 2) return;
  const TraceSample& s = recent[n - 1];
  // Whether the card's state changed within the windows the figures are measured over.
  bool halted = false;
  for (size_t k = n - 1; k > 0 && k + 2 * kMeasureWindowPeriods >= n - 1; --k) {
    halted = halted || recent[k].state != recent[k - 1].state;
  }
  const auto add = [&](int axis, std::string text) {
    if (events_.size() < kMostMotionEvents) {
      events_.push_back(MotionEvent{static_cast<double>(s.ms) / 1000.0, static_cast<int>(s.tag),
                                    axis, std::move(text), -1, axis >= 0 && halted});
    } else {
      ++(axis < 0 ? moreUnderruns_ : moreOverLimits_);
    }
  };
  if (s.underruns > recent[n - 2].underruns) {
    add(-1, "UNDERRUN: the card's buffer ran dry while the stream was open");
  }
  const size_t w = kMeasureWindowPeriods;
  const double window = kMeasureWindowPeriods * kPeriodSeconds;
  char text[160];
  for (int c = 0; c < kMaxAxes && c < kHostAxisCount; ++c) {
    const double spu = limits_.StepsPerUnit[c];
    bool fast = false;
    bool hard = false;
    double v = 0.0;
    double a = 0.0;
    if (n > w) {
      v = std::fabs((s.physical[c] - recent[n - 1 - w].physical[c]) / spu / window);
      fast = v > limits_.MaxVelocity[c] * kVelocitySlack;
    }
    if (n > 2 * w) {
      const double d2 =
          s.physical[c] - 2.0 * recent[n - 1 - w].physical[c] + recent[n - 1 - 2 * w].physical[c];
      a = std::fabs(d2) / spu / (window * window);
      hard = a > limits_.Acceleration[c] + 2.0 / spu / (window * window);
    }
    // Each stretch over a limit once, where it begins.
    if (fast && !fast_[c]) {
      std::snprintf(text, sizeof text, "%c OVER ITS VELOCITY LIMIT: %.2f of %.2f units/s",
                    kAxisLetters[c], v, limits_.MaxVelocity[c]);
      add(c, text);
    }
    if (hard && !hard_[c]) {
      std::snprintf(text, sizeof text, "%c OVER ITS ACCELERATION LIMIT: %.1f of %.1f units/s^2",
                    kAxisLetters[c], a, limits_.Acceleration[c]);
      add(c, text);
    }
    fast_[c] = fast;
    hard_[c] = hard;
  }
}

MotionFaults MotionFold::Finish(const std::vector<StopRecord>& stops,
                                const std::vector<CardAfterStop>& halts,
                                double timelineToCardMs) const {
  MotionFaults faults;
  faults.underruns = moreUnderruns_;
  faults.overLimits = moreOverLimits_;
  for (MotionEvent e : events_) {
    e.seconds -= timelineToCardMs / 1000.0;
    e.stop = StopAt(e.seconds, stops, halts);
    if (e.stop >= 0) {
      const StopRecord& s = stops[static_cast<size_t>(e.stop)];
      e.text += " (caused by the stop at line " + std::to_string(s.line) + ": " +
                StatusTextUtf8(s.cause) + ")";
    } else if (e.atHalt) {
      e.text += " (where the card halted at once: a switch, a probe's touch or a halt)";
    } else if (e.axis < 0) {
      ++faults.underruns;
    } else {
      ++faults.overLimits;
      faults.axesOver |= 1u << e.axis;
    }
    faults.events.push_back(std::move(e));
  }
  return faults;
}

void MergeMotionEvents(const MotionFaults& faults, std::vector<SafetyEvent>* timeline) {
  for (const MotionEvent& m : faults.events) {
    SafetyEvent e{m.seconds, m.line, SafetyEvent::Source::kCard, m.text};
    auto place = std::upper_bound(
        timeline->begin(), timeline->end(), e.seconds,
        [](double seconds, const SafetyEvent& other) { return seconds < other.seconds; });
    timeline->insert(place, std::move(e));
  }
}

}  // namespace torvexan::sim
