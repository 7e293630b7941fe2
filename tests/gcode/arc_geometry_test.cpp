// Arcs: every slice within the chord tolerance of the true arc, the radius and the centre
// forms agreeing, the sign of R choosing the long arc, full circles and helices.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "sim/gcode/arc_geometry.h"
#include "sim/gcode/job_interpreter.h"

namespace torvexan::sim::testing {
namespace {

constexpr double kNoReference[kHostAxisCount] = {};

// The end points of the slices an arc block becomes, after a start move to (sx, sy).
std::vector<PathSegment> Slices(const std::string& arcLine, double tolerance = 0.001) {
  const Job job = ParseJob(arcLine);
  EXPECT_TRUE(job.errors.empty()) << job.errors[0].message;
  Interpreter interpreter(job, tolerance, kNoReference);
  std::vector<PathSegment> out;
  while (std::optional<JobAction> a = interpreter.Next()) out.push_back(a->move);
  EXPECT_FALSE(interpreter.error().has_value()) << interpreter.error()->message;
  return out;
}

// Largest distance of the arc around (cx, cy) with radius r from the chord a-b, sampled.
double ChordError(double ax, double ay, double bx, double by, double cx, double cy, double r) {
  double worst = 0.0;
  const double a0 = std::atan2(ay - cy, ax - cx);
  double sweep = std::atan2(by - cy, bx - cx) - a0;
  while (sweep > std::numbers::pi) sweep -= 2 * std::numbers::pi;
  while (sweep < -std::numbers::pi) sweep += 2 * std::numbers::pi;
  for (int i = 0; i <= 64; ++i) {
    const double t = i / 64.0;
    const double px = cx + r * std::cos(a0 + sweep * t), py = cy + r * std::sin(a0 + sweep * t);
    // Distance from the point on the arc to the chord's segment.
    const double dx = bx - ax, dy = by - ay;
    const double len2 = dx * dx + dy * dy;
    const double u = len2 > 0 ? std::clamp(((px - ax) * dx + (py - ay) * dy) / len2, 0.0, 1.0) : 0;
    worst = std::max(worst, std::hypot(px - (ax + u * dx), py - (ay + u * dy)));
  }
  return worst;
}

// Seeded random arcs of both forms: every slice ends on the circle, no slice strays farther
// than the tolerance, and the last ends exactly on the programmed point.
TEST(ArcSlices, EverySliceStaysWithinTheChordTolerance) {
  std::mt19937 rng(20261208);
  std::uniform_real_distribution<double> coordinate(-50.0, 50.0);
  std::uniform_real_distribution<double> radius(0.2, 60.0);
  std::uniform_real_distribution<double> angle(0.0, 2 * std::numbers::pi);
  for (double tolerance : {0.001, 0.01, 0.1}) {
    for (int trial = 0; trial < 40; ++trial) {
      const double cx = coordinate(rng), cy = coordinate(rng), r = radius(rng);
      const double a0 = angle(rng), a1 = angle(rng);
      const double sx = cx + r * std::cos(a0), sy = cy + r * std::sin(a0);
      const double ex = cx + r * std::cos(a1), ey = cy + r * std::sin(a1);
      const bool cw = trial % 2 == 0;
      char line[256];
      std::snprintf(line, sizeof line, "G0 X%.17g Y%.17g\nG%d F500 X%.17g Y%.17g I%.17g J%.17g\n",
                    sx, sy, cw ? 2 : 3, ex, ey, cx - sx, cy - sy);
      const std::vector<PathSegment> s = Slices(line, tolerance);
      ASSERT_GE(s.size(), 2u);
      double px = sx, py = sy;
      for (size_t i = 1; i < s.size(); ++i) {
        const double x = s[i].target[0], y = s[i].target[1];
        ASSERT_NEAR(std::hypot(x - cx, y - cy), r, 1e-6 * std::max(1.0, r));
        ASSERT_LE(ChordError(px, py, x, y, cx, cy, r), tolerance * (1 + 1e-6)) << line;
        px = x;
        py = y;
      }
      EXPECT_EQ(s.back().target[0], ex);
      EXPECT_EQ(s.back().target[1], ey);
      EXPECT_EQ(s.back().target[2], 0.0);
    }
  }
}

TEST(ArcSlices, RadiusAndCentreFormsAgreeAndTheSignOfRPicksTheLongArc) {
  // From (0,0) to (10,0): R 5 is the half circle around (5,0); R 10 the short arc around a
  // centre above the chord for G3 (counter-clockwise); R -10 the long way round.
  Arc a;
  std::string error;
  ASSERT_TRUE(ArcWithRadius(0, 0, 10, 0, 10, false, &a, &error));
  EXPECT_NEAR(a.cx, 5.0, 1e-12);
  EXPECT_NEAR(a.cy, std::sqrt(75.0), 1e-12);
  EXPECT_NEAR(a.sweep, std::numbers::pi / 3, 1e-12);
  ASSERT_TRUE(ArcWithRadius(0, 0, 10, 0, -10, false, &a, &error));
  EXPECT_NEAR(a.cy, -std::sqrt(75.0), 1e-12);
  EXPECT_NEAR(a.sweep, 2 * std::numbers::pi - std::numbers::pi / 3, 1e-12);
  ASSERT_TRUE(ArcWithRadius(0, 0, 10, 0, 10, true, &a, &error));
  EXPECT_NEAR(a.cy, -std::sqrt(75.0), 1e-12) << "clockwise puts the centre on the other side";
  EXPECT_NEAR(a.sweep, -std::numbers::pi / 3, 1e-12);

  const std::vector<PathSegment> byRadius = Slices("G0 X0 Y0\nG3 F300 X10 Y0 R-10\n");
  const std::vector<PathSegment> byCentre =
      Slices("G0 X0 Y0\nG3 F300 X10 Y0 I5 J-8.660254037844386\n");
  ASSERT_EQ(byRadius.size(), byCentre.size());
  for (size_t i = 0; i < byRadius.size(); ++i) {
    EXPECT_NEAR(byRadius[i].target[0], byCentre[i].target[0], 1e-9);
    EXPECT_NEAR(byRadius[i].target[1], byCentre[i].target[1], 1e-9);
  }

  EXPECT_FALSE(ArcWithRadius(0, 0, 10, 0, 4.9, false, &a, &error));
  EXPECT_NE(error.find("too small"), std::string::npos);
  EXPECT_FALSE(ArcWithRadius(0, 0, 0, 0, 4.9, false, &a, &error)) << "R cannot close a circle";
  EXPECT_FALSE(ArcAroundCentre(0, 0, 10, 0, 3, 0, false, &a, &error)) << "end off the circle";
}

TEST(ArcSlices, StartEqualToEndWithACentreIsAFullCircle) {
  const std::vector<PathSegment> s = Slices("G0 X10 Y0\nG2 F300 X10 Y0 I-10 J0\n");
  double minY = 0, maxY = 0, minX = 10;
  for (const PathSegment& p : s) {
    minY = std::min(minY, p.target[1]);
    maxY = std::max(maxY, p.target[1]);
    minX = std::min(minX, p.target[0]);
  }
  EXPECT_NEAR(minY, -10.0, 0.01);
  EXPECT_NEAR(maxY, 10.0, 0.01);
  EXPECT_NEAR(minX, -10.0, 0.01);
  EXPECT_LT(s[1].target[1], 0.0) << "clockwise from (10,0) goes down first";
  EXPECT_EQ(s.back().target[0], 10.0);
}

TEST(ArcSlices, AHelixClimbsEvenlyAndPlanesUseTheirOwnAxes) {
  // A helical entry: one turn of radius 5 in XY, Z down 2 along it.
  const std::vector<PathSegment> s = Slices("G0 X5 Y0 Z0\nG3 F300 X5 Y0 Z-2 I-5 J0\n");
  ASSERT_GT(s.size(), 10u);
  for (size_t i = 1; i < s.size(); ++i) {
    const double turned = 2 * std::numbers::pi * (-s[i].target[2] / 2.0);
    EXPECT_NEAR(s[i].target[0], 5 * std::cos(turned), 1e-9) << i;
    EXPECT_NEAR(s[i].target[1], 5 * std::sin(turned), 1e-9) << i;
  }
  EXPECT_EQ(s.back().target[2], -2.0);
  // G18: the arc lies in Z and X, Y untouched; G19: in Y and Z.
  const std::vector<PathSegment> zx = Slices("G18 G0 X0 Z0 Y3\nG2 F300 X10 Z0 K0 I5\n");
  for (const PathSegment& p : zx) EXPECT_EQ(p.target[1], 3.0);
  EXPECT_LT(zx[zx.size() / 2].target[2], -4.9)
      << "clockwise seen from +Y (Z right, X up) from the bottom: towards -Z";
  const std::vector<PathSegment> yz = Slices("G19 G0 Y0 Z0\nG3 F300 Y10 Z0 J5 K0\n");
  for (const PathSegment& p : yz) EXPECT_EQ(p.target[0], 0.0);
  EXPECT_LT(yz[yz.size() / 2].target[2], -4.9);
}

}  // namespace
}  // namespace torvexan::sim::testing
