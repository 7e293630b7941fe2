// Mach3's words that move the program's frame rather than the tool: G68/G69 (rotation),
// G51/G50 (scaling) and G16/G15 (polar coordinates); and G12/G13, circular pockets, which
// go with them.
// rs274 has none of them, so the interpreter's moves are checked against the same part
// written already turned, and against points worked out by hand.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <initializer_list>
#include <string>
#include <vector>

#include "sim/gcode/job_file.h"
#include "sim/gcode/job_interpreter.h"
#include "sim/gcode/rotation.h"

namespace torvexan::sim::testing {
namespace {

constexpr double kNoReference[kHostAxisCount] = {};
constexpr double kPi = 3.14159265358979323846;

struct Point {
  double x, y, z;
  bool midArc;
};

// Every move's end (machine X, Y, Z), arc slices included.
std::vector<Point> Moves(const Job& job) {
  EXPECT_TRUE(job.errors.empty()) << job.errors[0].line << ": " << job.errors[0].message;
  Interpreter interpreter(job, kDefaultChordToleranceMm, kNoReference);
  std::vector<Point> out;
  while (std::optional<JobAction> a = interpreter.Next()) {
    if (a->kind != JobAction::Kind::kMove) continue;
    out.push_back({a->move.target[0], a->move.target[1], a->move.target[2], a->move.midArc});
  }
  EXPECT_FALSE(interpreter.error().has_value()) << interpreter.error()->message;
  return out;
}

std::vector<Point> Ends(const Job& job) {
  std::vector<Point> ends;
  for (const Point& p : Moves(job)) {
    if (!p.midArc) ends.push_back(p);
  }
  return ends;
}

void ExpectSamePath(const std::vector<Point>& got, const std::vector<Point>& want,
                    const char* what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_NEAR(got[i].x, want[i].x, 1e-9) << what << " move " << i;
    EXPECT_NEAR(got[i].y, want[i].y, 1e-9) << what << " move " << i;
    EXPECT_NEAR(got[i].z, want[i].z, 1e-9) << what << " move " << i;
  }
}

struct Refusal {
  const char* job;
  int line;
  const char* message;
};

// Each job is refused while it is read: its first error names the line and the word.
void ExpectRefused(std::initializer_list<Refusal> refusals) {
  for (const Refusal& bad : refusals) {
    const Job job = ParseJob(bad.job);
    ASSERT_FALSE(job.errors.empty()) << bad.job;
    EXPECT_EQ(job.errors[0].line, bad.line) << bad.job;
    EXPECT_EQ(job.errors[0].message, bad.message) << bad.job;
  }
}

TEST(Rotation, QuarterTurnsAreExactAndAnyTurnGoesBackWhereItCame) {
  Rotation r;
  r.on = true;
  for (double degrees : {90.0, -270.0, 450.0}) {
    r.degrees = degrees;
    double v[2] = {3.0, 4.0};
    r.Turn(v);
    EXPECT_EQ(v[0], -4.0) << degrees;
    EXPECT_EQ(v[1], 3.0) << degrees;
  }
  r.degrees = 30.0;
  r.centre[0] = 5.0;
  r.centre[1] = -2.0;
  double p[2] = {15.0, -2.0};
  r.TurnPoint(p);
  EXPECT_NEAR(p[0], 5.0 + 10.0 * std::cos(kPi / 6.0), 1e-12);
  EXPECT_NEAR(p[1], -2.0 + 10.0 * std::sin(kPi / 6.0), 1e-12);
  r.TurnPoint(p, true);
  EXPECT_NEAR(p[0], 15.0, 1e-12);
  EXPECT_NEAR(p[1], -2.0, 1e-12);
  Rotation off;
  double q[2] = {1.0, 2.0};
  off.degrees = 90.0;  // not on: nothing turns
  off.TurnPoint(q);
  EXPECT_EQ(q[0], 1.0);
  EXPECT_EQ(q[1], 2.0);
}

TEST(Rotation, G68TurnsProgramPointsAboutItsCentreInTheWorkCoordinates) {
  const auto ends = Ends(
      ParseJob("G10 L2 P1 X100 Y50\n"
               "G68 A10 B0 R90\n"  // about (10, 0) of G54, which is machine (110, 50)
               "G1 X20 Y0 F100\n"  // (20, 0) turned: (10, 10)
               "X10\n"             // Y is still 0 in the program: the centre itself
               "G91 Y5\n"          // a step along the program's Y runs along the machine's -X
               "G90 Z-1\n"         // Z alone is not turned
               "G53 G0 X0 Y0\n"    // machine positions are not turned
               "G1 Y0\n"       // machine (0, 0) reads (-40, 110) in the turned program: to (-40, 0)
               "G69 X20 Y0\n"  // G69 on the line: the move is unturned
               "G20 G68 A1 B0 R180\n"
               "G1 X0 Y0\n"  // inches: the centre is 25.4 mm along X; (0, 0) turns to (50.8, 0)
               "M30\n"));
  const std::vector<std::array<double, 3>> want = {{110, 60, 0},  {110, 50, 0},   {105, 50, 0},
                                                   {105, 50, -1}, {0, 0, -1},     {110, 0, -1},
                                                   {120, 50, -1}, {150.8, 50, -1}};
  ASSERT_EQ(ends.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_NEAR(ends[i].x, want[i][0], 1e-9) << "move " << i;
    EXPECT_NEAR(ends[i].y, want[i][1], 1e-9) << "move " << i;
    EXPECT_NEAR(ends[i].z, want[i][2], 1e-9) << "move " << i;
  }
}

// A part with lines and arcs of every form (I J, R, G90.1 centres, a full circle) run under
// G68 R90 follows the path of the same part written turned by hand.
TEST(Rotation, ArcsAndCutterCompensationFollowThePartWrittenTurned) {
  const std::string turned =
      "G0 X0 Y0\n"
      "G1 X0 Y10 F200\n"
      "G3 X-10 Y20 I-10 J0\n"
      "G2 X-20 Y30 R10\n"
      "G90.1 G3 X-30 Y20 I-30 J30\n"
      "G91.1 G2 X-30 Y20 I0 J-5\n"
      "G1 X0 Y0\n"
      "M30\n";
  const std::string program =
      "G68 R90\n"
      "G0 X0 Y0\n"
      "G1 X10 Y0 F200\n"
      "G3 X20 Y10 I0 J10\n"
      "G2 X30 Y20 R10\n"
      "G90.1 G3 X20 Y30 I30 J30\n"
      "G91.1 G2 X20 Y30 I-5 J0\n"
      "G1 X0 Y0\n"
      "M30\n";
  ExpectSamePath(Moves(ParseJob(program)), Moves(ParseJob(turned)), "arcs");

  const std::vector<ToolEntry> tools = {{1, 1, 4.0, 0.0}};
  const std::string compTurned =
      "G0 X5 Y-5\nG41 D1 G1 X0 Y0 F100\nY20\nG3 X-10 Y30 I-10 J0\nG1 X-20\nG40 G1 X-25 Y40\nM30\n";
  const std::string compProgram =
      "G68 R90\nG0 X-5 Y-5\nG41 D1 G1 X0 Y0 F100\nX20\nG3 X30 Y10 I0 J10\nG1 Y20\n"
      "G40 G1 X40 Y25\nM30\n";
  const Job turnedJob = ParseJob(compTurned, tools);
  const Job programJob = ParseJob(compProgram, tools);
  ASSERT_TRUE(turnedJob.errors.empty()) << turnedJob.errors[0].message;
  ASSERT_TRUE(programJob.errors.empty()) << programJob.errors[0].message;
  auto run = [](const Job& job) {
    Interpreter interpreter(job, kDefaultChordToleranceMm, kNoReference);
    std::vector<Point> out;
    while (std::optional<JobAction> m = interpreter.Next()) {
      if (m->kind == JobAction::Kind::kMove)
        out.push_back({m->move.target[0], m->move.target[1], m->move.target[2], false});
    }
    EXPECT_FALSE(interpreter.error().has_value()) << interpreter.error()->message;
    return out;
  };
  ExpectSamePath(run(programJob), run(turnedJob), "cutter compensation");

  // At 30 degrees every slice of a circle about the program's (10, 0) stays on the turned
  // circle, and the arc ends on the turned end point.
  const auto slices = Moves(ParseJob("G68 A0 B0 R30\nG0 X0 Y0\nG1 X5 F100\nG2 X15 I5\nM30\n"));
  ASSERT_GT(slices.size(), 10u);
  const double cx = 10.0 * std::cos(kPi / 6.0), cy = 10.0 * std::sin(kPi / 6.0);
  for (size_t i = 1; i < slices.size(); ++i)
    EXPECT_NEAR(std::hypot(slices[i].x - cx, slices[i].y - cy), 5.0, 1e-9) << i;
  EXPECT_NEAR(slices.back().x, 15.0 * std::cos(kPi / 6.0), 1e-9);
  EXPECT_NEAR(slices.back().y, 15.0 * std::sin(kPi / 6.0), 1e-9);
}

TEST(Rotation, WhatCannotBeTurnedIsRefusedNamingItsLineAndWord) {
  ExpectRefused({
      Refusal{"G68 A1 B1\n", 1, "'G68': G68 needs R, the angle in degrees"},
      Refusal{"G68 X1 R5\n", 1, "'X1': G68 takes A and B (the centre) and R (the angle) only"},
      Refusal{"G68 R10\nG18 G2 X1 Z1 R2 F100\n", 2,
              "'G2': an arc under rotation (G68) must lie in the XY plane (G17)"},
      Refusal{"G68 R10\nG81 X1 Y1 Z-1 R1 F100\n", 2,
              "'G81': canned cycles do not run under rotation (G69 first)"},
      Refusal{"G68 R10\nG38.2 Z-5 F100\n", 2,
              "'G38.2': probing does not run under rotation (G69 first)"},
      Refusal{"G68 R10\nG92 X0\n", 2,
              "'G92': cannot set an offset from the position under rotation (G69 first)"},
      Refusal{"G68 R10\nG10 L20 P1 X0\n", 2,
              "'G10': cannot set an offset from the position under rotation (G69 first)"},
      Refusal{"G41 D0 G1 X10 F100\nG68 R10\n", 2,
              "'G68': cannot turn the coordinates with cutter compensation on (G40 first)"},
  });
  // After G69 the same words run, and G53 under rotation needs no turning.
  EXPECT_TRUE(
      ParseJob("G68 R10\nG69\nG18 G2 X1 Z1 R2 F100\nG81 X1 Y1 Z-1 R1\nG92 X0\n").errors.empty());
  EXPECT_TRUE(ParseJob("G68 R10\nG53 G0 X1 Y1\n").errors.empty());
}

void ExpectEnds(const std::vector<Point>& ends, const std::vector<std::array<double, 3>>& want,
                const char* what) {
  ASSERT_EQ(ends.size(), want.size()) << what;
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_NEAR(ends[i].x, want[i][0], 1e-9) << what << " move " << i;
    EXPECT_NEAR(ends[i].y, want[i][1], 1e-9) << what << " move " << i;
    EXPECT_NEAR(ends[i].z, want[i][2], 1e-9) << what << " move " << i;
  }
}

