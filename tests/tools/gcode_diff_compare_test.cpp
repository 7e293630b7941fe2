// gcode-diff's comparison on canonical output written as rs274 prints it: our interpreter's
// arc slices against rs274's ARC_FEED (every wrong arc here ends exactly where the right one
// does, so only the comparison along the path can tell them apart), and moves too short for
// rs274's print.
#include <gtest/gtest.h>

#include <initializer_list>
#include <random>
#include <string>

#include "tools/gcode-diff/move_ends.h"
#include "tools/gcode-diff/post_style.h"

namespace {

namespace gd = torvexan::gcodediff;

constexpr double kToleranceMm = 0.001;

// Canonical calls numbered as rs274 prints them.
std::string Canon(std::initializer_list<std::string> calls) {
  std::string text;
  int n = 0;
  for (const std::string& c : calls) text += "   " + std::to_string(++n) + " N..... " + c + "\n";
  return text;
}

// A program that starts at X10 Y0 Z5 and then runs arcLine.
gd::Outcome Ours(const std::string& arcLine) {
  return gd::OurMoveEnds("G21 G90 G17 G94 G91.1 F500\nG0 X10 Y0 Z5\n" + arcLine + "\nM30\n", {});
}

gd::Outcome Theirs(const std::string& plane, const std::string& arcFeed) {
  return gd::ParseCanon(
      Canon({"USE_LENGTH_UNITS(CANON_UNITS_MM)",
             "STRAIGHT_TRAVERSE(10.0000, 0.0000, 5.0000, 0.0000, 0.0000, 0.0000)",
             "SELECT_PLANE(CANON_PLANE_" + plane + ")", "ARC_FEED(" + arcFeed + ")"}));
}

struct FullCircle {
  const char* program;
  const char* plane;
  const char* right;     // as rs274 prints it
  const char* wrong[3];  // another centre on the same start, the other way round, more turns
};

// In XZ rs274 gives Z before X, in YZ Y before Z; the sixth number is the helix's end.
const FullCircle kCircles[] = {
    {"G17 G3 X10 Y0 I-10 J0 Z-2",
     "XY",
     "10.0000, 0.0000, 0.0000, 0.0000, 1, -2.0000, 0.0000, 0.0000, 0.0000",
     {"10.0000, 0.0000, 20.0000, 0.0000, 1, -2.0000, 0.0000, 0.0000, 0.0000",
      "10.0000, 0.0000, 0.0000, 0.0000, -1, -2.0000, 0.0000, 0.0000, 0.0000",
      "10.0000, 0.0000, 0.0000, 0.0000, 2, -2.0000, 0.0000, 0.0000, 0.0000"}},
    {"G18 G2 X10 Z5 I-10 K0 Y4",
     "XZ",
     "5.0000, 10.0000, 5.0000, 0.0000, -1, 4.0000, 0.0000, 0.0000, 0.0000",
     {"5.0000, 10.0000, 5.0000, 20.0000, -1, 4.0000, 0.0000, 0.0000, 0.0000",
      "5.0000, 10.0000, 5.0000, 0.0000, 1, 4.0000, 0.0000, 0.0000, 0.0000",
      "5.0000, 10.0000, 5.0000, 0.0000, -2, 4.0000, 0.0000, 0.0000, 0.0000"}},
    {"G19 G3 Y0 Z5 J-3 K4 X2 A30",
     "YZ",
     "0.0000, 5.0000, -3.0000, 9.0000, 1, 2.0000, 30.0000, 0.0000, 0.0000",
     {"0.0000, 5.0000, 3.0000, 1.0000, 1, 2.0000, 30.0000, 0.0000, 0.0000",
      "0.0000, 5.0000, -3.0000, 9.0000, -1, 2.0000, 30.0000, 0.0000, 0.0000",
      "0.0000, 5.0000, -3.0000, 9.0000, 3, 2.0000, 30.0000, 0.0000, 0.0000"}},
};

TEST(GcodeDiffArcs, AFullCircleAgreesOnlyWithTheSameCentreDirectionAndTurns) {
  for (const FullCircle& c : kCircles) {
    SCOPED_TRACE(c.program);
    const gd::Outcome ours = Ours(c.program);
    ASSERT_TRUE(ours.ok) << ours.error;
    EXPECT_EQ(gd::Compare(ours, Theirs(c.plane, c.right), kToleranceMm), "");
    for (const char* wrong : c.wrong) {
      SCOPED_TRACE(wrong);
      EXPECT_NE(gd::Compare(ours, Theirs(c.plane, wrong), kToleranceMm).find("arc"),
                std::string::npos);
    }
  }
}

TEST(GcodeDiffArcs, AnArcToTheRightEndAroundAnotherCentreDisagrees) {
  // Clockwise from X10 to X20: around (15, -5) the short way, around (15, 5) the long way.
  const gd::Outcome ours = Ours("G2 X20 Y0 I5 J-5");
  EXPECT_EQ(
      gd::Compare(ours, Theirs("XY", "20.0000, 0.0000, 15.0000, -5.0000, -1, 5.0000, 0, 0, 0"),
                  kToleranceMm),
      "");
  EXPECT_NE(gd::Compare(ours, Theirs("XY", "20.0000, 0.0000, 15.0000, 5.0000, -1, 5.0000, 0, 0, 0"),
                        kToleranceMm),
            "");
}

TEST(GcodeDiffArcs, OurSlicesOffRs274sArcDisagree) {
  const FullCircle& c = kCircles[0];
  const gd::Outcome theirs = Theirs(c.plane, c.right);
  const gd::Outcome right = Ours(c.program);
  ASSERT_EQ(right.ends.size(), 2u);
  const gd::MoveEnd& circle = right.ends[1];
  ASSERT_GT(circle.via.size(), 100u);  // 1 um from a 10 mm circle
  const size_t middle = circle.via.size() / 2;

  gd::Outcome planted = right;
  planted.ends[1].via[middle][0] += 0.005;  // a bump outwards
  EXPECT_NE(gd::Compare(planted, theirs, kToleranceMm).find("from rs274's centre"),
            std::string::npos);
  planted = right;
  planted.ends[1].via[middle][2] += 0.05;  // the helix out of step
  EXPECT_NE(gd::Compare(planted, theirs, kToleranceMm).find("Z at"), std::string::npos);
  planted = right;
  std::swap(planted.ends[1].via[middle], planted.ends[1].via[middle + 1]);  // a step back
  EXPECT_NE(gd::Compare(planted, theirs, kToleranceMm).find("against"), std::string::npos);
  planted = right;
  planted.ends[1].via.clear();  // the helix as one straight move
  EXPECT_NE(gd::Compare(planted, theirs, kToleranceMm).find("arc vertex 1 of 1"),
            std::string::npos);

  // A flat full circle left out is a move of length 0 on our side only.
  gd::Outcome flat = Ours("G2 X10 Y0 I-10 J0");
  const gd::Outcome flatTheirs =
      Theirs("XY", "10.0000, 0.0000, 0.0000, 0.0000, -1, 5.0000, 0, 0, 0");
  EXPECT_EQ(gd::Compare(flat, flatTheirs, kToleranceMm), "");
  flat.ends[1].via.clear();
  EXPECT_EQ(gd::Compare(flat, flatTheirs, kToleranceMm), "we make 1 moves, rs274 2");
}

TEST(GcodeDiffArcs, TheCentreTakesTheOffsetsAndUnitsRs274Announced) {
  // rs274's own output for this program: the centre in inches and program coordinates.
  const gd::Outcome ours = gd::OurMoveEnds(
      "G20 G90 G17 G94 G91.1 F20\nG10 L2 P1 X1 Y2 Z3\nG92 X0.5\nG0 X1 Y0 Z0\n"
      "G18 G3 X1 Z0 I-0.25 K0.5\nM30\n",
      {});
  const gd::Outcome theirs = gd::ParseCanon(
      Canon({"USE_LENGTH_UNITS(CANON_UNITS_INCHES)",
             "SET_G5X_OFFSET(1, 1.0000, 2.0000, 3.0000, 0.0000, 0.0000, 0.0000)",
             "SET_G92_OFFSET(-1.5000, 0.0000, 0.0000, 0.0000, 0.0000, 0.0000)",
             "STRAIGHT_TRAVERSE(1.0000, 0.0000, 0.0000, 0.0000, 0.0000, 0.0000)",
             "SELECT_PLANE(CANON_PLANE_XZ)",
             "ARC_FEED(0.0000, 1.0000, 0.5000, 0.7500, 1, 0.0000, 0.0000, 0.0000, 0.0000)"}));
  ASSERT_TRUE(ours.ok) << ours.error;
  EXPECT_EQ(gd::Compare(ours, theirs, kToleranceMm), "");
}

TEST(GcodeDiffMoves, InInchesAMoveWithinRs274sPrintRoundingIsNoMoveOnEitherSide) {
  // 0.0001 in (2.54 um) is one step of rs274's print in inches: rs274's own output cannot
  // tell such a move from none, so ours does not count either.
  const gd::Outcome ours = gd::OurMoveEnds("G20 G90 G17\nG0 X1\nX1.0001\nX2\nM30\n", {});
  const gd::Outcome theirs =
      gd::ParseCanon(Canon({"USE_LENGTH_UNITS(CANON_UNITS_INCHES)",
                            "STRAIGHT_TRAVERSE(1.0000, 0.0000, 0.0000, 0.0000, 0.0000, 0.0000)",
                            "STRAIGHT_TRAVERSE(1.0001, 0.0000, 0.0000, 0.0000, 0.0000, 0.0000)",
                            "STRAIGHT_TRAVERSE(2.0000, 0.0000, 0.0000, 0.0000, 0.0000, 0.0000)"}));
  ASSERT_EQ(ours.ends.size(), 3u);
  EXPECT_EQ(gd::Compare(ours, theirs, kToleranceMm), "");
  // A move of 0.001 in is a move: ours stops there, rs274 goes on to X2.
  const std::string diff = gd::Compare(gd::OurMoveEnds("G20 G90 G17\nG0 X1\nX1.001\nX2\nM30\n", {}),
                                       theirs, kToleranceMm);
  EXPECT_EQ(diff.rfind("move 2 (our line 3): we end at (25.4254", 0), 0u) << diff;
}

TEST(GcodeDiffMoves, AMoveWithinTwiceThePrintRoundingMayBeDroppedByEitherSide) {
  // 0.45 um: rs274's rounding of its ends may print it as 0.4 um, one point to the comparison.
  const gd::Outcome theirs =
      gd::ParseCanon(Canon({"USE_LENGTH_UNITS(CANON_UNITS_MM)",
                            "STRAIGHT_TRAVERSE(1.0000, 0.0000, 0.0000, 0.0000, 0.0000, 0.0000)",
                            "STRAIGHT_TRAVERSE(1.0004, 0.0000, 0.0000, 0.0000, 0.0000, 0.0000)",
                            "STRAIGHT_TRAVERSE(2.0000, 0.0000, 0.0000, 0.0000, 0.0000, 0.0000)"}));
  EXPECT_EQ(gd::Compare(gd::OurMoveEnds("G21 G90 G17\nG0 X1\nX1.00045\nX2\nM30\n", {}), theirs,
                        kToleranceMm),
            "");
  // 2 um is a move that rs274 does not make.
  const std::string diff = gd::Compare(gd::OurMoveEnds("G21 G90 G17\nG0 X1\nX1.002\nX2\nM30\n", {}),
                                       theirs, kToleranceMm);
  EXPECT_EQ(diff.rfind("move 2 (our line 3): we end at (1.0020", 0), 0u) << diff;
}

TEST(GcodeDiffCanon, CallsAreReadWhateverTheBlockNumbers) {
  // rs274's own lines for "N10 G0 X1", "N20 G0 Y2", "N123456 G0 Z1" and one without N.
  const gd::Outcome theirs = gd::ParseCanon(
      "    1 N..... USE_LENGTH_UNITS(CANON_UNITS_MM)\n"
      "    7 N10    STRAIGHT_TRAVERSE(1.0000, 0.0000, 0.0000, 0.0000, 0.0000, 0.0000)\n"
      "    8 N20    STRAIGHT_TRAVERSE(1.0000, 2.0000, 0.0000, 0.0000, 0.0000, 0.0000)\n"
      "    9 N123456STRAIGHT_TRAVERSE(1.0000, 2.0000, 1.0000, 0.0000, 0.0000, 0.0000)\n"
      "   10 N..... STRAIGHT_FEED(4.0000, 2.0000, 1.0000, 0.0000, 0.0000, 0.0000)\n"
      "   11 N30    PROGRAM_END()\n");
  ASSERT_EQ(theirs.ends.size(), 4u);
  EXPECT_EQ(theirs.ends[1].at[1], 2.0);
  EXPECT_EQ(theirs.ends[2].at[2], 1.0);
  EXPECT_EQ(theirs.ends[3].at[0], 4.0);
  const gd::Outcome ours =
      gd::OurMoveEnds("N10 G0 X1\nN20 G0 Y2\nN123456 G0 Z1\nG1 X4 F100\nN30 M30\n", {});
  EXPECT_EQ(gd::Compare(ours, theirs, kToleranceMm), "");
}

TEST(GcodeDiffCanon, AnOffsetSetInInchesKeepsItsPrintRoundingInMillimetres) {
  // rs274's output for G20 / G0 X0.287448 / G92 X0 / G21 / G0 X0 Y1: the G92 offset printed
  // to 0.0001 in is 1.2 um short of where X stands, which the moves in millimetres inherit.
  const std::string program = "G20 G90\nG0 X0.287448\nG92 X0\nG21\nG0 X0 Y1\nM30\n";
  const auto theirs = [](const char* lastMove) {
    return gd::ParseCanon(
        Canon({"USE_LENGTH_UNITS(CANON_UNITS_MM)",
               "SET_G92_OFFSET(0.0000, 0.0000, 0.0000, 0.0000, 0.0000, 0.0000)",
               "USE_LENGTH_UNITS(CANON_UNITS_INCHES)",
               "STRAIGHT_TRAVERSE(0.2874, 0.0000, 0.0000, 0.0000, 0.0000, 0.0000)",
               "SET_G92_OFFSET(0.2874, 0.0000, 0.0000, 0.0000, 0.0000, 0.0000)",
               "USE_LENGTH_UNITS(CANON_UNITS_MM)", lastMove}));
  };
  const gd::Outcome ours = gd::OurMoveEnds(program, {});
  ASSERT_TRUE(ours.ok) << ours.error;
  EXPECT_EQ(gd::Compare(ours,
                        theirs("STRAIGHT_TRAVERSE(0.0000, 1.0000, 0.0000, 0.0000, 0.0000, "
                               "0.0000)"),
                        kToleranceMm),
            "");
  // 0.004 mm further is more than the rounding of an inch offset and a millimetre move.
  EXPECT_NE(gd::Compare(ours,
                        theirs("STRAIGHT_TRAVERSE(0.0040, 1.0000, 0.0000, 0.0000, 0.0000, "
                               "0.0000)"),
                        kToleranceMm),
            "");
}

// A program in every post's habits moves as the plain one does, and the habits show.
TEST(GcodeDiffPostStyle, RewrittenProgramsMoveAsThePlainOne) {
  const std::string plain =
      "G21 G90 G17 G94 G40 G49 G80 G54 G91.1\nM3 S1000\nF500.0\nG0 X0.5000 Y-12.2500 Z3.0000\n"
      "G1 X1.0000 Z-0.7500\nG91 G2 X10.0000 Y0.0000 I5.0000 J0.0000 A12.5000\nG90\n"
      "G92 X0.0000\nG0 X-3.0000\n#1 = [2.5 * 2]\nG1 X#1 Y[#1 MOD 3]\nM98 P1000 L2\nM30\n"
      "O1000\nG91 G1 X1.0000\nG90\nM99\n";
  const gd::Outcome expected = gd::OurMoveEnds(plain, {});
  ASSERT_TRUE(expected.ok) << expected.error;
  std::string seen;
  for (uint64_t seed = 1; seed <= 60; ++seed) {
    std::mt19937_64 rng(seed);
    const std::string styled = gd::PostStyle(plain, rng);
    SCOPED_TRACE(styled);
    const gd::Outcome got = gd::OurMoveEnds(styled, {});
    ASSERT_TRUE(got.ok) << got.error;
    ASSERT_EQ(got.ends.size(), expected.ends.size());
    for (size_t i = 0; i < got.ends.size(); ++i) EXPECT_EQ(got.ends[i].at, expected.ends[i].at);
    seen += styled;
  }
  for (const char* habit : {"%\n", "N10", "N0010", "g01", "G01X", "X.5", "X+", "Z3.\n", "; note",
                            "(OPERATION", "\n/", "M03", "O0"}) {
    EXPECT_NE(seen.find(habit), std::string::npos) << habit;
  }
}

TEST(GcodeDiffTools, Rs274GetsTheTableConvertedFromTheTextAsWritten) {
  EXPECT_EQ(gd::Rs274ToolTable("; tools (mm)\n"
                               "T1 P1 D6 Z42.5 ;flat end mill\n"
                               "\n"
                               "(drill) t2 p7 d.5 z-25.4\r\n"
                               "T3 Z2.54 D12.7 P3\n"),
            "T1 P1 D0.236220472 Z1.673228346\n"
            "T2 P7 D0.019685039 Z-1.000000000\n"
            "T3 Z0.100000000 D0.500000000 P3\n");
}

}  // namespace
