// Runs the host loop until the job ends, on the wall clock or on the virtual timeline,
// showing progress and recording the XY positions the host sees.
#pragma once

#include <csignal>
#include <cstdint>
#include <vector>

#include "sim/host/host_loop.h"
#include "tools/torvexan-sim/card_process.h"
#include "tools/torvexan-sim/console_log.h"
#include "tools/torvexan-sim/progress_bar.h"
#include "tools/torvexan-sim/svg_plot.h"

namespace torvexan::sim {

// The clock the loop runs on: now, and letting time pass until the next pass is due.
class LoopClock {
 public:
  virtual ~LoopClock() = default;
  virtual uint64_t NowMs() = 0;
  virtual void Wait(int ms) = 0;
  // What struck the machine on this clock since the last pass goes on the driver's timeline
  // (a card in this process knows its faults; a card process keeps them to itself).
  virtual void ReportCardEvents(JobDriver&) {}
};

// The wall clock; waiting sleeps.
class WallClock final : public LoopClock {
 public:
  WallClock();
  uint64_t NowMs() override;
  void Wait(int ms) override;

 private:
  int64_t startNs_;
};

struct HostRun {
  VirtualHost& host;
  JobDriver& driver;
  int64_t plannedSlices;  // for the progress bar
  CardProcess* card;      // polled for its output; null when no card process runs
  ProgressBar& progress;
  const volatile std::sig_atomic_t& interrupted;
  ConsoleLog* echo;  // --verbose: the plug-in's console lines shown above the bar; else null
};

// Returns the seconds the run took on the clock; the XY positions the host reports (machine
// units) go to *reportedPath unless it is null.
double RunHostLoop(const HostRun& run, LoopClock& clock, PathThinner* reportedPath);

}  // namespace torvexan::sim
