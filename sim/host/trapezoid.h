// A trapezoidal speed profile along one straight move: accelerate at a, cruise at v,
// decelerate at a, starting and ending at rest. A move too short to reach v is a triangle.
#pragma once

namespace torvexan::sim {

struct Trapezoid {
  double length = 0.0;    // units along the path
  double v = 0.0;         // peak speed reached, units per second
  double a = 0.0;         // units per second squared
  double tAccel = 0.0;    // seconds spent accelerating (and again decelerating)
  double tCruise = 0.0;   // seconds at v
  double duration = 0.0;  // seconds

  // Distance travelled after t seconds, clamped to [0, length].
  double Position(double t) const;
};

// Profile of a move of length > 0 with speed limit vMax > 0 and acceleration aMax > 0.
Trapezoid BuildTrapezoid(double length, double vMax, double aMax);

}  // namespace torvexan::sim
