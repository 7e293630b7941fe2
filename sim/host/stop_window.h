// The stretch of a planned run a stopped card can stand on: from the move of the line the card
// last reported it was running to the last slice the plug-in took from the queue. The card
// never runs backwards and never runs rows it was not sent, so where it came to rest is
// somewhere on this stretch, or nowhere on the commanded path at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/gcode/gcode.h"

namespace torvexan::sim {

struct PathMatch {
  int64_t slice = 0;  // of the run (0 = its start)
  size_t move = 0;    // index of the planned move in the run
  int line = 0;
};

class StopWindow {
 public:
  StopWindow() = default;
  // planner: the run as planned, its history behind the slices written and the moves ahead;
  // slicesTaken: how far the plug-in took it; cardLine: the line of the card's last reported
  // move tag, 0 when it reported none in this run (the stretch then begins where the history
  // does).
  StopWindow(const Planner& planner, int64_t slicesTaken, int cardLine);

  bool empty() const { return moves_.empty(); }
  // Whether the stretch reaches back to the card's line: microscopic moves can outnumber the
  // planner's history within the queue, and the moves before it are gone.
  bool whole() const { return whole_; }
  int64_t firstSlice() const { return firstSlice_; }
  int64_t lastSlice() const { return lastSlice_; }
  // The last slice of the stretch at which the machine stands within toleranceSteps of at
  // (steps, every axis): a machine that stood still for a while matches several.
  std::optional<PathMatch> Match(const double at[kHostAxisCount], double toleranceSteps) const;
  // Where the commanded path stands after slice k (clamped to the stretch), fractional steps.
  void PositionAt(int64_t k, double out[kHostAxisCount]) const;
  // The move the card's line names: the first of the last moves in a row of that line the
  // plug-in had begun taking.
  PathMatch MoveOfCardLine() const;
  // Where move number move of the run (one the stretch touches) begins, steps.
  void StartOf(size_t move, double out[kHostAxisCount]) const;

 private:
  size_t MoveAt(int64_t k) const;

  std::vector<PlannedMove> moves_;  // those the stretch touches
  size_t firstMove_ = 0;            // index of moves_[0] in the run
  int64_t firstSlice_ = 0;
  int64_t lastSlice_ = 0;
  bool whole_ = true;
};

}  // namespace torvexan::sim