TEST(Scaling, G51ScalesEachAxisAboutTheProgramsOriginBeforeG68TurnsIt) {
  ExpectEnds(Ends(ParseJob("G10 L2 P1 X100\n"
                           "G51 X2 Y3 Z0.5\n"
                           "G1 X10 Y5 Z-4 F100\n"  // (20, 15, -2) from G54's origin
                           "G91 X1\n"              // a step of 1 is a step of 2
                           "G90 Y0\n"              // X stays where it is
                           "G50 X10\n"             // G50 on the line: unscaled
                           "M30\n")),
             {{120, 15, -2}, {122, 15, -2}, {122, 0, -2}, {110, 0, -2}}, "scaled");
  // The turn's centre is a point of the work coordinates: the scaled (20, 0) turns about it.
  ExpectEnds(Ends(ParseJob("G51 X2 Y2\nG68 A10 B0 R90\nG1 X10 Y0 F100\nX0\nG69 G50 X1\nM30\n")),
             {{10, 10, 0}, {10, -10, 0}, {1, -10, 0}}, "scaled and turned");
}

TEST(Scaling, ArcsScaleWithThePartAndAMirrorTurnsThemTheOtherWay) {
  ExpectSamePath(Moves(ParseJob("G51 X2 Y2\nG1 X10 F100\nG3 X20 Y10 J10\nG2 X30 Y20 R10\n"
                                "G90.1 G3 X20 Y30 I30 J30\nM30\n")),
                 Moves(ParseJob("G1 X20 F100\nG3 X40 Y20 J20\nG2 X60 Y40 R20\n"
                                "G90.1 G3 X40 Y60 I60 J60\nM30\n")),
                 "scaled by 2");
  ExpectSamePath(Moves(ParseJob("G51 X-1\nG2 X20 I10 F100\nM30\n")),
                 Moves(ParseJob("G3 X-20 I-10 F100\nM30\n")), "mirrored in X");
  ExpectSamePath(Moves(ParseJob("G51 X-2 Y-2\nG2 X20 I10 F100\nM30\n")),
                 Moves(ParseJob("G2 X-40 I-20 F100\nM30\n")), "mirrored in both: a half turn");
  ExpectSamePath(Moves(ParseJob("G18 G51 X3 Z-3 Y7\nG2 X10 Z10 R10 F100\nM30\n")),
                 Moves(ParseJob("G18 G3 X30 Z-30 R30 F100\nM30\n")), "mirrored in G18");
  // Lines under unequal factors are only stretched.
  ExpectEnds(Ends(ParseJob("G51 X2 Y3\nG1 X1 Y1 F100\nM30\n")), {{2, 3, 0}}, "unequal");
}

