// Job files: what the dialect accepts, and bad lines reported with their line numbers.
#include <gtest/gtest.h>

#include "sim/host/job_file.h"

namespace torvexan::sim::testing {
namespace {

TEST(JobFile, MovesAndDwellsKeepModalValues) {
  const Job job = ParseJob(
      "%\n"
      "(a comment line)\n"
      "N10 G21 G90 G0 X1 Y-2.5 ; rapid\n"
      "g1 f600 z+0.25 (lower case)\r\n"
      "x.5\n"
      "\n"
      "G4 P1.25\n"
      "G0 A90 B-1 C2\n"
      "M30\n"
      "G1 X99\n");
  ASSERT_TRUE(job.errors.empty()) << job.errors[0].message;
  ASSERT_EQ(job.steps.size(), 5u);
  const JobStep& rapid = job.steps[0];
  EXPECT_EQ(rapid.line, 3);
  EXPECT_TRUE(rapid.rapid);
  EXPECT_EQ(rapid.target[0], 1.0);
  EXPECT_EQ(rapid.target[1], -2.5);
  const JobStep& feed = job.steps[1];
  EXPECT_FALSE(feed.rapid);
  EXPECT_EQ(feed.feedPerMinute, 600.0);
  EXPECT_EQ(feed.target[1], -2.5);  // unnamed axes stay where they were
  EXPECT_EQ(feed.target[2], 0.25);
  // G1 and F carry over to the next line.
  EXPECT_EQ(job.steps[2].line, 5);
  EXPECT_FALSE(job.steps[2].rapid);
  EXPECT_EQ(job.steps[2].feedPerMinute, 600.0);
  EXPECT_EQ(job.steps[2].target[0], 0.5);
  EXPECT_EQ(job.steps[3].kind, JobStep::Kind::kDwell);
  EXPECT_EQ(job.steps[3].seconds, 1.25);
  EXPECT_EQ(job.steps[4].target[3], 90.0);
  EXPECT_EQ(job.steps[4].target[5], 2.0);
  // Nothing after M30 runs.
}

TEST(JobFile, EveryBadLineIsReportedWithItsNumber) {
  const Job job = ParseJob(
      "X1\n"             // 1: no motion mode yet
      "G1 X1\n"          // 2: no feed rate
      "G1 F100 X1 X2\n"  // 3: axis twice
      "G0 Q5\n"          // 4: unknown word
      "G2 X1\n"          // 5: arcs are not part of the dialect
      "G91\n"            // 6: incremental
      "G4\n"             // 7: dwell without time
      "G4 P-1\n"         // 8: negative dwell
      "G4 P1 X2\n"       // 9: dwell with axis words
      "G0 X\n"           // 10: letter without number
      "G1 F0 X3\n"       // 11: zero feed
      "G0 X1 (open\n"    // 12: unclosed comment
      "M3\n"             // 13: spindle codes are not simulated
      "P2\n"             // 14: P without G4
      "G0 G1 X1\n"       // 15: two motions
      "G0 X1.2.3\n"      // 16: malformed number
      "G0 X1 # 2\n");    // 17: stray character
  std::vector<int> lines;
  for (const JobError& e : job.errors) lines.push_back(e.line);
  std::vector<int> expected;
  for (int i = 1; i <= 17; ++i) expected.push_back(i);
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(FormatJobError("demo.nc", job.errors[3]), "demo.nc:4: unknown word 'Q5'");
  EXPECT_EQ(job.errors[1].message, "G1 without a feed rate F");
  EXPECT_EQ(job.errors[9].message, "word 'X' has no valid number");
  // A bad line moves nothing, not even the part of it that was readable.
  EXPECT_TRUE(job.steps.empty());
}

TEST(JobFile, MissingFileIsAnError) {
  Job job;
  std::string error;
  EXPECT_FALSE(LoadJobFile("/nonexistent/job.nc", &job, &error));
  EXPECT_NE(error.find("/nonexistent/job.nc"), std::string::npos);
}

}  // namespace
}  // namespace torvexan::sim::testing
