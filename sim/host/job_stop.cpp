// The host's side of an emergency stop, as the host program does it: the job stops at once
// (no further line, spindle and coolant off, nothing more in the queue), the host watches
// the machine come to rest and compares where it stands with what it had commanded; then
// the job ends, or the operator resets, references again and goes on from the line that
// stopped.
#include <algorithm>
#include <cmath>

#include "sim/host/job_driver.h"
#include "sim/host/machine_setup.h"

namespace torvexan::sim {
namespace {

constexpr int kNotifySpindleStop = 4;
constexpr double kOnPathSteps = 1.0;   // the card's whole steps against the host's fractions
constexpr int kMostStops = 10;         // after this many the operator gives up on the job
constexpr double kCauseSeconds = 3.0;  // a card event or status text this recent caused it

}  // namespace

double JobDriver::Seconds(uint64_t nowMs) const {
  return (static_cast<double>(nowMs) - static_cast<double>(startMs_)) / 1000.0;
}

void JobDriver::NoteStatusText(uint64_t nowMs, const char* text) {
  safety_.Add(Seconds(nowMs), StopLine(), SafetyEvent::Source::kPlugin, text);
}

void JobDriver::NoteCardEvent(uint64_t nowMs, const char* text) {
  safety_.Add(Seconds(nowMs), StopLine(), SafetyEvent::Source::kCard, text);
}

// The line the machine is at: the card's move tag while it streams, the line of the stop
// while the host deals with it, else the host's line.
int JobDriver::StopLine() const {
  if ((phase_ == Phase::kStopping || phase_ == Phase::kRecovering || phase_ == Phase::kStopped) &&
      !stops_.empty()) {
    return stops_.back().line;
  }
  const bool streaming = phase_ == Phase::kStreaming || phase_ == Phase::kDraining;
  const int32_t tag = host_.records().machine().CurrentMoveTag;
  return streaming && tag > 0 ? tag : line_;
}

// Whether the job runs: it moves, dwells, references or probes.
bool JobDriver::Running() const {
  switch (phase_) {
    case Phase::kStreaming:
    case Phase::kDraining:
    case Phase::kDwelling:
    case Phase::kReferencing:
    case Phase::kProbing:
      return true;
    default:
      return false;
  }
}

// The operator's RESET in the middle of the job, when asked for: the host stops the job.
bool JobDriver::PressReset(uint64_t nowMs) {
  if (resetAtSeconds_ < 0.0 || resetPressed_ || !Running()) return false;
  if (static_cast<double>(nowMs - stats_.motionStartMs) < resetAtSeconds_ * 1000.0) return false;
  resetPressed_ = true;
  safety_.Add(Seconds(nowMs), StopLine(), SafetyEvent::Source::kHost,
              "the operator presses RESET: Reset()");
  host_.Reset();
  StopJob(nowMs, "RESET pressed by the operator");
  return true;
}

// An emergency stop the plug-in raised while the job runs stops the job.
bool JobDriver::CheckSafety(uint64_t nowMs) {
  if (!Running() || host_.records().machine().EStop == 0) return false;
  std::string cause = "EStop raised by the plug-in";
  // What the card or the plug-in said just before names the cause; an abort notice is a
  // consequence, not a cause.
  const std::vector<SafetyEvent>& seen = safety_.events();
  for (auto e = seen.rbegin(); e != seen.rend() && e->seconds >= Seconds(nowMs) - kCauseSeconds;
       ++e) {
    if (e->source == SafetyEvent::Source::kHost || e->text.find("aborted") != std::string::npos) {
      continue;
    }
    cause += " after \"" + e->text + "\"";
    break;
  }
  StopJob(nowMs, cause);
  return true;
}

// A referencing or probing cut short is on record as such, never as a result.
void JobDriver::NoteAbortedSequence() {
  const HostMachine& m = host_.records().machine();
  if (phase_ == Phase::kReferencing && referenceIndex_ < sequence_.axisCount) {
    const int axis = sequence_.axisOrder[referenceIndex_];
    references_.push_back(
        ReferenceResult{sequence_.line, axis, false, true, m.Axes[axis].PositionCounts});
  } else if (phase_ == Phase::kProbing) {
    ProbeResult r;
    r.line = sequence_.line;
    r.aborted = true;
    for (int k = 0; k < kHostAxisCount; ++k) {
      r.target[k] = sequence_.move.target[k];
      r.stoppedAt[k] = m.Axes[k].PositionCounts;
    }
    probes_.push_back(r);
  }
}

void JobDriver::StopJob(uint64_t nowMs, std::string cause) {
  HostMachine& m = host_.records().machine();
  StopRecord r;
  r.line = StopLine();
  r.seconds = Seconds(nowMs);
  r.cause = std::move(cause);
  r.during = PhaseName(phase_);
  r.path = StopRecord::Path::kInSequence;
  if (phase_ == Phase::kStreaming || phase_ == Phase::kDraining) {
    const int queued =
        ((m.MoveQueueWrite - m.MoveQueueRead) % kMoveQueueSize + kMoveQueueSize) % kMoveQueueSize;
    r.slicesTaken = planner_.slicesWritten() - queued;
    r.path = StopRecord::Path::kOffPath;  // until the watch finds it on the path
  }
  NoteAbortedSequence();
  if (phase_ == Phase::kProbing) pending_ = sequence_;  // the probe runs again after a reset
  safety_.Add(r.seconds, r.line, SafetyEvent::Source::kHost,
              r.cause + ": the host stops the job (" + r.during + ")");
  r.seconds = safety_.events().back().seconds;
  // The host empties its queue, turns the spindle and the coolant off and commands nothing.
  m.MoveQueueWrite = m.MoveQueueRead;
  writeAtStop_ = m.MoveQueueWrite;
  host_.Notify(kNotifySpindleStop);
  for (OutputSignal& out : m.OutputSignals) out.Active = 0;
  safety_.Add(r.seconds, r.line, SafetyEvent::Source::kHost,
              "queue emptied, spindle and coolant off (Notify(4), outputs off)");
  stops_.push_back(r);
  phaseStartMs_ = nowMs;
  phase_ = Phase::kStopping;
}

// Once the machine has had time to come to rest: where it stands, then the operator's turn.
void JobDriver::WatchStop(uint64_t nowMs) {
  if (nowMs - phaseStartMs_ < timing_.stopWatchMs) return;
  StopRecord& r = stops_.back();
  JudgeStop(&r);
  const bool giveUp = static_cast<int>(stops_.size()) >= kMostStops;
  if (!resetAfterStop_ || giveUp) {
    if (giveUp && resetAfterStop_) {
      safety_.Add(Seconds(nowMs), r.line, SafetyEvent::Source::kHost,
                  "the operator gives up after " + std::to_string(kMostStops) + " stops");
    }
    stats_.doneMs = nowMs;
    phase_ = Phase::kStopped;
    return;
  }
  resetDone_ = false;
  lastResetMs_ = nowMs;
  phaseStartMs_ = nowMs;
  phase_ = Phase::kRecovering;
}

// Where the machine stands against the commanded path up to the last entry the plug-in took.
void JobDriver::JudgeStop(StopRecord* r) {
  const HostMachine& m = host_.records().machine();
  for (int a = 0; a < kHostAxisCount; ++a) r->at[a] = m.Axes[a].PositionCounts;
  r->entriesAfterStop =
      ((m.MoveQueueWrite - writeAtStop_) % kMoveQueueSize + kMoveQueueSize) % kMoveQueueSize;
  if (r->path == StopRecord::Path::kInSequence) {
    for (int a = 0; a < kHostAxisCount; ++a) r->commanded[a] = static_cast<double>(r->at[a]);
    return;
  }
  // The last slice it matches: a machine that stood still for a while matches several.
  double position[kHostAxisCount];
  for (int64_t k = 0; k <= r->slicesTaken; ++k) {
    planner_.PositionAt(k, position);
    bool onPath = true;
    for (int a = 0; a < kHostAxisCount && onPath; ++a) {
      onPath = std::fabs(position[a] - r->at[a]) <= kOnPathSteps;
    }
    if (onPath) r->sliceMatched = k;
  }
  if (r->sliceMatched >= 0) r->path = StopRecord::Path::kOnPath;
  planner_.PositionAt(r->sliceMatched >= 0 ? r->sliceMatched : r->slicesTaken, r->commanded);
  // On the path the slice tells the line; off it, where the machine is is unknown and the
  // whole run goes again, should the job go on.
  int from = run_.empty() ? r->line : run_.front().line;
  if (r->sliceMatched >= 0) r->line = from = LineOfSlice(r->sliceMatched);
  resume_.clear();
  for (const PathSegment& s : run_) {
    if (s.line >= from) resume_.push_back(s);
  }
}

// The job line of slice k of the run being streamed.
int JobDriver::LineOfSlice(int64_t k) const {
  const double t = static_cast<double>(k) * kSliceSeconds;
  int line = line_;
  for (const PlannedMove& m : planner_.moves()) {
    if (m.startSeconds > t) break;
    line = m.line;
  }
  return line;
}

// The operator clears the emergency stop and presses reset until the machine stays ready,
// references again the axes the job had referenced, and goes on from the line that stopped.
void JobDriver::Recover(uint64_t nowMs) {
  if (!MachineReady(nowMs)) return;
  const HostMachine& m = host_.records().machine();
  StopRecord& r = stops_.back();
  r.resumed = true;
  const int from = resume_.empty() ? r.line : resume_.front().line;
  line_ = from;
  safety_.Add(Seconds(nowMs), r.line, SafetyEvent::Source::kHost,
              "RESET by the operator; the job goes on from line " + std::to_string(from));
  for (int a = 0; a < kHostAxisCount; ++a) expected_[a] = m.Axes[a].PositionCounts;
  SyncFromCard();
  lastProgressMs_ = nowMs;
  JobAction again;
  again.kind = JobAction::Kind::kReference;
  again.line = r.line;
  auto add = [&again](int axis) {
    if (std::find(again.axisOrder, again.axisOrder + again.axisCount, axis) ==
        again.axisOrder + again.axisCount) {
      again.axisOrder[again.axisCount++] = axis;
    }
  };
  for (const ReferenceResult& ref : references_) {
    if (ref.done) add(ref.axis);
  }
  if (r.during == PhaseName(Phase::kReferencing)) {
    for (int k = 0; k < sequence_.axisCount; ++k) add(sequence_.axisOrder[k]);
  }
  phase_ = Phase::kDraining;
  if (again.axisCount > 0) {
    safety_.Add(Seconds(nowMs), r.line, SafetyEvent::Source::kHost,
                "the operator references the axes again");
    sequence_ = again;
    referenceIndex_ = 0;
    StartReference(nowMs);
  }
  if (phase_ != Phase::kReferencing) StartNext(nowMs);
}

}  // namespace torvexan::sim
