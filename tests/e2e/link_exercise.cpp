#include "link_exercise.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace torvexan::e2e {
namespace {

constexpr uint64_t kReadyAfterMs = 1000;  // a reset has taken when no halt follows
constexpr uint64_t kSettleMs = 400;       // the last positions come back after the stream
constexpr int kQueueLead = 400;           // how far ahead the host fills its queue
constexpr int kSlicesPerTag = 100;
constexpr int kChannels = 5;  // card channels 0..4 drive host axes X, Y, Z, A, B
// A released jog still running after this is a fault: its deceleration is a second or two of
// rows even when the link stalls it, and a link that stays stalled is lost and stops it.
constexpr uint64_t kJogRunOnMs = 15000;
// A homing or probing that has not ended after this is a fault: the longest approach of the
// soak's machines takes well under a minute.
constexpr uint64_t kSequenceHangMs = 600000;
constexpr int kProbeAxis = 2;                   // Z: the card's probe touches along it
constexpr int32_t kProbeOvershootSteps = 2000;  // the probe's target lies this far beyond the work
constexpr int32_t kReferenceSpread = 2000;      // references drawn from -2000..2000 steps
constexpr int32_t kUnwrittenProbeCounts = std::numeric_limits<int32_t>::min();
constexpr double kRowSeconds = 0.005;

// A different smooth path on every axis and every job, a little over one step per slice at
// its fastest, so that the card moves in every 5 ms period and reports new positions. The
// drift changes direction from job to job, so that hours of jobs keep the axes near their
// switches and the probe's work.
double SliceSteps(int job, int slice, int axis) {
  const double t = slice * 0.005;
  const double drift = job % 2 == 0 ? 0.2 : -0.2;
  return (0.9 + 0.25 * axis) * std::sin(t * (1.3 + 0.4 * axis) + job + axis) + drift;
}

// The most steps one row of a move at this speed can carry: its share of a 5 ms row, rounded
// up (the rounding carries fractions from row to row).
int32_t RowSteps(double unitsPerSecond, double stepsPerUnit) {
  return static_cast<int32_t>(std::floor(std::fabs(unitsPerSecond * stepsPerUnit) * kRowSeconds)) +
         1;
}

}  // namespace

void LinkExercise::Fail(const std::string& why) {
  verdict_ = why;
  phase_ = Phase::kFailed;
}

void LinkExercise::Pass() {
  char text[200];
  std::snprintf(text, sizeof text,
                "%d exchanges seen, %d jobs checked (%d after a restart), %d restarts, "
                "%d jobs abandoned",
                figures_.exchanges, figures_.jobsChecked, figures_.jobsAfterRestart,
                figures_.restarts, figures_.jobsAbandoned);
  verdict_ = text;
  phase_ = Phase::kPassed;
}

int32_t Violations(const ExerciseFigures& f) {
  return f.positionErrors + f.sequenceErrors;
}

void PrintSoakFigures(const char* label, uint64_t nowMs, const ExerciseFigures& f) {
  std::printf(
      "%s %6.0f s: jobs %d started, %d step-exact checked (example jobs %d), %d stopped; rows "
      "%d; jogs %d, dwells %d; homings %d started, %d completed, %d aborted; probings %d "
      "started, %d completed, %d aborted; halts %d, resets %d, longest recovery %.1f s; "
      "violations %d\n",
      label, nowMs / 1000.0, f.jobsStarted, f.jobsChecked, f.examplesChecked, f.jobsAbandoned,
      f.rowsStreamed, f.jogs, f.dwells, f.homingsStarted, f.homingsCompleted, f.homingsAborted,
      f.probingsStarted, f.probingsCompleted, f.probingsAborted, f.restarts, f.resets,
      f.longestRecoveryMs / 1000.0, Violations(f));
  std::fflush(stdout);
}

uint32_t LinkExercise::Random() {
  if (randomState_ == 0)
    randomState_ = actions_.seed * 6364136223846793005ULL + 1442695040888963407ULL;
  randomState_ = randomState_ * 6364136223846793005ULL + 1442695040888963407ULL;
  return static_cast<uint32_t>(randomState_ >> 33);
}

