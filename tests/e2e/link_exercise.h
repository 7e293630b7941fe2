// What an end-to-end host does with the plug-in and a card it cannot see into: it waits for
// the card's power-up halt to show up in its records (the link is up), clears it and presses
// reset as an operator would, then streams one job after another through the move queue and
// checks after each that the positions the card reports are exactly the commanded ones. Every
// reported change of position is one exchange the host has seen. A halt that comes back later
// is the card restarting: the job in progress is abandoned and the machine reset again.
//
// Plain C++ on the host records only, so that the Linux host and the Windows host under Wine
// run the same checks; the caller owns the clock and the plug-in's calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "example_jobs.h"
#include "state/host_records.h"

namespace torvexan::e2e {

struct ExerciseGoals {
  int cardAxes = 5;          // 4: the fifth axis must never move (the card has no channel)
  int32_t exchanges = 2000;  // position reports to see before finishing
  int32_t restarts = 1;      // card restarts to live through
  uint64_t timeLimitMs = 600000;
  int jobSlices = 1000;  // 5 ms slices per job
  // Soak: runs until the time limit and then passes; a job that does not end where it was
  // commanded is counted (a violation), not the end of the run.
  bool soak = false;
};

// What the host does between jobs in a soak: jogs, dwells, homing and probing through the
// plug-in's entry points. Null functions are never called.
struct HostActions {
  void (*jogOn)(void* context, int axis, int direction, double speed) = nullptr;
  void (*jogOff)(void* context, int axis) = nullptr;
  void (*dwell)(void* context, double seconds) = nullptr;
  void (*home)(void* context, int axis) = nullptr;
  void (*probe)(void* context) = nullptr;
  void* context = nullptr;
  uint64_t seed = 1;
};

// The machine around the card as far as homing and probing need it. X, Y and Z each reference
// on a switch (the host's HomeNegative says on which side); Z's switch is above the work and
// the probe touches the work's top this far below it. The host's steps per unit, velocities,
// home speeds and signal tables describe the rest.
struct SoakMachine {
  int homedAxes = 3;                // host axes 0.. that have a home switch
  int32_t probeDepthSteps = 22500;  // Z's home switch down to the probe surface; 0: no probe
  double pullOffUnits = 5.0;        // the plug-in's pull-off after referencing (its default)
  double probeFeed = 4.0;           // units per second
  // The card reports where the probe tripped (the Ethernet cards); the USB card does not, so
  // there only where the axis stopped is checked.
  bool probeLatched = true;
};

struct ExerciseFigures {
  uint64_t linkUpMs = 0;  // the card's halt first reached the host
  uint64_t readyMs = 0;   // first reset took
  int32_t exchanges = 0;
  int32_t jobsChecked = 0;
  int32_t jobsAfterRestart = 0;
  int32_t jobsAbandoned = 0;
  int32_t restarts = 0;
  int32_t resets = 0;
  int32_t positionErrors = 0;     // axes of jobs (not stopped) that did not end step-exact
  int32_t largestErrorSteps = 0;  // the largest of those errors
  int32_t jogsRunOn = 0;          // jogs still under way long after JogOff
  int32_t jobsStarted = 0;
  int32_t jogs = 0;
  int32_t dwells = 0;
  int32_t rowsStreamed = 0;  // slices of jobs that ended and were checked
  int32_t homingsStarted = 0;
  int32_t homingsCompleted = 0;  // ended homed, at the reference plus the pull-off
  int32_t homingsAborted = 0;    // cut by a halt, or ended without the axis homed
  int32_t probingsStarted = 0;
  int32_t probingsCompleted = 0;  // stopped at the probe surface and reported it
  int32_t probingsAborted = 0;    // cut by a halt: no probe result
  int32_t sequenceErrors = 0;     // homings and probings that broke one of the rules above
  // Not yet judged when the soak's time ran out (at most one sequence runs at a time).
  int32_t homingsUnsettled = 0;
  int32_t probingsUnsettled = 0;
  int32_t examplesChecked = 0;     // of the jobs checked, example jobs
  uint64_t longestRecoveryMs = 0;  // from a halt seen to the machine ready again
  uint64_t finishedMs = 0;
};

// Everything counted against the plug-in: jobs off, jogs run on, homing and probing faults.
int32_t Violations(const ExerciseFigures& f);

// One line of a soak's figures on standard output, labelled and stamped with the time.
void PrintSoakFigures(const char* label, uint64_t nowMs, const ExerciseFigures& f);

class LinkExercise {
 public:
  using ResetFn = void (*)(void* context);

