// A trapezoidal speed profile along one straight move: from the entry speed v0 up to v at a,
// cruise, and down at a to the exit speed v1. A move too short to reach v has no cruise.
#pragma once

namespace torvexan::sim {

struct Trapezoid {
  double length = 0.0;    // units along the path
  double v0 = 0.0;        // entry speed, units per second
  double v = 0.0;         // peak speed reached, units per second
  double v1 = 0.0;        // exit speed, units per second
  double a = 0.0;         // units per second squared
  double tAccel = 0.0;    // seconds from v0 up to v
  double tCruise = 0.0;   // seconds at v
  double tDecel = 0.0;    // seconds from v down to v1
  double duration = 0.0;  // seconds

  // Distance travelled after t seconds, clamped to [0, length].
  double Position(double t) const;
};

// Profile of a move of length > 0 with speed limit vMax > 0 and acceleration aMax > 0,
// entered at v0 and left at v1; the caller keeps v0 and v1 reachable from each other within
// the length (|v1^2 - v0^2| <= 2 aMax length).
Trapezoid BuildTrapezoid(double length, double v0, double v1, double vMax, double aMax);

// A move from rest to rest.
inline Trapezoid BuildTrapezoid(double length, double vMax, double aMax) {
  return BuildTrapezoid(length, 0.0, 0.0, vMax, aMax);
}

}  // namespace torvexan::sim