// After a checked job in a soak: a short jog, a dwell, the homing of one axis, a touch-off (Z
// homed, then probed down onto the work), or nothing. Z is left to the touch-offs when there
// are any, so that it never wanders past its switch or below the work.
void LinkExercise::StartInterlude(uint64_t nowMs) {
  const uint32_t pick = Random() % 8;
  const bool homes = actions_.home != nullptr && machine_.homedAxes > 0;
  const bool touchOffs = homes && actions_.probe != nullptr && machine_.probeDepthSteps > 0 &&
                         machine_.homedAxes > kProbeAxis && !c_.HomeNegative[kProbeAxis];
  interlude_ = Interlude::kNone;
  interludeMs_ = 0;
  sequence_ = Sequence::kNone;
  phase_ = Phase::kInterlude;
  phaseSinceMs_ = nowMs;
  if (pick <= 1 && actions_.jogOn != nullptr && actions_.jogOff != nullptr) {
    interlude_ = Interlude::kJog;
    jogAxis_ = static_cast<int>(Random() % (touchOffs ? 2 : 3));
    jogReleased_ = false;
    jogRunOnSeen_ = false;
    interludeMs_ = 150 + Random() % 500;
    ++figures_.jogs;
    // The host passes 0 for a jog towards plus and anything else for one towards minus.
    actions_.jogOn(actions_.context, jogAxis_, static_cast<int>(Random() % 2),
                   20.0 + Random() % 60);
  } else if (pick <= 3 && actions_.dwell != nullptr) {
    interlude_ = Interlude::kDwell;
    interludeMs_ = 100 + Random() % 400;
    ++figures_.dwells;
    actions_.dwell(actions_.context, interludeMs_ / 1000.0);
  } else if (pick == 4 && homes) {
    interlude_ = Interlude::kHome;
    StartHoming(static_cast<int>(Random() % machine_.homedAxes), nowMs);
  } else if (pick == 5 && touchOffs) {
    // A homing cut after the switch was found can leave Z standing on it, and a homing that
    // starts on its switch takes the reference where the axis stands: then Z is only homed,
    // which pulls it off the switch for the next touch-off.
    const bool onSwitch = m_.InputSignals[HomeInput(kProbeAxis)].Active != 0;
    interlude_ = onSwitch ? Interlude::kHome : Interlude::kTouchOff;
    StartHoming(kProbeAxis, nowMs);
  }
}

// Starts referencing one axis as the host does: the axis counts as not homed until the
// sequence says otherwise. False when the plug-in refused (nothing to check then).
bool LinkExercise::StartHoming(int axis, uint64_t nowMs) {
  homeAxis_ = axis;
  reference_ = static_cast<int32_t>(Random() % (2 * kReferenceSpread + 1)) - kReferenceSpread;
  m_.HomeReferenceCounts[axis] = reference_;
  m_.AxisHomed[axis] = 0;
  actions_.home(actions_.context, axis);
  if (!m_.Homing) return false;
  BeginSequence(false, nowMs);
  return true;
}

// Probes from where the touch-off's homing left Z down to beyond the work; every other axis is
// sent to where it stands. The host's probe results are marked unwritten first.
bool LinkExercise::StartProbing(uint64_t nowMs) {
  const int32_t surface = zReference_ - machine_.probeDepthSteps;
  const int32_t z = m_.Axes[kProbeAxis].PositionCounts;
  for (int a = 0; a < kHostAxisCount; ++a) {
    c_.ProbeTarget[a] = c_.AxisPosition[a];
    beforeProbe_[a] = m_.Axes[a].PositionCounts;
    m_.Axes[a].ProbeCounts = kUnwrittenProbeCounts;
    m_.Axes[a].ProbeFlag = 1;
  }
  c_.ProbeTarget[kProbeAxis] -= (z - surface + kProbeOvershootSteps) / c_.StepsPerUnit[kProbeAxis];
  c_.FeedPerSecond = machine_.probeFeed;
  actions_.probe(actions_.context);
  if (c_.MotionIdle) return false;  // refused: the plug-in starts every probe by clearing it
  BeginSequence(true, nowMs);
  return true;
}

// The plug-in took the homing or probing: it runs until the host sees its end or a halt.
void LinkExercise::BeginSequence(bool probing, uint64_t nowMs) {
  probing_ = probing;
  sequence_ = Sequence::kRunning;
  sequenceSinceMs_ = nowMs;
  rechecked_ = false;
  ++(probing ? figures_.probingsStarted : figures_.homingsStarted);
}

