// What the card's trace says about the run: how fast and how hard each axis really moved,
// how full the card's buffer stayed while it ran the host's stream, its underruns and the
// spindle values it received; the series the plots draw; the touches of probes and what the
// card did after each stop. All of it folded in period by period as the run goes: of the
// trace itself only the last few periods are kept.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "card/card_trace.h"
#include "state/host_records.h"
#include "tools/torvexan-sim/card_after_stop.h"
#include "tools/torvexan-sim/motion_events.h"
#include "tools/torvexan-sim/probe_expectation.h"
#include "tools/torvexan-sim/svg_plot.h"

namespace torvexan::sim {

struct AxisFigures {
  bool moved = false;
  double vMax = 0.0;    // units per second
  double aMax = 0.0;    // units per second squared
  double aNoise = 0.0;  // what one step of rounding can add to aMax
};

struct SpindleChange {
  double seconds;  // card time
  int value;
  bool restart = false;  // the card went dark as it restarted, at seconds
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

class TraceFold {
 public:
  // control: steps per unit and limits; machineLayout: the card's machine, for the probe
  // surface; plot: where the series go (null: none).
  TraceFold(const HostControl& control, const std::string& machineLayout, PathPlot* plot);

  void Add(const TraceSample& s);
  // The host stopped the job at stopCardMs on the card's clock; the periods from then on that
  // are still among the last few are taken too.
  void WatchStop(double stopCardMs);

  // The figures; the plot keeps the velocities only of axes that moved.
  TraceFigures Finish();
  std::vector<ProbeExpectation> Probes(const std::vector<ProbeResult>& probes) const {
    return touches_.Expect(probes);
  }
  // One finding per stop watched, in order. timelineToCardMs: the card's clock at the zero of
  // the host's timeline.
  std::vector<CardAfterStop> AfterStops(const std::vector<StopRecord>& stops,
                                        double timelineToCardMs) const;
  // Underruns and axes over their limits, put down to the stops that caused them.
  MotionFaults Motion(const std::vector<StopRecord>& stops, const std::vector<CardAfterStop>& halts,
                      double timelineToCardMs) const {
    return motion_.Finish(stops, halts, timelineToCardMs);
  }

 private:
  void Measure(int c);
  void PlotPeriod(const TraceSample& s);

  const HostControl& control_;
  PathPlot* plot_;
  TraceFigures f_;
  int64_t fillSum_ = 0;
  int lastSpindle_ = 0;
  int lastOutputs_ = 0;
  uint64_t periods_ = 0;
  std::deque<TraceSample> recent_;  // the last periods, newest at the back
  TouchLog touches_;
  std::vector<StopWatch> watches_;
  MotionFold motion_;
};

}  // namespace torvexan::sim
