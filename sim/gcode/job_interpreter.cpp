#include "sim/gcode/job_interpreter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "sim/gcode/arc_slices.h"
#include "sim/gcode/tool_table.h"

namespace torvexan::sim {
namespace {

// A line that neither moves nor has the machine do anything that must wait for the held
// move (a comment, a feed, coolant): the compensated path goes on across it.
bool Quiet(const Block& b) {
  return !b.moves && b.nonModal == NonModal::kNone && b.spindle == SpindleTurn::kNone &&
         b.userCode == 0 && !b.changeTool && b.stop == ProgramStop::kNone && b.probeLog == 0 &&
         b.toolLength == ToolLength::kKeep;
}

// An arc's way round and its R as the machine cuts them: a mirroring G51 turns the arc the
// other way, and equal factors in the plane scale R (its sign still picks the long arc).
bool Clockwise(const Block& b) {
  const PlaneAxes p = AxesOf(b.plane);
  return (b.motion == MotionMode::kArcCw) != b.scaling.Mirrors(p.first, p.second);
}
double ScaledRadius(const Block& b) {
  return b.scaling.on ? b.radius * std::fabs(b.scaling.factor[AxesOf(b.plane).first]) : b.radius;
}

// X and Y of p as G16 reads them: the radius and the angle (degrees, counter-clockwise from
// +X) about the program's origin; and back.
void ToPolar(double p[2]) {
  const double r = std::hypot(p[0], p[1]);
  p[1] = std::atan2(p[1], p[0]) * (180.0 / 3.14159265358979323846);
  p[0] = r;
}
void FromPolar(double p[2]) {
  Rotation turn;
  turn.on = true;
  turn.degrees = p[1];  // exact at whole quarter turns
  double v[2] = {p[0], 0.0};
  turn.Turn(v);
  p[0] = v[0];
  p[1] = v[1];
}

}  // namespace

Interpreter::Interpreter(const Job& job, double chordTolerance,
                         const double referenced[kHostAxisCount], const WorkOffsets& offsets)
    : job_(&job), reader_(job), tools_(job.tools), tolerance_(chordTolerance), offsets_(offsets) {
  std::copy(referenced, referenced + kHostAxisCount, referenced_);
}

void Interpreter::Tripped(size_t probe, const ProbeTrips& trips) {
  if (reader_.count() == probe + 1) {
    reader_.Tripped(&trips);
    return;
  }
  // Read past the probe already: read again with the trip points, up to where it stood.
  const size_t read = reader_.count();
  reader_ = BlockReader(job_->source, job_->tools, job_->init, &trips);
  while (reader_.count() < read && reader_.Next(&block_)) {
  }
}

void Interpreter::SetPosition(const double machine[kHostAxisCount]) {
  std::copy(machine, machine + kHostAxisCount, position_);
}

std::optional<JobAction> Interpreter::Next() {
  while (pending_.empty() && !error_ && reader_.Next(&block_, log_)) Expand(block_);
  if (pending_.empty() && reader_.finished()) FlushComp(nullptr);
  if (pending_.empty() || error_) return std::nullopt;
  JobAction action = pending_.front();
  pending_.pop_front();
  return action;
}

void Interpreter::Target(const Block& b, double target[kHostAxisCount]) const {
  for (int a = 0; a < kHostAxisCount; ++a) {
    if (!b.hasAxis[a]) {
      target[a] = position_[a];
    } else if (b.machineCoordinates) {
      target[a] = b.axis[a];  // G53: this line's words are machine positions
    } else {
      target[a] = b.incremental ? position_[a] + b.axis[a] : b.axis[a] + offsets_.Offset(a);
    }
  }
  if (!(b.rotation.on || b.scaling.on || b.polar) || b.machineCoordinates) return;
  // Under G16, G51 and G68 the words name a point of the plain program: where the machine
  // stands is carried back into it, the words applied there, and the point carried out again.
  double p[kHostAxisCount];
  for (int a = 0; a < kHostAxisCount; ++a) p[a] = position_[a] - offsets_.Offset(a);
  b.rotation.TurnPoint(p, true);
  b.scaling.Undo(p);
  const bool polar = b.polar && (b.hasAxis[0] || b.hasAxis[1]);
  if (polar) ToPolar(p);
  for (int a = 0; a < kHostAxisCount; ++a) {
    if (b.hasAxis[a]) p[a] = b.incremental ? p[a] + b.axis[a] : b.axis[a];
  }
  if (polar) FromPolar(p);
  b.scaling.Apply(p);
  b.rotation.TurnPoint(p);
  // An axis no word moves stays exactly where it stands; a turn or a polar word moves X and Y
  // together.
  const bool turned = (b.rotation.on || polar) && (b.hasAxis[0] || b.hasAxis[1]);
  for (int a = 0; a < kHostAxisCount; ++a) {
    if (b.hasAxis[a] || (turned && a < 2)) target[a] = p[a] + offsets_.Offset(a);
  }
}

// The centre of the block's arc (machine units) in its plane, for an arc from where the
// machine stands. G91.1 measures it from the start; G90.1 places it in the program's
// coordinates. Under G51 (equal factors in the plane) the offset or the point is scaled and
// under G68 (XY arcs only) turned with the program.
void Interpreter::ArcCentre(const Block& b, double* cx, double* cy) const {
  const PlaneAxes p = AxesOf(b.plane);
  double c[2] = {b.centre[p.first], b.centre[p.second]};
  if (b.scaling.on) {
    c[0] *= b.scaling.factor[p.first];
    c[1] *= b.scaling.factor[p.second];
  }
  if (b.arcCentreAbsolute) {
    b.rotation.TurnPoint(c);
    *cx = c[0] + offsets_.Offset(p.first);
    *cy = c[1] + offsets_.Offset(p.second);
  } else {
    b.rotation.Turn(c);
    *cx = position_[p.first] + c[0];
    *cy = position_[p.second] + c[1];
  }
}

const ToolEntry* Interpreter::FindTool(int number) const {
  for (const ToolEntry& t : tools_) {
    if (t.number == number) return &t;
  }
  return nullptr;
}

void Interpreter::Note(const Block& b, std::string text, int code) {
  JobAction note;
  note.kind = JobAction::Kind::kNote;
  note.code = code;
  note.line = b.line;
  note.text = std::move(text);
  pending_.push_back(std::move(note));
}

// A block's parts in the order a control carries them out: speed, tool, spindle, coolant,
// user code, dwell, tool length, coordinate system, the non-modal codes, motion, stop.
void Interpreter::Expand(const Block& b) {
  FlushComp(&b);
  JobAction action;
  action.line = b.line;
  const bool newSpeed = b.hasSpeed && b.speed != speed_;
  if (b.hasSpeed) speed_ = b.speed;
  Tools(b);
  if (b.spindle != SpindleTurn::kNone || (newSpeed && SpindleTurning())) {
    // An S on its own changes the speed of a turning spindle at once.
    JobAction spindle = action;
    spindle.kind = JobAction::Kind::kSpindle;
    spindle.spindle = b.spindle != SpindleTurn::kNone ? b.spindle : turning_;
    spindle.speed = speed_;
    if (b.spindle == SpindleTurn::kNone) spindle.text = "new speed";
    pending_.push_back(spindle);
    turning_ = spindle.spindle;
  }
  Coolant(b);
  if (b.userCode != 0) {
    JobAction user = action;
    user.kind = JobAction::Kind::kUserCode;
    user.code = b.userCode;
    pending_.push_back(user);
  }
  if (b.nonModal == NonModal::kDwell) {
    JobAction dwell = action;
    dwell.kind = JobAction::Kind::kDwell;
    dwell.seconds = b.dwellSeconds;
    pending_.push_back(dwell);
  }
  if (b.probeLog == 40) Note(b, "M40: probe log opened", 40);
  offsets_.Select(b.coordinateSystem);
  // The offsets a line sets count for its own motion.
  if (NonModalCodes(b) && b.moves) {
    double target[kHostAxisCount];
    Target(b, target);
    Motion(b, target);
  }
  if (b.motion != MotionMode::kCycle) cycleHeights_.active = false;
  if (b.probeLog == 41) Note(b, "M41: probe log closed", 41);
  if (b.stop == ProgramStop::kPause || b.stop == ProgramStop::kOptionalPause) {
    JobAction pause = action;
    pause.kind = JobAction::Kind::kPause;
    pause.optional = b.stop == ProgramStop::kOptionalPause;
    pending_.push_back(pause);
  }
}

// T, M6 and the tool length offset.
void Interpreter::Tools(const Block& b) {
  if (b.changeTool) {
    tool_ = b.tool;
    const ToolEntry* t = FindTool(tool_);
    char text[160];
    std::snprintf(text, sizeof text,
                  "M6: tool %d in the spindle (diameter %.3f mm, length %.3f mm%s)", tool_,
                  t != nullptr ? t->diameter : 0.0, t != nullptr ? t->length : 0.0,
                  t != nullptr ? "" : ", not in the tool table");
    Note(b, text);
  }
  switch (b.toolLength) {
    case ToolLength::kPlus:
    case ToolLength::kMinus: {
      const ToolEntry* t = FindTool(b.lengthTool >= 0 ? b.lengthTool : tool_);
      const double length = t != nullptr ? t->length : 0.0;
      offsets_.SetToolLength(b.toolLength == ToolLength::kPlus ? length : -length);
      break;
    }
    case ToolLength::kCancel:
      offsets_.SetToolLength(0.0);
      break;
    case ToolLength::kKeep:
      break;
  }
}

void Interpreter::Coolant(const Block& b) {
  if (b.coolant.mist) Note(b, "M7: mist coolant on", 7);
  if (b.coolant.flood) Note(b, "M8: flood coolant on", 8);
  if (b.coolant.off) Note(b, "M9: coolant off", 9);
}

// Referencing, return to zero and the offsets; false when the axis words were theirs.
bool Interpreter::NonModalCodes(const Block& b) {
  switch (b.nonModal) {
    case NonModal::kReference: {
      JobAction reference;
      reference.kind = JobAction::Kind::kReference;
      reference.line = b.line;
      // Z first, so the tool leaves the work before anything moves across it.
      for (int a : {2, 0, 1, 3, 4, 5}) {
        if (!b.hasAxis[a]) continue;
        reference.axisOrder[reference.axisCount++] = a;
        position_[a] = referenced_[a];
      }
      pending_.push_back(reference);
      return false;
    }
    case NonModal::kReturnToZero: {
      bool any = false;
      for (bool has : b.hasAxis) any |= has;
      double target[kHostAxisCount];
      Target(b, target);
      Move(b, target, true);  // through the point the axis words name
      double zero[kHostAxisCount];
      for (int a = 0; a < kHostAxisCount; ++a)
        zero[a] = (!any || b.hasAxis[a]) ? 0.0 : position_[a];
      Move(b, zero, true);
      return false;
    }
    case NonModal::kPocket:
      Pocket(b);
      return false;
    case NonModal::kSetTool:
      SetToolEntry(&tools_, b.tableTool, b.hasRadius ? &b.radius : nullptr,
                   b.hasAxis[2] ? &b.axis[2] : nullptr);
      return true;
    default:
      SetOffsets(b);
      return true;
  }
}

void Interpreter::SetOffsets(const Block& b) {
  for (int a = 0; a < kHostAxisCount; ++a) {
    if (!b.hasAxis[a]) continue;
    switch (b.nonModal) {
      case NonModal::kSetOffset:
        offsets_.SetG92(a, b.axis[a], position_[a]);
        break;
      case NonModal::kLocalOffset:
        offsets_.SetLocal(a, b.axis[a]);
        break;
      case NonModal::kSetSystem:
        offsets_.SetSystem(b.offsetSystem, a, b.axis[a]);
        break;
      case NonModal::kSetSystemHere:
        offsets_.SetSystemHere(b.offsetSystem, a, b.axis[a], position_[a]);
        break;
      default:
        break;
    }
  }
  if (b.nonModal == NonModal::kClearOffset) offsets_.ClearG92();
  if (b.nonModal == NonModal::kSuspendOffset) offsets_.SuspendG92();
  if (b.nonModal == NonModal::kRestoreOffset) offsets_.RestoreG92();
}

// The feed in mm per minute of the block's move: G95 by the spindle speed in force, G93 by the
// length of the programmed move (along the arc for G2/G3), which takes 1/F minutes.
bool Interpreter::FeedPerMinute(const Block& b, const double target[kHostAxisCount], double* feed) {
  *feed = b.feedPerMinute;
  if (b.motion == MotionMode::kRapid || b.feedMode == FeedMode::kPerMinute) return true;
  if (b.feedMode == FeedMode::kPerRevolution) {
    if (!(speed_ > 0.0)) {
      error_ = JobError{b.line, "feed per revolution (G95) with no spindle speed S"};
      return false;
    }
    *feed = b.feedPerMinute * speed_;
    return true;
  }
  double length = 0.0;
  for (int a = 0; a < 3; ++a) length += (target[a] - position_[a]) * (target[a] - position_[a]);
  length = std::sqrt(length);
  if (b.motion == MotionMode::kArcCw || b.motion == MotionMode::kArcCcw) {
    const PlaneAxes p = AxesOf(b.plane);
    const double sx = position_[p.first], sy = position_[p.second];
    double cx = 0.0, cy = 0.0;
    ArcCentre(b, &cx, &cy);
    sim::Arc arc;
    std::string why;
    const bool clockwise = Clockwise(b);
    const bool ok = b.hasRadius
                        ? ArcWithRadius(sx, sy, target[p.first], target[p.second], ScaledRadius(b),
                                        clockwise, &arc, &why, kArcEndSlackInchMm)
                        : ArcAroundCentre(sx, sy, target[p.first], target[p.second], cx, cy,
                                          clockwise, &arc, &why, kArcEndSlackInchMm);
    if (ok) {
      const double along = std::fabs(arc.sweep) * (arc.r0 + arc.r1) / 2.0;
      const double across = target[p.across] - position_[p.across];
      length = std::hypot(along, across);
    }
  }
  if (length == 0.0) {  // rotary axes alone: degrees
    for (int a = 3; a < kHostAxisCount; ++a)
      length = std::max(length, std::fabs(target[a] - position_[a]));
  }
  *feed = length * b.feedPerMinute;
  if (!(*feed > 0.0)) *feed = b.feedPerMinute;  // a move of no length takes no time
  return true;
}

void Interpreter::Motion(const Block& programmed, const double target[kHostAxisCount]) {
  double feed = 0.0;
  if (!FeedPerMinute(programmed, target, &feed)) return;
  Block b = programmed;
  b.feedPerMinute = feed;
  const bool arc = b.motion == MotionMode::kArcCw || b.motion == MotionMode::kArcCcw;
  // The tool stands a radius off the programmed point: the move that leaves it is a line.
  if (arc && leavingComp_) {
    error_ = JobError{b.line, "'G40': the move that ends cutter compensation must be straight"};
    return;
  }
  switch (b.motion) {
    case MotionMode::kRapid:
    case MotionMode::kFeed:
      if (!Compensate(b, target, b.motion == MotionMode::kRapid, nullptr))
        Move(b, target, b.motion == MotionMode::kRapid);
      break;
    case MotionMode::kArcCw:
    case MotionMode::kArcCcw:
      Arc(b, target);
      break;
    case MotionMode::kCycle:
      Cycle(b);
      break;
    case MotionMode::kProbe: {
      JobAction probe;
      probe.kind = JobAction::Kind::kProbe;
      probe.line = b.line;
      probe.block = reader_.count() - 1;
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

// Under G41/G42 with a tool of some width a move goes through the compensation; false when
// it does not apply.
bool Interpreter::Compensate(const Block& b, const double target[kHostAxisCount], bool rapid,
                             const CompArc* arc) {
  if (b.cutterComp == CutterComp::kOff || b.compRadius <= 0.0) return false;
  PathSegment seg;
  seg.line = b.line;
  seg.rapid = rapid;
  seg.exactStop = b.exactStop;
  seg.blendTolerance = b.blendTolerance;
  seg.tool = tool_;
  seg.feedPerMinute = b.feedPerMinute;
  std::copy(target, target + kHostAxisCount, seg.target);
  const PlaneAxes p = AxesOf(b.plane);
  const CompSetup setup{b.cutterComp == CutterComp::kLeft, b.compRadius, tolerance_, p.first,
                        p.second};
  std::vector<PathSegment> out;
  std::string why;
  if (!comp_.Move(seg, position_, arc, setup, &out, &why)) {
    char radius[48];
    std::snprintf(radius, sizeof radius, " (tool radius %.3f mm)", b.compRadius);
    error_ = JobError{b.line, std::string(setup.left ? "'G41': " : "'G42': ") + why + radius};
    return true;
  }
  PushMoves(out);
  std::copy(target, target + kHostAxisCount, position_);  // the programmed point
  return true;
}

void Interpreter::PushMoves(const std::vector<PathSegment>& moves) {
  for (const PathSegment& s : moves) {
    JobAction move;
    move.line = s.line;
    move.move = s;
    pending_.push_back(move);
  }
}

// The move compensation held back goes out before anything else the block does, unless the
// block goes on with the compensated path; G40 ends it there.
void Interpreter::FlushComp(const Block* b) {
  if (!comp_.started()) return;
  const bool goesOn =
      b != nullptr && b->cutterComp != CutterComp::kOff && b->compRadius > 0.0 &&
      ((b->moves && b->nonModal == NonModal::kNone && b->motion != MotionMode::kCycle &&
        b->motion != MotionMode::kProbe && b->motion != MotionMode::kNone) ||
       Quiet(*b));
  if (goesOn) return;
  std::vector<PathSegment> out;
  comp_.Flush(&out);
  PushMoves(out);
  if (b == nullptr || b->cutterComp == CutterComp::kOff) {
    comp_.Reset();
    leavingComp_ = true;
  }
}

void Interpreter::Cycle(const Block& b) {
  const bool turns = SpindleTurning();
  std::string name = "G";
  name += std::to_string(b.cycle.code);
  // The cycle would restart a spindle that was meant to stand still.
  if (CycleTurnsSpindle(b.cycle.code) && !turns) {
    std::string why = "'";
    why += name;
    why += "': the spindle is not turning (M3 or M4 before the cycle)";
    error_ = JobError{b.line, why};
    return;
  }
  cycle_.clear();
  ExpandCycle(b, position_, offsets_, turning_, &cycleHeights_, &cycle_);
  for (const CycleStep& s : cycle_) {
    JobAction a;
    a.line = b.line;
    switch (s.kind) {
      case CycleStep::Kind::kRapid:
      case CycleStep::Kind::kFeed:
        Move(b, s.target, s.kind == CycleStep::Kind::kRapid);
        continue;
      case CycleStep::Kind::kDwell:
        a.kind = JobAction::Kind::kDwell;
        a.seconds = s.seconds;
        break;
      case CycleStep::Kind::kSpindle:
        a.kind = JobAction::Kind::kSpindle;
        a.spindle = s.spindle;
        a.speed = speed_;
        a.text = name;
        break;
      case CycleStep::Kind::kOrient:
        a.kind = JobAction::Kind::kNote;
        a.text = "G87: spindle orient (the plug-in has no spindle orientation: nothing moves)";
        break;
      case CycleStep::Kind::kPause:
        a.kind = JobAction::Kind::kNote;
        a.text = "G88: program stop at the bottom for the operator: the operator resumes at once";
        break;
    }
    pending_.push_back(std::move(a));
  }
}

void Interpreter::Move(const Block& b, const double target[kHostAxisCount], bool rapid) {
  bool moves = false;
  for (int a = 0; a < kHostAxisCount; ++a) moves |= target[a] != position_[a];
  // After G40 the tool stands off the programmed point: a move there still moves.
  if (!moves && !leavingComp_) return;
  leavingComp_ = false;
  JobAction move;
  move.kind = JobAction::Kind::kMove;
  move.line = b.line;
  move.move.line = b.line;
  move.move.rapid = rapid;
  move.move.cycle = b.motion == MotionMode::kCycle;
  move.move.exactStop = b.exactStop;
  move.move.blendTolerance = b.blendTolerance;
  move.move.tool = tool_;
  move.move.feedPerMinute = b.feedPerMinute;
  std::copy(target, target + kHostAxisCount, move.move.target);
  std::copy(target, target + kHostAxisCount, position_);
  pending_.push_back(move);
}

void Interpreter::Arc(const Block& b, const double target[kHostAxisCount]) {
  const PlaneAxes p = AxesOf(b.plane);
  const double sx = position_[p.first], sy = position_[p.second];
  const double ex = target[p.first], ey = target[p.second];
  const bool clockwise = Clockwise(b);
  double cx = 0.0, cy = 0.0;
  ArcCentre(b, &cx, &cy);
  sim::Arc arc;
  std::string why;
  const double slack = b.inches ? kArcEndSlackInchMm : kArcEndSlackMm;
  const bool ok = b.hasRadius
                      ? ArcWithRadius(sx, sy, ex, ey, ScaledRadius(b), clockwise, &arc, &why, slack)
                      : ArcAroundCentre(sx, sy, ex, ey, cx, cy, clockwise, &arc, &why, slack);
  if (!ok) {
    error_ = JobError{b.line, why};
    return;
  }
  const CompArc comp{{arc.cx, arc.cy}, clockwise, std::fabs(arc.sweep)};
  if (Compensate(b, target, false, &comp)) return;
  Slices(b, arc, p, target);
}

// The arc's slices from where the machine stands to target, which the last one reaches
// exactly.
void Interpreter::Slices(const Block& b, const sim::Arc& arc, const PlaneAxes& p,
                         const double target[kHostAxisCount]) {
  PathSegment end;
  end.line = b.line;
  end.feedPerMinute = b.feedPerMinute;
  end.exactStop = b.exactStop;
  end.blendTolerance = b.blendTolerance;
  end.tool = tool_;
  std::copy(target, target + kHostAxisCount, end.target);
  slices_.clear();
  AppendArcSlices(arc, p.first, p.second, position_, end, tolerance_, &slices_);
  PushMoves(slices_);
  std::copy(target, target + kHostAxisCount, position_);
}

// G12/G13: feed out by I along the program's X (scaled and turned with it), once round the
// point the tool stood at, and back to it. A mirror turns the circle the other way.
void Interpreter::Pocket(const Block& b) {
  double out[2] = {b.centre[0] * b.scaling.factor[0], 0.0};
  b.rotation.Turn(out);
  const double cx = position_[0], cy = position_[1];
  double edge[kHostAxisCount];
  std::copy(position_, position_ + kHostAxisCount, edge);
  edge[0] += out[0];
  edge[1] += out[1];
  Move(b, edge, false);
  sim::Arc arc;
  std::string why;
  const bool clockwise = b.pocketClockwise != b.scaling.Mirrors(0, 1);
  if (!ArcAroundCentre(edge[0], edge[1], edge[0], edge[1], cx, cy, clockwise, &arc, &why,
                       kArcEndSlackMm)) {
    error_ = JobError{b.line, why};
    return;
  }
  Slices(b, arc, AxesOf(Plane::kXY), edge);
  double centre[kHostAxisCount];
  std::copy(edge, edge + kHostAxisCount, centre);
  centre[0] = cx;
  centre[1] = cy;
  Move(b, centre, false);
}

}  // namespace torvexan::sim