void LinkExercise::SequenceFault(const char* what) {
  ++figures_.sequenceErrors;
  const int axis = probing_ ? kProbeAxis : homeAxis_;
  std::printf(
      "sequence %s of axis %d: %s (position %d, reference %d, probe counts %d, homed %d, "
      "homing %d)\n",
      probing_ ? "probing" : "homing", axis, what, m_.Axes[axis].PositionCounts,
      probing_ ? zReference_ : reference_, m_.Axes[axis].ProbeCounts, m_.AxisHomed[axis],
      m_.Homing);
  if (!probing_) return;
  for (int a = 0; a < kChannels; ++a) {
    std::printf("  axis %d: before %d, position %d, probe counts %d\n", a, beforeProbe_[a],
                m_.Axes[a].PositionCounts, m_.Axes[a].ProbeCounts);
  }
}

// The homed axis takes its reference where the switch was found and pulls off away from it.
bool LinkExercise::HomedWhereExpected() const {
  const int32_t pullOff =
      static_cast<int32_t>(std::lround(machine_.pullOffUnits * c_.StepsPerUnit[homeAxis_]));
  const int32_t expected = reference_ + (c_.HomeNegative[homeAxis_] ? pullOff : -pullOff);
  return m_.Axes[homeAxis_].PositionCounts == expected;
}

// Where the probe may have stopped, in the frame of the touch-off's homing. The card takes the
// reference after the first row that reaches the switch, and stops the probing move after the
// first row that reaches the work: the surface lies depth below the reference, and the stop
// lies at most one probing row past it, less at most one homing row that overshot the switch.
bool LinkExercise::ProbedAtSurface(int32_t z) const {
  const int32_t surface = zReference_ - machine_.probeDepthSteps;
  const double homeSpeed = c_.HomeSpeedPercent[kProbeAxis] / 100.0 * c_.MaxVelocity[kProbeAxis];
  const double spu = c_.StepsPerUnit[kProbeAxis];
  const int32_t slack = RowSteps(machine_.probeFeed, spu) - 1 + RowSteps(homeSpeed, spu) - 1;
  return z <= surface && z >= surface - slack;
}

// A completed probe stands where it touched, the other axes where they stood, and the card's
// latched positions (where it reports them) are those positions.
bool LinkExercise::ProbedWhereExpected() const {
  if (!ProbedAtSurface(m_.Axes[kProbeAxis].PositionCounts)) return false;
  for (int a = 0; a < kChannels; ++a) {
    if (a != kProbeAxis && m_.Axes[a].PositionCounts != beforeProbe_[a]) return false;
    if (machine_.probeLatched && a < goals_.cardAxes &&
        m_.Axes[a].ProbeCounts != m_.Axes[a].PositionCounts) {
      return false;
    }
  }
  return true;
}

// A homing that ended with no halt in sight: the axis is homed, and (once the machine stands
// still) at its reference plus the pull-off.
void LinkExercise::CheckHoming(bool settled) {
  if (!m_.AxisHomed[homeAxis_]) {
    SequenceFault("ended without a halt, but the axis is not homed");
  } else if (settled && !HomedWhereExpected()) {
    SequenceFault("homed, but not at the reference plus the pull-off");
  } else {
    ++figures_.homingsCompleted;
  }
}

// A probing that ended with no halt in sight: a result, at the surface.
void LinkExercise::CheckProbing(bool settled) {
  const AxisRecord& z = m_.Axes[kProbeAxis];
  if (z.ProbeFlag != 0) {
    SequenceFault("ended without a halt, but without a probe result");
  } else if (settled && !ProbedWhereExpected()) {
    SequenceFault("the probe did not stop at the work, or reported another position");
  } else if (!settled && machine_.probeLatched && !ProbedAtSurface(z.ProbeCounts)) {
    SequenceFault("the probe reported a position off the work");
  } else {
    ++figures_.probingsCompleted;
  }
}

// The host sees the plug-in's SequenceEnded for the running homing or probing. Seen together
// with an emergency stop, the sequence may have ended just before the halt or because of it.
void LinkExercise::NoteSequenceEnd(uint64_t nowMs) {
  if (sequence_ != Sequence::kRunning) return;
  sequence_ = m_.EStop ? Sequence::kEndedAtHalt : Sequence::kEnded;
  sequenceSinceMs_ = nowMs;
}

