// Our arcs against rs274's: our interpreter cuts an arc into straight slices whose ends lie
// on the true arc, so every slice end must lie on the arc rs274 announced, in its direction,
// and the slices together must go round as far as rs274's arc does (a full circle included,
// whose only end is its start).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "tools/gcode-diff/move_ends.h"

namespace torvexan::gcodediff {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

struct Polar {
  double angle;   // radians, from the plane's first axis towards its second
  double radius;  // mm
};

Polar PolarOf(const ArcPath& arc, const Position& p) {
  const double dx = p[arc.first] - arc.centre[0], dy = p[arc.second] - arc.centre[1];
  return {std::atan2(dy, dx), std::hypot(dx, dy)};
}

// How far rs274's arc goes round (radians, positive). Start and end closer than the
// tolerance make the last part a whole circle: the program meant a full circle and the
// printed ends differ only in their rounding.
double Sweep(const MoveEnd& theirs, double toleranceMm) {
  const ArcPath& arc = *theirs.arc;
  const double direction = arc.turns > 0 ? 1.0 : -1.0;
  const double chord = std::hypot(theirs.at[arc.first] - theirs.from[arc.first],
                                  theirs.at[arc.second] - theirs.from[arc.second]);
  double part = kTwoPi;
  if (chord > toleranceMm) {
    part = std::fmod(direction * (PolarOf(arc, theirs.at).angle - PolarOf(arc, theirs.from).angle),
                     kTwoPi);
    if (part <= 0.0) part += kTwoPi;
  }
  return part + kTwoPi * (std::abs(arc.turns) - 1);
}

std::string Text(const char* format, double a, double b, double c) {
  char text[200];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

// rs274's arc as the comparison walks along it.
struct Expected {
  const MoveEnd& theirs;
  double sweep;      // radians
  double r0, r1;     // mm: the radius runs evenly from r0 to r1 along the sweep
  double direction;  // +1 counter-clockwise, -1 clockwise
  double toleranceMm;
  // No larger than the tolerance: a point to the comparison (cutter compensation leaves one
  // where the tool's radius is the arc's), whose angles mean nothing.
  bool point;
};

// Where a vertex that lies `turned` radians along the arc leaves it; empty when it does not.
std::string OffArc(const Expected& x, const Position& v, const Polar& p, double turned) {
  const MoveEnd& t = x.theirs;
  const double share = x.point ? std::clamp(turned / x.sweep, 0.0, 1.0) : turned / x.sweep;
  const double radius = x.r0 + (x.r1 - x.r0) * share;
  if (std::fabs(p.radius - radius) > x.toleranceMm) {
    return Text("lies %.4f mm from rs274's centre, %.4f mm after %.4f rad", p.radius, radius,
                turned);
  }
  for (int k = 0; k < static_cast<int>(v.size()); ++k) {
    if (k == t.arc->first || k == t.arc->second) continue;
    // A helix's third axis and the rotary axes run evenly with the angle. A vertex within
    // the tolerance of the arc may sit that far along it too: tolerance / radius radians,
    // which is that share of the sweep of each axis's travel.
    const double travel = t.at[k] - t.from[k];
    const double along = t.from[k] + travel * share;
    const double slack =
        x.point ? std::fabs(travel)
                : std::fabs(travel) * x.toleranceMm / std::fmax(radius, x.toleranceMm) / x.sweep;
    if (std::fabs(v[k] - along) > x.toleranceMm + slack) {
      std::string axis(1, "XYZABC"[k]);
      return axis.append(
          Text(" at %.4f, rs274's arc at %.4f there (%.4f rad along)", v[k], along, turned));
    }
  }
  return "";
}

}  // namespace

std::string CompareArc(const MoveEnd& ours, const MoveEnd& theirs, double toleranceMm) {
  const ArcPath& arc = *theirs.arc;
  const double r0 = PolarOf(arc, theirs.from).radius, r1 = PolarOf(arc, theirs.at).radius;
  const double largest = std::fmax(r0, r1);
  const bool point = largest <= toleranceMm;
  const Expected x{
      theirs, Sweep(theirs, toleranceMm), r0, r1, arc.turns > 0 ? 1.0 : -1.0, toleranceMm, point};
  Polar last = PolarOf(arc, ours.from);
  double turned = 0.0;
  const size_t count = ours.via.size() + 1;
  for (size_t i = 0; i < count; ++i) {
    const Position& v = i < ours.via.size() ? ours.via[i] : ours.at;
    const Polar p = PolarOf(arc, v);
    // Slices span far less than half a turn: the shorter way between two vertices is theirs.
    const double step = x.direction * std::remainder(p.angle - last.angle, kTwoPi);
    std::string where = "arc vertex ";
    where.append(std::to_string(i + 1)).append(" of ").append(std::to_string(count)).append(" ");
    if (!point && step * largest < -toleranceMm)
      return where + Text("turns %.4f rad against rs274's arc (turns %.0f)", -step, arc.turns, 0);
    turned += step;
    last = p;
    if (std::string off = OffArc(x, v, p, turned); !off.empty()) return where + off;
  }
  if (!point && std::fabs(turned - x.sweep) * largest > toleranceMm) {
    return Text("our arc goes round %.4f rad, rs274's %.4f rad (%.0f turns)", turned, x.sweep,
                arc.turns);
  }
  return "";
}

}  // namespace torvexan::gcodediff