TEST(Scaling, WhatCannotBeScaledIsRefusedNamingItsLineAndWord) {
  ExpectRefused({
      Refusal{"G51 X2 Y3\nG2 X1 Y1 R5 F100\n", 2,
              "'G2': an arc under unequal X and Y scale factors (G51) would be an ellipse"},
      Refusal{"G51 X2 Y3\nG18 G3 X1 Z1 R5 F100\n", 2,
              "'G3': an arc under unequal Z and X scale factors (G51) would be an ellipse"},
      Refusal{"G51 X0 Y2\n", 1, "'X0': a scale factor must not be 0"},
      Refusal{"G51\n", 1, "'G51': G51 needs scale factors (X Y Z A B C)"},
      Refusal{"G51 X2 G68 R9\n", 1, "'G51': on one line with 'G68': each takes its own axis words"},
      Refusal{"G51 X2\nG81 X1 Y1 Z-1 R1 F100\n", 2,
              "'G81': canned cycles do not run under scaling (G50 first)"},
      Refusal{"G51 X2\nG31 Z-5 F100\n", 2, "'G31': probing does not run under scaling (G50 first)"},
      Refusal{"G51 X2\nG92 Y0\n", 2,
              "'G92': cannot set an offset from the position under scaling (G50 first)"},
      Refusal{"G41 D0 G1 X10 F100\nG51 X2 Y2\n", 2,
              "'G51': cannot change the scale with cutter compensation on (G40 first)"},
      Refusal{"G51 Y-1\nG41 D0 G1 X10 F100\n", 2,
              "'G1': cutter compensation does not run under a mirroring scale (G50 first)"},
  });
  EXPECT_TRUE(ParseJob("G51 X2 Y3\nG50\nG2 X1 Y1 R5 F100\n").errors.empty());
}

