// Where Mach3 and LinuxCNC read the same words, the simulated host follows LinuxCNC's
// interpreter to the number: MOD, the trigonometric functions, how far off an arc's end may
// lie, the tape's closing '%', and the start-up modal state. gcode.diff_* checks the same
// against rs274 itself; these pin the values down without it.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "sim/gcode/job_file.h"
#include "sim/gcode/job_interpreter.h"

namespace torvexan::sim::testing {
namespace {

constexpr double kNoReference[kHostAxisCount] = {};

struct Outcome {
  std::vector<std::array<double, 3>> ends;  // every move's end (machine X, Y, Z)
  std::string error;                        // the reader's first error or the interpreter's
  std::vector<JobWarning> warnings;
};

Outcome RunJob(const std::string& text, std::string_view init = kDefaultInit) {
  const Job job = ParseJob(text, {}, {}, init);
  Outcome run;
  run.warnings = job.warnings;
  if (!job.errors.empty()) {
    run.error = std::to_string(job.errors[0].line) + ": " + job.errors[0].message;
    return run;
  }
  Interpreter interpreter(job, kDefaultChordToleranceMm, kNoReference);
  while (std::optional<JobAction> a = interpreter.Next()) {
    if (a->kind != JobAction::Kind::kMove || a->move.midArc) continue;
    run.ends.push_back({a->move.target[0], a->move.target[1], a->move.target[2]});
  }
  if (interpreter.error()) run.error = interpreter.error()->message;
  return run;
}

// The X that "G0 X[expression]" moves to.
double Value(const std::string& expression) {
  const Outcome run = RunJob("G0 X[" + expression + "]\n");
  EXPECT_EQ(run.error, "") << expression;
  return run.ends.empty() ? NAN : run.ends[0][0];
}

TEST(CommonDialect, ModIsNeverNegativeAndKeepsTheStoredValues) {
  EXPECT_EQ(Value("5 MOD -3"), 2.0);
  EXPECT_EQ(Value("-5 MOD 3"), 1.0);
  EXPECT_EQ(Value("-5 MOD -3"), 1.0);
  EXPECT_EQ(Value("-5.5 MOD 2"), 0.5);
  EXPECT_EQ(Value("7 MOD 2.5"), 2.0);
  // 0.1 is stored a hair above a tenth: ten of them do not fit into 1.
  const double tenth = Value("1 MOD 0.1");
  EXPECT_GT(tenth, 0.0999);
  EXPECT_LT(tenth, 0.1);
}

TEST(CommonDialect, TrigonometryIsExactAtTheAnglesPeopleWrite) {
  EXPECT_EQ(Value("FIX[SIN[30] * 2]"), 1.0);
  EXPECT_EQ(Value("FIX[TAN[45]]"), 1.0);
  EXPECT_EQ(Value("FIX[COS[60] * 2]"), 1.0);
  EXPECT_EQ(Value("SIN[30]"), 0.5);
  EXPECT_EQ(Value("SIN[-30]"), -0.5);
  EXPECT_EQ(Value("SIN[390]"), 0.5);
  EXPECT_EQ(Value("TAN[135]"), -1.0);
  EXPECT_EQ(Value("ACOS[0.5]"), 60.0);
  EXPECT_EQ(Value("ATAN[1]/[1]"), 45.0);
  // Elsewhere the value is LinuxCNC's to the last bit (worked out in long double).
  EXPECT_EQ(Value("SIN[10]"), 0.17364817766693036);
  EXPECT_EQ(Value("TAN[89]"), 57.289961630759421);
}

TEST(CommonDialect, AnExpressionsOwnFaultIsNamed) {
  const Outcome run = RunJob("G1 X[ATAN[1]/[1 MOD 0]] F100\n");
  const std::string why = ": MOD by zero";
  ASSERT_GT(run.error.size(), why.size());
  EXPECT_EQ(run.error.substr(run.error.size() - why.size()), why) << run.error;
}

TEST(CommonDialect, AnArcEndMayLieOffItsCircleAsFarAsLinuxCncAllows) {
  const auto arc = [](const std::string& units, const std::string& move) {
    return RunJob(units + " G17 G90 F100\nG0 X0 Y0\n" + move + "\n").error;
  };
  // Millimetres: 0.028 mm for small arcs, a thousandth of the radius for large ones.
  EXPECT_EQ(arc("G21", "G2 X10.01 Y0 I5 J0"), "");
  EXPECT_EQ(arc("G21", "G2 X10.028 Y0 I5 J0"), "");
  EXPECT_NE(arc("G21", "G2 X10.03 Y0 I5 J0"), "");
  EXPECT_EQ(arc("G21", "G2 X100.05 Y0 I50 J0"), "");
  EXPECT_NE(arc("G21", "G2 X100.06 Y0 I50 J0"), "");
  // Inches: 0.0028 in for small arcs.
  EXPECT_EQ(arc("G20", "G2 X.2028 Y0 I.1 J0"), "");
  EXPECT_NE(arc("G20", "G2 X.2029 Y0 I.1 J0"), "");
  // A half circle by R whose end was rounded: the chord may pass the diameter by 0.0001 in.
  EXPECT_EQ(arc("G20", "G2 X.1575 Y0 R.0787"), "");
  EXPECT_EQ(arc("G21", "G2 X10.0025 Y0 R5"), "");
  const std::string tooShort = arc("G21", "G2 X10.003 Y0 R5");
  EXPECT_NE(tooShort.find("too small for the chord"), std::string::npos) << tooShort;
}

TEST(CommonDialect, AFileThatStartsWithATapeMarkEndsAtTheNext) {
  const Outcome tape = RunJob("%\nG0 X1\n%\nG0 X5\nthis is no G-code\n");
  EXPECT_EQ(tape.error, "");
  ASSERT_EQ(tape.ends.size(), 1u);
  EXPECT_EQ(tape.ends[0][0], 1.0);
  ASSERT_EQ(tape.warnings.size(), 1u);
  EXPECT_EQ(tape.warnings[0].line, 3);
  EXPECT_NE(tape.warnings[0].message.find("closing '%'"), std::string::npos);
  // A '%' that does not open the file marks nothing: the lines after it run.
  const Outcome loose = RunJob("G0 X1\n%\nG0 X5\nM30\n%\n");
  ASSERT_EQ(loose.ends.size(), 2u);
  EXPECT_EQ(loose.ends[1][0], 5.0);
  // After M30 the closing mark adds no warning.
  EXPECT_TRUE(RunJob("%\nG0 X1\nM30\n%\n").warnings.empty());
}

TEST(CommonDialect, TheInitializationStringSetsTheStartingModes) {
  const std::string drill = "G0 X0 Y0 Z10\nG81 X5 Y5 Z-2 R2 F100\nG80\nM30\n";
  // By default a cycle with neither G98 nor G99 retracts to R, as LinuxCNC's does.
  const Outcome byDefault = RunJob(drill);
  ASSERT_EQ(byDefault.error, "");
  EXPECT_EQ(byDefault.ends.back()[2], 2.0);
  const Outcome g98 = RunJob(drill, "G17 G21 G90 G98");
  ASSERT_EQ(g98.error, "");
  EXPECT_EQ(g98.ends.back()[2], 10.0);
  // Units and distance mode come from it too.
  const Outcome inches = RunJob("G0 X1\nX1\n", "G20 G91");
  ASSERT_EQ(inches.ends.size(), 2u);
  EXPECT_DOUBLE_EQ(inches.ends[1][0], 50.8);
  // Only modal codes belong in it; a fault there is line 0's.
  EXPECT_EQ(RunJob(drill, "G0 X1").error.rfind("0: initialization string '", 0), 0u);
  EXPECT_EQ(RunJob(drill, "G17 G93x").error.rfind("0: initialization string '", 0), 0u);
}

TEST(CommonDialect, TheOffsetParametersHoldWhatTheFileSet) {
  // The system in force, and what G10 L2 wrote (millimetres, as the machine keeps them).
  Outcome run = RunJob(
      "G10 L2 P2 X3 Y4\nG0 X#5241 Y#5242 Z#5220\nG55\nG0 Z#5220\n"
      "G20 G10 L2 P0 A1.5 X1\nG21 G53 G0 X#5241 A#5244 Z#5220\n");
  ASSERT_EQ(run.error, "");
  ASSERT_EQ(run.ends.size(), 3u);
  EXPECT_EQ(run.ends[0], (std::array<double, 3>{3.0, 4.0, 1.0}));
  EXPECT_EQ(run.ends[1][2], 2.0);  // Z#5220 in G55, whose offset is 0
  EXPECT_DOUBLE_EQ(run.ends[2][0], 25.4);
  EXPECT_EQ(run.ends[2][2], 2.0);
  EXPECT_EQ(RunJob("G0 X#5220\n", "G56").ends.at(0)[0], 3.0);
  // G92.1 clears the G92 offset. The offsets the machine starts with are the run's (the
  // host kept them): the file reads them only once it has set them.
  EXPECT_NE(RunJob("G0 X#5221\n").error.find("'X#5221': #5221 holds an offset"), std::string::npos);
  EXPECT_NE(RunJob("G0 X#5211\n").error, "");
  run = RunJob("G92.1\nG0 X[#5211 + 2]\nG0 X[#5212 + 1]\n");
  ASSERT_EQ(run.error, "");
  ASSERT_EQ(run.ends.size(), 2u);
  EXPECT_EQ(run.ends[0][0], 2.0);
  EXPECT_EQ(run.ends[1][0], 1.0);
  // What G92 and G10 L20 set depends on where the machine stands, which only the run knows:
  // a line that reads it is refused rather than read as a stale value.
  run = RunJob("G0 X5\nG92 X1\nG0 X#5211\n");
  EXPECT_NE(run.error.find("'X#5211': #5211 holds an offset only the run knows"), std::string::npos)
      << run.error;
  EXPECT_NE(RunJob("G10 L20 P1 X0\nG0 X#5221\n").error, "");
  EXPECT_EQ(RunJob("G10 L2 P1 Y4\nG10 L20 P1 X0\nG0 X#5222\n").error, "");
  EXPECT_EQ(RunJob("G92 X1\nG92.1\nG0 X#5211\n").error, "");
}

TEST(CommonDialect, AnArcMayEnterCutterCompensation) {
  // The tool (4 mm) runs from where it stands to a radius inside the programmed arc's end on
  // an arc of its own: round (70, 52.25), 10.25 from both ends (LinuxCNC's numbers).
  const Job job = ParseJob(
      "G21 G17 G90 F100\nG0 X60 Y50 Z5\nT1 M6\nG41 D1\nG3 X70 Y40 Z-1 I10 J0\nG1 X80\n"
      "G40 G0 X100\nM30\n",
      {{1, 1, 4.0, 0.0}});
  ASSERT_TRUE(job.errors.empty()) << job.errors[0].message;
  Interpreter interpreter(job, kDefaultChordToleranceMm, kNoReference);
  int slices = 0;
  std::array<double, 3> end{};
  while (std::optional<JobAction> a = interpreter.Next()) {
    if (a->kind != JobAction::Kind::kMove || a->line != 5) continue;
    const double* at = a->move.target;
    EXPECT_NEAR(std::hypot(at[0] - 70.0, at[1] - 52.25), 10.25, 1e-3) << slices;
    end = {at[0], at[1], at[2]};
    ++slices;
  }
  ASSERT_FALSE(interpreter.error().has_value()) << interpreter.error()->message;
  EXPECT_GT(slices, 20);
  EXPECT_NEAR(end[0], 70.0, 1e-9);
  EXPECT_NEAR(end[1], 42.0, 1e-9);
  EXPECT_NEAR(end[2], -1.0, 1e-9);
  // Inside a programmed arc an entry arc narrower than the tool still runs (LinuxCNC's rule:
  // its centre lies beyond the offset end, away from the tool), here round (2.5, 0) to (5, 0).
  const Job narrow =
      ParseJob("G0 X0 Y0\nG41 D1 G3 X8 Y0 I4 J0 F100\nG40 G0 X20 Y20\n", {{1, 1, 6.0, 0.0}});
  ASSERT_TRUE(narrow.errors.empty());
  Interpreter inside(narrow, kDefaultChordToleranceMm, kNoReference);
  std::array<double, 2> last{};
  while (std::optional<JobAction> a = inside.Next()) {
    if (a->kind == JobAction::Kind::kMove && a->line == 2) {
      EXPECT_NEAR(std::hypot(a->move.target[0] - 2.5, a->move.target[1]), 2.5, 1e-3);
      last = {a->move.target[0], a->move.target[1]};
    }
  }
  ASSERT_FALSE(inside.error().has_value()) << inside.error()->message;
  EXPECT_NEAR(last[0], 5.0, 1e-9);
  EXPECT_NEAR(last[1], 0.0, 1e-9);
}

TEST(CommonDialect, ADwellAndAMotionShareALine) {
  const Job job = ParseJob("G0 X-1 Y0\nG04 P.001 G0 X1.0 Y1.0\nG4 P0.5 X3\n");
  ASSERT_TRUE(job.errors.empty()) << job.errors[0].message;
  Interpreter interpreter(job, kDefaultChordToleranceMm, kNoReference);
  std::vector<std::string> seen;
  while (std::optional<JobAction> a = interpreter.Next()) {
    if (a->kind == JobAction::Kind::kDwell) seen.push_back("dwell " + std::to_string(a->seconds));
    if (a->kind == JobAction::Kind::kMove)
      seen.push_back("move " + std::to_string(a->move.target[0]));
  }
  // The dwell comes first, then the motion in force takes the axis words.
  EXPECT_EQ(seen, (std::vector<std::string>{"move -1.000000", "dwell 0.001000", "move 1.000000",
                                            "dwell 0.500000", "move 3.000000"}));
  // Without a motion mode the axis words have no one to go to.
  EXPECT_FALSE(ParseJob("G4 P1 X2\n").errors.empty());
}

TEST(CommonDialect, G52SetsTheLocalOffsetAndG30GoesHomeLikeG28) {
  // LinuxCNC's machine positions for the same lines.
  const Outcome run = RunJob(
      "G0 X5 Y5\nG52 X10\nG0 X1 Y1\nG52 Y3\nG0 X1 Y1\nG52 X0 Y0\nG0 X1\nG92 X0\nG52 X2\n"
      "G0 X1 Y#5212\nG0 X5 Y5 Z5\nG30 X7\nG30\n");
  ASSERT_EQ(run.error, "");
  // G30 X7 passes X7 in the G52 frame (machine 9), then X alone goes home.
  const std::vector<std::array<double, 3>> expected = {{5, 5, 0}, {11, 1, 0}, {11, 4, 0},
                                                       {1, 4, 0}, {3, 0, 0},  {7, 5, 5},
                                                       {9, 5, 5}, {0, 5, 5},  {0, 0, 0}};
  EXPECT_EQ(run.ends, expected);
  EXPECT_NE(RunJob("G52\n").error, "");  // names no axis
}

TEST(CommonDialect, G10L1SetsTheToolTableFromTheProgram) {
  // LinuxCNC's machine positions: radius 2 for the compensation, length 30, then 10.
  const Job job = ParseJob(
      "G21 G17 G90 F100\nT1 M6\nG10 L1 P1 R2 Z30\nG43 H1\nG0 X0 Y0 Z0\nG41 D1\nG1 X20\nY20\n"
      "G40 G0 X50\nG10 L1 P1 Z10\nG43 H1\nG0 Z0\nM30\n",
      {{1, 1, 2.54, 0.0}});
  ASSERT_TRUE(job.errors.empty()) << job.errors[0].message;
  Interpreter interpreter(job, kDefaultChordToleranceMm, kNoReference);
  std::vector<std::array<double, 3>> ends;
  while (std::optional<JobAction> a = interpreter.Next()) {
    if (a->kind == JobAction::Kind::kMove)
      ends.push_back({a->move.target[0], a->move.target[1], a->move.target[2]});
  }
  ASSERT_FALSE(interpreter.error().has_value()) << interpreter.error()->message;
  const std::vector<std::array<double, 3>> expected = {
      {0, 0, 30}, {18, 2, 30}, {18, 20, 30}, {50, 20, 30}, {50, 20, 10}};
  EXPECT_EQ(ends, expected);
  // A tool not in the table is added; in inches the values are converted.
  const Outcome added = RunJob("G20 G10 L1 P7 Z1\nG43 H7\nG0 Z0\n");
  ASSERT_EQ(added.error, "");
  EXPECT_DOUBLE_EQ(added.ends.at(0)[2], 25.4);
  EXPECT_EQ(RunJob("G10 L1 P1 X2\n").error,
            "1: 'X2': G10 L1 takes R (the radius) and Z (the length)");
  EXPECT_EQ(RunJob("G10 L1 R2\n").error, "1: 'G10': G10 L1 needs P, the tool's number");
  EXPECT_EQ(RunJob("G10 L1 P1 R-2\n").error, "1: 'R-2': a tool's radius must not be negative");
}

// The feed (mm per minute) of every move the job makes, or the first error.
std::vector<double> Feeds(const std::string& text, std::string* error) {
  const Job job = ParseJob(text);
  std::vector<double> feeds;
  if (!job.errors.empty()) {
    *error = std::to_string(job.errors[0].line) + ": " + job.errors[0].message;
    return feeds;
  }
  Interpreter interpreter(job, kDefaultChordToleranceMm, kNoReference);
  while (std::optional<JobAction> a = interpreter.Next()) {
    if (a->kind == JobAction::Kind::kMove && !a->move.rapid && !a->move.midArc)
      feeds.push_back(a->move.feedPerMinute);
  }
  if (interpreter.error()) *error = interpreter.error()->message;
  return feeds;
}

TEST(CommonDialect, InverseTimeFeedsMakeEachMoveTakeItsMinuteShare) {
  std::string error;
  // 50 mm at F2 take half a minute; a half circle of radius 10 (31.4 mm) at F1 a minute, and
  // with 10 mm along Z on the way its helix's length.
  const std::vector<double> feeds = Feeds(
      "G0 X0 Y0\nG93 G1 X30 Y40 F2\nG0 X0 Y0\nG2 X20 Y0 I10 J0 F1\nG3 X0 Y0 Z10 I-10 J0 F1\n"
      "G94 G1 X5 F300\n",
      &error);
  ASSERT_EQ(error, "");
  ASSERT_EQ(feeds.size(), 4u);
  EXPECT_NEAR(feeds[0], 100.0, 1e-9);
  EXPECT_NEAR(feeds[1], 10.0 * 3.141592653589793, 1e-6);
  EXPECT_NEAR(feeds[2], std::hypot(10.0 * 3.141592653589793, 10.0), 1e-6);
  EXPECT_EQ(feeds[3], 300.0);
  // F belongs on every feed move; a cycle has no time of its own.
  Feeds("G93 G1 X1 F2\nX2\n", &error);
  EXPECT_EQ(error, "2: 'X2': inverse time (G93) needs F on every feed move");
  Feeds("G93 G81 X1 Z-1 R1 F2\n", &error);
  EXPECT_EQ(error, "1: 'G81': inverse time (G93) goes with G1, G2 and G3 only");
  // Back in G94 the old F means something else: a new one first.
  Feeds("G93 G1 X1 F2\nG94 G1 X2\n", &error);
  EXPECT_EQ(error, "2: feed move without a feed rate F");
}

TEST(CommonDialect, FeedPerRevolutionFollowsTheSpindleSpeed) {
  std::string error;
  const std::vector<double> feeds =
      Feeds("S1000 M3\nG95 G1 X10 F0.1\nS500\nX20\nG20 G1 X1 F.01\n", &error);
  ASSERT_EQ(error, "");
  ASSERT_EQ(feeds.size(), 3u);
  EXPECT_NEAR(feeds[0], 100.0, 1e-9);
  EXPECT_NEAR(feeds[1], 50.0, 1e-9);   // the new speed counts at once
  EXPECT_NEAR(feeds[2], 127.0, 1e-9);  // 0.01 in per revolution at 500 rpm
  Feeds("G95 G1 X10 F0.1\n", &error);
  EXPECT_EQ(error, "feed per revolution (G95) with no spindle speed S");
}

}  // namespace
}  // namespace torvexan::sim::testing
