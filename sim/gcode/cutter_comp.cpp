#include "sim/gcode/cutter_comp.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "sim/gcode/arc_slices.h"

namespace torvexan::sim {
namespace {

// An inside corner's meeting point this close past an arc's end (radians) is on it: rounding.
constexpr double kMeetSlack = 1e-9;

// How far `to` lies after `from` along p's offset path; what is left of a full circle, or a
// full circle itself, goes once round rather than not at all.
double Span(const CompPath& p, const double from[2], const double to[2]) {
  const double along = Along(p, from, to);
  return p.arc && p.sweep - along > std::numbers::pi ? along + 2.0 * std::numbers::pi : along;
}

}  // namespace

void RadiusComp::Flush(std::vector<PathSegment>* out) {
  if (!held_) return;
  held_ = false;
  SendHeld(out);
  // Moves across the plane waited behind the held move: they run where it ended.
  for (PathSegment& a : across_) {
    a.target[setup_.first] = move_.target[setup_.first];
    a.target[setup_.second] = move_.target[setup_.second];
    out->push_back(a);
  }
  across_.clear();
}

// An arc as the entry move: the tool cannot start a radius off a path it is not yet on, so it
// runs from where it stands to the offset end on an arc of its own, as LinuxCNC's does: the
// arc ends square to the programmed arc's radius at its end (its centre lies on that radius)
// and passes through the start. *next becomes the path
// whose offset is that arc, so that the corner after it is cut as any other.
bool RadiusComp::EntryArc(const double start[2], const double end[2], const CompArc& arc,
                          CompPath* next, std::string* why) {
  const double r = setup_.radius;
  const double toolEnd[2] = {end[0] + next->endNormal[0] * r, end[1] + next->endNormal[1] * r};
  const double inward[2] = {arc.centre[0] - end[0], arc.centre[1] - end[1]};
  const double n = std::hypot(inward[0], inward[1]);
  const double u[2] = {inward[0] / n, inward[1] / n};
  const double d[2] = {toolEnd[0] - start[0], toolEnd[1] - start[1]};
  // |toolEnd + t u - start| = t: the centre is as far from the start as from the end.
  const double across = u[0] * d[0] + u[1] * d[1];
  const double t = across != 0.0 ? -(d[0] * d[0] + d[1] * d[1]) / (2.0 * across) : 0.0;
  // Measured towards the tool's side of the programmed arc's radius, the entry arc's centre
  // must lie farther than the tool's radius from the offset end, or on the other side.
  const bool inside = next->endNormal[0] * u[0] + next->endNormal[1] * u[1] > 0.0;
  const double toolward = inside ? -t : t;
  if (!std::isfinite(t) || t == 0.0 || (toolward > 0.0 && toolward <= r)) {
    *why = "the entry arc's radius is not greater than the tool's radius";
    return false;
  }
  // Past the end, seen from the programmed centre (t < 0), the entry arc arrives against the
  // programmed arc's way: the tool's side of it is the other one.
  const double centre[2] = {toolEnd[0] + t * u[0], toolEnd[1] + t * u[1]};
  // The programmed arc that this one is the offset of: round the same centre, through end.
  const double programmed = std::hypot(end[0] - centre[0], end[1] - centre[1]);
  const double from[2] = {centre[0] + (start[0] - centre[0]) * programmed / std::fabs(t),
                          centre[1] + (start[1] - centre[1]) * programmed / std::fabs(t)};
  const double a0 = std::atan2(start[1] - centre[1], start[0] - centre[0]);
  const double a1 = std::atan2(toolEnd[1] - centre[1], toolEnd[0] - centre[0]);
  double sweep = std::fmod(arc.clockwise ? a0 - a1 : a1 - a0, 2.0 * std::numbers::pi);
  if (sweep <= 0.0) sweep += 2.0 * std::numbers::pi;
  const double side = (setup_.left ? 1.0 : -1.0) * (t > 0.0 ? 1.0 : -1.0);
  return ArcPath(from, end, centre, arc.clockwise, sweep, side, r, next, why);
}

void RadiusComp::SendHeld(std::vector<PathSegment>* out) const {
  if (!path_.arc) {
    out->push_back(move_);
    return;
  }
  const int f = setup_.first, s = setup_.second;
  const double from[2] = {start_[f], start_[s]}, to[2] = {move_.target[f], move_.target[s]};
  const double sweep = Span(path_, from, to);
  const double cx = path_.centre[0], cy = path_.centre[1];
  const Arc arc{cx,
                cy,
                std::hypot(from[0] - cx, from[1] - cy),
                std::hypot(to[0] - cx, to[1] - cy),
                std::atan2(from[1] - cy, from[0] - cx),
                path_.clockwise ? -sweep : sweep};
  AppendArcSlices(arc, f, s, start_, move_, setup_.chordTolerance, out);
}

// The arc round the programmed corner from where the tool is to next's offset start.
void RadiusComp::Corner(const PathSegment& seg, const CompPath& next,
                        std::vector<PathSegment>* out) {
  const int f = setup_.first, s = setup_.second;
  const double* q = path_.end;
  const double r = std::hypot(tool_[f] - q[0], tool_[s] - q[1]);
  PathSegment end = seg;
  end.rapid = false;
  std::copy(tool_, tool_ + kHostAxisCount, end.target);
  end.target[f] = q[0] + next.startNormal[0] * r;
  end.target[s] = q[1] + next.startNormal[1] * r;
  Arc arc;
  std::string why;
  if (!ArcAroundCentre(tool_[f], tool_[s], end.target[f], end.target[s], q[0], q[1], setup_.left,
                       &arc, &why))
    return;
  AppendArcSlices(arc, f, s, tool_, end, setup_.chordTolerance, out);
  std::copy(end.target, end.target + kHostAxisCount, tool_);
}

// The held move ends where its offset path meets next's (an inside corner); false when that
// point lies before its start or past either move's end.
bool RadiusComp::CutShort(const CompPath& next, std::string* why) {
  const int f = setup_.first, s = setup_.second;
  const double r = setup_.radius;
  double at[2];
  if (!MeetAtCorner(path_, next, r, at)) {
    *why = "the offset paths do not meet at this inside corner";
    return false;
  }
  const double heldStart[2] = {start_[f], start_[s]};
  const double heldEnd[2] = {move_.target[f], move_.target[s]};
  const double nextStart[2] = {next.start[0] + next.startNormal[0] * r,
                               next.start[1] + next.startNormal[1] * r};
  const double nextEnd[2] = {next.end[0] + next.endNormal[0] * r,
                             next.end[1] + next.endNormal[1] * r};
  const double onHeld = Along(path_, heldStart, at);
  const bool pastHeld = path_.arc && onHeld > Span(path_, heldStart, heldEnd) + kMeetSlack;
  if (onHeld <= 0.0 || pastHeld || Along(next, nextStart, at) >= Span(next, nextStart, nextEnd)) {
    *why = "the tool is too large for this inside corner";
    return false;
  }
  move_.target[f] = tool_[f] = at[0];
  move_.target[s] = tool_[s] = at[1];
  return true;
}

// Joins the held move to next: cut short at an inside corner, round an outside one.
bool RadiusComp::Join(const PathSegment& seg, const CompPath& next, std::vector<PathSegment>* out,
                      std::string* why) {
  const double* d = path_.endTangent;
  const double* e = next.startTangent;
  const double cross = d[0] * e[1] - d[1] * e[0];
  // Offset ends within the chord tolerance of each other (a tangent join, as rounded by CAM)
  // make no corner: the next move starts where this one ends.
  const double gap = setup_.radius * std::hypot(path_.endNormal[0] - next.startNormal[0],
                                                path_.endNormal[1] - next.startNormal[1]);
  const bool tangent = gap <= setup_.chordTolerance && d[0] * e[0] + d[1] * e[1] > 0.0;
  const bool inside = !tangent && (setup_.left ? cross > 0.0 : cross < 0.0);
  // A move already sent (a dwell, a stop, a spindle change came between) can no longer be
  // cut short, and going round an inside corner would cut into the work.
  if (inside && !held_) {
    *why = "an inside corner right after a line that stops the path (dwell, stop, spindle)";
    return false;
  }
  if (inside) {
    if (!CutShort(next, why)) return false;
    Flush(out);
    return true;
  }
  Flush(out);
  if (!tangent) Corner(seg, next, out);
  return true;
}

// A move across the plane only: the tool stays where the last move left it. Behind a held
// move it waits, so that the held move can still be cut short at the next corner.
void RadiusComp::AlongZ(const PathSegment& seg, const double from[kHostAxisCount],
                        std::vector<PathSegment>* out) {
  PathSegment s = seg;
  const int f = setup_.first, sc = setup_.second;
  s.target[f] = started_ ? tool_[f] : from[f];
  s.target[sc] = started_ ? tool_[sc] : from[sc];
  for (int a = 0; a < kHostAxisCount; ++a) {
    if (a != f && a != sc) tool_[a] = s.target[a];
  }
  if (held_) {
    across_.push_back(s);
  } else {
    std::copy(s.target, s.target + kHostAxisCount, tool_);
    out->push_back(s);
  }
}

bool RadiusComp::Move(const PathSegment& seg, const double from[kHostAxisCount], const CompArc* arc,
                      const CompSetup& setup, std::vector<PathSegment>* out, std::string* why) {
  setup_ = setup;
  const int f = setup.first, s = setup.second;
  const double a[2] = {from[f], from[s]}, b[2] = {seg.target[f], seg.target[s]};
  const double length = std::hypot(b[0] - a[0], b[1] - a[1]);
  if (arc == nullptr && length == 0.0) {
    AlongZ(seg, from, out);
    return true;
  }
  const double side = setup.left ? 1.0 : -1.0;
  CompPath next = LinePath(a, b, side);
  if (arc != nullptr &&
      !ArcPath(a, b, arc->centre, arc->clockwise, arc->sweep, side, setup.radius, &next, why))
    return false;
  if (!started_) {
    if (arc == nullptr && length <= setup.radius) {
      *why = "the entry move is not longer than the tool's radius";
      return false;
    }
    if (arc != nullptr && !EntryArc(a, b, *arc, &next, why)) return false;
    std::copy(from, from + kHostAxisCount, tool_);
  } else if (!Join(seg, next, out, why)) {
    return false;
  }
  std::copy(tool_, tool_ + kHostAxisCount, start_);
  move_ = seg;
  move_.target[f] = b[0] + next.endNormal[0] * setup.radius;
  move_.target[s] = b[1] + next.endNormal[1] * setup.radius;
  std::copy(move_.target, move_.target + kHostAxisCount, tool_);
  path_ = next;
  held_ = true;
  started_ = true;
  return true;
}

}  // namespace torvexan::sim
