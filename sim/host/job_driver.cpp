#include "sim/host/job_driver.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "sim/host/coolant_outputs.h"
#include "sim/host/machine_setup.h"

namespace torvexan::sim {
namespace {

// Notify codes of the spindle events.
constexpr int kNotifySpindleClockwise = 3;
constexpr int kNotifySpindleStop = 4;
constexpr int kNotifySpindleCounterClockwise = 5;
constexpr double kSpinUpSeconds = 0.5;  // after a resume, before the first move

std::string Format(const char* format, double a, double b = 0.0) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

std::string AxisText(const char* what, int axis) {
  std::string text = what;
  text += ' ';
  text += kAxisLetters[axis];
  return text;
}

// "line 12: what happened". Built by appending: GCC 12 warns falsely (-Wrestrict) about a
// literal put in front of a temporary string.
std::string AtLine(int line, const std::string& what) {
  std::string text = "line ";
  text += std::to_string(line);
  text += ": ";
  text += what;
  return text;
}

// The moves of one run for the check: the interpreter's up to its next action, each held
// against the travel and passed to the observer as the planner takes it.
class CheckRun final : public SegmentSource {
 public:
  CheckRun(Interpreter& interpreter, TravelCheck& reach, double* at, CheckObserver* observer)
      : interpreter_(interpreter), reach_(reach), at_(at), observer_(observer) {}
  bool Next(PathSegment* segment) override {
    action_ = interpreter_.Next();
    if (!action_ || action_->kind != JobAction::Kind::kMove) return false;
    reach_.Move(action_->line, at_, action_->move.target, interpreter_.offsets());
    std::copy(action_->move.target, action_->move.target + kHostAxisCount, at_);
    if (observer_ != nullptr) observer_->Move(action_->move);
    *segment = action_->move;
    return true;
  }
  // What ended the run: nothing at the job's end.
  const std::optional<JobAction>& action() const { return action_; }