// A halt while a homing or probing runs cuts it; one that follows its end leaves its results,
// whose positions can no longer be read.
void LinkExercise::NoteHaltDuringSequence() {
  if (sequence_ == Sequence::kRunning) {
    sequence_ = Sequence::kCut;
    return;
  }
  if (sequence_ != Sequence::kEnded) return;
  if (probing_) {
    CheckProbing(false);
  } else {
    CheckHoming(false);
  }
  sequence_ = Sequence::kNone;
}

// Once the machine is ready again after a halt: a cut homing left the axis not homed, a cut
// probing left no probe result. One that ended at the halt may have either outcome.
void LinkExercise::CheckCutSequence() {
  if (sequence_ != Sequence::kCut && sequence_ != Sequence::kEndedAtHalt) {
    sequence_ = Sequence::kNone;
    return;
  }
  const bool cut = sequence_ == Sequence::kCut;
  if (!probing_) {
    if (!m_.AxisHomed[homeAxis_]) {
      ++figures_.homingsAborted;
    } else if (cut) {
      SequenceFault("cut by a halt, but the axis is homed");
    } else {
      CheckHoming(false);
    }
  } else {
    const AxisRecord& z = m_.Axes[kProbeAxis];
    const bool result = z.ProbeFlag == 0 || z.ProbeCounts != kUnwrittenProbeCounts;
    if (!result) {
      ++figures_.probingsAborted;
    } else if (cut) {
      SequenceFault("cut by a halt, but a probe position was reported");
    } else {
      CheckProbing(false);
    }
  }
  sequence_ = Sequence::kNone;
}

// True once a homing or probing interlude has ended and been checked; a touch-off's homing
// that took goes on with its probe.
bool LinkExercise::SequenceInterludeOver(uint64_t nowMs) {
  if (sequence_ == Sequence::kRunning) {
    if (nowMs - sequenceSinceMs_ < kSequenceHangMs) return false;
    SequenceFault("has not ended after ten minutes");
    sequence_ = Sequence::kNone;
    PressReset(nowMs);
    return false;
  }
  if (sequence_ == Sequence::kEnded) {
    if (m_.Homing || nowMs - sequenceSinceMs_ < kSettleMs || !StandsStill(nowMs)) return false;
    const bool where = probing_ ? ProbedWhereExpected() : HomedWhereExpected();
    if (!where && !rechecked_) {
      // A reply damaged on the way may show a wrong position until the next one.
      rechecked_ = true;
      sequenceSinceMs_ = nowMs;
      return false;
    }
    rechecked_ = false;
    const int32_t before = figures_.homingsCompleted;
    if (probing_) {
      CheckProbing(true);
    } else {
      CheckHoming(true);
    }
    sequence_ = Sequence::kNone;
    const bool zHomed = !probing_ && figures_.homingsCompleted > before;
    if (interlude_ == Interlude::kTouchOff && zHomed) {
      zReference_ = reference_;
      if (StartProbing(nowMs)) return false;
    }
  }
  return StandsStill(nowMs);
}

// A job's start position is taken only from a machine that stands still: no jog or sequence
// under way, the plug-in idle, no position reported changing for a settle time, and the last
// speed sample zero on every axis. MotionIdle alone is not enough: it stays set from the
// previous job until a jog's first packet has gone out. Nor is a quiet settle time: a reply
// damaged on the way that is the last one before the card falls silent leaves its wrong
// position standing for seconds; its speed sample (the jump) stands with it until a later
// sample of the card confirms where it stands.
bool LinkExercise::StandsStill(uint64_t nowMs) const {
  if (!c_.MotionIdle || m_.Jogging || m_.MoveQueueRead != m_.MoveQueueWrite) return false;
  for (int a = 0; a < kHostAxisCount; ++a) {
    if (m_.AxisSpeed[a] != 0) return false;
  }
  return nowMs - lastMoveMs_ >= kSettleMs;
}

// True once the jog has been released (or the dwell has run) and the machine stands still.
bool LinkExercise::InterludeOver(uint64_t nowMs) {
  if (interlude_ == Interlude::kHome || interlude_ == Interlude::kTouchOff) {
    return SequenceInterludeOver(nowMs);
  }
  const uint64_t held = nowMs - phaseSinceMs_;
  if (interlude_ == Interlude::kJog && !jogReleased_) {
    if (held < interludeMs_) return false;
    actions_.jogOff(actions_.context, jogAxis_);
    jogReleased_ = true;
  }
  if (interlude_ == Interlude::kJog && m_.Jogging && !jogRunOnSeen_ &&
      held >= interludeMs_ + kJogRunOnMs) {
    // The plug-in still jogs long after JogOff: a fault of its own, not of the next job.
    jogRunOnSeen_ = true;
    ++figures_.jogsRunOn;
    ++figures_.positionErrors;
    std::printf("jog of axis %d still running %llu ms after JogOff\n", jogAxis_,
                static_cast<unsigned long long>(held - interludeMs_));
  }
  return held >= interludeMs_ + kSettleMs && StandsStill(nowMs);
}

