// Arcs in one plane: the centre from a radius, the sweep from start to end, and the points
// that cut an arc into straight slices no farther than a chord tolerance from the true arc.
#pragma once

#include <string>

namespace torvexan::sim {

struct Arc {
  double cx = 0.0, cy = 0.0;  // centre
  double r0 = 0.0;            // radius at the start
  double r1 = 0.0;            // radius at the end (CAM rounding may leave it a hair off)
  double startAngle = 0.0;    // radians
  double sweep = 0.0;         // radians, positive counter-clockwise; a full circle is 2 pi
};

// How far an arc's end may lie off the circle through its start, as LinuxCNC allows it: the
// larger of this and a thousandth of the end's radius. Programs in inches round to 0.0001 in
// where millimetre programs round to 0.001 mm, and get the larger allowance.
inline constexpr double kArcEndSlackMm = 2 * 0.01 * 1.4142135623730951;
inline constexpr double kArcEndSlackInchMm = 2 * 0.001 * 1.4142135623730951 * 25.4;
inline constexpr double kArcEndSlackShare = 0.001;
// How much longer than the diameter an arc's chord by R may be (a half circle whose end was
// rounded): 0.0001 in, in either unit.
inline constexpr double kHalfCircleSlackMm = 0.0001 * 25.4;

// An arc from (sx, sy) to (ex, ey) around (cx, cy), clockwise or not. Start and end on the
// same point make a full circle. False, with the reason, when the end lies off the arc's
// circle by more than the larger of endSlackMm and kArcEndSlackShare of its radius, or the
// start is the centre.
bool ArcAroundCentre(double sx, double sy, double ex, double ey, double cx, double cy,
                     bool clockwise, Arc* arc, std::string* error,
                     double endSlackMm = kArcEndSlackMm);

// An arc from start to end with radius r: the shorter of the two arcs for r > 0, the longer
// for r < 0. False when the chord is longer than the diameter (beyond kHalfCircleSlackMm) or
// start and end coincide.
bool ArcWithRadius(double sx, double sy, double ex, double ey, double r, bool clockwise, Arc* arc,
                   std::string* error, double endSlackMm = kArcEndSlackMm);

// How many straight slices keep every point of the arc within tolerance of its chord.
int SliceCount(const Arc& arc, double tolerance);

// The point at a fraction of the sweep (0 start, 1 end), the radius running evenly from r0
// to r1.
void PointOnArc(const Arc& arc, double fraction, double* x, double* y);

}  // namespace torvexan::sim