 private:
  Interpreter& interpreter_;
  TravelCheck& reach_;
  double* at_;
  CheckObserver* observer_;
  std::optional<JobAction> action_;
};

}  // namespace

const char* PhaseName(JobDriver::Phase phase) {
  switch (phase) {
    case JobDriver::Phase::kStarting:
      return "starting";
    case JobDriver::Phase::kStreaming:
      return "streaming";
    case JobDriver::Phase::kDraining:
      return "draining";
    case JobDriver::Phase::kDwelling:
      return "dwelling";
    case JobDriver::Phase::kReferencing:
      return "referencing";
    case JobDriver::Phase::kProbing:
      return "probing";
    case JobDriver::Phase::kStopping:
      return "stopping";
    case JobDriver::Phase::kRecovering:
      return "resetting";
    case JobDriver::Phase::kEnding:
      return "ending";
    case JobDriver::Phase::kStopped:
      return "stopped";
    case JobDriver::Phase::kDone:
      return "done";
    case JobDriver::Phase::kStalled:
      return "stalled";
    case JobDriver::Phase::kFailed:
      return "failed";
  }
  return "?";
}

JobCheck CheckJob(const Job& job, const HostControl& limits, const JobSetup& setup,
                  CheckObserver* observer) {
  return CheckRest(Interpreter(job, setup.chordTolerance, setup.referenced, setup.offsets), limits,
                   setup.travel, observer);
}

JobCheck CheckRest(Interpreter interpreter, const HostControl& limits, const TravelLimits& travel,
                   CheckObserver* observer) {
  JobCheck check;
  Planner planner(limits);
  TravelCheck reach(travel);
  int64_t position[kHostAxisCount];
  double at[kHostAxisCount];  // machine units, where the last move ended
  // Referencing and probing move the machine outside the planner: the check assumes they end
  // where the interpreter expects.
  const auto takeInterpreterPosition = [&] {
    for (int a = 0; a < kHostAxisCount; ++a) {
      at[a] = interpreter.position()[a];
      position[a] = std::llround(at[a] * limits.StepsPerUnit[a]);
    }
  };
  takeInterpreterPosition();
  for (;;) {
    CheckRun run(interpreter, reach, at, observer);
    JobError error;
    if (!planner.Start(run, position, &error)) {
      check.errors.push_back(error);
      break;
    }
    planner.Finish();
    if (planner.error()) {
      check.errors.push_back(*planner.error());
      break;
    }
    check.moves += static_cast<int>(planner.movesPlanned());
    check.slices += planner.slices();
    check.seconds += planner.seconds();
    std::copy(planner.end(), planner.end() + kHostAxisCount, position);
    const std::optional<JobAction>& action = run.action();
    if (!action) break;
    if (observer != nullptr) {
      double where[kHostAxisCount];
      for (int a = 0; a < kHostAxisCount; ++a) where[a] = position[a] / limits.StepsPerUnit[a];
      observer->Action(*action, where);
    }
    switch (action->kind) {
      case JobAction::Kind::kDwell:
        ++check.dwells;
        check.seconds += action->seconds;
        break;
      case JobAction::Kind::kReference:
        ++check.references;
        break;
      case JobAction::Kind::kProbe:
        ++check.probes;
        reach.Move(action->line, at, action->move.target, interpreter.offsets());
        break;
      default:
        break;
    }
    takeInterpreterPosition();
  }
  if (interpreter.error()) check.errors.push_back(*interpreter.error());
  for (const JobError& e : reach.beyond()) {
    if (travel.warnOnly) {
      check.travelWarnings.push_back(JobWarning{e.line, e.message});
    } else {
      check.errors.push_back(e);
    }
  }
  std::stable_sort(check.errors.begin(), check.errors.end(),
                   [](const JobError& a, const JobError& b) { return a.line < b.line; });
  for (int a = 0; a < kHostAxisCount; ++a) check.extents[a] = reach.extent(a);
  check.offsets = interpreter.offsets();
  check.tool = interpreter.tool();
  return check;
}

JobDriver::JobDriver(const Job& job, const JobSetup& setup, VirtualHost& host, DriverTiming timing)
    : lastProbeResultReader_(job.lastProbeResultReader),
      host_(host),
      timing_(timing),
      resetAfterStop_(setup.resetAfterStop),
      resetAtSeconds_(setup.resetAtSeconds),
      travel_(setup.travel),
      interpreter_(job, setup.chordTolerance, setup.referenced, setup.offsets),
      planner_(host.records().control()) {}

// A card powers up halted, which puts the machine into emergency stop; the operator then
// clears it and presses reset, which configures the card. Ready once the emergency stop has
// stayed clear for a while after a reset.
bool JobDriver::MachineReady(uint64_t nowMs) {
  HostMachine& m = host_.records().machine();
  if (m.EStop || resetUnanswered_) {
    if (nowMs - lastResetMs_ >= timing_.resetEveryMs) {
      m.EStop = 0;
      resetUnanswered_ = false;
      host_.Reset();
      lastResetMs_ = nowMs;
      resetDone_ = true;
    }
    return false;
  }
  if (!resetDone_) {
    if (nowMs - startMs_ < timing_.startupMs) return false;
    host_.Reset();  // a card that came up without an emergency stop is configured all the same
    lastResetMs_ = nowMs;
    resetDone_ = true;
    return false;
  }
  return nowMs - lastResetMs_ >= timing_.readyMs;
}

JobDriver::Phase JobDriver::Step(uint64_t nowMs) {
  HostMachine& m = host_.records().machine();
  HostControl& c = host_.records().control();
  Observe(nowMs);
  // The host takes note of every ended sequence and reset.
  if (m.SequenceEnded) {
    m.SequenceEnded = 0;
    sequenceEnded_ = true;
  }
  if (PressReset(nowMs) || CheckSafety(nowMs)) return phase_;
  switch (phase_) {
    case Phase::kStarting:
      if (!MachineReady(nowMs) || nowMs - startMs_ < timing_.startupMs) break;
      for (int a = 0; a < kHostAxisCount; ++a) expected_[a] = m.Axes[a].PositionCounts;
      SyncFromCard();
      stats_.motionStartMs = nowMs;
      lastProgressMs_ = nowMs;
      StartNext(nowMs);
      break;
    case Phase::kStreaming: {
      const int64_t written = planner_.slicesWritten();
      const Planner::Status status = planner_.Fill(m, c);
      stats_.slicesPlanned += planner_.slicesWritten() - written;
      line_ = planner_.currentLine();
      if (status == Planner::Status::kDone) {
        // The tail of the queue goes out only when the plug-in is told nothing more follows.
        c.QueueDrain = 1;
        phaseStartMs_ = nowMs;
        phase_ = Phase::kDraining;
        std::copy(planner_.end(), planner_.end() + kHostAxisCount, expected_);
        // A move that cannot be made ended the run early, at rest where it starts.
        if (const std::optional<JobError>& e = planner_.error()) {
          line_ = e->line;
          Fail(nowMs, AtLine(e->line, e->message));
        }
      }
      break;
    }
    case Phase::kDraining:
      if (QueueSettled(nowMs)) StartNext(nowMs);
      break;
    case Phase::kDwelling:
      if (m.Dwelling != 0) break;
      ++stats_.dwellsDone;
      lastProgressMs_ = nowMs;
      StartNext(nowMs);
      break;
    case Phase::kReferencing:
      if (m.Homing == 0 && sequenceEnded_ && c.MotionIdle == 1) FinishReference(nowMs);
      break;
    case Phase::kProbing:
      if (sequenceEnded_ && c.MotionIdle == 1) FinishProbe(nowMs);
      break;
    case Phase::kStopping:
      WatchStop(nowMs);
      break;
    case Phase::kRecovering:
      Recover(nowMs);
      break;
    case Phase::kEnding:
      if (nowMs - phaseStartMs_ < timing_.settleMs) break;
      stats_.doneMs = nowMs;
      phase_ = Phase::kDone;
      break;
    case Phase::kDone:
    case Phase::kStalled:
    case Phase::kFailed:
    case Phase::kStopped:
      break;
  }
  CheckStall(nowMs);
  return phase_;
}

// Starts planning a run from where the host expects the machine, and streaming it.
void JobDriver::StartRun(uint64_t nowMs) {
  JobError error;
  if (!planner_.Start(*this, expected_, &error)) {
    line_ = error.line;
    return Fail(nowMs, AtLine(error.line, error.message));
  }
  host_.records().control().QueueDrain = 0;
  lastProgressMs_ = nowMs;
  phase_ = Phase::kStreaming;
}

// The run's next move for the planner. A host action ends the run and waits in pending_ for
// the queue to run empty.
bool JobDriver::Next(PathSegment* segment) {
  if (leadNext_ < lead_.size()) {
    *segment = lead_[leadNext_++];
  } else {
    lead_.clear();
    leadNext_ = 0;
    if (!fromInterpreter_) return false;
    std::optional<JobAction> a = interpreter_.Next();
    if (!a) return false;
    if (a->kind != JobAction::Kind::kMove) {
      pending_ = std::move(a);
      return false;
    }
    *segment = a->move;
  }
  if (reread_) {
    ++movesSinceReread_;
    if (sinceReread_ != nullptr) sinceReread_->Move(*segment);
  } else {
    ++movesBeforeReread_;
  }
  return true;
}

// Plans the next run of moves, or carries out the next host action, or ends the job.
void JobDriver::StartNext(uint64_t nowMs) {
  if (!resume_.empty()) {
    // The spindle comes up to speed and the outputs reach the card before anything moves.
    if (restoredFor_ != stops_.size()) {
      if (!RestoreModes(nowMs)) return;
      restoredFor_ = stops_.size();
      dwellSeconds_ = kSpinUpSeconds;
      phaseStartMs_ = nowMs;
      phase_ = Phase::kDwelling;
      host_.DoDwell(kSpinUpSeconds);
      return;
    }
    interpreter_.SetPosition(resumeFrom_);
    lead_ = Approach(nowMs);  // back to where the card stopped, then what a stop cut short
    lead_.insert(lead_.end(), resume_.begin(), resume_.end());
    leadNext_ = 0;
    resume_.clear();
    fromInterpreter_ = resumeOpen_;
    return StartRun(nowMs);
  }
  for (;;) {
    std::optional<JobAction> action = pending_;
    pending_.reset();
    if (!action) {
      action = interpreter_.Next();
      if (action && action->kind == JobAction::Kind::kMove) {
        lead_.assign(1, action->move);
        leadNext_ = 0;
        fromInterpreter_ = true;
        return StartRun(nowMs);
      }
    }
    if (!action) {
      if (const std::optional<JobError>& e = interpreter_.error()) {
        line_ = e->line;
        return Fail(nowMs, AtLine(e->line, e->message));
      }
      EndProgram(nowMs);
      return;
    }
    line_ = action->line;
    if (!RunHostAction(*action, nowMs)) return;  // a sequence runs; the loop comes back later
  }
}

// Carries out one host action; false when it started something that runs on.
bool JobDriver::RunHostAction(const JobAction& a, uint64_t nowMs) {
  switch (a.kind) {
    case JobAction::Kind::kDwell:
      dwellSeconds_ = a.seconds;
      phaseStartMs_ = nowMs;
      phase_ = Phase::kDwelling;
      host_.DoDwell(a.seconds);
      return false;
    case JobAction::Kind::kReference:
      sequence_ = a;
      referenceIndex_ = 0;
      StartReference(nowMs);
      return phase_ != Phase::kReferencing;
    case JobAction::Kind::kProbe:
      StartProbe(a, nowMs);
      return false;
    case JobAction::Kind::kSpindle:
      NotifySpindle(a, nowMs);
      return true;
    case JobAction::Kind::kUserCode:
      host_.Notify(a.code);
      Log(nowMs, a.line, Format("M%.0f: Notify(%.0f)", a.code, a.code));
      events_.back().userCode = a.code;
      return true;
    case JobAction::Kind::kPause:
      Log(nowMs, a.line,
          a.optional ? "M1 optional stop: the operator resumes at once"
                     : "M0 program stop: the operator resumes at once");
      return true;
    case JobAction::Kind::kNote:
      if (a.code == 40 || a.code == 41) probeLogOpen_ = a.code == 40;
      NoteCoolant(a);
      Log(nowMs, a.line, a.text);
      return true;
    case JobAction::Kind::kMove:
    case JobAction::Kind::kReturnToZero:
      return true;
  }
  return true;
}

// The job is through. M2 and M30 stop the spindle and the coolant, as the host program does;
// the host then lets the plug-in send the last outputs before the run ends.
void JobDriver::EndProgram(uint64_t nowMs) {
  const BlockReader& read = interpreter_.reader();
  if (read.ended() && read.count() > 0) {
    host_.Notify(kNotifySpindleStop);
    modes_ = JobModes{};
    SetCoolant(host_.records().machine(), false, false);
    Log(nowMs, read.line(), "M2/M30 program end: spindle and coolant off (Notify(4), outputs off)");
  }
  phaseStartMs_ = nowMs;
  phase_ = Phase::kEnding;
}

// Hands a probing move to the plug-in's Probe.
void JobDriver::StartProbe(const JobAction& a, uint64_t nowMs) {
  HostControl& c = host_.records().control();
  sequence_ = a;
  HostMachine& m = host_.records().machine();
  for (int k = 0; k < kHostAxisCount; ++k) {
    c.ProbeTarget[k] = a.move.target[k];
    countsBefore_[k] = m.Axes[k].PositionCounts;
    m.Axes[k].ProbeFlag = 1;  // the plug-in clears it with the probe position
  }
  c.FeedPerSecond = a.move.feedPerMinute / 60.0;
  SyncFromCard();
  sequenceEnded_ = false;
  phaseStartMs_ = nowMs;
  phase_ = Phase::kProbing;
  host_.Probe();
  if (c.MotionIdle != 0) {
    Fail(nowMs, AtLine(a.line, "the plug-in refused the probe"));
  }
}

// M3, M4 and M5 as the host's Notify codes, with the spindle's speed as a fraction. A cycle
// that stops and restarts the spindle in the hole names itself first.
void JobDriver::NotifySpindle(const JobAction& a, uint64_t nowMs) {
  HostControl& c = host_.records().control();
  const int code = a.spindle == SpindleTurn::kClockwise          ? kNotifySpindleClockwise
                   : a.spindle == SpindleTurn::kCounterClockwise ? kNotifySpindleCounterClockwise
                                                                 : kNotifySpindleStop;
  std::string text = a.text.empty() ? "" : a.text + ": ";
  if (code == kNotifySpindleStop) {
    text += "M5 spindle stop: Notify(4)";
  } else {
    const double maxSpeed = c.SpindleMaxSpeed > 0.0 ? c.SpindleMaxSpeed : 1.0;
    c.SpindlePwm = 1;
    c.SpindleFraction = a.speed / maxSpeed;
    char line[160];
    std::snprintf(line, sizeof line, "M%d S%.0f: Notify(%d), spindle fraction %.3f of %.0f rpm",
                  code == kNotifySpindleClockwise ? 3 : 4, a.speed, code, c.SpindleFraction,
                  maxSpeed);
    text += line;
    // The plug-in runs a fraction above 1 at the spindle's full speed.
    if (a.speed > maxSpeed) text += " (WARNING: S above the spindle's maximum)";
  }
  host_.Notify(code);
  modes_.spindle = code == kNotifySpindleStop ? SpindleTurn::kStop : a.spindle;
  modes_.speed = a.speed;
  Log(nowMs, a.line, text);
}

// M7, M8 and M9 switch the output signals the machine's coolant is wired to.
void JobDriver::NoteCoolant(const JobAction& a) {
  if (a.code == 7) modes_.mist = true;
  if (a.code == 8) modes_.flood = true;
  if (a.code == 9) modes_.flood = modes_.mist = false;
  if (a.code >= 7 && a.code <= 9) SetCoolant(host_.records().machine(), modes_.flood, modes_.mist);
}

// Hands the next axis of the referencing to the plug-in's Home.
void JobDriver::StartReference(uint64_t nowMs) {
  HostMachine& m = host_.records().machine();
  while (referenceIndex_ < sequence_.axisCount) {
    const int axis = sequence_.axisOrder[referenceIndex_];
    for (int k = 0; k < kHostAxisCount; ++k) countsBefore_[k] = m.Axes[k].PositionCounts;
    sequenceEnded_ = false;
    m.AxisHomed[axis] = 0;  // the plug-in sets it when the axis is referenced
    host_.Home(axis);
    if (m.Homing != 0) {
      phaseStartMs_ = nowMs;
      phase_ = Phase::kReferencing;
      return;
    }
    references_.push_back(
        ReferenceResult{sequence_.line, axis, false, false, m.Axes[axis].PositionCounts});
    ++referenceIndex_;
  }
  SyncFromCard();
  lastProgressMs_ = nowMs;
  phase_ = Phase::kDraining;  // nothing runs: go on with the job
}

void JobDriver::FinishReference(uint64_t nowMs) {
  HostMachine& m = host_.records().machine();
  const int axis = sequence_.axisOrder[referenceIndex_];
  if (m.AxisHomed[axis] == 0) {
    return StopJob(nowMs, AxisText("referencing aborted: not homed,", axis));
  }
  references_.push_back(
      ReferenceResult{sequence_.line, axis, true, false, m.Axes[axis].PositionCounts});
  expected_[axis] = m.Axes[axis].PositionCounts;
  ++referenceIndex_;
  lastProgressMs_ = nowMs;
  StartReference(nowMs);
  if (phase_ != Phase::kReferencing) StartNext(nowMs);
}

void JobDriver::FinishProbe(uint64_t nowMs) {
  HostMachine& m = host_.records().machine();
  bool reported = false;
  for (int k = 0; k < kHostAxisCount; ++k) reported = reported || m.Axes[k].ProbeFlag == 0;
  if (!reported) return StopJob(nowMs, "probing aborted: no probe position");
  ProbeResult r;
  r.line = sequence_.line;
  r.contact = m.InputSignals[kProbeInput].Active != 0;
  for (int k = 0; k < kHostAxisCount; ++k) {
    r.target[k] = sequence_.move.target[k];
    r.probeCounts[k] = m.Axes[k].ProbeCounts;
    r.stoppedAt[k] = m.Axes[k].PositionCounts;
    // Axes the card does not drive never report; they stand where they were planned.
    if (m.Axes[k].PositionCounts != countsBefore_[k]) expected_[k] = m.Axes[k].PositionCounts;
  }
  r.logged = probeLogOpen_;
  probes_.push_back(r);
  SyncFromCard();
  lastProgressMs_ = nowMs;
  if (!r.contact) {
    return Fail(nowMs, AtLine(r.line, "the probe made no contact"));
  }
  if (ReadOnAfterProbe(nowMs, r)) StartNext(nowMs);
}

// The lines after a probe may read where it tripped (#2000.., #5061..): the lines not read yet
// read the trip point, as the plug-in reported it, and what is left is read to its end and
// checked as the whole job was before anything moved. False when that finds a fault: the job
// ends here.
bool JobDriver::ReadOnAfterProbe(uint64_t nowMs, const ProbeResult& r) {
  const HostControl& c = host_.records().control();
  ProbeTrip& trip = trips_[sequence_.block];
  for (int a = 0; a < 3; ++a) {
    // An axis the card does not drive stands where it was planned.
    const double counts = r.stoppedAt[a] != countsBefore_[a] ? r.probeCounts[a] : expected_[a];
    trip.at[a] = counts / c.StepsPerUnit[a] - interpreter_.offsets().Offset(a);
  }
  // No line after the probe reads where it tripped: what follows stays as it was read.
  if (lastProbeResultReader_ <= static_cast<long>(sequence_.block)) {
    interpreter_.Tripped(sequence_.block, trips_);
    return true;
  }
  // Read and checked in one pass. A line that cannot be read comes first, as before anything
  // moved; a check that stopped at a fault of its own left lines unread, read for that alone.
  ReadLog read;
  Interpreter rest = interpreter_;
  rest.Tripped(sequence_.block, trips_);
  rest.LogReading(&read);
  std::vector<JobError> errors = CheckRest(rest, c, travel_).errors;
  if (!errors.empty()) read = ReadRest(rest.reader());
  read.SortErrors();
  if (!read.errors.empty()) errors = read.errors;
  if (!errors.empty()) {
    std::string why = errors.front().message;
    why += " (with the trip point of the probe on line ";
    why += std::to_string(r.line);
    why += ')';
    line_ = errors.front().line;
    Fail(nowMs, AtLine(errors.front().line, why));
    return false;
  }
  interpreter_.Tripped(sequence_.block, trips_);
  lastProbeResultReader_ = read.lastProbeResultReader;
  reread_ = true;
  return true;
}

// The interpreter goes on from where the host expects the machine.
void JobDriver::SyncFromCard() {
  const HostControl& c = host_.records().control();
  double machine[kHostAxisCount];
  for (int a = 0; a < kHostAxisCount; ++a) {
    machine[a] = static_cast<double>(expected_[a]) / c.StepsPerUnit[a];
  }
  interpreter_.SetPosition(machine);
}

void JobDriver::Fail(uint64_t nowMs, std::string reason) {
  stallReason_ = std::move(reason);
  stats_.doneMs = nowMs;
  phase_ = Phase::kFailed;
}

void JobDriver::Log(uint64_t nowMs, int line, std::string text) {
  events_.push_back(HostEvent{line, 0, (nowMs - stats_.motionStartMs) / 1000.0, std::move(text)});
}

void JobDriver::Observe(uint64_t nowMs) {
  HostMachine& m = host_.records().machine();
  HostControl& c = host_.records().control();
  if (!observed_) {
    observed_ = true;
    startMs_ = nowMs;
    lastRead_ = m.MoveQueueRead;
    lastIdle_ = c.MotionIdle;
    for (int a = 0; a < kHostAxisCount; ++a) lastCounts_[a] = m.Axes[a].PositionCounts;
    lastProgressMs_ = nowMs;
    lastObserveMs_ = nowMs;
  }
  WatchCounts(nowMs);
  lastObserveMs_ = nowMs;
  // The host's position display, which probing measures from.
  for (int a = 0; a < kHostAxisCount; ++a) {
    c.AxisPosition[a] = m.Axes[a].PositionCounts / c.StepsPerUnit[a];
  }
  if (m.MoveQueueRead != lastRead_) {
    stats_.rowsTaken +=
        ((m.MoveQueueRead - lastRead_) % kMoveQueueSize + kMoveQueueSize) % kMoveQueueSize;
    lastRead_ = m.MoveQueueRead;
    lastReadChangeMs_ = nowMs;
    lastProgressMs_ = nowMs;
  }
  if (c.MotionIdle == 0) lastBusyMs_ = nowMs;
  if (c.MotionIdle != lastIdle_) {
    lastIdle_ = c.MotionIdle;
    lastProgressMs_ = nowMs;
  }
  for (int a = 0; a < kHostAxisCount; ++a) {
    if (m.Axes[a].PositionCounts != lastCounts_[a]) {
      lastCounts_[a] = m.Axes[a].PositionCounts;
      lastProgressMs_ = nowMs;
    }
  }
}

// The queue is empty and the card has stopped. MotionIdle may still be 1 from before the last
// batch reached the card, so it must have held for a while since the plug-in last took
// entries and since it was last seen busy.
bool JobDriver::QueueSettled(uint64_t nowMs) const {
  const HostMachine& m = host_.records().machine();
  const HostControl& c = host_.records().control();
  if (m.MoveQueueRead != m.MoveQueueWrite || c.MotionIdle == 0) return false;
  const uint64_t since = std::max({lastReadChangeMs_, lastBusyMs_, phaseStartMs_});
  return nowMs - since >= timing_.settleMs;
}

void JobDriver::CheckStall(uint64_t nowMs) {
  if (phase_ == Phase::kStreaming || phase_ == Phase::kDraining) {
    if (nowMs - lastProgressMs_ < timing_.stallMs) return;
    const HostMachine& m = host_.records().machine();
    stallReason_ = m.MoveQueueRead != m.MoveQueueWrite
                       ? "the plug-in took no queue entries"
                       : "the plug-in did not report the end of motion (MotionIdle)";
  } else if (phase_ == Phase::kDwelling) {
    const double limitMs = dwellSeconds_ * 1000.0 + timing_.stallMs;
    if (static_cast<double>(nowMs - phaseStartMs_) < limitMs) return;
    stallReason_ = "the plug-in did not end the dwell (Dwelling)";
  } else if (phase_ == Phase::kReferencing || phase_ == Phase::kProbing ||
             phase_ == Phase::kRecovering) {
    if (nowMs - phaseStartMs_ < timing_.sequenceMs) return;
    stallReason_ = phase_ == Phase::kReferencing ? "the referencing did not end (Homing)"
                   : phase_ == Phase::kProbing   ? "the probing did not end (SequenceEnded)"
                                                 : "the machine did not come out of the e-stop";
  } else {
    return;
  }
  stallReason_ += " for " +
                  std::to_string((phase_ == Phase::kReferencing || phase_ == Phase::kProbing ||
                                          phase_ == Phase::kRecovering
                                      ? timing_.sequenceMs
                                      : timing_.stallMs) /
                                 1000) +
                  " s (line " + std::to_string(line_) + ")";
  stats_.doneMs = nowMs;
  phase_ = Phase::kStalled;
}

}  // namespace torvexan::sim