void LinkExercise::PressReset(uint64_t nowMs) {
  m_.EStop = 0;
  reset_(context_);
  ++figures_.resets;
  phase_ = Phase::kResetting;
  phaseSinceMs_ = nowMs;
}

void LinkExercise::StartJob(uint64_t nowMs) {
  for (int a = 0; a < kHostAxisCount; ++a) {
    jobStart_[a] = m_.Axes[a].PositionCounts;
    commanded_[a] = 0.0;
  }
  nextSlice_ = 0;
  ++jobNumber_;
  example_ = nullptr;
  if (examples_ != nullptr && !examples_->empty() && jobNumber_ % 4 == 0) {
    example_ = &(*examples_)[examplesStarted_++ % examples_->size()];
  }
  jobSlices_ = example_ != nullptr ? static_cast<int>(example_->slices.size()) : goals_.jobSlices;
  ++figures_.jobsStarted;
  c_.QueueDrain = 0;
  phase_ = Phase::kStreaming;
  phaseSinceMs_ = nowMs;
}

void LinkExercise::FillQueue() {
  while (nextSlice_ < jobSlices_) {
    const int used = (m_.MoveQueueWrite - m_.MoveQueueRead + kMoveQueueSize) % kMoveQueueSize;
    if (used >= kQueueLead) return;
    const int w = m_.MoveQueueWrite;
    for (int a = 0; a < kHostAxisCount; ++a) {
      double d = 0.0;
      if (a < kChannels) {
        d = example_ != nullptr ? example_->slices[static_cast<size_t>(nextSlice_)][a]
                                : SliceSteps(jobNumber_, nextSlice_, a);
      }
      c_.MoveQueue[w].MoveSteps[a] = d;
      commanded_[a] += d;
    }
    m_.MoveQueue[w].MoveTag = 1 + nextSlice_ / kSlicesPerTag;
    m_.MoveQueueWrite = (w + 1) % kMoveQueueSize;
    ++nextSlice_;
  }
  c_.QueueDrain = 1;  // the tail goes out only when the plug-in knows nothing follows
}

bool LinkExercise::EndedWhereCommanded() const {
  for (int a = 0; a < kChannels; ++a) {
    const int32_t expected =
        a < goals_.cardAxes ? static_cast<int32_t>(std::lround(commanded_[a])) : 0;
    if (m_.Axes[a].PositionCounts - jobStart_[a] != expected) return false;
  }
  return true;
}

void LinkExercise::CheckJob() {
  for (int a = 0; a < kChannels; ++a) {
    const int32_t moved = m_.Axes[a].PositionCounts - jobStart_[a];
    // A four-axis card has no fifth channel: nothing of that axis is sent or reported.
    const int32_t expected =
        a < goals_.cardAxes ? static_cast<int32_t>(std::lround(commanded_[a])) : 0;
    if (moved != expected) {
      ++figures_.positionErrors;
      const int64_t off = std::llabs(static_cast<int64_t>(moved) - expected);
      figures_.largestErrorSteps = static_cast<int32_t>(
          std::min<int64_t>(std::max<int64_t>(figures_.largestErrorSteps, off), INT32_MAX));
      std::printf("job %d%s%s axis %d: moved %d steps, commanded %d\n", jobNumber_,
                  example_ != nullptr ? " " : "", example_ != nullptr ? example_->name.c_str() : "",
                  a, moved, expected);
    }
  }
  ++figures_.jobsChecked;
  figures_.rowsStreamed += jobSlices_;
  if (example_ != nullptr) ++figures_.examplesChecked;
  if (figures_.restarts > 0) ++figures_.jobsAfterRestart;
}

void LinkExercise::CountExchange(uint64_t nowMs) {
  bool changed = false;
  for (int a = 0; a < kHostAxisCount; ++a) {
    if (m_.Axes[a].PositionCounts != seen_[a]) changed = true;
    seen_[a] = m_.Axes[a].PositionCounts;
  }
  if (changed) {
    ++figures_.exchanges;
    lastMoveMs_ = nowMs;
  }
}

