// The host's planner: turns a run of straight moves into 5 ms slices of fractional steps and
// writes them into the free entries of the host's move queue, each tagged with its job line.
// Consecutive feed moves blend at their corners (constant velocity): the speed through a
// corner is limited so that no axis changes speed within one slice by more than its share of
// its acceleration, and so that a slice across it cuts it by no more than G64 P. Rapids, G61
// moves, reversals and corners that P leaves no speed for come to rest at their ends, on a
// slice boundary.
//
// A run is planned as it streams in, through a window of moves whose speeds are not yet
// settled: the end of the window is taken as a stop, and a move is final once the moves
// after it are long enough that no stop at the window's end could slow it. Final moves are
// sliced; a bounded history of them stays behind the slices written, for judging where a
// stopped machine stands. Memory does not grow with the run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>
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
  double entryCap = 0.0;        // the fastest the corner into this move allows
  Trapezoid profile;
  // From the start of the run; for a move not yet final, infinite (its time is not known),
  // except for the first of them, which starts where the last final one ends.
  double startSeconds = 0.0;
  PathSegment segment;  // what the move was planned from
};

// Where a run's moves come from, one at a time.
class SegmentSource {
 public:
  virtual ~SegmentSource() = default;
  // The next move of the run; false when the run ends (a host action or the job's end).
  virtual bool Next(PathSegment* segment) = 0;
};

// A run held whole, for short runs.
class SegmentList final : public SegmentSource {
 public:
  explicit SegmentList(std::vector<PathSegment> run) : run_(std::move(run)) {}
  bool Next(PathSegment* segment) override {
    if (next_ >= run_.size()) return false;
    *segment = run_[next_++];
    return true;
  }

 private:
  std::vector<PathSegment> run_;
  size_t next_ = 0;
};

class Planner {
 public:
  enum class Status {
    kQueueFull,  // every free entry is written; call again when the plug-in has taken some
    kDone,       // the whole run is in the queue
  };

  // Moves whose speeds may still change. A run of microscopic moves could otherwise grow the
  // window without end; at this size the first of them are settled as though the machine
  // stopped at the window's end, which is always safe but may be slower than the run allows.
  static constexpr size_t kWindowMoves = 4096;
  // Moves settled at once when the window grows: a replan costs the window, not one move.
  static constexpr size_t kChunkMoves = 256;
  // Final moves kept behind the last slice written: the plug-in's queue and the card's buffer
  // (199 rows), with room to spare, in time and in number.
  static constexpr int64_t kHistorySlices = kMoveQueueSize + 199 + 1024;
  static constexpr size_t kHistoryMoves = 16384;

  // Steps per unit, velocities and accelerations from the host's control record.
  explicit Planner(const HostControl& limits);

  // Begins a run at start (steps) whose moves come from source, which must outlive the run,
  // and plans its first moves. False, with the line and reason, for a move among them that
  // cannot be made; nothing of the run is planned then. A later move that cannot be made ends
  // the run where it starts, at rest (error() tells).
  bool Start(SegmentSource& source, const int64_t start[kHostAxisCount], JobError* error);
  // A whole run at once: every move final, none dropped until slices are written.
  bool Plan(const std::vector<PathSegment>& run, const int64_t start[kHostAxisCount],
            JobError* error);
  // Plans the rest of the run without writing it, keeping only its totals (the check).
  void Finish();

  // Writes slices into the entries from MoveQueueWrite up to (not including) the entry just
  // before MoveQueueRead, and advances MoveQueueWrite past them.
  Status Fill(HostMachine& machine, HostControl& control);
  // The next slice (steps per axis) and its line; false when the run is through.
  bool TakeSlice(double steps[kHostAxisCount], int* line);

  // The run's retained moves: the history behind the slices written, then the window.
  const std::deque<PlannedMove>& moves() const { return moves_; }
  // The index in the run of moves()[0].
  size_t firstMove() const { return firstMove_; }
  size_t finalMoves() const { return final_; }
  size_t windowMoves() const { return moves_.size() - final_; }
  // Whether the source has said the run ends here.
  bool closed() const { return closed_; }
  // A move that could not be made, which ended the run early.
  const std::optional<JobError>& error() const { return error_; }
  // Moves (that move the machine) planned in this run so far, and the axes any run moved.
  int64_t movesPlanned() const { return movesPlanned_; }
  unsigned movedAxes() const { return movedAxes_; }
  // The run's slices and seconds: those of its final moves so far, the whole run's once it
  // is closed and every move is final.
  int64_t slices() const { return slices_; }
  double seconds() const { return seconds_; }
  // Where the run ends (steps), once closed; where it started while nothing is planned.
  const int64_t* end() const { return end_; }
  // Position in fractional steps after slice k of the run (0 = the start); k within the
  // final moves retained.
  void PositionAt(int64_t k, double out[kHostAxisCount]) const;
  // Line of the slice written last, and the slices of the run written.
  int currentLine() const { return currentLine_; }
  int64_t slicesWritten() const { return slicesWritten_; }

 private:
  bool PlanMove(const PathSegment& s, const int64_t from[kHostAxisCount], PlannedMove* m,
                JobError* error) const;
  double CornerSpeed(const PlannedMove& in, const PlannedMove& out) const;
  void Pull(size_t count);
  void Close();
  bool Refuse(JobError* error);
  void Settle(bool force);
  void Replan();
  bool AllFinal() const { return closed_ && final_ == moves_.size(); }
  bool SliceReady() const;
  void DropHistory();

  double stepsPerUnit_[kHostAxisCount];
  double maxVelocity_[kHostAxisCount];
  double acceleration_[kHostAxisCount];

  SegmentSource* source_ = nullptr;
  std::deque<PlannedMove> moves_;
  std::vector<double> corner_;  // the backward pass over the window, reused
  size_t firstMove_ = 0;
  size_t final_ = 0;         // moves_[0..final_) are final
  double entrySpeed_ = 0.0;  // settled speed into moves_[final_]
  double nextStart_ = 0.0;   // when moves_[final_] starts
  double finalEnd_ = 0.0;    // when the last final move ends
  bool closed_ = false;
  std::optional<JobError> error_;
  int64_t position_[kHostAxisCount] = {};  // where the last move pulled ends
  int64_t end_[kHostAxisCount] = {};
  int64_t movesPlanned_ = 0;
  unsigned movedAxes_ = 0;
  int64_t slices_ = 0;
  double seconds_ = 0.0;
  int64_t next_ = 1;                  // slice to write next, 1-based
  double last_[kHostAxisCount] = {};  // position after slice next_ - 1
  mutable size_t cursor_ = 0;         // move that holds the last position looked up
  int currentLine_ = 0;
  int64_t slicesWritten_ = 0;
};

}  // namespace torvexan::sim