TEST(Polar, G16ReadsXAsARadiusAndYAsAnAngleAboutTheProgramsOrigin) {
  const double root3 = std::sqrt(3.0);
  ExpectEnds(Ends(ParseJob("G10 L2 P1 X100\n"
                           "G16 G1 X10 Y90 F100\n"  // straight up from G54's origin
                           "X10 Y30\n"
                           "Y-30\n"      // the radius stays
                           "X20\n"       // the angle stays
                           "G91 Y120\n"  // an increment of the angle: round to 90 degrees
                           "X-5\n"       // and of the radius
                           "G90 Z-1\n"   // Z is plain
                           "G15 X1 Y1\n"
                           "M30\n")),
             {{100, 10, 0},
              {100 + 5 * root3, 5, 0},
              {100 + 5 * root3, -5, 0},
              {100 + 10 * root3, -10, 0},
              {100, 20, 0},
              {100, 15, 0},
              {100, 15, -1},
              {101, 1, -1}},
             "polar");
  // An arc's end is polar, its centre (I J, or R) Cartesian as ever.
  ExpectSamePath(Moves(ParseJob("G16 G1 X10 Y0 F100\nG3 X10 Y90 I-10 J0\nG2 X10 Y0 R10\nM30\n")),
                 Moves(ParseJob("G1 X10 Y0 F100\nG3 X0 Y10 I-10 J0\nG2 X10 Y0 R10\nM30\n")),
                 "arcs");
  // Under G68 the polar point is turned like any other.
  ExpectEnds(Ends(ParseJob("G68 R90\nG16 G1 X10 Y0 F100\nM30\n")), {{0, 10, 0}}, "turned");
}

