// What a job's moves reach, checked before anything moves: the extents of every axis, in the
// program's coordinates and the machine's, and the moves that would leave an axis's travel,
// which the host refuses as its soft limits would.
#pragma once

#include <set>
#include <utility>
#include <vector>

#include "sim/gcode/gcode.h"
#include "sim/host/machine_setup.h"

namespace torvexan::sim {

// The travel of every axis, and whether a move beyond it stops the job or only warns.
struct TravelLimits {
  AxisTravel axis[kHostAxisCount];
  bool warnOnly = false;
};

// How far one axis moved over the whole job (units); empty when it never moved.
struct AxisExtent {
  bool moved = false;
  double programMin = 0.0, programMax = 0.0;
  double machineMin = 0.0, machineMax = 0.0;
};

class TravelCheck {
 public:
  explicit TravelCheck(const TravelLimits& limits) : limits_(limits) {}

  // A move of line from `from` to `to` (machine units) under offsets. An axis counts when the
  // move changes it: one the job never moves may stand anywhere.
  void Move(int line, const double from[kHostAxisCount], const double to[kHostAxisCount],
            const WorkOffsets& offsets);

  const AxisExtent& extent(int axis) const { return extents_[axis]; }
  // One per line and axis beyond the travel, in the order the job runs them.
  const std::vector<JobError>& beyond() const { return beyond_; }
  bool warnOnly() const { return limits_.warnOnly; }

 private:
  TravelLimits limits_;
  AxisExtent extents_[kHostAxisCount];
  std::vector<JobError> beyond_;
  std::set<std::pair<int, int>> reported_;  // (line, axis)
};

// "X 3000.000 lies beyond the travel -30.000 .. 270.000 (machine coordinates)"
std::string BeyondTravelText(int axis, double position, const AxisTravel& travel);

}  // namespace torvexan::sim
