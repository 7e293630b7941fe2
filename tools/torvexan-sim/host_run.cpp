#include "tools/torvexan-sim/host_run.h"

#include <chrono>
#include <string>

#include "tools/torvexan-sim/host_wait.h"

namespace torvexan::sim {
namespace {

int64_t SteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Keeps the reported XY path: one point whenever the card's X or Y count changes.
class PathRecorder {
 public:
  PathRecorder(const HostMachine& machine, const HostControl& control)
      : machine_(machine), control_(control) {}

  void Sample(PathThinner* path) {
    const int32_t x = machine_.Axes[0].PositionCounts;
    const int32_t y = machine_.Axes[1].PositionCounts;
    if (path == nullptr || (sampled_ && x == lastX_ && y == lastY_)) return;
    sampled_ = true;
    lastX_ = x;
    lastY_ = y;
    path->LineTo(x / control_.StepsPerUnit[0], y / control_.StepsPerUnit[1]);
  }

 private:
  const HostMachine& machine_;
  const HostControl& control_;
  bool sampled_ = false;
  int32_t lastX_ = 0;
  int32_t lastY_ = 0;
};

// The card's move tag is the job line it runs; the planner's line runs ahead of it.
std::string ProgressNote(const JobDriver& driver, const HostMachine& machine) {
  const int32_t tag = machine.CurrentMoveTag;
  const JobDriver::Phase phase = driver.phase();
  const bool sequence =
      phase == JobDriver::Phase::kReferencing || phase == JobDriver::Phase::kProbing;
  return std::string(PhaseName(phase)) +
         (sequence  ? " (line " + std::to_string(driver.currentLine()) + ")"
          : tag > 0 ? ", card at line " + std::to_string(tag)
                    : std::string());
}

// Shows each complete line of the plug-in's console above the progress bar.
void EchoLines(const std::string& text, ProgressBar& progress) {
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    progress.Print(text.substr(start, end - start));
  }
}

}  // namespace

WallClock::WallClock() : startNs_(SteadyNs()) {}

uint64_t WallClock::NowMs() {
  return static_cast<uint64_t>((SteadyNs() - startNs_) / 1000000);
}

void WallClock::Wait(int ms) {
  WaitForHostEvents(ms);
}

double RunHostLoop(const HostRun& run, LoopClock& clock, PathThinner* reportedPath) {
  const uint64_t start = clock.NowMs();
  HostLoop loop(run.host, run.driver);
  PathRecorder recorder(run.host.records().machine(), run.host.records().control());
  while (!run.driver.finished() && !run.interrupted) {
    const uint64_t now = clock.NowMs();
    // What struck the card while time passed comes before what the host makes of it.
    clock.ReportCardEvents(run.driver);
    const int waitMs = loop.RunOnce(now);
    if (run.driver.phase() != JobDriver::Phase::kStarting) recorder.Sample(reportedPath);
    if (run.echo != nullptr) EchoLines(run.echo->TakeNewLines(), run.progress);
    if (run.card != nullptr) run.card->Poll();
    const double total = static_cast<double>(run.plannedSlices);
    const double done = total > 0 ? static_cast<double>(run.driver.stats().rowsTaken) / total : 1.0;
    const double fraction = run.driver.phase() == JobDriver::Phase::kDone ? 1.0 : done;
    if (run.progress.Due(now, fraction)) {
      run.progress.Show(now, fraction, ProgressNote(run.driver, run.host.records().machine()));
    }
    clock.Wait(waitMs);
  }
  run.progress.Finish();
  return static_cast<double>(clock.NowMs() - start) / 1000.0;
}

}  // namespace torvexan::sim
