#include "sim/gcode/comp_geometry.h"

#include <cmath>
#include <numbers>

namespace torvexan::sim {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kParallelSine = 1e-12;  // offset lines this close to parallel never meet

double Cross(const double a[2], const double b[2]) {
  return a[0] * b[1] - a[1] * b[0];
}

// The unit tangent of an arc at p, and the normal towards the side of the tool.
void ArcFrame(const double p[2], const double c[2], bool clockwise, double side, double t[2],
              double n[2]) {
  const double r = std::hypot(p[0] - c[0], p[1] - c[1]);
  const double turn = clockwise ? -1.0 : 1.0;
  t[0] = -turn * (p[1] - c[1]) / r;
  t[1] = turn * (p[0] - c[0]) / r;
  n[0] = -side * t[1];
  n[1] = side * t[0];
}

// Of two candidate points, the one nearer to m.
void Nearer(const double p[2], const double q[2], const double m[2], double at[2]) {
  const bool first = std::hypot(p[0] - m[0], p[1] - m[1]) <= std::hypot(q[0] - m[0], q[1] - m[1]);
  at[0] = first ? p[0] : q[0];
  at[1] = first ? p[1] : q[1];
}

bool LineMeetsLine(const double p[2], const double d[2], const double q[2], const double e[2],
                   double at[2]) {
  const double cross = Cross(d, e);
  if (std::fabs(cross) < kParallelSine) return false;
  const double w[2] = {q[0] - p[0], q[1] - p[1]};
  const double t = Cross(w, e) / cross;
  at[0] = p[0] + t * d[0];
  at[1] = p[1] + t * d[1];
  return true;
}

bool LineMeetsCircle(const double p[2], const double d[2], const double c[2], double r,
                     const double m[2], double at[2]) {
  const double f[2] = {p[0] - c[0], p[1] - c[1]};
  const double b = d[0] * f[0] + d[1] * f[1];
  const double disc = b * b - (f[0] * f[0] + f[1] * f[1] - r * r);
  if (disc < 0.0) return false;
  const double t0 = -b - std::sqrt(disc), t1 = -b + std::sqrt(disc);
  const double x0[2] = {p[0] + t0 * d[0], p[1] + t0 * d[1]};
  const double x1[2] = {p[0] + t1 * d[0], p[1] + t1 * d[1]};
  Nearer(x0, x1, m, at);
  return true;
}

bool CircleMeetsCircle(const double c1[2], double r1, const double c2[2], double r2,
                       const double m[2], double at[2]) {
  const double dx = c2[0] - c1[0], dy = c2[1] - c1[1];
  const double d = std::hypot(dx, dy);
  if (d == 0.0 || d > r1 + r2 || d < std::fabs(r1 - r2)) return false;
  const double a = (r1 * r1 - r2 * r2 + d * d) / (2.0 * d);
  const double h = std::sqrt(std::fmax(r1 * r1 - a * a, 0.0));
  const double px = c1[0] + a * dx / d, py = c1[1] + a * dy / d;
  const double x0[2] = {px - h * dy / d, py + h * dx / d};
  const double x1[2] = {px + h * dy / d, py - h * dx / d};
  Nearer(x0, x1, m, at);
  return true;
}

}  // namespace

CompPath LinePath(const double start[2], const double end[2], double side) {
  CompPath p;
  const double length = std::hypot(end[0] - start[0], end[1] - start[1]);
  for (int k = 0; k < 2; ++k) {
    p.start[k] = start[k];
    p.end[k] = end[k];
    p.startTangent[k] = p.endTangent[k] = (end[k] - start[k]) / length;
  }
  p.startNormal[0] = p.endNormal[0] = -side * p.startTangent[1];
  p.startNormal[1] = p.endNormal[1] = side * p.startTangent[0];
  return p;
}

bool ArcPath(const double start[2], const double end[2], const double centre[2], bool clockwise,
             double sweep, double side, double radius, CompPath* path, std::string* why) {
  CompPath& p = *path;
  p.arc = true;
  p.clockwise = clockwise;
  p.sweep = sweep;
  for (int k = 0; k < 2; ++k) {
    p.start[k] = start[k];
    p.end[k] = end[k];
    p.centre[k] = centre[k];
  }
  ArcFrame(start, centre, clockwise, side, p.startTangent, p.startNormal);
  ArcFrame(end, centre, clockwise, side, p.endTangent, p.endNormal);
  const double r = std::hypot(end[0] - centre[0], end[1] - centre[1]);
  // The tool runs inside the arc when its normal points at the centre.
  const bool inside =
      p.endNormal[0] * (centre[0] - end[0]) + p.endNormal[1] * (centre[1] - end[1]) > 0.0;
  p.offsetRadius = inside ? r - radius : r + radius;
  if (p.offsetRadius <= 0.0) {
    *why = "the tool is larger than the arc's radius";
    return false;
  }
  return true;
}

bool MeetAtCorner(const CompPath& a, const CompPath& b, double radius, double at[2]) {
  const double pa[2] = {a.end[0] + a.endNormal[0] * radius, a.end[1] + a.endNormal[1] * radius};
  const double pb[2] = {b.start[0] + b.startNormal[0] * radius,
                        b.start[1] + b.startNormal[1] * radius};
  const double m[2] = {(pa[0] + pb[0]) / 2.0, (pa[1] + pb[1]) / 2.0};
  const double ra = std::hypot(pa[0] - a.centre[0], pa[1] - a.centre[1]);
  const double rb = std::hypot(pb[0] - b.centre[0], pb[1] - b.centre[1]);
  if (!a.arc && !b.arc) return LineMeetsLine(pa, a.endTangent, pb, b.startTangent, at);
  if (!a.arc) return LineMeetsCircle(pa, a.endTangent, b.centre, rb, m, at);
  if (!b.arc) return LineMeetsCircle(pb, b.startTangent, a.centre, ra, m, at);
  return CircleMeetsCircle(a.centre, ra, b.centre, rb, m, at);
}

double Along(const CompPath& p, const double from[2], const double to[2]) {
  if (!p.arc) {
    return (to[0] - from[0]) * p.startTangent[0] + (to[1] - from[1]) * p.startTangent[1];
  }
  const double a0 = std::atan2(from[1] - p.centre[1], from[0] - p.centre[0]);
  const double a1 = std::atan2(to[1] - p.centre[1], to[0] - p.centre[0]);
  double angle = std::fmod(p.clockwise ? a0 - a1 : a1 - a0, kTwoPi);
  if (angle < 0.0) angle += kTwoPi;
  return angle;
}

}  // namespace torvexan::sim
