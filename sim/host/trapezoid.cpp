#include "sim/host/trapezoid.h"

#include <cmath>

namespace torvexan::sim {

Trapezoid BuildTrapezoid(double length, double vMax, double aMax) {
  Trapezoid p;
  p.length = length;
  p.a = aMax;
  const double dAccel = vMax * vMax / (2.0 * aMax);
  if (2.0 * dAccel >= length) {
    // Triangle: the move is over before the speed limit is reached.
    p.v = std::sqrt(length * aMax);
    p.tAccel = p.v / aMax;
    p.tCruise = 0.0;
  } else {
    p.v = vMax;
    p.tAccel = vMax / aMax;
    p.tCruise = (length - 2.0 * dAccel) / vMax;
  }
  p.duration = 2.0 * p.tAccel + p.tCruise;
  return p;
}

double Trapezoid::Position(double t) const {
  if (t <= 0.0) return 0.0;
  if (t >= duration) return length;
  const double dAccel = 0.5 * a * tAccel * tAccel;
  if (t < tAccel) return 0.5 * a * t * t;
  if (t < tAccel + tCruise) return dAccel + v * (t - tAccel);
  const double tLeft = duration - t;
  return length - 0.5 * a * tLeft * tLeft;
}

}  // namespace torvexan::sim
