// The G-code reader: words as CAM programs and people write them, the modal rules, and bad
// lines reported with their line numbers and words; then what the interpreter makes of the
// blocks where the machine stands.
#include <gtest/gtest.h>

#include <vector>

#include "sim/gcode/gcode_words.h"
#include "sim/gcode/job_file.h"
#include "sim/gcode/job_interpreter.h"

namespace torvexan::sim::testing {
namespace {

constexpr double kNoReference[kHostAxisCount] = {};

std::vector<JobAction> Actions(const Job& job, const double* referenced = kNoReference) {
  EXPECT_TRUE(job.errors.empty()) << job.errors[0].line << ": " << job.errors[0].message;
  Interpreter interpreter(job, kDefaultChordToleranceMm, referenced);
  std::vector<JobAction> actions;
  while (std::optional<JobAction> a = interpreter.Next()) actions.push_back(*a);
  EXPECT_FALSE(interpreter.error().has_value()) << interpreter.error()->message;
  return actions;
}

TEST(GcodeWords, CommentsCaseBlanksAndPackedWords) {
  std::vector<Word> w;
  std::string error;
  ASSERT_TRUE(SplitWords("g2x10y-10i10 (cut) ; rest", &w, &error)) << error;
  ASSERT_EQ(w.size(), 4u);
  EXPECT_EQ(w[0].letter, 'G');
  EXPECT_EQ(w[1].text, "X10");
  EXPECT_EQ(w[2].value, -10.0);
  ASSERT_TRUE(SplitWords("N 20 G 1 X - 1 0.5 Y+.25", &w, &error)) << error;
  ASSERT_EQ(w.size(), 4u);
  EXPECT_EQ(w[2].value, -10.5);
  EXPECT_EQ(w[2].text, "X-10.5");
  EXPECT_EQ(w[3].value, 0.25);
  for (const char* bad : {"G0 X1 (open", "G0 X", "G0 X1.2.3", "G0 X1 # 2", "G0 X."}) {
    EXPECT_FALSE(SplitWords(bad, &w, &error)) << bad;
  }
  SplitWords("G0 X1.2.3", &w, &error);
  EXPECT_EQ(error, "'X1.2.3': X has no valid number");
}

TEST(GcodeReader, ModalValuesCarryOverAndUnitsBecomeMillimetres) {
  const Job job = ParseJob(
      "%\n"
      "(preamble) G17 G40 G49 G80 G54 G90 G94 G64\n"
      "N10 G20 G0 X1 Y-2.5 A90 ; inches, A stays degrees\n"
      "g1 f10 z+0.25\n"
      "x.5\n"
      "G21 G91 G18 G61 Y1\n"
      "M30\n"
      "G1 X99\n");
  ASSERT_TRUE(job.errors.empty()) << job.errors[0].message;
  const std::vector<Block> blocks = AllBlocks(job);
  ASSERT_EQ(blocks.size(), 6u) << "nothing after M30 is read";
  EXPECT_EQ(job.blockCount, 6u);
  const Block& rapid = blocks[1];
  EXPECT_EQ(rapid.line, 3);
  EXPECT_EQ(rapid.motion, MotionMode::kRapid);
  EXPECT_DOUBLE_EQ(rapid.axis[0], 25.4);
  EXPECT_DOUBLE_EQ(rapid.axis[1], -63.5);
  EXPECT_DOUBLE_EQ(rapid.axis[3], 90.0);
  EXPECT_DOUBLE_EQ(blocks[2].feedPerMinute, 254.0);
  EXPECT_EQ(blocks[3].motion, MotionMode::kFeed) << "G1 is modal";
  EXPECT_DOUBLE_EQ(blocks[3].feedPerMinute, 254.0) << "F is modal";
  EXPECT_FALSE(blocks[3].hasAxis[1]);
  const Block& last = blocks[4];
  EXPECT_TRUE(last.incremental);
  EXPECT_TRUE(last.exactStop);
  EXPECT_EQ(last.plane, Plane::kZX);
  EXPECT_DOUBLE_EQ(last.axis[1], 1.0) << "G21 applies to its own line";
  EXPECT_EQ(blocks[5].stop, ProgramStop::kEnd);
}

TEST(GcodeReader, EveryBadLineIsReportedWithItsNumberAndWord) {
  const Job job = ParseJob(
      "X1\n"               // 1: no motion mode yet
      "G1 X1\n"            // 2: no feed rate
      "G1 F100 X1 X2\n"    // 3: axis twice
      "G0 E5\n"            // 4: unknown word
      "G2 X1 F10\n"        // 5: arc without centre or radius
      "G0 G1 X1\n"         // 6: one modal group twice
      "G4\n"               // 7: dwell without time
      "G4 P-1\n"           // 8: negative dwell
      "G4 P1 X2\n"         // 9: dwell with axis words
      "G1 F0 X3\n"         // 10: zero feed
      "M6.5\n"             // 11: unsupported M-code
      "P2\n"               // 12: P without G4
      "G17 G2 X1 K1 F9\n"  // 13: centre offset outside the plane
      "G3 X1 R2 I1 F9\n"   // 14: radius and centre
      "G92\n"              // 15: G92 names no axes
      "G92 G0 X1\n"        // 16: G92 and G0 both want the axis words
      "G1 I3 F10\n"        // 17: centre word without an arc
      "G33 X1\n"           // 18: spindle-synchronised motion is not supported
      "M101 M102\n");      // 19: two user codes
  std::vector<int> lines;
  for (const JobError& e : job.errors) lines.push_back(e.line);
  std::vector<int> expected;
  for (int i = 1; i <= 19; ++i) expected.push_back(i);
  EXPECT_EQ(lines, expected);
  ASSERT_EQ(job.errors.size(), 19u);
  EXPECT_EQ(FormatJobError("demo.nc", job.errors[3]), "demo.nc:4: 'E5': unknown word");
  EXPECT_EQ(job.errors[1].message, "feed move without a feed rate F");
  EXPECT_EQ(job.errors[5].message, "'G1': in one modal group with 'G0' on this line");
  EXPECT_EQ(job.errors[10].message, "'M6.5': unsupported M-code");
  EXPECT_EQ(job.errors[17].message, "'G33': unsupported G-code");
  // A bad line moves nothing, not even the part of it that was readable.
  EXPECT_TRUE(AllBlocks(job).empty());
  EXPECT_EQ(job.blockCount, 0u);
}

TEST(GcodeReader, ATypoIsOneMessageNamingTheWordAndNothingFollowsFromIt) {
  // A Y without its number, and a letter O for a zero: the feed and motion mode written
  // beside them still count, so the fine lines after them get no message.
  const Job job = ParseJob(
      "G1 X10 Y F500\n"
      "X20 Y5\n"
      "G0 X0 Y0\n"
      "G01 X1O Y5 F300\n"
      "X30\n"
      "G1 X1 Y2 Z\n"
      "Y3\n");
  ASSERT_EQ(job.errors.size(), 3u);
  EXPECT_EQ(job.errors[0].line, 1);
  EXPECT_EQ(job.errors[0].message, "'Y': a word needs a number");
  EXPECT_EQ(job.errors[1].line, 4);
  EXPECT_EQ(job.errors[1].message, "'O': a word needs a number");
  EXPECT_EQ(job.errors[2].line, 6);
  EXPECT_EQ(job.errors[2].message, "'Z': a word needs a number");
  // The lines after them read with the feed and motion mode of the bad lines.
  const std::vector<Block> blocks = AllBlocks(job);
  ASSERT_EQ(blocks.size(), 4u);
  EXPECT_EQ(blocks[0].feedPerMinute, 500.0);
  EXPECT_EQ(blocks[0].motion, MotionMode::kFeed);
  EXPECT_EQ(blocks[2].feedPerMinute, 300.0);
  EXPECT_EQ(blocks[2].motion, MotionMode::kFeed);
  // A function's name still starts a value, blanks or not.
  EXPECT_TRUE(ParseJob("G0 X SIN[30] Y cos [60] Zabs[-1]\n").errors.empty());
  // A number that is there but malformed is still named as such.
  const Job malformed = ParseJob("G0 X1.2.3\n");
  ASSERT_EQ(malformed.errors.size(), 1u);
  EXPECT_EQ(malformed.errors[0].message, "'X1.2.3': X has no valid number");
}

TEST(GcodeReader, ErrorsOnlyFoundWhereTheMachineStandsCarryTheirLine) {
  const Job job = ParseJob("G0 X0 Y0\nG1 F100 X10\nG2 X30 Y0 R5\n");
  ASSERT_TRUE(job.errors.empty());
  Interpreter interpreter(job, kDefaultChordToleranceMm, kNoReference);
  while (interpreter.Next()) {
  }
  ASSERT_TRUE(interpreter.error().has_value());
  EXPECT_EQ(interpreter.error()->line, 3);
  EXPECT_NE(interpreter.error()->message.find("too small for the chord"), std::string::npos);
}

TEST(Interpreter, IncrementsAndOffsetsAreInTheJobsCoordinates) {
  const std::vector<JobAction> a =
      Actions(ParseJob("G0 X10 Y5\n"
                       "G92 X0 Y0\n"   // here is the job's zero now
                       "G1 F600 X2\n"  // machine 12
                       "G91 X1 Y1\n"   // machine 13, 6
                       "G90 G0 X0\n"   // back to the job's zero: machine 10
                       "G28 Y2\n"      // through job Y 2 (machine 7) to the machine's Y zero
                       "G28\n"));      // every axis to the machine's zero
  ASSERT_EQ(a.size(), 7u);
  EXPECT_EQ(a[1].move.target[0], 12.0);
  EXPECT_EQ(a[1].move.feedPerMinute, 600.0);
  EXPECT_EQ(a[2].move.target[0], 13.0);
  EXPECT_EQ(a[2].move.target[1], 6.0);
  EXPECT_EQ(a[3].move.target[0], 10.0);
  EXPECT_TRUE(a[3].move.rapid);
  EXPECT_EQ(a[4].move.target[1], 7.0);
  EXPECT_EQ(a[5].move.target[1], 0.0);
  EXPECT_EQ(a[5].move.target[0], 10.0) << "G28 Y moves only Y to zero";
  EXPECT_EQ(a[6].move.target[0], 0.0);
}

TEST(Interpreter, HostActionsComeInTheControlsOrder) {
  const double referenced[kHostAxisCount] = {5, 5, -5, 0, 0, 0};
  const std::vector<JobAction> a = Actions(ParseJob("G28.1 X0 Z0 Y0\n"
                                                    "S9000\n"
                                                    "M3 G4 P0.5 M101\n"
                                                    "G38.2 Z-20 F100\n"
                                                    "M5 M0\n"
                                                    "M1\n"),
                                           referenced);
  ASSERT_EQ(a.size(), 8u);
  EXPECT_EQ(a[0].kind, JobAction::Kind::kReference);
  ASSERT_EQ(a[0].axisCount, 3);
  EXPECT_EQ(a[0].axisOrder[0], 2) << "Z is referenced first";
  EXPECT_EQ(a[0].axisOrder[1], 0);
  EXPECT_EQ(a[0].axisOrder[2], 1);
  EXPECT_EQ(a[1].kind, JobAction::Kind::kSpindle);
  EXPECT_EQ(a[1].speed, 9000.0) << "S is modal";
  EXPECT_EQ(a[2].kind, JobAction::Kind::kUserCode);
  EXPECT_EQ(a[2].code, 101);
  EXPECT_EQ(a[3].kind, JobAction::Kind::kDwell);
  EXPECT_EQ(a[3].seconds, 0.5);
  EXPECT_EQ(a[4].kind, JobAction::Kind::kProbe);
  EXPECT_EQ(a[4].move.target[0], 5.0) << "the probe starts where referencing left X";
  EXPECT_EQ(a[4].move.target[2], -20.0);
  EXPECT_EQ(a[5].spindle, SpindleTurn::kStop);
  EXPECT_EQ(a[6].kind, JobAction::Kind::kPause);
  EXPECT_FALSE(a[6].optional);
  EXPECT_TRUE(a[7].optional);
}

TEST(Interpreter, ANewSpeedReachesATurningSpindleAtOnce) {
  const std::vector<JobAction> a =
      Actions(ParseJob("M4 S1000\nS1000\nS2500\nM5\nS3000\nM3\n"), kNoReference);
  ASSERT_EQ(a.size(), 4u) << "the same speed again, or a speed while stopped, sends nothing";
  EXPECT_EQ(a[1].line, 3);
  EXPECT_EQ(a[1].spindle, SpindleTurn::kCounterClockwise) << "the direction stays";
  EXPECT_EQ(a[1].speed, 2500.0);
  EXPECT_EQ(a[2].spindle, SpindleTurn::kStop);
  EXPECT_EQ(a[3].speed, 3000.0);
}

TEST(Interpreter, WhereTheHostSaysTheMachineStoodCountsForWhatFollows) {
  const Job job = ParseJob("G38.2 Z-20 F100\nG91 G0 Z2\n");
  Interpreter interpreter(job, kDefaultChordToleranceMm, kNoReference);
  ASSERT_EQ(interpreter.Next()->kind, JobAction::Kind::kProbe);
  const double contact[kHostAxisCount] = {0, 0, -12.5, 0, 0, 0};
  interpreter.SetPosition(contact);
  EXPECT_EQ(interpreter.Next()->move.target[2], -10.5);
}

}  // namespace
}  // namespace torvexan::sim::testing
