#include "sim/gcode/arc_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace torvexan::sim {
namespace {

constexpr double kSamePoint = 1e-9;  // mm: start and end that close are one point
constexpr double kLargestSliceAngle = std::numbers::pi / 2;

std::string Text(const char* format, double a, double b) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

}  // namespace

bool ArcAroundCentre(double sx, double sy, double ex, double ey, double cx, double cy,
                     bool clockwise, Arc* arc, std::string* error, double endSlackMm) {
  const double r0 = std::hypot(sx - cx, sy - cy);
  const double r1 = std::hypot(ex - cx, ey - cy);
  if (r0 < kSamePoint) {
    *error = "arc centre lies on its start point";
    return false;
  }
  if (std::fabs(r1 - r0) > std::max(endSlackMm, kArcEndSlackShare * r1)) {
    *error =
        Text("arc end lies off the arc: radius %.4f mm at the start, %.4f mm at the end", r0, r1);
    return false;
  }
  const double a0 = std::atan2(sy - cy, sx - cx);
  const double a1 = std::atan2(ey - cy, ex - cx);
  const double twoPi = 2.0 * std::numbers::pi;
  double sweep = clockwise ? a0 - a1 : a1 - a0;
  // The sweep in (0, 2 pi]: start and end on one point go once round.
  sweep = std::fmod(sweep, twoPi);
  if (sweep < 0.0) sweep += twoPi;
  if (std::hypot(ex - sx, ey - sy) < kSamePoint || sweep == 0.0) sweep = twoPi;
  *arc = Arc{cx, cy, r0, r1, a0, clockwise ? -sweep : sweep};
  return true;
}

bool ArcWithRadius(double sx, double sy, double ex, double ey, double r, bool clockwise, Arc* arc,
                   std::string* error, double endSlackMm) {
  const double dx = ex - sx;
  const double dy = ey - sy;
  const double chord = std::hypot(dx, dy);
  if (chord < kSamePoint) {
    *error = "an arc with radius R cannot end where it starts; give the centre with I, J, K";
    return false;
  }
  const double radius = std::fabs(r);
  double h2 = radius * radius - chord * chord / 4.0;
  if (h2 < 0.0) {
    if (chord - 2.0 * radius > kHalfCircleSlackMm) {
      *error = Text("arc radius %.4f mm is too small for the chord of %.4f mm", radius, chord);
      return false;
    }
    h2 = 0.0;
  }
  const double h = std::sqrt(h2);
  // Left of the chord for a counter-clockwise arc shorter than a half circle; a clockwise
  // arc or a negative radius (the long way round) puts the centre on the other side.
  double side = clockwise ? -1.0 : 1.0;
  if (r < 0.0) side = -side;
  const double cx = (sx + ex) / 2.0 - side * h * dy / chord;
  const double cy = (sy + ey) / 2.0 + side * h * dx / chord;
  return ArcAroundCentre(sx, sy, ex, ey, cx, cy, clockwise, arc, error, endSlackMm);
}

int SliceCount(const Arc& arc, double tolerance) {
  const double r = std::max(arc.r0, arc.r1);
  // The chord of angle phi lies r (1 - cos(phi / 2)) from the arc at its middle.
  double phi = kLargestSliceAngle;
  if (tolerance < r) phi = std::min(phi, 2.0 * std::acos(1.0 - tolerance / r));
  const double slices = std::ceil(std::fabs(arc.sweep) / phi - 1e-9);
  return std::max(1, static_cast<int>(slices));
}

void PointOnArc(const Arc& arc, double fraction, double* x, double* y) {
  const double angle = arc.startAngle + arc.sweep * fraction;
  const double r = arc.r0 + (arc.r1 - arc.r0) * fraction;
  *x = arc.cx + r * std::cos(angle);
  *y = arc.cy + r * std::sin(angle);
}

}  // namespace torvexan::sim