void LinkExercise::Step(uint64_t nowMs) {
  if (finished()) return;
  if (nowMs > goals_.timeLimitMs && goals_.soak) {
    figures_.finishedMs = nowMs;
    if (sequence_ != Sequence::kNone) {
      ++(probing_ ? figures_.probingsUnsettled : figures_.homingsUnsettled);
    }
    Pass();
    return;
  }
  if (nowMs > goals_.timeLimitMs) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "time limit reached: %d exchanges, %d jobs checked, %d restarts",
                  figures_.exchanges, figures_.jobsChecked, figures_.restarts);
    Fail(text);
    return;
  }
  if (m_.SequenceEnded) {
    NoteSequenceEnd(nowMs);
    m_.SequenceEnded = 0;  // the host takes note of every end of a sequence and every reset
  }
  CountExchange(nowMs);
  switch (phase_) {
    case Phase::kAwaitLink:
      // The card powers up halted; its first reply puts the machine into emergency stop.
      if (!m_.EStop) return;
      figures_.linkUpMs = nowMs;
      PressReset(nowMs);
      return;
    case Phase::kResetting:
      if (m_.EStop) {
        // Still halted (the reset crossed the card's answer): press again a little later.
        if (nowMs - phaseSinceMs_ >= kReadyAfterMs) PressReset(nowMs);
        return;
      }
      if (nowMs - phaseSinceMs_ < kReadyAfterMs) return;
      // The reset's positions must have reached the host before the job's start is taken.
      if (goals_.soak && !StandsStill(nowMs)) return;
      if (haltSeenMs_ != 0) {
        figures_.longestRecoveryMs = std::max(figures_.longestRecoveryMs, nowMs - haltSeenMs_);
        haltSeenMs_ = 0;
      }
      if (!everReady_) figures_.readyMs = nowMs;
      everReady_ = true;
      CheckCutSequence();
      StartJob(nowMs);
      [[fallthrough]];
    case Phase::kStreaming:
    case Phase::kSettling:
    case Phase::kInterlude:
      if (m_.EStop) {
        // The card restarted (or its emergency stop was pressed, or the link was lost):
        // whatever was queued is gone with it.
        ++figures_.restarts;
        if (phase_ != Phase::kInterlude) ++figures_.jobsAbandoned;
        if (interlude_ == Interlude::kJog && !jogReleased_)
          actions_.jogOff(actions_.context, jogAxis_);
        NoteHaltDuringSequence();
        interlude_ = Interlude::kNone;
        haltSeenMs_ = nowMs;
        m_.MoveQueueWrite = m_.MoveQueueRead;
        PressReset(nowMs);
        return;
      }
      if (phase_ == Phase::kInterlude) {
        if (InterludeOver(nowMs) && phase_ == Phase::kInterlude) StartJob(nowMs);
        return;
      }
      if (phase_ == Phase::kStreaming) {
        FillQueue();
        if (nextSlice_ < jobSlices_ || m_.MoveQueueRead != m_.MoveQueueWrite || !c_.MotionIdle) {
          return;
        }
        phase_ = Phase::kSettling;
        phaseSinceMs_ = nowMs;
        return;
      }
      if (nowMs - phaseSinceMs_ < kSettleMs) return;
      // The end is read under the same rule as the start.
      if (goals_.soak && !StandsStill(nowMs)) return;
      if (goals_.soak && !rechecked_ && !EndedWhereCommanded()) {
        // A reply damaged on the way may show a wrong position until the next one: look
        // once more before counting.
        rechecked_ = true;
        phaseSinceMs_ = nowMs;
        return;
      }
      rechecked_ = false;
      CheckJob();
      if (goals_.soak) {
        StartInterlude(nowMs);
        return;
      }
      if (figures_.positionErrors > 0) {
        Fail("the card did not end where the job commanded");
        return;
      }
      if (figures_.exchanges >= goals_.exchanges && figures_.restarts >= goals_.restarts &&
          (goals_.restarts == 0 || figures_.jobsAfterRestart > 0)) {
        figures_.finishedMs = nowMs;
        Pass();
        return;
      }
      StartJob(nowMs);
      return;
    case Phase::kPassed:
    case Phase::kFailed:
      return;
  }
}

}  // namespace torvexan::e2e
