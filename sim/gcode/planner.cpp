#include "sim/gcode/planner.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "sim/gcode/axes.h"

namespace torvexan::sim {
namespace {

constexpr double kReversalCosine = -0.999;  // corners sharper than this turn back: rest

bool Usable(double value) {
  return std::isfinite(value) && value > 0.0;
}

}  // namespace

Planner::Planner(const HostControl& limits) {
  for (int a = 0; a < kHostAxisCount; ++a) {
    stepsPerUnit_[a] = limits.StepsPerUnit[a];
    maxVelocity_[a] = limits.MaxVelocity[a];
    acceleration_[a] = limits.Acceleration[a];
  }
}

bool Planner::PlanMove(const PathSegment& s, const int64_t from[kHostAxisCount], PlannedMove* m,
                       JobError* error) const {
  m->line = s.line;
  double units[kHostAxisCount] = {};
  double lengthSquared = 0.0;
  for (int a = 0; a < kHostAxisCount; ++a) {
    const double spu = stepsPerUnit_[a];
    m->from[a] = from[a];
    const double target = std::round(s.target[a] * spu);
    if (!std::isfinite(target) || std::fabs(target) > std::numeric_limits<int32_t>::max()) {
      *error = {s.line, std::string("axis ") + kAxisLetters[a] +
                            " target cannot be reached in 32-bit steps"};
      return false;
    }
    m->to[a] = static_cast<int64_t>(target);
    if (m->to[a] == m->from[a]) continue;
    if (!Usable(spu)) {
      *error = {s.line, std::string("axis ") + kAxisLetters[a] + " has no usable steps per unit"};
      return false;
    }
    units[a] = static_cast<double>(m->to[a] - m->from[a]) / spu;
    lengthSquared += units[a] * units[a];
  }
  m->length = std::sqrt(lengthSquared);
  if (m->length == 0.0) return true;  // already there
  // Each axis keeps to its own limits: the path's are cut by the share of the path that axis
  // covers.
  m->vMax = s.rapid ? std::numeric_limits<double>::infinity() : s.feedPerMinute / 60.0;
  m->aMax = std::numeric_limits<double>::infinity();
  for (int a = 0; a < kHostAxisCount; ++a) {
    m->unit[a] = units[a] / m->length;
    if (units[a] == 0.0) continue;
    if (!Usable(maxVelocity_[a]) || !Usable(acceleration_[a])) {
      *error = {s.line,
                std::string("axis ") + kAxisLetters[a] + " has no usable velocity or acceleration"};
      return false;
    }
    const double share = std::fabs(m->unit[a]);
    m->vMax = std::fmin(m->vMax, maxVelocity_[a] / share);
    m->aMax = std::fmin(m->aMax, kPathAccelShare * acceleration_[a] / share);
  }
  if (!Usable(m->vMax)) {
    *error = {s.line, "feed rate must be positive"};
    return false;
  }
  m->rapid = s.rapid;
  m->stopAtEnd = s.rapid || s.exactStop;
  m->blendTolerance = s.blendTolerance;
  return true;
}

// The fastest speed through the corner between two moves: within one slice each axis's
// speed may change by its corner share of acceleration times the slice.
double Planner::CornerSpeed(const PlannedMove& in, const PlannedMove& out) const {
  double cosine = 0.0;
  for (int a = 0; a < kHostAxisCount; ++a) cosine += in.unit[a] * out.unit[a];
  if (cosine <= kReversalCosine) return 0.0;
  double v = std::min(in.vMax, out.vMax);
  for (int a = 0; a < kHostAxisCount; ++a) {
    const double turn = std::fabs(out.unit[a] - in.unit[a]);
    if (turn > 0.0) v = std::min(v, kCornerAccelShare * acceleration_[a] * kSliceSeconds / turn);
  }
  // G64 P: a slice straddling the corner cuts it by up to a quarter of its length times the
  // change of direction. Its length is the corner's speed times the slice plus what the
  // acceleration adds within it; where the tolerance leaves no speed for the corner, the
  // machine stops there, on a slice boundary (BlendSpeeds), and cuts nothing.
  const double tolerance = std::min(in.blendTolerance, out.blendTolerance);
  if (tolerance > 0.0) {
    double change = 0.0;
    for (int a = 0; a < kHostAxisCount; ++a) {
      change += (out.unit[a] - in.unit[a]) * (out.unit[a] - in.unit[a]);
    }
    change = std::sqrt(change);
    const double accel = std::max(in.aMax, out.aMax);
    if (change > 0.0) {
      v = std::min(v, 4.0 * tolerance / (kSliceSeconds * change) - accel * kSliceSeconds / 2.0);
    }
  }
  return std::max(v, 0.0);
}

// Speeds at every corner: as high as the corner allows and as the moves on both sides can
// still reach or shed, then a profile per move.
void Planner::BlendSpeeds() {
  const size_t n = moves_.size();
  std::vector<double> corner(n + 1, 0.0);  // corner[i]: speed entering move i
  for (size_t i = 1; i < n; ++i) {
    const PlannedMove& in = moves_[i - 1];
    const PlannedMove& out = moves_[i];
    // A rapid starts and ends at rest, like every move that asks for an exact stop.
    corner[i] = in.stopAtEnd || out.rapid ? 0.0 : CornerSpeed(in, out);
  }
  for (size_t i = n; i-- > 0;) {
    const PlannedMove& m = moves_[i];
    corner[i] =
        std::min(corner[i], std::sqrt(corner[i + 1] * corner[i + 1] + 2.0 * m.aMax * m.length));
  }
  for (size_t i = 0; i < n; ++i) {
    const PlannedMove& m = moves_[i];
    corner[i + 1] =
        std::min(corner[i + 1], std::sqrt(corner[i] * corner[i] + 2.0 * m.aMax * m.length));
  }
  double t = 0.0;
  for (size_t i = 0; i < n; ++i) {
    PlannedMove& m = moves_[i];
    m.profile = BuildTrapezoid(m.length, corner[i], corner[i + 1], m.vMax, m.aMax);
    m.startSeconds = t;
    t += m.profile.duration;
    // A corner the machine stops at ends a slice: a slice across it would cut it short. The
    // machine stands still until the next boundary.
    if (i + 1 < n && corner[i + 1] == 0.0) t = std::ceil(t / kSliceSeconds - 1e-9) * kSliceSeconds;
  }
  seconds_ = t;
}

bool Planner::Plan(const std::vector<PathSegment>& run, const int64_t start[kHostAxisCount],
                   JobError* error) {
  moves_.clear();
  moves_.shrink_to_fit();  // the run before may have been far longer
  moves_.reserve(run.size());
  std::copy(start, start + kHostAxisCount, end_);
  int64_t position[kHostAxisCount];
  std::copy(start, start + kHostAxisCount, position);
  for (const PathSegment& s : run) {
    PlannedMove m;
    if (!PlanMove(s, position, &m, error)) {
      moves_.clear();
      return false;
    }
    if (m.length == 0.0) continue;
    std::copy(m.to, m.to + kHostAxisCount, position);
    moves_.push_back(m);
  }
  BlendSpeeds();
  std::copy(position, position + kHostAxisCount, end_);
  // A tiny tolerance keeps a run that ends on a slice boundary from getting an empty slice.
  slices_ =
      moves_.empty()
          ? 0
          : std::max<int64_t>(1, static_cast<int64_t>(std::ceil(seconds_ / kSliceSeconds - 1e-9)));
  next_ = 1;
  cursor_ = 0;
  return true;
}

void Planner::PositionAt(int64_t k, double out[kHostAxisCount]) const {
  if (moves_.empty() || k >= slices_) {
    for (int a = 0; a < kHostAxisCount; ++a) out[a] = static_cast<double>(end_[a]);
    return;
  }
  const double t = static_cast<double>(k) * kSliceSeconds;
  if (cursor_ >= moves_.size() || moves_[cursor_].startSeconds > t) cursor_ = 0;
  while (cursor_ + 1 < moves_.size() && moves_[cursor_ + 1].startSeconds <= t) ++cursor_;
  const PlannedMove& m = moves_[cursor_];
  const double fraction = m.profile.Position(t - m.startSeconds) / m.length;
  for (int a = 0; a < kHostAxisCount; ++a) {
    const double from = static_cast<double>(m.from[a]);
    out[a] = from + (static_cast<double>(m.to[a]) - from) * fraction;
  }
}

Planner::Status Planner::Fill(HostMachine& machine, HostControl& control) {
  // The plug-in owns MoveQueueRead; reduce it into the ring in case it wandered off.
  const int read = ((machine.MoveQueueRead % kMoveQueueSize) + kMoveQueueSize) % kMoveQueueSize;
  int write = ((machine.MoveQueueWrite % kMoveQueueSize) + kMoveQueueSize) % kMoveQueueSize;
  // One entry always stays empty: a full ring would look the same as an empty one.
  int free = (read - write - 1 + kMoveQueueSize) % kMoveQueueSize;
  double before[kHostAxisCount];
  double after[kHostAxisCount];
  while (next_ <= slices_ && free > 0) {
    PositionAt(next_ - 1, before);
    PositionAt(next_, after);
    currentLine_ = next_ >= slices_ ? moves_.back().line : moves_[cursor_].line;
    machine.MoveQueue[write].MoveTag = currentLine_;
    double* slice = control.MoveQueue[write].MoveSteps;
    for (int a = 0; a < kHostAxisCount; ++a) slice[a] = after[a] - before[a];
    write = (write + 1) % kMoveQueueSize;
    --free;
    ++next_;
    ++slicesWritten_;
  }
  machine.MoveQueueWrite = write;
  return next_ > slices_ ? Status::kDone : Status::kQueueFull;
}

}  // namespace torvexan::sim
