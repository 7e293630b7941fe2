// G68's turn of the program's XY plane: the program's points are turned about a centre
// (program coordinates, before the work offsets) by an angle counter-clockwise seen from +Z,
// so that machine = offsets + centre + turn(program - centre). G69 ends it.
#pragma once

#include <cmath>

namespace torvexan::sim {

struct Rotation {
  bool on = false;
  double centre[2] = {};  // X, Y, mm
  double degrees = 0.0;   // counter-clockwise

  // The cosine and sine of the angle, exact at whole quarter turns so that a part turned by
  // 90 degrees lands on the very coordinates a program written that way would reach.
  void CosSin(double* c, double* s) const {
    const double turn = std::fmod(degrees, 360.0);
    const double quarters = turn / 90.0;
    if (quarters == std::floor(quarters)) {
      static constexpr double kCos[] = {1.0, 0.0, -1.0, 0.0};
      static constexpr double kSin[] = {0.0, 1.0, 0.0, -1.0};
      const int q = (static_cast<int>(quarters) % 4 + 4) % 4;
      *c = kCos[q];
      *s = kSin[q];
      return;
    }
    const double radians = turn * (3.14159265358979323846 / 180.0);
    *c = std::cos(radians);
    *s = std::sin(radians);
  }

  // Turns the vector v (a move or an arc's centre offset) by the angle, or back.
  void Turn(double v[2], bool back = false) const {
    if (!on) return;
    double c = 1.0, s = 0.0;
    CosSin(&c, &s);
    if (back) s = -s;
    const double x = v[0] * c - v[1] * s;
    v[1] = v[0] * s + v[1] * c;
    v[0] = x;
  }

  // The program's point p, turned about the centre (or back).
  void TurnPoint(double p[2], bool back = false) const {
    if (!on) return;
    double v[2] = {p[0] - centre[0], p[1] - centre[1]};
    Turn(v, back);
    p[0] = centre[0] + v[0];
    p[1] = centre[1] + v[1];
  }
};

}  // namespace torvexan::sim
