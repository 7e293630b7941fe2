#include "sim/host/planner.h"

#include <cmath>
#include <limits>
#include <string>

#include "sim/host/machine_setup.h"

namespace torvexan::sim {
namespace {

bool Usable(double value) {
  return std::isfinite(value) && value > 0.0;
}

}  // namespace

Planner::Planner(const Job& job, const HostControl& limits) {
  int64_t position[kHostAxisCount] = {};
  for (int a = 0; a < kHostAxisCount; ++a) stepsPerUnit_[a] = limits.StepsPerUnit[a];
  for (const JobStep& step : job.steps) {
    if (step.kind == JobStep::Kind::kDwell) {
      PlannedStep dwell{JobStep::Kind::kDwell, step.line, {}, {}, {}, 0, step.seconds};
      steps_.push_back(dwell);
      ++dwellCount_;
      dwellSeconds_ += step.seconds;
    } else {
      PlanMove(step, limits, position);
    }
  }
}

void Planner::PlanMove(const JobStep& step, const HostControl& limits, int64_t position[]) {
  PlannedStep move{JobStep::Kind::kMove, step.line, {}, {}, {}, 0, 0.0};
  double lengthSquared = 0.0;
  for (int a = 0; a < kHostAxisCount; ++a) {
    const double spu = limits.StepsPerUnit[a];
    move.from[a] = position[a];
    move.to[a] = position[a];
    const double target = std::round(step.target[a] * spu);
    if (!std::isfinite(target) || std::fabs(target) > std::numeric_limits<int32_t>::max()) {
      errors_.push_back({step.line, std::string("axis ") + kAxisLetters[a] +
                                        " target cannot be reached in 32-bit steps"});
      return;
    }
    move.to[a] = static_cast<int64_t>(target);
    if (move.to[a] == move.from[a]) continue;
    if (!Usable(spu)) {
      errors_.push_back(
          {step.line, std::string("axis ") + kAxisLetters[a] + " has no usable steps per unit"});
      return;
    }
    const double units = static_cast<double>(move.to[a] - move.from[a]) / spu;
    lengthSquared += units * units;
  }
  const double length = std::sqrt(lengthSquared);
  if (length == 0.0) return;  // already there: nothing to queue

  // Each axis keeps to its own limits: the path speed is cut by the share of the path that
  // axis covers.
  double vMax = step.rapid ? std::numeric_limits<double>::infinity() : step.feedPerMinute / 60.0;
  double aMax = std::numeric_limits<double>::infinity();
  for (int a = 0; a < kHostAxisCount; ++a) {
    if (move.to[a] == move.from[a]) continue;
    const double share =
        std::fabs(static_cast<double>(move.to[a] - move.from[a]) / limits.StepsPerUnit[a]) / length;
    if (!Usable(limits.MaxVelocity[a]) || !Usable(limits.Acceleration[a])) {
      errors_.push_back({step.line, std::string("axis ") + kAxisLetters[a] +
                                        " has no usable velocity or acceleration"});
      return;
    }
    vMax = std::fmin(vMax, limits.MaxVelocity[a] / share);
    aMax = std::fmin(aMax, limits.Acceleration[a] / share);
  }
  if (!Usable(vMax)) {
    errors_.push_back({step.line, "feed rate must be positive"});
    return;
  }
  move.profile = BuildTrapezoid(length, vMax, aMax);
  // A tiny tolerance keeps a profile that ends on a slice boundary from getting an empty slice.
  move.slices = std::max<int64_t>(
      1, static_cast<int64_t>(std::ceil(move.profile.duration / kSliceSeconds - 1e-9)));
  for (int a = 0; a < kHostAxisCount; ++a) position[a] = move.to[a];
  steps_.push_back(move);
  ++moveCount_;
  totalSlices_ += move.slices;
}

void Planner::SetOrigin(const int32_t counts[kHostAxisCount]) {
  for (int a = 0; a < kHostAxisCount; ++a) origin_[a] = counts[a];
}

Planner::Status Planner::Fill(HostMachine& machine, HostControl& control) {
  // The plug-in owns MoveQueueRead; reduce it into the ring in case it wandered off.
  const int read = ((machine.MoveQueueRead % kMoveQueueSize) + kMoveQueueSize) % kMoveQueueSize;
  int write = ((machine.MoveQueueWrite % kMoveQueueSize) + kMoveQueueSize) % kMoveQueueSize;
  // One entry always stays empty: a full ring would look the same as an empty one.
  int free = (read - write - 1 + kMoveQueueSize) % kMoveQueueSize;
  while (next_ < steps_.size()) {
    const PlannedStep& step = steps_[next_];
    if (step.kind == JobStep::Kind::kDwell) break;
    if (free == 0) break;
    WriteSlice(step, step.line, control, write, machine);
    write = (write + 1) % kMoveQueueSize;
    --free;
    if (++nextSlice_ > step.slices) {
      nextSlice_ = 1;
      ++next_;
    }
  }
  machine.MoveQueueWrite = write;
  if (next_ >= steps_.size()) return Status::kDone;
  return steps_[next_].kind == JobStep::Kind::kDwell ? Status::kAtDwell : Status::kQueueFull;
}

void Planner::WriteSlice(const PlannedStep& move, int32_t tag, HostControl& control, int entry,
                         HostMachine& machine) {
  const bool last = nextSlice_ == move.slices;
  const double fraction =
      last ? 1.0
           : move.profile.Position(static_cast<double>(nextSlice_) * kSliceSeconds) /
                 move.profile.length;
  machine.MoveQueue[entry].MoveTag = tag;
  double* slice = control.MoveQueue[entry].MoveSteps;
  for (int a = 0; a < kHostAxisCount; ++a) {
    const double from = static_cast<double>(move.from[a]);
    const double span = static_cast<double>(move.to[a] - move.from[a]);
    const double position = last ? static_cast<double>(move.to[a]) : from + span * fraction;
    const double previous = nextSlice_ == 1 ? from : lastPosition_[a];
    slice[a] = position - previous;
    lastPosition_[a] = position;
    commanded_[a] += slice[a];
  }
  ++slicesWritten_;
}

double Planner::DwellSeconds() const {
  return next_ < steps_.size() && steps_[next_].kind == JobStep::Kind::kDwell
             ? steps_[next_].seconds
             : 0.0;
}

void Planner::PassDwell() {
  if (next_ < steps_.size() && steps_[next_].kind == JobStep::Kind::kDwell) ++next_;
}

int Planner::currentLine() const {
  if (steps_.empty()) return 0;
  return steps_[next_ < steps_.size() ? next_ : steps_.size() - 1].line;
}

int64_t Planner::CommandedEnd(int a) const {
  return origin_[a] + std::llround(commanded_[a]);
}

std::vector<double> Planner::PathOf(int a) const {
  std::vector<double> path{0.0};
  for (const PlannedStep& step : steps_) {
    if (step.kind == JobStep::Kind::kMove) {
      path.push_back(static_cast<double>(step.to[a]) / stepsPerUnit_[a]);
    }
  }
  return path;
}

}  // namespace torvexan::sim
