#include "sim/gcode/planner.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "sim/gcode/axes.h"

namespace torvexan::sim {
namespace {

constexpr double kReversalCosine = -0.999;  // corners sharper than this turn back: rest
constexpr double kNotYet = std::numeric_limits<double>::infinity();

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
  m->segment = s;
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
  // machine stops there, on a slice boundary (Settle), and cuts nothing.
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

bool Planner::Start(SegmentSource& source, const int64_t start[kHostAxisCount], JobError* error) {
  source_ = &source;
  moves_.clear();
  firstMove_ = 0;
  final_ = 0;
  entrySpeed_ = 0.0;
  nextStart_ = 0.0;
  finalEnd_ = 0.0;
  closed_ = false;
  error_.reset();
  movesPlanned_ = 0;
  slices_ = 0;
  seconds_ = 0.0;
  next_ = 1;
  cursor_ = 0;
  currentLine_ = 0;
  slicesWritten_ = 0;
  std::copy(start, start + kHostAxisCount, position_);
  std::copy(start, start + kHostAxisCount, end_);
  for (int a = 0; a < kHostAxisCount; ++a) last_[a] = static_cast<double>(start[a]);
  while (!SliceReady() && !AllFinal()) Replan();
  return !error_ || Refuse(error);
}

// Nothing of a run with a move that cannot be made before its first slice is planned.
bool Planner::Refuse(JobError* error) {
  *error = *error_;
  moves_.clear();
  final_ = 0;
  slices_ = 0;
  seconds_ = 0.0;
  for (int a = 0; a < kHostAxisCount; ++a) end_[a] = std::llround(last_[a]);
  return false;
}

bool Planner::Plan(const std::vector<PathSegment>& run, const int64_t start[kHostAxisCount],
                   JobError* error) {
  SegmentList list(run);
  if (!Start(list, start, error)) return false;
  while (!AllFinal()) Replan();
  return !error_ || Refuse(error);
}

void Planner::Finish() {
  for (;;) {
    moves_.erase(moves_.begin(), moves_.begin() + static_cast<std::ptrdiff_t>(final_));
    firstMove_ += final_;
    final_ = 0;
    cursor_ = 0;
    if (closed_ && moves_.empty()) break;
    Replan();
  }
}

void Planner::Close() {
  closed_ = true;
  source_ = nullptr;
  std::copy(position_, position_ + kHostAxisCount, end_);
}

// Takes up to count more moves from the source into the window.
void Planner::Pull(size_t count) {
  for (size_t added = 0; added < count && windowMoves() < kWindowMoves;) {
    PathSegment s;
    if (!source_->Next(&s)) return Close();
    PlannedMove m;
    JobError error;
    if (!PlanMove(s, position_, &m, &error)) {
      error_ = error;
      return Close();
    }
    if (m.length == 0.0) continue;  // already there
    // A rapid starts and ends at rest, like every move that asks for an exact stop.
    if (movesPlanned_ > 0) {
      const PlannedMove& in = moves_.back();
      m.entryCap = in.stopAtEnd || m.rapid ? 0.0 : CornerSpeed(in, m);
    }
    m.startSeconds = moves_.size() == final_ ? nextStart_ : kNotYet;
    for (int a = 0; a < kHostAxisCount; ++a) {
      if (m.to[a] != m.from[a]) movedAxes_ |= 1u << a;
    }
    std::copy(m.to, m.to + kHostAxisCount, position_);
    moves_.push_back(m);
    ++movesPlanned_;
    ++added;
  }
}

// Speeds through the window: at every corner as high as the corner allows and as the moves
// on both sides can still reach or shed, the window's end taken as a stop while the run goes
// on. Backwards, a corner whose own limit binds is the same whatever follows the window
// (what follows could only raise the speeds after it), so everything before it is final.
void Planner::Settle(bool force) {
  const size_t n = moves_.size();
  const size_t first = final_;
  if (first == n) return;
  corner_.assign(n - first + 1, 0.0);  // corner_[i - first]: speed entering move i
  size_t settle = closed_ ? n : first;
  for (size_t i = n; --i > first;) {
    const PlannedMove& m = moves_[i];
    const double next = corner_[i + 1 - first];
    const double reach = std::sqrt(next * next + 2.0 * m.aMax * m.length);
    if (m.entryCap <= reach) {
      corner_[i - first] = m.entryCap;
      if (settle == first) settle = i;
    } else {
      corner_[i - first] = reach;
    }
  }
  if (settle == first && force) settle = std::min(n - 1, first + kChunkMoves);
  double v0 = entrySpeed_;
  double t = nextStart_;
  for (size_t i = first; i < settle; ++i) {
    PlannedMove& m = moves_[i];
    const double v1 =
        std::min(corner_[i + 1 - first], std::sqrt(v0 * v0 + 2.0 * m.aMax * m.length));
    m.profile = BuildTrapezoid(m.length, v0, v1, m.vMax, m.aMax);
    m.startSeconds = t;
    t += m.profile.duration;
    finalEnd_ = t;
    // A corner the machine stops at ends a slice: a slice across it would cut it short. The
    // machine stands still until the next boundary.
    if (i + 1 < n && v1 == 0.0) t = std::ceil(t / kSliceSeconds - 1e-9) * kSliceSeconds;
    v0 = v1;
  }
  entrySpeed_ = v0;
  nextStart_ = t;
  final_ = settle;
  if (settle < n) moves_[settle].startSeconds = t;
  seconds_ = closed_ ? finalEnd_ : t;
  if (AllFinal()) {
    // A tiny tolerance keeps a run that ends on a slice boundary from getting an empty slice.
    slices_ = movesPlanned_ == 0
                  ? 0
                  : std::max<int64_t>(
                        1, static_cast<int64_t>(std::ceil(seconds_ / kSliceSeconds - 1e-9)));
  } else {
    slices_ = static_cast<int64_t>(std::floor(finalEnd_ / kSliceSeconds));
  }
}

void Planner::Replan() {
  DropHistory();  // a queue's worth of microscopic moves must not pile up within one fill
  if (!closed_) Pull(kChunkMoves);
  Settle(windowMoves() >= kWindowMoves);
}

// Slice next_ lies within the final moves. While the run goes on, it is never its last.
bool Planner::SliceReady() const {
  if (AllFinal()) return next_ <= slices_;
  if (final_ == 0) return false;
  const double t = static_cast<double>(next_) * kSliceSeconds;
  return t <= finalEnd_ && static_cast<double>(next_) < finalEnd_ / kSliceSeconds - 1e-9;
}

void Planner::PositionAt(int64_t k, double out[kHostAxisCount]) const {
  if (moves_.empty() || (AllFinal() && k >= slices_)) {
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

bool Planner::TakeSlice(double steps[kHostAxisCount], int* line) {
  while (!SliceReady()) {
    if (AllFinal()) return false;
    Replan();
  }
  double after[kHostAxisCount];
  PositionAt(next_, after);
  *line = AllFinal() && next_ >= slices_ ? moves_.back().line : moves_[cursor_].line;
  for (int a = 0; a < kHostAxisCount; ++a) {
    steps[a] = after[a] - last_[a];
    last_[a] = after[a];
  }
  ++next_;
  return true;
}

// Forgets final moves well behind the last slice written, keeping the one it lies in.
void Planner::DropHistory() {
  const double keepFrom = static_cast<double>(next_ - 1 - kHistorySlices) * kSliceSeconds;
  while (cursor_ > 0) {
    const PlannedMove& m = moves_.front();
    if (m.startSeconds + m.profile.duration >= keepFrom && cursor_ <= kHistoryMoves) break;
    moves_.pop_front();
    --final_;
    --cursor_;
    ++firstMove_;
  }
}

Planner::Status Planner::Fill(HostMachine& machine, HostControl& control) {
  // The plug-in owns MoveQueueRead; reduce it into the ring in case it wandered off.
  const int read = ((machine.MoveQueueRead % kMoveQueueSize) + kMoveQueueSize) % kMoveQueueSize;
  int write = ((machine.MoveQueueWrite % kMoveQueueSize) + kMoveQueueSize) % kMoveQueueSize;
  // One entry always stays empty: a full ring would look the same as an empty one.
  int free = (read - write - 1 + kMoveQueueSize) % kMoveQueueSize;
  bool more = true;
  while (free > 0 && (more = TakeSlice(control.MoveQueue[write].MoveSteps, &currentLine_))) {
    machine.MoveQueue[write].MoveTag = currentLine_;
    write = (write + 1) % kMoveQueueSize;
    --free;
    ++slicesWritten_;
  }
  machine.MoveQueueWrite = write;
  DropHistory();
  return more && !(AllFinal() && next_ > slices_) ? Status::kQueueFull : Status::kDone;
}

}  // namespace torvexan::sim
