// The host's side of an emergency stop, as the host program does it: the job stops at once
// (no further line, spindle and coolant off, nothing more in the queue), the host watches
// the machine come to rest and compares where it stands with what it had commanded; then
// the job ends, or the operator resets, references again and goes on from the line that
// stopped.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "sim/host/job_driver.h"
#include "sim/host/machine_setup.h"

namespace torvexan::sim {
namespace {

constexpr int kNotifySpindleStop = 4;
// "(device not connected)" as the plug-in sends it, in GB2312.
constexpr const char* kNotConnectedText = "(\xC9\xE8\xB1\xB8\xCE\xB4\xC1\xAC\xBD\xD3)";
constexpr double kOnPathSteps = 1.0;   // the card's whole steps against the host's fractions
constexpr int kMostStops = 10;         // after this many the operator gives up on the job
constexpr double kCauseSeconds = 3.0;  // a card event or status text this recent caused it
// A count that changes by more than the axis can move in the time since the last pass, by
// this factor, and lands on zero with every other axis has been lost (a restarted card).
constexpr double kJumpFactor = 1.5;
constexpr double kJumpSlackSteps = 2.0;

}  // namespace

double JobDriver::Seconds(uint64_t nowMs) const {
  return (static_cast<double>(nowMs) - static_cast<double>(startMs_)) / 1000.0;
}

void JobDriver::NoteStatusText(uint64_t nowMs, const char* text) {
  safety_.Add(Seconds(nowMs), StopLine(), SafetyEvent::Source::kPlugin, text);
  // The plug-in answers a reset without its card with "(device not connected)": the operator
  // tries again a little later.
  if (std::strcmp(text, kNotConnectedText) == 0) resetUnanswered_ = true;
}

void JobDriver::NoteCardEvent(uint64_t nowMs, const char* text, bool countsLost) {
  safety_.Add(Seconds(nowMs), StopLine(), SafetyEvent::Source::kCard, text);
  if (countsLost && !countsJumped_) {
    countsJumped_ = true;
    std::copy(lastCounts_, lastCounts_ + kHostAxisCount, countsBeforeJump_);
  }
}

// A restarted card counts from zero again: every axis lands on 0 at once, further than it
// could have moved since the host last looked. Referencing loads the counts on purpose.
void JobDriver::WatchCounts(uint64_t nowMs) {
  const HostMachine& m = host_.records().machine();
  const HostControl& c = host_.records().control();
  if (phase_ == Phase::kStarting || phase_ == Phase::kReferencing || countsJumped_) return;
  const double seconds = static_cast<double>(nowMs - lastObserveMs_) / 1000.0 + kSliceSeconds;
  bool allZero = true;
  bool farther = false;
  for (int a = 0; a < kHostAxisCount; ++a) {
    const int32_t now = m.Axes[a].PositionCounts;
    allZero = allZero && now == 0;
    const double reach = c.MaxVelocity[a] * c.StepsPerUnit[a] * seconds * kJumpFactor;
    farther =
        farther || std::fabs(static_cast<double>(now) - lastCounts_[a]) > reach + kJumpSlackSteps;
  }
  if (!allZero || !farther) return;
  countsJumped_ = true;
  std::copy(lastCounts_, lastCounts_ + kHostAxisCount, countsBeforeJump_);
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
  stops_.back().byOperator = true;
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
    // The card's move tag is the job line; before its first reply in this run it still
    // names a line of the run before.
    const int tag = m.CurrentMoveTag;
    r.window = StopWindow(planner_, r.slicesTaken, tag);
    if (!r.window.empty() && r.window.MoveOfCardLine().line == tag) r.cardLine = tag;
  }
  r.modes = modes_;
  r.tool = interpreter_.tool();  // outside a run the interpreter stands at the stop
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
  const HostMachine& m = host_.records().machine();
  r.entriesAfterStop =
      ((m.MoveQueueWrite - writeAtStop_) % kMoveQueueSize + kMoveQueueSize) % kMoveQueueSize;
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

// Where the machine stands against the stretch of the run the card can stand on, and from
// which segment of the run the job goes on: the one the card was on, never an earlier one.
void JobDriver::JudgeStop(StopRecord* r) {
  const HostMachine& m = host_.records().machine();
  for (int a = 0; a < kHostAxisCount; ++a) r->at[a] = m.Axes[a].PositionCounts;
  r->positionLost = countsJumped_;
  if (r->positionLost) {
    std::copy(countsBeforeJump_, countsBeforeJump_ + kHostAxisCount, r->lastKnown);
  }
  // A stop outside a run (referencing again after a stop, say) leaves what was to be resumed.
  if (r->window.empty()) {
    if (r->positionLost) r->path = StopRecord::Path::kNotKnown;
    for (int a = 0; a < kHostAxisCount; ++a) {
      r->commanded[a] = static_cast<double>(r->positionLost ? r->lastKnown[a] : r->at[a]);
    }
    return;
  }
  size_t move = r->window.MoveOfCardLine().move;
  r->sliceMatched = -1;
  double at[kHostAxisCount];
  for (int a = 0; a < kHostAxisCount; ++a) at[a] = r->at[a];
  const std::optional<PathMatch> match =
      r->positionLost ? std::nullopt : r->window.Match(at, kOnPathSteps);
  if (match) {
    r->path = StopRecord::Path::kOnPath;
    r->sliceMatched = match->slice;
    r->line = match->line;
    move = match->move;
  } else {
    r->path = r->positionLost ? StopRecord::Path::kNotKnown : StopRecord::Path::kOffPath;
    if (r->cardLine > 0) r->line = r->cardLine;
  }
  r->window.PositionAt(match ? match->slice : r->window.lastSlice(), r->commanded);
  // On the path the job goes on from where the machine stands; elsewhere from the start of
  // the move the card was on, which it moves back to first.
  if (match) {
    std::copy(at, at + kHostAxisCount, resumeAt_);
  } else {
    r->window.StartOf(move, resumeAt_);
  }
  // What the planner holds from that move on; the interpreter, which has read ahead of the
  // machine, gives the rest of the run when it had not ended.
  resume_.clear();
  const std::deque<PlannedMove>& moves = planner_.moves();
  for (size_t i = std::max(move, planner_.firstMove()) - planner_.firstMove(); i < moves.size();
       ++i) {
    resume_.push_back(moves[i].segment);
  }
  resumeOpen_ = !planner_.closed();
  // The interpreter stands at the end of the last move the planner took; what it gives next
  // goes on from there once the moves held have run again, wherever referencing leaves the
  // machine meanwhile.
  std::copy(interpreter_.position(), interpreter_.position() + kHostAxisCount, resumeFrom_);
  // The interpreter has read on; the move tells the tool it ran with.
  if (!resume_.empty()) r->tool = resume_.front().tool;
}

// The operator clears the emergency stop and presses reset until the machine stays ready,
// references again the axes the job had referenced, and goes on from the line that stopped.
void JobDriver::Recover(uint64_t nowMs) {
  if (!MachineReady(nowMs)) return;
  const HostMachine& m = host_.records().machine();
  StopRecord& r = stops_.back();
  // With the link back the card says where it stopped: a card that fell silent ran on.
  JudgeStop(&r);
  r.judgedAfterReset = true;
  if (!CanGoOn(&r)) {
    safety_.Add(Seconds(nowMs), r.line, SafetyEvent::Source::kHost,
                "RESET by the operator; the job cannot go on: " + r.notResumed);
    stats_.doneMs = nowMs;
    phase_ = Phase::kStopped;
    return;
  }
  r.resumed = true;
  countsJumped_ = false;
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

// A card that lost its count can go on only once every axis the job moves is referenced
// again: the job's coordinates hang on the switches. A card off the path whose moves the
// planner no longer holds cannot go on at all: moves would be left out.
bool JobDriver::CanGoOn(StopRecord* r) {
  // Off the path the job goes on from the start of the card's move, which must still be held.
  if (r->path != StopRecord::Path::kOnPath && !r->window.empty() && !r->window.whole()) {
    r->notResumed = "the moves the card stopped on are no longer held (more than " +
                    std::to_string(Planner::kHistoryMoves) +
                    " moves within the queue); run the job from a line of your own";
    return false;
  }
  if (!r->positionLost) return true;
  unsigned referenced = 0;
  for (const ReferenceResult& ref : references_) {
    if (ref.done) referenced |= 1u << ref.axis;
  }
  if (r->during == PhaseName(Phase::kReferencing)) {
    for (int k = 0; k < sequence_.axisCount; ++k) referenced |= 1u << sequence_.axisOrder[k];
  }
  std::string missing;
  for (int a = 0; a < kHostAxisCount; ++a) {
    const unsigned bit = 1u << a;
    if ((planner_.movedAxes() & bit) != 0 && (referenced & bit) == 0) missing += kAxisLetters[a];
  }
  if (missing.empty()) return true;
  r->notResumed = "the card restarted and lost its position, and the job never referenced " +
                  missing + " to find it again";
  return false;
}

}  // namespace torvexan::sim
