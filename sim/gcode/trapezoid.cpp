#include "sim/gcode/trapezoid.h"

#include <algorithm>
#include <cmath>

namespace torvexan::sim {

Trapezoid BuildTrapezoid(double length, double v0, double v1, double vMax, double a) {
  Trapezoid p;
  p.length = length;
  p.a = a;
  p.v0 = v0 = std::min(v0, vMax);
  p.v1 = v1 = std::min(v1, vMax);
  // The highest speed from which the exit speed can still be reached within the length.
  const double vPeak = std::sqrt((2.0 * a * length + v0 * v0 + v1 * v1) / 2.0);
  p.v = std::max({std::min(vMax, vPeak), v0, v1});
  const double dAccel = (p.v * p.v - v0 * v0) / (2.0 * a);
  const double dDecel = (p.v * p.v - v1 * v1) / (2.0 * a);
  p.tAccel = (p.v - v0) / a;
  p.tDecel = (p.v - v1) / a;
  const double cruise = std::max(0.0, length - dAccel - dDecel);
  p.tCruise = p.v > 0.0 ? cruise / p.v : 0.0;
  p.duration = p.tAccel + p.tCruise + p.tDecel;
  return p;
}

double Trapezoid::Position(double t) const {
  if (t <= 0.0) return 0.0;
  if (t >= duration) return length;
  if (t < tAccel) return v0 * t + 0.5 * a * t * t;
  const double dAccel = v0 * tAccel + 0.5 * a * tAccel * tAccel;
  if (t < tAccel + tCruise) return dAccel + v * (t - tAccel);
  const double tLeft = duration - t;
  return std::clamp(length - v1 * tLeft - 0.5 * a * tLeft * tLeft, 0.0, length);
}

}  // namespace torvexan::sim