TEST(Polar, WhatCannotBeReadInPolarTermsIsRefusedNamingItsLineAndWord) {
  ExpectRefused({
      Refusal{"G16\nG18 G2 X1 Z1 R5 F100\n", 2,
              "'G2': an arc under polar coordinates (G16) must lie in the XY plane (G17)"},
      Refusal{"G16\nG81 X1 Y1 Z-1 R1 F100\n", 2,
              "'G81': canned cycles do not run under polar coordinates (G15 first)"},
      Refusal{"G16\nG38.2 X5 F100\n", 2,
              "'G38.2': probing does not run under polar coordinates (G15 first)"},
      Refusal{"G16\nG10 L20 P1 X0\n", 2,
              "'G10': cannot set an offset from the position under polar coordinates (G15 first)"},
      Refusal{"G15 G16\n", 1, "'G16': in one modal group with 'G15' on this line"},
  });
  EXPECT_TRUE(ParseJob("G16\nG15\nG81 X1 Y1 Z-1 R1 F100\nG80\nG92 X0\n").errors.empty());
}

TEST(Pocket, G12AndG13GoOutCutOnceRoundAndComeBack) {
  const Job job = ParseJob(
      "G10 L2 P1 X100\n"
      "G0 X10 Y20 Z-2\n"
      "G1 F300\n"
      "G12 I5\n"
      "G13 I5\n"
      "G1 X11\n"  // the motion mode in force goes on after them
      "M30\n");
  ASSERT_TRUE(job.errors.empty()) << job.errors[0].message;
  Interpreter interpreter(job, kDefaultChordToleranceMm, kNoReference);
  struct Cut {
    double lowestY = 1e9, highestY = -1e9;
    double firstSliceY = 0.0;  // which way round: below the start for G12, above for G13
    std::vector<Point> ends;
  };
  Cut cut[2];
  while (std::optional<JobAction> a = interpreter.Next()) {
    if (a->kind != JobAction::Kind::kMove || (a->line != 4 && a->line != 5)) continue;
    Cut& c = cut[a->line - 4];
    const Point p{a->move.target[0], a->move.target[1], a->move.target[2], a->move.midArc};
    EXPECT_FALSE(a->move.rapid);
    EXPECT_EQ(a->move.feedPerMinute, 300.0);
    EXPECT_EQ(p.z, -2.0);
    if (c.ends.size() == 1 && !c.ends.back().midArc) c.firstSliceY = p.y;
    c.lowestY = std::min(c.lowestY, p.y);
    c.highestY = std::max(c.highestY, p.y);
    c.ends.push_back(p);
  }
  EXPECT_FALSE(interpreter.error().has_value());
  for (int k = 0; k < 2; ++k) {
    const Cut& c = cut[k];
    ASSERT_GT(c.ends.size(), 10u) << k;
    for (size_t i = 0; i + 1 < c.ends.size(); ++i)
      EXPECT_NEAR(std::hypot(c.ends[i].x - 110.0, c.ends[i].y - 20.0), 5.0, 1e-9) << k << " " << i;
    EXPECT_EQ(c.ends[0].x, 115.0) << "out along X";
    EXPECT_EQ(c.ends[0].y, 20.0);
    EXPECT_NEAR(c.lowestY, 15.0, 1e-3) << "the whole circle";
    EXPECT_NEAR(c.highestY, 25.0, 1e-3) << "the whole circle";
    EXPECT_EQ(c.ends.back().x, 110.0) << "back where it stood";
    EXPECT_EQ(c.ends.back().y, 20.0);
  }
  EXPECT_LT(cut[0].firstSliceY, 20.0) << "G12 goes clockwise";
  EXPECT_GT(cut[1].firstSliceY, 20.0) << "G13 counter-clockwise";
}

