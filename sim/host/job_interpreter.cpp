#include "sim/host/job_interpreter.h"

#include <algorithm>

#include "sim/host/arc_geometry.h"

namespace torvexan::sim {
namespace {

// The arc's plane as host axes: first, second (counter-clockwise seen from the positive
// third axis) and the axis across it.
struct PlaneAxes {
  int first, second, across;
};

PlaneAxes AxesOf(Plane p) {
  switch (p) {
    case Plane::kZX:
      return {2, 0, 1};
    case Plane::kYZ:
      return {1, 2, 0};
    case Plane::kXY:
      break;
  }
  return {0, 1, 2};
}

}  // namespace

Interpreter::Interpreter(const Job& job, double chordTolerance,
                         const double referenced[kHostAxisCount])
    : job_(job), tolerance_(chordTolerance) {
  std::copy(referenced, referenced + kHostAxisCount, referenced_);
}

void Interpreter::SetPosition(const double machine[kHostAxisCount]) {
  std::copy(machine, machine + kHostAxisCount, position_);
}

std::optional<JobAction> Interpreter::Next() {
  while (pending_.empty() && !error_ && next_ < job_.blocks.size()) Expand(job_.blocks[next_++]);
  if (pending_.empty() || error_) return std::nullopt;
  JobAction action = pending_.front();
  pending_.pop_front();
  return action;
}

void Interpreter::Target(const Block& b, double target[kHostAxisCount]) const {
  for (int a = 0; a < kHostAxisCount; ++a) {
    if (!b.hasAxis[a]) {
      target[a] = position_[a];
    } else {
      target[a] = b.incremental ? position_[a] + b.axis[a] : b.axis[a] + offset_[a];
    }
  }
}

// A block's parts in the order a control carries them out: spindle, user code, dwell, the
// non-modal codes, motion, stop.
void Interpreter::Expand(const Block& b) {
  JobAction action;
  action.line = b.line;
  if (b.hasSpeed) speed_ = b.speed;
  if (b.spindle != SpindleTurn::kNone) {
    JobAction spindle = action;
    spindle.kind = JobAction::Kind::kSpindle;
    spindle.spindle = b.spindle;
    spindle.speed = speed_;
    pending_.push_back(spindle);
  }
  if (b.userCode != 0) {
    JobAction user = action;
    user.kind = JobAction::Kind::kUserCode;
    user.code = b.userCode;
    pending_.push_back(user);
  }
  double target[kHostAxisCount];
  Target(b, target);
  switch (b.nonModal) {
    case NonModal::kDwell: {
      JobAction dwell = action;
      dwell.kind = JobAction::Kind::kDwell;
      dwell.seconds = b.dwellSeconds;
      pending_.push_back(dwell);
      break;
    }
    case NonModal::kReference: {
      JobAction reference = action;
      reference.kind = JobAction::Kind::kReference;
      // Z first, so the tool leaves the work before anything moves across it.
      for (int a : {2, 0, 1, 3, 4, 5}) {
        if (!b.hasAxis[a]) continue;
        reference.axisOrder[reference.axisCount++] = a;
        position_[a] = referenced_[a];
      }
      pending_.push_back(reference);
      break;
    }
    case NonModal::kReturnToZero: {
      bool any = false;
      for (bool has : b.hasAxis) any |= has;
      Move(b, target, true);  // through the point the axis words name
      double zero[kHostAxisCount];
      for (int a = 0; a < kHostAxisCount; ++a)
        zero[a] = (!any || b.hasAxis[a]) ? 0.0 : position_[a];
      Move(b, zero, true);
      break;
    }
    case NonModal::kSetOffset:
      for (int a = 0; a < kHostAxisCount; ++a) {
        if (b.hasAxis[a]) offset_[a] = position_[a] - b.axis[a];
      }
      break;
    case NonModal::kNone:
      break;
  }
  if (b.moves) {
    switch (b.motion) {
      case MotionMode::kRapid:
        Move(b, target, true);
        break;
      case MotionMode::kFeed:
        Move(b, target, false);
        break;
      case MotionMode::kArcCw:
      case MotionMode::kArcCcw:
        Arc(b, target);
        break;
      case MotionMode::kProbe: {
        JobAction probe = action;
        probe.kind = JobAction::Kind::kProbe;
        probe.move.line = b.line;
        probe.move.feedPerMinute = b.feedPerMinute;
        std::copy(target, target + kHostAxisCount, probe.move.target);
        std::copy(target, target + kHostAxisCount, position_);
        pending_.push_back(probe);
        break;
      }
      case MotionMode::kNone:
        break;
    }
  }
  if (b.stop == ProgramStop::kPause || b.stop == ProgramStop::kOptionalPause) {
    JobAction pause = action;
    pause.kind = JobAction::Kind::kPause;
    pause.optional = b.stop == ProgramStop::kOptionalPause;
    pending_.push_back(pause);
  }
}

void Interpreter::Move(const Block& b, const double target[kHostAxisCount], bool rapid) {
  bool moves = false;
  for (int a = 0; a < kHostAxisCount; ++a) moves |= target[a] != position_[a];
  if (!moves) return;
  JobAction move;
  move.kind = JobAction::Kind::kMove;
  move.line = b.line;
  move.move.line = b.line;
  move.move.rapid = rapid;
  move.move.exactStop = b.exactStop;
  move.move.feedPerMinute = b.feedPerMinute;
  std::copy(target, target + kHostAxisCount, move.move.target);
  std::copy(target, target + kHostAxisCount, position_);
  pending_.push_back(move);
}

void Interpreter::Arc(const Block& b, const double target[kHostAxisCount]) {
  const PlaneAxes p = AxesOf(b.plane);
  const double sx = position_[p.first], sy = position_[p.second];
  const double ex = target[p.first], ey = target[p.second];
  const bool clockwise = b.motion == MotionMode::kArcCw;
  sim::Arc arc;
  std::string why;
  const bool ok = b.hasRadius ? ArcWithRadius(sx, sy, ex, ey, b.radius, clockwise, &arc, &why)
                              : ArcAroundCentre(sx, sy, ex, ey, sx + b.centre[p.first],
                                                sy + b.centre[p.second], clockwise, &arc, &why);
  if (!ok) {
    error_ = JobError{b.line, why};
    return;
  }
  const int slices = SliceCount(arc, tolerance_);
  double start[kHostAxisCount];
  std::copy(position_, position_ + kHostAxisCount, start);
  for (int i = 1; i <= slices; ++i) {
    double point[kHostAxisCount];
    if (i == slices) {
      std::copy(target, target + kHostAxisCount, point);  // exactly the programmed end
    } else {
      const double f = static_cast<double>(i) / slices;
      // The axes off the plane (a helix's third axis, rotary axes) run evenly along the arc.
      for (int a = 0; a < kHostAxisCount; ++a) point[a] = start[a] + (target[a] - start[a]) * f;
      PointOnArc(arc, f, &point[p.first], &point[p.second]);
    }
    JobAction slice;
    slice.kind = JobAction::Kind::kMove;
    slice.line = b.line;
    slice.move.line = b.line;
    slice.move.feedPerMinute = b.feedPerMinute;
    slice.move.exactStop = b.exactStop && i == slices;
    std::copy(point, point + kHostAxisCount, slice.move.target);
    pending_.push_back(slice);
  }
  std::copy(target, target + kHostAxisCount, position_);
}

}  // namespace torvexan::sim
