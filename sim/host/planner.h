// The host's planner: turns a job into 5 ms slices of fractional steps and writes them into
// the free entries of the host's move queue, each tagged with the job line it belongs to.
#pragma once

#include <cstdint>
#include <vector>

#include "state/host_records.h"
#include "sim/host/job_file.h"
#include "sim/host/trapezoid.h"

namespace torvexan::sim {

struct PlannedStep {
  JobStep::Kind kind;
  int line;
  // Moves: whole-step end points relative to the job's origin, so the slices of every move
  // add up to a whole number of steps and no fraction is left over at a move's end.
  int64_t from[kHostAxisCount];
  int64_t to[kHostAxisCount];
  Trapezoid profile;
  int64_t slices;
  double seconds;  // dwells
};

class Planner {
 public:
  enum class Status {
    kQueueFull,  // every free entry is written; call again when the plug-in has taken some
    kAtDwell,    // the next step is a dwell: let the queue run empty, dwell, then PassDwell()
    kDone,       // the whole job is in the queue
  };

  // Plans the whole job with the steps per unit, velocities and accelerations of the host's
  // control record. Moves that cannot be planned are left out and listed in errors().
  Planner(const Job& job, const HostControl& limits);

  const std::vector<JobError>& errors() const { return errors_; }
  const std::vector<PlannedStep>& steps() const { return steps_; }

  // Card positions (steps) the job's coordinates start from.
  void SetOrigin(const int32_t counts[kHostAxisCount]);

  // Writes slices into the entries from MoveQueueWrite up to (not including) the entry just
  // before MoveQueueRead, and advances MoveQueueWrite past them.
  Status Fill(HostMachine& machine, HostControl& control);
  double DwellSeconds() const;
  void PassDwell();

  int moveCount() const { return moveCount_; }
  int dwellCount() const { return dwellCount_; }
  int64_t totalSlices() const { return totalSlices_; }
  double dwellSeconds() const { return dwellSeconds_; }
  int64_t slicesWritten() const { return slicesWritten_; }
  // Line of the step being written (the last one when done).
  int currentLine() const;

  // The exact sum of every fractional step count written for axis a.
  double CommandedSum(int a) const { return commanded_[a]; }
  // The position in steps the card must reach: origin plus the rounded sum.
  int64_t CommandedEnd(int a) const;
  // The end points of the job in units for axis a (origin at 0), one per planned move.
  std::vector<double> PathOf(int a) const;

 private:
  void PlanMove(const JobStep& step, const HostControl& limits, int64_t position[]);
  void WriteSlice(const PlannedStep& move, int32_t tag, HostControl& control, int entry,
                  HostMachine& machine);

  std::vector<PlannedStep> steps_;
  std::vector<JobError> errors_;
  double stepsPerUnit_[kHostAxisCount] = {};
  int moveCount_ = 0;
  int dwellCount_ = 0;
  int64_t totalSlices_ = 0;
  double dwellSeconds_ = 0.0;

  int32_t origin_[kHostAxisCount] = {};
  size_t next_ = 0;                           // step being written
  int64_t nextSlice_ = 1;                     // slice of that step to write next, 1-based
  double lastPosition_[kHostAxisCount] = {};  // steps, at the end of the last slice written
  double commanded_[kHostAxisCount] = {};
  int64_t slicesWritten_ = 0;
};

}  // namespace torvexan::sim
