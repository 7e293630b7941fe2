#include "tools/torvexan-sim/trace_figures.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "sim/host/machine_setup.h"

namespace torvexan::sim {
namespace {

constexpr int kStreamingState = 3;
constexpr size_t kPlotPoints = 3000;  // the plots keep about this many samples
constexpr double kPeriodSeconds = 0.005;

// How fast and how hard axis c moved up to sample k, over windows of w periods.
void MeasureAxis(const std::vector<TraceSample>& samples, size_t k, int c, double spu,
                 AxisFigures* a) {
  const TraceSample& s = samples[k];
  if (k >= 1 && s.physical[c] != samples[k - 1].physical[c]) a->moved = true;
  a->vMax = std::max(a->vMax, std::fabs(AxisSpeedAt(samples, k, c, spu)));
  a->aMax = std::max(a->aMax, std::fabs(AxisAccelerationAt(samples, k, c, spu)));
  if (k >= 2 * kMeasureWindowPeriods) a->aNoise = AccelerationNoise(spu);
}

// The plots' series: buffer fill, the path the card reported and each moving axis's speed.
void PlotTrace(const std::vector<TraceSample>& samples, const HostControl& control,
               const TraceFigures& f, PathPlot* plot) {
  const size_t w = kMeasureWindowPeriods;
  const double window = kMeasureWindowPeriods * kPeriodSeconds;
  const size_t stride = std::max<size_t>(1, samples.size() / kPlotPoints);
  plot->reported.clear();  // the card's own record replaces what the host saw
  for (int c = 0; c < kMaxAxes; ++c) {
    if (f.axes[c].moved)
      plot->velocities.push_back(TimeSeries{std::string(1, kAxisLetters[c]), {}});
  }
  for (size_t k = w; k < samples.size(); k += stride) {
    const TraceSample& s = samples[k];
    const double t = static_cast<double>(s.ms) / 1000.0;
    plot->bufferFill.push_back(PlotPoint{t, static_cast<double>(s.buffered)});
    plot->reported.push_back(PlotPoint{s.positions[0] / control.StepsPerUnit[0],
                                       s.positions[1] / control.StepsPerUnit[1]});
    size_t series = 0;
    for (int c = 0; c < kMaxAxes; ++c) {
      if (!f.axes[c].moved) continue;
      const double v =
          (s.physical[c] - samples[k - w].physical[c]) / control.StepsPerUnit[c] / window;
      plot->velocities[series++].points.push_back(PlotPoint{t, v});
    }
  }
}

}  // namespace

double AxisSpeedAt(const std::vector<TraceSample>& samples, size_t k, int c, double spu) {
  const size_t w = kMeasureWindowPeriods;
  if (k < w) return 0.0;
  const double window = kMeasureWindowPeriods * kPeriodSeconds;
  return (samples[k].physical[c] - samples[k - w].physical[c]) / spu / window;
}

double AxisAccelerationAt(const std::vector<TraceSample>& samples, size_t k, int c, double spu) {
  const size_t w = kMeasureWindowPeriods;
  if (k < 2 * w) return 0.0;
  const double window = kMeasureWindowPeriods * kPeriodSeconds;
  const double d2 =
      samples[k].physical[c] - 2.0 * samples[k - w].physical[c] + samples[k - 2 * w].physical[c];
  return d2 / spu / (window * window);
}

double AccelerationNoise(double spu) {
  const double window = kMeasureWindowPeriods * kPeriodSeconds;
  return 2.0 / spu / (window * window);
}

TraceFigures AnalyseTrace(const std::vector<TraceSample>& samples, const HostControl& control,
                          PathPlot* plot) {
  TraceFigures f;
  if (samples.empty()) return f;
  f.present = true;
  f.seconds = static_cast<double>(samples.back().ms) / 1000.0;
  f.underruns = samples.back().underruns;
  int64_t fillSum = 0;
  int lastSpindle = 0;
  int lastOutputs = 0;
  for (size_t k = 0; k < samples.size(); ++k) {
    const TraceSample& s = samples[k];
    // The tail of a stream runs the buffer dry on purpose; only the running stream counts.
    if (s.state == kStreamingState && s.endOfStream == 0) {
      f.fillMin = f.streamPeriods == 0 ? s.buffered : std::min(f.fillMin, s.buffered);
      fillSum += s.buffered;
      ++f.streamPeriods;
    }
    if (s.spindle != lastSpindle) {
      f.spindle.push_back(SpindleChange{static_cast<double>(s.ms) / 1000.0, s.spindle});
      lastSpindle = s.spindle;
    }
    if (s.outputs != lastOutputs) {
      f.outputs.push_back(SpindleChange{static_cast<double>(s.ms) / 1000.0, s.outputs});
      lastOutputs = s.outputs;
    }
    for (int c = 0; c < kMaxAxes; ++c)
      MeasureAxis(samples, k, c, control.StepsPerUnit[c], &f.axes[c]);
  }
  f.spindleAtEnd = samples.back().spindle;
  f.outputsAtEnd = samples.back().outputs;
  if (f.streamPeriods > 0) f.fillMean = static_cast<double>(fillSum) / f.streamPeriods;
  if (plot != nullptr) PlotTrace(samples, control, f, plot);
  return f;
}

}  // namespace torvexan::sim
