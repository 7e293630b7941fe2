// Runs the host loop on the wall clock until the job ends, showing progress and recording the
// XY positions the card reports.
#pragma once

#include <csignal>
#include <vector>

#include "sim/host/host_loop.h"
#include "tools/torvexan-sim/card_process.h"
#include "tools/torvexan-sim/progress_bar.h"
#include "tools/torvexan-sim/svg_plot.h"

namespace torvexan::sim {

struct RealTimeRun {
  VirtualHost& host;
  Planner& planner;
  JobDriver& driver;
  CardProcess* card;  // null when no card of our own runs
  ProgressBar& progress;
  const volatile std::sig_atomic_t& interrupted;
};

// Returns the seconds the run took; reported XY positions (units, from the job's origin) go
// to *reportedPath.
double RunInRealTime(const RealTimeRun& run, std::vector<PlotPoint>* reportedPath);

}  // namespace torvexan::sim
