#include "link_exercise.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

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

// A different smooth path on every axis and every job, a little over one step per slice at
// its fastest, so that the card moves in every 5 ms period and reports new positions.
double SliceSteps(int job, int slice, int axis) {
  const double t = slice * 0.005;
  return (0.9 + 0.25 * axis) * std::sin(t * (1.3 + 0.4 * axis) + job + axis) + 0.2;
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

void PrintSoakFigures(const char* label, uint64_t nowMs, const ExerciseFigures& f) {
  std::printf(
      "%s %6.0f s: jobs %d started, %d step-exact checked (example jobs %d), %d stopped; rows "
      "%d; jogs %d, dwells %d; halts %d, resets %d, longest recovery %.1f s; violations %d\n",
      label, nowMs / 1000.0, f.jobsStarted, f.jobsChecked, f.examplesChecked, f.jobsAbandoned,
      f.rowsStreamed, f.jogs, f.dwells, f.restarts, f.resets, f.longestRecoveryMs / 1000.0,
      f.positionErrors);
  std::fflush(stdout);
}

uint32_t LinkExercise::Random() {
  if (randomState_ == 0)
    randomState_ = actions_.seed * 6364136223846793005ULL + 1442695040888963407ULL;
  randomState_ = randomState_ * 6364136223846793005ULL + 1442695040888963407ULL;
  return static_cast<uint32_t>(randomState_ >> 33);
}

// After a checked job in a soak: a short jog of X, Y or Z, a dwell, or nothing.
void LinkExercise::StartInterlude(uint64_t nowMs) {
  const uint32_t pick = Random() % 4;
  interlude_ = Interlude::kNone;
  if (pick == 0 && actions_.jogOn != nullptr && actions_.jogOff != nullptr) {
    interlude_ = Interlude::kJog;
    jogAxis_ = static_cast<int>(Random() % 3);
    jogReleased_ = false;
    jogRunOnSeen_ = false;
    interludeMs_ = 150 + Random() % 500;
    ++figures_.jogs;
    // The host passes 0 for a jog towards plus and anything else for one towards minus.
    actions_.jogOn(actions_.context, jogAxis_, static_cast<int>(Random() % 2),
                   20.0 + Random() % 60);
  } else if (pick == 1 && actions_.dwell != nullptr) {
    interlude_ = Interlude::kDwell;
    interludeMs_ = 100 + Random() % 400;
    ++figures_.dwells;
    actions_.dwell(actions_.context, interludeMs_ / 1000.0);
  }
  phase_ = Phase::kInterlude;
  phaseSinceMs_ = nowMs;
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
  if (m_.SequenceEnded) m_.SequenceEnded = 0;  // the host takes note of every reset
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
        interlude_ = Interlude::kNone;
        haltSeenMs_ = nowMs;
        m_.MoveQueueWrite = m_.MoveQueueRead;
        PressReset(nowMs);
        return;
      }
      if (phase_ == Phase::kInterlude) {
        if (InterludeOver(nowMs)) StartJob(nowMs);
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