TEST(Pocket, APocketScalesTurnsAndMirrorsWithTheProgram) {
  // Under G68 R90 and G51 X-2 Y-2 the tool goes out along the program's X turned and
  // doubled: from (1, 1) down to (1, -9), and the half turn keeps G13's way round.
  ExpectSamePath(Moves(ParseJob("G0 X1 Y1\nG1 F100\nG68 R90\nG51 X-2 Y-2\nG13 I5\nM30\n")),
                 Moves(ParseJob("G0 X1 Y1\nG1 F100\nX1 Y-9\nG3 X1 Y-9 I0 J10\nG1 X1 Y1\nM30\n")),
                 "scaled and turned");
  ExpectSamePath(Moves(ParseJob("G1 F100\nG51 X-1\nG13 I5\nM30\n")),
                 Moves(ParseJob("G1 F100\nX-5\nG2 X-5 I5\nG1 X0\nM30\n")), "mirrored");
  ExpectRefused({
      Refusal{"G1 F100\nG12\n", 2, "'G12': G12 and G13 need I, the circle's radius, above 0"},
      Refusal{"G1 F100\nG13 I-2\n", 2, "'I-2': G12 and G13 need I, the circle's radius, above 0"},
      Refusal{"G1 F100\nG12 I2 X1\n", 2, "'X1': G12 and G13 take I (the radius) only"},
      Refusal{"G1 F100\nG12 I2 J1\n", 2, "'J1': G12 and G13 take I (the radius) only"},
      Refusal{"G12 I2\n", 1, "'G12': G12 and G13 need a feed per minute (G94 and F)"},
      Refusal{"G1 F100\nG18 G12 I2\n", 2, "'G12': G12 and G13 cut in the XY plane (G17)"},
      Refusal{"G41 D0 G1 X10 F100\nG12 I2\n", 2,
              "'G12': G12 and G13 do not run with cutter compensation on (G40 first)"},
      Refusal{"G1 F100\nG51 X2\nG12 I2\n", 3,
              "'G12': a circle under unequal X and Y scale factors (G51) would be an ellipse"},
  });
}

}  // namespace
}  // namespace torvexan::sim::testing
