#include "tools/torvexan-sim/trace_figures.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "sim/host/machine_setup.h"

namespace torvexan::sim {
namespace {

constexpr int kStreamingState = 3;
constexpr double kPeriodSeconds = 0.005;
// Periods kept for the measuring windows and for a stop the host tells of late (2 s).
constexpr size_t kRecentPeriods = 400;

}  // namespace

TraceFold::TraceFold(const HostControl& control, const std::string& machineLayout, PathPlot* plot)
    : control_(control), plot_(plot), touches_(machineLayout), motion_(control) {}

// How fast and how hard axis c moved up to the newest period, over windows of w periods.
void TraceFold::Measure(int c) {
  const size_t w = kMeasureWindowPeriods;
  const double window = kMeasureWindowPeriods * kPeriodSeconds;
  const double spu = control_.StepsPerUnit[c];
  const size_t n = recent_.size();
  const TraceSample& s = recent_[n - 1];
  AxisFigures* a = &f_.axes[c];
  if (n >= 2 && s.physical[c] != recent_[n - 2].physical[c]) a->moved = true;
  if (n > w) {
    const double v = (s.physical[c] - recent_[n - 1 - w].physical[c]) / spu / window;
    a->vMax = std::max(a->vMax, std::fabs(v));
  }
  if (n > 2 * w) {
    const double d2 =
        s.physical[c] - 2.0 * recent_[n - 1 - w].physical[c] + recent_[n - 1 - 2 * w].physical[c];
    a->aMax = std::max(a->aMax, std::fabs(d2) / spu / (window * window));
    a->aNoise = 2.0 / spu / (window * window);
  }
}

// The plots' series: buffer fill, the path the card reported and each axis's speed.
void TraceFold::PlotPeriod(const TraceSample& s) {
  const size_t w = kMeasureWindowPeriods;
  const size_t n = recent_.size();
  const double t = static_cast<double>(s.ms) / 1000.0;
  plot_->reported.LineTo(s.positions[0] / control_.StepsPerUnit[0],
                         s.positions[1] / control_.StepsPerUnit[1]);
  if (n <= w) return;
  plot_->bufferFill.Add(t, static_cast<double>(s.buffered));
  const double window = kMeasureWindowPeriods * kPeriodSeconds;
  for (int c = 0; c < kMaxAxes; ++c) {
    const double v =
        (s.physical[c] - recent_[n - 1 - w].physical[c]) / control_.StepsPerUnit[c] / window;
    plot_->velocities[static_cast<size_t>(c)].points.Add(t, v);
  }
}

void TraceFold::Add(const TraceSample& s) {
  if (!f_.present && plot_ != nullptr) {
    plot_->reported.Clear();  // the card's own record replaces what the host saw
    plot_->velocities.clear();
    for (int c = 0; c < kMaxAxes; ++c) {
      plot_->velocities.push_back(
          TimeSeries{std::string(1, kAxisLetters[c]), SeriesThinner{}, control_.MaxVelocity[c]});
    }
  }
  f_.present = true;
  f_.seconds = static_cast<double>(s.ms) / 1000.0;
  f_.underruns = s.underruns;
  // The tail of a stream runs the buffer dry on purpose; only the running stream counts.
  if (s.state == kStreamingState && s.endOfStream == 0) {
    f_.fillMin = f_.streamPeriods == 0 ? s.buffered : std::min(f_.fillMin, s.buffered);
    fillSum_ += s.buffered;
    ++f_.streamPeriods;
  }
  const TraceSample* previous = recent_.empty() ? nullptr : &recent_.back();
  // A booting card runs no periods: the first one after a restart comes a boot time later,
  // but the card lost its outputs and spindle as it went down, right after the period before.
  const bool restarted = previous != nullptr && s.reboots != previous->reboots;
  const double changedAt = static_cast<double>(restarted ? previous->ms : s.ms) / 1000.0;
  if (s.spindle != lastSpindle_) {
    f_.spindle.push_back(SpindleChange{changedAt, s.spindle, restarted});
    lastSpindle_ = s.spindle;
  }
  if (s.outputs != lastOutputs_) {
    f_.outputs.push_back(SpindleChange{changedAt, s.outputs, restarted});
    lastOutputs_ = s.outputs;
  }
  f_.spindleAtEnd = s.spindle;
  f_.outputsAtEnd = s.outputs;
  touches_.Add(previous, s);
  for (StopWatch& w : watches_) w.Add(previous, s);
  recent_.push_back(s);
  if (recent_.size() > kRecentPeriods) recent_.pop_front();
  for (int c = 0; c < kMaxAxes; ++c) Measure(c);
  motion_.Add(recent_);
  if (plot_ != nullptr) PlotPeriod(s);
  ++periods_;
}

void TraceFold::WatchStop(double stopCardMs) {
  watches_.emplace_back(stopCardMs);
  for (size_t i = 0; i < recent_.size(); ++i) {
    watches_.back().Add(i == 0 ? nullptr : &recent_[i - 1], recent_[i]);
  }
}

TraceFigures TraceFold::Finish() {
  if (f_.streamPeriods > 0) f_.fillMean = static_cast<double>(fillSum_) / f_.streamPeriods;
  if (plot_ != nullptr && f_.present) {
    std::vector<TimeSeries> moved;
    for (int c = 0; c < kMaxAxes; ++c) {
      if (f_.axes[c].moved) moved.push_back(std::move(plot_->velocities[static_cast<size_t>(c)]));
    }
    plot_->velocities = std::move(moved);
  }
  return f_;
}

std::vector<CardAfterStop> TraceFold::AfterStops(const std::vector<StopRecord>& stops,
                                                 double timelineToCardMs) const {
  std::vector<CardAfterStop> found;
  for (size_t i = 0; i < stops.size() && i < watches_.size(); ++i) {
    found.push_back(watches_[i].Finding(stops[i], timelineToCardMs));
  }
  return found;
}

}  // namespace torvexan::sim
