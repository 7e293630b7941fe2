#include "tools/torvexan-sim/motion_events.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "sim/host/machine_setup.h"
#include "tools/torvexan-sim/console_log.h"
#include "tools/torvexan-sim/trace_figures.h"

namespace torvexan::sim {
namespace {

// A fault comes before the host's stop by up to this much (the host stops when it learns of
// it); the card's halt ends what the stop causes, once the measuring windows have passed it.
constexpr double kCauseBeforeStopSeconds = 3.0;
constexpr double kAfterHaltSeconds = 0.1;
constexpr double kVelocitySlack = 1.0001;

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

// One stretch of an axis over a limit, or one underrun, as it goes on the timeline.
class Recorder {
 public:
  Recorder(const std::vector<StopRecord>& stops, const std::vector<CardAfterStop>& halts,
           MotionFaults* faults)
      : stops_(stops), halts_(halts), faults_(faults) {}

  void Add(double seconds, int line, int axis, std::string text) {
    MotionEvent e{seconds, line, axis, std::move(text), StopAt(seconds, stops_, halts_)};
    if (e.stop >= 0) {
      const StopRecord& s = stops_[static_cast<size_t>(e.stop)];
      e.text += " (caused by the stop at line " + std::to_string(s.line) + ": " +
                StatusTextUtf8(s.cause) + ")";
    } else if (axis < 0) {
      ++faults_->underruns;
    } else {
      ++faults_->overLimits;
      faults_->axesOver |= 1u << axis;
    }
    if (faults_->events.size() < kMostMotionEvents) faults_->events.push_back(std::move(e));
  }

 private:
  const std::vector<StopRecord>& stops_;
  const std::vector<CardAfterStop>& halts_;
  MotionFaults* faults_;
};

}  // namespace

MotionFaults FindMotionFaults(const std::vector<TraceSample>& trace, const HostControl& limits,
                              double timelineToCardMs, const std::vector<StopRecord>& stops,
                              const std::vector<CardAfterStop>& halts) {
  MotionFaults faults;
  Recorder recorder(stops, halts, &faults);
  bool fast[kMaxAxes] = {};
  bool hard[kMaxAxes] = {};
  char text[160];
  for (size_t k = 1; k < trace.size(); ++k) {
    const TraceSample& s = trace[k];
    const double t = (static_cast<double>(s.ms) - timelineToCardMs) / 1000.0;
    const int line = static_cast<int>(s.tag);
    if (s.underruns > trace[k - 1].underruns) {
      recorder.Add(t, line, -1, "UNDERRUN: the card's buffer ran dry while the stream was open");
    }
    for (int c = 0; c < kMaxAxes && c < kHostAxisCount; ++c) {
      const double spu = limits.StepsPerUnit[c];
      const double v = std::fabs(AxisSpeedAt(trace, k, c, spu));
      const double a = std::fabs(AxisAccelerationAt(trace, k, c, spu));
      const bool nowFast = v > limits.MaxVelocity[c] * kVelocitySlack;
      const bool nowHard =
          k >= 2 * kMeasureWindowPeriods && a > limits.Acceleration[c] + AccelerationNoise(spu);
      // Each stretch over a limit once, where it begins.
      if (nowFast && !fast[c]) {
        std::snprintf(text, sizeof text, "%c OVER ITS VELOCITY LIMIT: %.2f of %.2f units/s",
                      kAxisLetters[c], v, limits.MaxVelocity[c]);
        recorder.Add(t, line, c, text);
      }
      if (nowHard && !hard[c]) {
        std::snprintf(text, sizeof text, "%c OVER ITS ACCELERATION LIMIT: %.1f of %.1f units/s^2",
                      kAxisLetters[c], a, limits.Acceleration[c]);
        recorder.Add(t, line, c, text);
      }
      fast[c] = nowFast;
      hard[c] = nowHard;
    }
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