  LinkExercise(HostMachine& machine, HostControl& control, const ExerciseGoals& goals,
               ResetFn reset, void* context)
      : m_(machine), c_(control), goals_(goals), reset_(reset), context_(context) {}

  // Between jobs (soak only): jogs, dwells, homing and probing now and then.
  void SetActions(const HostActions& actions, const SoakMachine& machine = SoakMachine{}) {
    actions_ = actions;
    machine_ = machine;
  }
  // Every fourth job is the next of these, in turn (the caller keeps them).
  void SetExampleJobs(const std::vector<ExampleJob>* jobs) { examples_ = jobs; }

  // One look at the records after the plug-in's timers ran; nowMs counts from the start.
  void Step(uint64_t nowMs);

  bool finished() const { return phase_ == Phase::kPassed || phase_ == Phase::kFailed; }
  bool passed() const { return phase_ == Phase::kPassed; }
  const ExerciseFigures& figures() const { return figures_; }
  // What went wrong, or a summary of what was seen.
  const std::string& verdict() const { return verdict_; }

 private:
  enum class Phase { kAwaitLink, kResetting, kStreaming, kSettling, kInterlude, kPassed, kFailed };
  enum class Interlude { kNone, kJog, kDwell, kHome, kTouchOff };
  // Where a homing or probing stands as the host sees it.
  enum class Sequence { kNone, kRunning, kEnded, kEndedAtHalt, kCut };

  void PressReset(uint64_t nowMs);
  void StartJob(uint64_t nowMs);
  void StartInterlude(uint64_t nowMs);
  bool InterludeOver(uint64_t nowMs);
  bool StartHoming(int axis, uint64_t nowMs);
  bool StartProbing(uint64_t nowMs);
  void BeginSequence(bool probing, uint64_t nowMs);
  bool SequenceInterludeOver(uint64_t nowMs);
  void NoteSequenceEnd(uint64_t nowMs);
  void NoteHaltDuringSequence();
  void CheckCutSequence();
  bool HomedWhereExpected() const;
  bool ProbedAtSurface(int32_t z) const;
  bool ProbedWhereExpected() const;
  void CheckHoming(bool settled);
  void CheckProbing(bool settled);
  void SequenceFault(const char* what);
  uint32_t Random();
  void FillQueue();
  bool EndedWhereCommanded() const;
  void CheckJob();
  void CountExchange(uint64_t nowMs);
  bool StandsStill(uint64_t nowMs) const;
  void Fail(const std::string& why);
  void Pass();

  HostMachine& m_;
  HostControl& c_;
  ExerciseGoals goals_;
  ResetFn reset_;
  void* context_;

  Phase phase_ = Phase::kAwaitLink;
  ExerciseFigures figures_;
  std::string verdict_;
  bool everReady_ = false;
  uint64_t phaseSinceMs_ = 0;
  int32_t seen_[kHostAxisCount] = {};
  int32_t jobStart_[kHostAxisCount] = {};
  double commanded_[kHostAxisCount] = {};
  int nextSlice_ = 0;
  int jobSlices_ = 0;  // of the job under way
  int jobNumber_ = 0;
  const std::vector<ExampleJob>* examples_ = nullptr;
  const ExampleJob* example_ = nullptr;  // the job under way, unless a generated one
  size_t examplesStarted_ = 0;
  HostActions actions_;
  SoakMachine machine_;
  Interlude interlude_ = Interlude::kNone;
  uint64_t interludeMs_ = 0;  // how long the jog is held or the dwell lasts
  int jogAxis_ = 0;
  bool jogReleased_ = false;
  bool jogRunOnSeen_ = false;
  uint64_t lastMoveMs_ = 0;  // when a reported position last changed
  uint64_t haltSeenMs_ = 0;  // 0: no recovery under way
  uint64_t randomState_ = 0;
  bool rechecked_ = false;

  // The homing or probing of the current interlude.
  Sequence sequence_ = Sequence::kNone;
  bool probing_ = false;  // else homing
  int homeAxis_ = 0;
  uint64_t sequenceSinceMs_ = 0;
  int32_t reference_ = 0;   // HomeReferenceCounts of the homed axis
  int32_t zReference_ = 0;  // Z's reference of the touch-off's homing (the probe's frame)
  int32_t beforeProbe_[kHostAxisCount] = {};
};

}  // namespace torvexan::e2e
