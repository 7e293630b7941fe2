#include "tools/torvexan-sim/realtime_run.h"

#include <chrono>
#include <string>

#include "tools/torvexan-sim/host_wait.h"

namespace torvexan::sim {
namespace {

uint64_t NowMs(std::chrono::steady_clock::time_point start) {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - start)
                                   .count());
}

// Keeps the reported XY path: one point whenever the card's X or Y count changes.
class PathRecorder {
 public:
  PathRecorder(const HostMachine& machine, const HostControl& control)
      : machine_(machine), control_(control) {}

  void Sample(bool started, const int32_t origin[2], std::vector<PlotPoint>* path) {
    const int32_t x = machine_.Axes[0].PositionCounts;
    const int32_t y = machine_.Axes[1].PositionCounts;
    if (!started || (!path->empty() && x == lastX_ && y == lastY_)) return;
    lastX_ = x;
    lastY_ = y;
    path->push_back(PlotPoint{(x - origin[0]) / control_.StepsPerUnit[0],
                              (y - origin[1]) / control_.StepsPerUnit[1]});
  }

 private:
  const HostMachine& machine_;
  const HostControl& control_;
  int32_t lastX_ = 0;
  int32_t lastY_ = 0;
};

// The card's move tag is the job line it runs; the planner's line runs ahead of it.
std::string ProgressNote(const JobDriver& driver, const HostMachine& machine) {
  const int32_t tag = machine.CurrentMoveTag;
  return std::string(PhaseName(driver.phase())) +
         (tag > 0 ? ", card at line " + std::to_string(tag) : std::string());
}

}  // namespace

double RunInRealTime(const RealTimeRun& run, std::vector<PlotPoint>* reportedPath) {
  const auto start = std::chrono::steady_clock::now();
  HostLoop loop(run.host, run.driver);
  PathRecorder recorder(run.host.records().machine(), run.host.records().control());
  int32_t origin[2] = {};
  bool started = false;
  while (!run.driver.finished() && !run.interrupted) {
    const uint64_t now = NowMs(start);
    const int waitMs = loop.RunOnce(now);
    if (!started && run.driver.phase() != JobDriver::Phase::kStarting) {
      started = true;
      origin[0] = run.host.records().machine().Axes[0].PositionCounts;
      origin[1] = run.host.records().machine().Axes[1].PositionCounts;
    }
    recorder.Sample(started, origin, reportedPath);
    if (run.card != nullptr) run.card->Poll();
    const double total = static_cast<double>(run.planner.totalSlices());
    const double done = total > 0 ? static_cast<double>(run.driver.stats().rowsTaken) / total : 1.0;
    run.progress.Show(now, run.driver.phase() == JobDriver::Phase::kDone ? 1.0 : done,
                      ProgressNote(run.driver, run.host.records().machine()));
    WaitForHostEvents(waitMs);
  }
  run.progress.Finish();
  return static_cast<double>(NowMs(start)) / 1000.0;
}

}  // namespace torvexan::sim
