// The host's planner: turns a run of straight moves into 5 ms slices of fractional steps and
// writes them into the free entries of the host's move queue, each tagged with its job line.
// Consecutive feed moves blend at their corners (constant velocity): the speed through a
// corner is limited so that no axis changes speed within one slice by more than its share of
// its acceleration, and so that a slice across it cuts it by no more than G64 P. Rapids, G61
// moves, reversals and corners that P leaves no speed for come to rest at their ends, on a
// slice boundary.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/gcode/job_interpreter.h"
#include "sim/gcode/trapezoid.h"
#include "state/host_records.h"

namespace torvexan::sim {

// Shares of an axis's acceleration: along the path, and for the change of direction at a
// blended corner. Together they never exceed the axis's limit.
inline constexpr double kPathAccelShare = 0.75;
inline constexpr double kCornerAccelShare = 1.0 - kPathAccelShare;

struct PlannedMove {
  int line = 0;
  int64_t from[kHostAxisCount] = {};  // steps
  int64_t to[kHostAxisCount] = {};
  double unit[kHostAxisCount] = {};  // direction in units, length 1
  double length = 0.0;               // units
  double vMax = 0.0;                 // units per second
  double aMax = 0.0;                 // units per second squared
  bool rapid = false;                // as fast as the axes allow, from rest to rest
  bool stopAtEnd = false;
  double blendTolerance = 0.0;  // G64 P, units; 0 for none
  Trapezoid profile;
  double startSeconds = 0.0;  // from the start of the run
};

class Planner {
 public:
  enum class Status {
    kQueueFull,  // every free entry is written; call again when the plug-in has taken some
    kDone,       // the whole run is in the queue
  };

  // Steps per unit, velocities and accelerations from the host's control record.
  explicit Planner(const HostControl& limits);

  // Plans moves that start at start (steps). False, with the line and reason, for a move
  // that cannot be made; nothing of the run is planned then.
  bool Plan(const std::vector<PathSegment>& run, const int64_t start[kHostAxisCount],
            JobError* error);

  // Writes slices into the entries from MoveQueueWrite up to (not including) the entry just
  // before MoveQueueRead, and advances MoveQueueWrite past them.
  Status Fill(HostMachine& machine, HostControl& control);

  const std::vector<PlannedMove>& moves() const { return moves_; }
  int64_t slices() const { return slices_; }
  double seconds() const { return seconds_; }
  // Where the run ends (steps); where it started while nothing is planned.
  const int64_t* end() const { return end_; }
  // Position in fractional steps after slice k of the run (0 = the start).
  void PositionAt(int64_t k, double out[kHostAxisCount]) const;
  // Line of the slice written last.
  int currentLine() const { return currentLine_; }
  int64_t slicesWritten() const { return slicesWritten_; }

 private:
  bool PlanMove(const PathSegment& s, const int64_t from[kHostAxisCount], PlannedMove* m,
                JobError* error) const;
  double CornerSpeed(const PlannedMove& in, const PlannedMove& out) const;
  void BlendSpeeds();

  double stepsPerUnit_[kHostAxisCount];
  double maxVelocity_[kHostAxisCount];
  double acceleration_[kHostAxisCount];

  std::vector<PlannedMove> moves_;
  int64_t end_[kHostAxisCount] = {};
  int64_t slices_ = 0;
  double seconds_ = 0.0;
  int64_t next_ = 1;           // slice to write next, 1-based
  mutable size_t cursor_ = 0;  // move that holds the last position looked up
  int currentLine_ = 0;
  int64_t slicesWritten_ = 0;
};

}  // namespace torvexan::sim
