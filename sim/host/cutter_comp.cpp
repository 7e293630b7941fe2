#include "sim/host/cutter_comp.h"

#include <cmath>

#include "sim/host/arc_geometry.h"

namespace torvexan::sim {
namespace {

// Directions closer than this (sine of the turn) are one straight line: no corner.
constexpr double kStraightSine = 1e-9;

}  // namespace

void RadiusComp::Flush(std::vector<PathSegment>* out) {
  if (held_) out->push_back(move_);
  held_ = false;
}

// The arc round the programmed corner from the held move's offset end to seg's offset start.
void RadiusComp::Corner(const PathSegment& seg, const double n[2], bool clockwise,
                        double chordTolerance, std::vector<PathSegment>* out) const {
  const double r = std::hypot(move_.target[0] - corner_[0], move_.target[1] - corner_[1]);
  Arc arc;
  std::string why;
  const double ex = corner_[0] + n[0] * r, ey = corner_[1] + n[1] * r;
  if (!ArcAroundCentre(move_.target[0], move_.target[1], ex, ey, corner_[0], corner_[1], clockwise,
                       &arc, &why))
    return;
  const int slices = SliceCount(arc, chordTolerance);
  for (int i = 1; i <= slices; ++i) {
    PathSegment s = seg;
    s.rapid = false;
    std::copy(move_.target, move_.target + kHostAxisCount, s.target);
    PointOnArc(arc, static_cast<double>(i) / slices, &s.target[0], &s.target[1]);
    if (i == slices) {
      s.target[0] = ex;
      s.target[1] = ey;
    }
    s.midArc = i != slices;
    out->push_back(s);
  }
}

// The held move ends where its offset line meets the next one's (an inside corner); false
// when that point lies before its start or past the next move's end.
bool RadiusComp::CutShort(const double d[2], const double n[2], double cross, double radius,
                          double length, std::string* why) {
  const double px = (normal_[0] - n[0]) * radius, py = (normal_[1] - n[1]) * radius;
  const double t = (d[0] * py - d[1] * px) / cross;  // along the held move from its end
  const double heldLength = std::hypot(move_.target[0] - start_[0], move_.target[1] - start_[1]);
  if (-t >= heldLength || (px * dir_[1] - py * dir_[0]) / cross <= -length) {
    *why = "the tool is too large for this inside corner";
    return false;
  }
  move_.target[0] += dir_[0] * t;
  move_.target[1] += dir_[1] * t;
  return true;
}

bool RadiusComp::Line(const PathSegment& seg, const double from[kHostAxisCount], bool left,
                      double radius, double chordTolerance, std::vector<PathSegment>* out,
                      std::string* why) {
  const double dx = seg.target[0] - from[0], dy = seg.target[1] - from[1];
  const double length = std::hypot(dx, dy);
  if (length == 0.0) {
    // Along Z only: the tool stays where the last move left it.
    Flush(out);
    PathSegment s = seg;
    s.target[0] = started_ ? move_.target[0] : from[0];
    s.target[1] = started_ ? move_.target[1] : from[1];
    out->push_back(s);
    return true;
  }
  const double d[2] = {dx / length, dy / length};
  const double n[2] = {left ? -d[1] : d[1], left ? d[0] : -d[0]};
  PathSegment next = seg;
  next.target[0] = seg.target[0] + n[0] * radius;
  next.target[1] = seg.target[1] + n[1] * radius;
  if (!started_) {
    if (length <= radius) {
      *why = "the entry move is not longer than the tool's radius";
      return false;
    }
  } else {
    const double cross = dir_[0] * d[1] - dir_[1] * d[0];
    const bool inside = left ? cross > kStraightSine : cross < -kStraightSine;
    // A move already sent (something else came between) can no longer be cut short.
    if (inside && held_) {
      if (!CutShort(d, n, cross, radius, length, why)) return false;
      Flush(out);
    } else {
      Flush(out);
      if (std::fabs(cross) > kStraightSine || dir_[0] * d[0] + dir_[1] * d[1] < 0.0)
        Corner(seg, n, left, chordTolerance, out);
    }
  }
  start_[0] = out->empty() ? from[0] : out->back().target[0];
  start_[1] = out->empty() ? from[1] : out->back().target[1];
  move_ = next;
  held_ = true;
  started_ = true;
  dir_[0] = d[0];
  dir_[1] = d[1];
  corner_[0] = seg.target[0];
  corner_[1] = seg.target[1];
  normal_[0] = n[0];
  normal_[1] = n[1];
  return true;
}

}  // namespace torvexan::sim
