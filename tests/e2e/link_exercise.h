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

#include "state/host_records.h"

namespace torvexan::e2e {

struct ExerciseGoals {
  int cardAxes = 5;          // 4: the fifth axis must never move (the card has no channel)
  int32_t exchanges = 2000;  // position reports to see before finishing
  int32_t restarts = 1;      // card restarts to live through
  uint64_t timeLimitMs = 600000;
  int jobSlices = 1000;  // 5 ms slices per job
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
  int32_t positionErrors = 0;
  uint64_t finishedMs = 0;
};

class LinkExercise {
 public:
  using ResetFn = void (*)(void* context);

  LinkExercise(HostMachine& machine, HostControl& control, const ExerciseGoals& goals,
               ResetFn reset, void* context)
      : m_(machine), c_(control), goals_(goals), reset_(reset), context_(context) {}

  // One look at the records after the plug-in's timers ran; nowMs counts from the start.
  void Step(uint64_t nowMs);

  bool finished() const { return phase_ == Phase::kPassed || phase_ == Phase::kFailed; }
  bool passed() const { return phase_ == Phase::kPassed; }
  const ExerciseFigures& figures() const { return figures_; }
  // What went wrong, or a summary of what was seen.
  const std::string& verdict() const { return verdict_; }

 private:
  enum class Phase { kAwaitLink, kResetting, kStreaming, kSettling, kPassed, kFailed };

  void PressReset(uint64_t nowMs);
  void StartJob(uint64_t nowMs);
  void FillQueue();
  void CheckJob();
  void CountExchange();
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
  int jobNumber_ = 0;
};

}  // namespace torvexan::e2e
