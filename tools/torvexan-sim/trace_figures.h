// What the card's trace says about the run: how fast and how hard each axis really moved,
// how full the card's buffer stayed while it ran the host's stream, its underruns and the
// spindle values it received; and the series the plots draw.
#pragma once

#include <cstdint>
#include <vector>

#include "card/card_trace.h"
#include "state/host_records.h"
#include "tools/torvexan-sim/svg_plot.h"

namespace torvexan::sim {

// Velocity and acceleration are measured over windows of this many 5 ms periods: one step of
// rounding then moves an acceleration by at most 2 / (steps per unit * window^2).
inline constexpr int kMeasureWindowPeriods = 4;

struct AxisFigures {
  bool moved = false;
  double vMax = 0.0;    // units per second
  double aMax = 0.0;    // units per second squared
  double aNoise = 0.0;  // what one step of rounding can add to aMax
};

struct SpindleChange {
  double seconds;  // card time
  int value;
};

struct TraceFigures {
  bool present = false;
  double seconds = 0.0;       // card time covered
  int64_t streamPeriods = 0;  // periods running the host's stream before its end was announced
  int fillMin = 0;            // rows in the buffer while streaming
  double fillMean = 0.0;
  uint32_t underruns = 0;
  int axisCount = kMaxAxes;
  AxisFigures axes[kMaxAxes];
  std::vector<SpindleChange> spindle;
  std::vector<SpindleChange> outputs;  // the card's output bits, as they changed
  int spindleAtEnd = 0;                // the card's spindle value and outputs at the end
  int outputsAtEnd = 0;
};

// How fast (units/s) and how hard (units/s^2) axis c moved over the windows ending at sample
// k; 0 before there is a whole window. One step of rounding moves the acceleration by up to
// AccelerationNoise.
double AxisSpeedAt(const std::vector<TraceSample>& samples, size_t k, int c, double spu);
double AxisAccelerationAt(const std::vector<TraceSample>& samples, size_t k, int c, double spu);
double AccelerationNoise(double spu);

// Card channel c carries host axis c. Fills plot's reported path, buffer and velocities.
TraceFigures AnalyseTrace(const std::vector<TraceSample>& samples, const HostControl& control,
                          PathPlot* plot);

}  // namespace torvexan::sim
