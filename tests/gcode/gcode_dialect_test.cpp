// The Mach3 dialect beyond plain moves: parameters and expressions, subprograms, tools and
// their lengths, work offsets, canned cycles, and what the reader refuses or only warns of.
// Positions against LinuxCNC's interpreter are checked by gcode.diff_*.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/gcode/job_file.h"
#include "sim/gcode/job_interpreter.h"
#include "sim/gcode/tool_table.h"

namespace torvexan::sim::testing {
namespace {

constexpr double kNoReference[kHostAxisCount] = {};

// Where every move ends (machine X, Y, Z), arcs by their last slice.
std::vector<std::array<double, 3>> Ends(const Job& job) {
  EXPECT_TRUE(job.errors.empty()) << job.errors[0].line << ": " << job.errors[0].message;
  Interpreter interpreter(job, kDefaultChordToleranceMm, kNoReference);
  std::vector<std::array<double, 3>> ends;
  while (std::optional<JobAction> a = interpreter.Next()) {
    if (a->kind != JobAction::Kind::kMove || a->move.midArc) continue;
    ends.push_back({a->move.target[0], a->move.target[1], a->move.target[2]});
  }
  EXPECT_FALSE(interpreter.error().has_value()) << interpreter.error()->message;
  return ends;
}

// The job's actions in order, one word each: "R x y z" and "F x y z" for rapid and feed moves
// by their end, "P s" for a dwell, "M3 rpm", "M4 rpm" and "M5" for the spindle, "note" for a
// note; "error: ..." when the interpreter stops.
std::vector<std::string> Actions(const Job& job) {
  EXPECT_TRUE(job.errors.empty()) << job.errors[0].line << ": " << job.errors[0].message;
  Interpreter interpreter(job, kDefaultChordToleranceMm, kNoReference);
  std::vector<std::string> out;
  char word[96];
  while (std::optional<JobAction> a = interpreter.Next()) {
    switch (a->kind) {
      case JobAction::Kind::kMove:
        std::snprintf(word, sizeof word, "%c %g %g %g", a->move.rapid ? 'R' : 'F',
                      a->move.target[0], a->move.target[1], a->move.target[2]);
        break;
      case JobAction::Kind::kDwell:
        std::snprintf(word, sizeof word, "P %g", a->seconds);
        break;
      case JobAction::Kind::kSpindle:
        if (a->spindle == SpindleTurn::kStop) {
          std::snprintf(word, sizeof word, "M5");
        } else {
          std::snprintf(word, sizeof word, "M%d %g", a->spindle == SpindleTurn::kClockwise ? 3 : 4,
                        a->speed);
        }
        break;
      case JobAction::Kind::kNote:
        std::snprintf(word, sizeof word, "note");
        break;
      default:
        std::snprintf(word, sizeof word, "other");
        break;
    }
    out.push_back(word);
  }
  if (interpreter.error()) out.push_back("error: " + interpreter.error()->message);
  return out;
}

TEST(GcodeDialect, ParametersAreSetAfterTheLineThatSetsThemIsRead) {
  const Job job = ParseJob(
      "#1 = 4\n"
      "#2 = [#1 * 2 + 2 ** 3 - 10 MOD 4] (14)\n"
      "#[#1 + 1] = [ATAN[1]/[1] + SIN[90] + FIX[-1.5] + [3 GT 2 AND 1]] (sets #5 = 45)\n"
      "#1 = 7 G0 X#1 Y-#2 Z#5 (X reads 4, not 7)\n"
      "G0 X#1 Y[SQRT[ABS[-16]] + ROUND[2.5] + FUP[0.1]]\n");
  const auto ends = Ends(job);
  ASSERT_EQ(ends.size(), 2u);
  EXPECT_DOUBLE_EQ(ends[0][0], 4.0);
  EXPECT_DOUBLE_EQ(ends[0][1], -14.0);
  EXPECT_DOUBLE_EQ(ends[0][2], 45.0);
  EXPECT_DOUBLE_EQ(ends[1][0], 7.0);
  EXPECT_DOUBLE_EQ(ends[1][1], 8.0);

  const Job bad = ParseJob("G0 X[1/0]\nG0 Y[2 +]\n#3\nG0 Z COS[1\nG0 X[LOG[2]]\n");
  ASSERT_EQ(bad.errors.size(), 5u);
  EXPECT_EQ(bad.errors[0].message, "'X[1/0]': division by zero");
  EXPECT_EQ(bad.errors[2].message, "'#3': a parameter on its own needs '= value'");
  EXPECT_EQ(bad.errors[4].message, "'X[LOG[2]]': unknown function");
}

TEST(GcodeDialect, ProbeResultsReadTheTargetUntilTheTripPointIsKnown) {
  const char* text =
      "G20 G10 L2 P1 Z-1\n"
      "G38.2 Z-2 F4\n"
      "G0 X#2000 Y#5062 Z[#2002 + 0.1]\n"
      "G91 G31 Z-1\n"
      "G90 G0 Z#5063\n";
  const auto before = Ends(ParseJob(text));
  ASSERT_EQ(before.size(), 2u);
  EXPECT_DOUBLE_EQ(before[0][2], 25.4 * (-1.9 - 1.0)) << "the probe's target, in inches";
  EXPECT_DOUBLE_EQ(before[0][0], 0.0) << "X was not written: unknown while reading";
  EXPECT_DOUBLE_EQ(before[1][2], 25.4 * (-2.0 - 1.0)) << "an incremental probe changes nothing";

  const ProbeTrips trips = {{1, ProbeTrip{{3.0, 4.0, -10.16}}}, {3, ProbeTrip{{3.0, 4.0, -12.7}}}};
  const Job job = ParseJob(text, {}, trips);
  const auto after = Ends(job);
  ASSERT_EQ(after.size(), 2u);
  EXPECT_NEAR(after[0][0], 3.0, 1e-12);
  EXPECT_NEAR(after[0][1], 4.0, 1e-12);
  EXPECT_NEAR(after[0][2], 25.4 * (-0.4 + 0.1 - 1.0), 1e-12);
  EXPECT_NEAR(after[1][2], -12.7 - 25.4, 1e-12) << "the incremental probe's trip point";
  EXPECT_EQ(job.source, text) << "kept, to be read again after the next probe";
  EXPECT_EQ(job.lastProbeResultReader, 4) << "line 5 reads #5063";
  EXPECT_EQ(ParseJob("G38.2 Z-2 F4\n#1 = #2001\nG0 Z1\n").lastProbeResultReader, 1);
  EXPECT_EQ(ParseJob("G38.2 Z-2 F4\n#1 = #2003\nG0 Z#1999\n").lastProbeResultReader, -1);
}

TEST(GcodeDialect, SubprogramsAfterTheEndRunWhereTheyAreCalled) {
  const Job job = ParseJob(
      "%\nO1 (a program number, not a subprogram)\n"
      "G91 G1 F100\n"
      "M98 P10 L2\n"
      "X100\n"
      "M30\n"
      "O10\n"
      "X1\n"
      "M98 P20 L3\n"
      "M99\n"
      "O20\n"
      "Y1\n"
      "M99\n%\n");
  ASSERT_TRUE(job.errors.empty()) << job.errors[0].message;
  EXPECT_TRUE(job.ended);
  const auto ends = Ends(job);
  ASSERT_EQ(ends.size(), 9u);  // twice X1 and three Y1, then X100
  EXPECT_DOUBLE_EQ(ends[3][1], 3.0);
  EXPECT_DOUBLE_EQ(ends[7][0], 2.0);
  EXPECT_DOUBLE_EQ(ends[7][1], 6.0);
  EXPECT_DOUBLE_EQ(ends[8][0], 102.0);

  const Job missing = ParseJob("M98 P7\nM98 P8 L2\nO8\nM98 P8\nM99\n");
  ASSERT_FALSE(missing.errors.empty());
  EXPECT_EQ(FormatJobError("j.nc", missing.errors[0]),
            "j.nc:1: 'M98': no subprogram O7 in this file");
  EXPECT_NE(missing.errors.back().message.find("nest deeper"), std::string::npos);
}

TEST(GcodeDialect, UnknownMCodesAndAMissingEndAreWarningsNotErrors) {
  const Job job = ParseJob("G0 X1 M66\nM1\nG0 X2\n");
  EXPECT_TRUE(job.errors.empty());
  EXPECT_FALSE(job.ended);
  ASSERT_EQ(job.warnings.size(), 2u);
  EXPECT_EQ(job.warnings[0].line, 1);
  EXPECT_EQ(job.warnings[0].message, "M66 means nothing here: skipped");
  EXPECT_NE(job.warnings[1].message.find("no M2 or M30"), std::string::npos);
  EXPECT_EQ(ParseJob("G0 X1 G80\nG80 X2\n").errors.size(), 1u) << "G80 alone takes no axes";
}

TEST(GcodeDialect, ToolLengthsAndWorkOffsetsAddUpToMachinePositions) {
  std::vector<ToolEntry> tools;
  std::string error;
  ASSERT_TRUE(ParseToolTable("; mm\nT1 P1 D6 Z40 ;mill\n\nT2 D3 Z-5\n", &tools, &error)) << error;
  ASSERT_EQ(tools.size(), 2u);
  EXPECT_FALSE(ParseToolTable("T1 Q4\n", &tools, &error));
  EXPECT_EQ(error, "line 1: 'Q4': not a tool word (T, P, D, Z)");
  ASSERT_TRUE(ParseToolTable("T1 P1 D6 Z40\nT2 D3 Z-5\n", &tools, &error));

  const auto ends =
      Ends(ParseJob("G10 L2 P2 X100 Y50 Z-10\n"
                    "T1 M6 G43\n"           // the tool in the spindle: +40
                    "G55 G0 X1 Y2 Z3\n"     // 101, 52, 33
                    "G92 X0 Y0\n"           // here is 0, 0
                    "G0 X5\n"               // 106
                    "G92.2 G0 X5\n"         // suspended: 105
                    "G92.3 G44 H2 G0 Z0\n"  // Z: -10 + 5
                    "G53 G0 Z-1\n"          // machine -1
                    "G49\n"
                    "G10 L20 P2 Z7\n"  // G55's Z so that machine -1 reads 7
                    "G0 X0\n"          // 101 under G92
                    "G0 Z0\n",         // machine -8
                    tools));
  ASSERT_EQ(ends.size(), 7u);
  EXPECT_DOUBLE_EQ(ends[0][0], 101.0);
  EXPECT_DOUBLE_EQ(ends[0][2], 33.0);
  EXPECT_DOUBLE_EQ(ends[1][0], 106.0);
  EXPECT_DOUBLE_EQ(ends[2][0], 105.0);
  EXPECT_DOUBLE_EQ(ends[3][2], -5.0);
  EXPECT_DOUBLE_EQ(ends[4][2], -1.0);
  EXPECT_DOUBLE_EQ(ends[5][0], 101.0);
  EXPECT_DOUBLE_EQ(ends[6][2], -8.0);
}

TEST(GcodeDialect, CannedCyclesRetractAsG98AndG99Say) {
  const auto ends = Ends(
      ParseJob("G0 X0 Y0 Z10 F100\n"
               "G98 G81 X5 Y5 Z-2 R1\n"  // over the hole, down to R, feed, back to 10
               "G99 X8\n"                // back to R only
               "G80 G0 Z10\n"
               "G91 G99 G83 X10 Z-3 R-8 Q1.5 L2\n"));  // R at 2, bottom at -1, two holes 10 apart
  const std::vector<std::array<double, 3>> expected = {
      {0, 0, 10},   {5, 5, 10}, {5, 5, 1},      {5, 5, -2},  {5, 5, 10},  {8, 5, 10},
      {8, 5, 1},    {8, 5, -2}, {8, 5, 1},      {8, 5, 10},  {18, 5, 10}, {18, 5, 2},
      {18, 5, 0.5}, {18, 5, 2}, {18, 5, 0.754}, {18, 5, -1}, {18, 5, 2},  {28, 5, 2}};
  ASSERT_GE(ends.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    for (int a = 0; a < 3; ++a) EXPECT_NEAR(ends[i][a], expected[i][a], 1e-9) << "move " << i;
  }
}

// G87 goes down off centre with the spindle stopped and oriented, bores back up from the
// bottom centred, and leaves the same way; the spindle starts again as it ran (M4 here).
TEST(GcodeDialect, BackBoringGoesDownOffCentreAndBoresUpToK) {
  const std::vector<std::string> expected = {
      "R 0 0 5", "M4 800",     "R 5 5 5",    "R 5 5 1",   "R 6 4.5 1", "M5",
      "note",    "R 6 4.5 -2", "R 5 5 -2",   "M4 800",    "F 5 5 0.5", "F 5 5 -2",
      "M5",      "note",       "R 6 4.5 -2", "R 6 4.5 5", "R 5 5 5",   "M4 800"};
  EXPECT_EQ(Actions(ParseJob("G0 Z5\nM4 S800\nG98 G87 X5 Y5 Z-2 R1 I1 J-0.5 K0.5 F100\n")),
            expected);

  // Incremental in the XZ plane (drilling along Y): R from the first height, the bottom from
  // R, the height to bore up to from the bottom; I and K lie in the plane. L2: two holes.
  const std::vector<std::string> incremental =
      Actions(ParseJob("G18 G0 Y10\nM3 S500\nG91 G99 G87 X2 Z3 Y-6 R-1 I0.5 K-1 J2 L2 F100\n"));
  const std::vector<std::string> firstHole = {
      "R 2 9 3", "R 2.5 9 2", "M5",   "note",      "R 2.5 3 2", "R 2 3 3", "M3 500", "F 2 5 3",
      "F 2 3 3", "M5",        "note", "R 2.5 3 2", "R 2.5 9 2", "R 2 9 3", "M3 500"};
  ASSERT_EQ(incremental.size(), 3 + 2 * firstHole.size());
  EXPECT_EQ(incremental[2], "R 2 10 3") << "over the first hole at the height it began";
  EXPECT_EQ(std::vector<std::string>(incremental.begin() + 3, incremental.begin() + 18), firstHole);
  EXPECT_EQ(incremental[18], "R 4 9 6") << "the second hole 2 and 3 further on";
  EXPECT_EQ(incremental.back(), "M3 500");

  // Every line with G87 names all three offsets; the height lies above the bottom, up to R.
  const std::vector<std::pair<const char*, const char*>> refused = {
      {"M3\nG87 X1 Y1 Z-2 R1 I1 K0 F100\n", "G87 needs I, J and K"},
      {"M3\nG87 X1 Y1 Z-2 R1 I1 J0 K2 F100\n", "above the bottom and not above R"},
      {"M3\nG87 X1 Y1 Z-2 R1 I1 J0 K-3 F100\n", "above the bottom and not above R"},
      {"M3\nG91 G87 X1 Y1 Z-2 R1 I1 J0 K2.5 F100\n", "above the bottom and not above R"},
      {"M3\nG87 X1 Y1 Z-2 R1 I1 J0 K0 F100\nX2 K1.5\n", "above the bottom and not above R"}};
  for (const auto& [text, why] : refused) {
    const Job job = ParseJob(text);
    ASSERT_EQ(job.errors.size(), 1u) << text;
    EXPECT_NE(job.errors[0].message.find(why), std::string::npos) << job.errors[0].message;
  }
}

// Tapping reverses the spindle at the bottom and runs it forward once out; G86 and G88 stop
// it at the bottom (G88 for the operator) and start it again once out. Without the spindle
// turning none of them runs.
TEST(GcodeDialect, CyclesStopAndRestartTheSpindleInTheHole) {
  EXPECT_EQ(Actions(ParseJob("G0 Z5\nM3 S1000\nG99 G84 X1 Y1 Z-3 R2 P0.2 F50\n")),
            (std::vector<std::string>{"R 0 0 5", "M3 1000", "R 1 1 5", "R 1 1 2", "F 1 1 -3", "M5",
                                      "M4 1000", "P 0.2", "F 1 1 2", "M5", "M3 1000"}));
  EXPECT_EQ(Actions(ParseJob("G0 Z5\nM4 S700\nG98 G86 X1 Y1 Z-3 R2 P0.5 F50\n")),
            (std::vector<std::string>{"R 0 0 5", "M4 700", "R 1 1 5", "R 1 1 2", "F 1 1 -3",
                                      "P 0.5", "M5", "R 1 1 5", "M4 700"}));
  EXPECT_EQ(Actions(ParseJob("G0 Z5\nM3 S900\nG99 G88 X1 Y1 Z-3 R2 P1 F50\n")),
            (std::vector<std::string>{"R 0 0 5", "M3 900", "R 1 1 5", "R 1 1 2", "F 1 1 -3", "P 1",
                                      "M5", "note", "R 1 1 2", "M3 900"}));
  // A tap with the spindle counter-clockwise (a left-hand tap) comes out clockwise.
  const std::vector<std::string> left =
      Actions(ParseJob("M4 S300\nG99 G84 X1 Y1 Z-3 R2 F50\nG80 M5\n"));
  ASSERT_EQ(left.size(), 11u);
  EXPECT_EQ(left[5], "M3 300");
  EXPECT_EQ(left[9], "M4 300");

  for (const std::string code : {"G84", "G86", "G87", "G88"}) {
    const std::string words =
        code + " X1 Y1 Z-3 R2" + (code == "G87" ? " I1 J0 K-1" : "") + " F50\n";
    for (const std::string& before : {std::string(), std::string("M3 S100\nM5\n")}) {
      const std::string text = before + words;
      const std::vector<std::string> actions = Actions(ParseJob(text));
      ASSERT_FALSE(actions.empty());
      EXPECT_EQ(actions.back(),
                "error: '" + code + "': the spindle is not turning (M3 or M4 before the cycle)")
          << text;
      for (const std::string& a : actions) EXPECT_NE(a[0], 'F') << text << ": nothing is cut";
    }
  }
}

// G41/G42: the tool a radius beside the path, round outside corners on an arc, inside
// corners where the offset paths (lines or circles) meet; what cannot be cut stops with its
// line and word.
TEST(GcodeDialect, CutterCompensationOffsetsTheToolAndRefusesWhatItCannotCut) {
  const std::vector<ToolEntry> tools = {{1, 1, 6.0, 0.0}};
  const auto ends =
      Ends(ParseJob("G0 X0 Y0\n"
                    "G41 D1 G1 X10 Y0 F100\n"  // entry: to (10, 3)
                    "X30\n"                    // left turn ahead: inside
                    "Y20\n"                    // right turn ahead: outside
                    "X40\n"
                    "G40 X50 Y-10\n",  // exit to the programmed point
                    tools));
  ASSERT_GE(ends.size(), 6u);
  EXPECT_NEAR(ends[0][0], 10.0, 1e-9);
  EXPECT_NEAR(ends[0][1], 3.0, 1e-9);
  EXPECT_NEAR(ends[1][0], 27.0, 1e-9) << "the inside corner cuts the move short";
  EXPECT_NEAR(ends[1][1], 3.0, 1e-9);
  EXPECT_NEAR(ends[2][0], 27.0, 1e-9);
  EXPECT_NEAR(ends[2][1], 20.0, 1e-9);
  EXPECT_NEAR(ends[3][0], 30.0, 1e-9) << "round the outside corner on an arc";
  EXPECT_NEAR(ends[3][1], 23.0, 1e-9);
  EXPECT_NEAR(ends.back()[0], 50.0, 1e-9);
  EXPECT_NEAR(ends.back()[1], -10.0, 1e-9);

  // Outside the arc's circle (8 mm), the offset line y = 3 meets it at 25 -+ sqrt(8^2 - 3^2).
  const auto arc = Ends(ParseJob("G41 D1 G1 X10 F100\nX20\nG2 X30 I5\nG1 X40\nG40 X50\n", tools));
  const double meet = std::sqrt(8.0 * 8.0 - 3.0 * 3.0);
  ASSERT_EQ(arc.size(), 5u);
  EXPECT_NEAR(arc[1][0], 25.0 - meet, 1e-9) << "the line cut short where it meets the arc";
  EXPECT_NEAR(arc[2][0], 25.0 + meet, 1e-9) << "the arc cut short where it meets the line";
  EXPECT_NEAR(arc[2][1], 3.0, 1e-9);
  EXPECT_NEAR(arc[3][0], 40.0, 1e-9);
  // The arc goes over the top of its circle (cw from the left), not the other way round.
  const Job arcJob = ParseJob("G41 D1 G1 X10 F100\nX20\nG2 X30 I5\nG1 X40\nG40 X50\n", tools);
  Interpreter slices(arcJob, kDefaultChordToleranceMm, kNoReference);
  double top = 0.0;
  while (std::optional<JobAction> a = slices.Next()) {
    if (a->line == 3) top = std::max(top, a->move.target[1]);
  }
  EXPECT_NEAR(top, 8.0, 1e-3);

  // In G19 the plane is (Y, Z): the tool goes left of +Y towards +Z. The plane stays while
  // compensation is on.
  const auto yz = Ends(ParseJob("G19 G41 D1 G1 Y10 F100\nZ-10\nG40 Y0\n", tools));
  ASSERT_EQ(yz.size(), 4u);
  EXPECT_NEAR(yz[0][1], 10.0, 1e-9);
  EXPECT_NEAR(yz[0][2], 3.0, 1e-9);
  EXPECT_NEAR(yz[1][1], 13.0, 1e-9) << "round the outside corner";
  EXPECT_NEAR(yz[1][2], 0.0, 1e-9);
  const Job turned = ParseJob("G41 D1 G1 X20 F100\nG18 X30\n", tools);
  ASSERT_EQ(turned.errors.size(), 1u);
  EXPECT_EQ(turned.errors[0].line, 2);

  struct Bad {
    const char* job;
    int line;
    const char* why;
  };
  for (const Bad& bad :
       {Bad{"G41 D1 G1 X2 F100\n", 1, "'G41': the entry move is not longer"},
        Bad{"G41 D1 G1 X20 F100\nX22\nY20\n", 3, "'G41': the tool is too large"},
        Bad{"G41 D1 G1 X20 F100\nG3 X24 I2\n", 2, "'G41': the tool is larger than the arc"},
        Bad{"G41 D1 G3 X4 I2 F100\n", 1, "'G41': the tool is larger than the arc"},
        // The entry arc round (2, 2.5) from the start to (2, -0.5) is no wider than the tool.
        Bad{"G42 D1 G3 X2 Y0 I1 J0 F100\n", 1, "'G42': the entry arc's radius is not greater"},
        Bad{"G41 D1 G1 X20 F100\nG4 P1\nY20\n", 3, "'G41': an inside corner right after"},
        Bad{"G41 D1 G1 X20 F100\nG40 G2 X30 I5\n", 2, "'G40': the move that ends"},
        Bad{"G42 D1 G1 X20 F100\nG2 X30 I5\nG2 X34 I2\n", 3, "'G42': the tool is larger"},
        Bad{"G41 D1 G1 X20 F100\nG3 X25 Y5 J5\nG1 X0\n", 3,
            "'G41': the offset paths do not meet"}}) {
    const Job job = ParseJob(bad.job, tools);
    ASSERT_TRUE(job.errors.empty()) << bad.job;
    Interpreter interpreter(job, kDefaultChordToleranceMm, kNoReference);
    while (interpreter.Next()) {
    }
    ASSERT_TRUE(interpreter.error().has_value()) << bad.job;
    EXPECT_EQ(interpreter.error()->line, bad.line) << bad.job;
    EXPECT_EQ(interpreter.error()->message.find(bad.why), 0u) << interpreter.error()->message;
  }
}

}  // namespace
}  // namespace torvexan::sim::testing
