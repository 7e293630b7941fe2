// The planner: trapezoid slices that add up to whole steps, the ring it writes into, tags,
// dwells and the end of the job.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <random>

#include "sim/host/host_records_owner.h"
#include "sim/host/planner.h"

namespace torvexan::sim::testing {
namespace {

class PlannerTest : public ::testing::Test {
 protected:
  HostRecordsOwner records{DefaultMachine()};
  HostMachine& m = records.machine();
  HostControl& c = records.control();

  // Takes every written entry, as a plug-in would, adding up the steps per job line.
  void TakeAll(std::vector<std::array<double, kHostAxisCount>>* sums, std::vector<int32_t>* tags) {
    while (m.MoveQueueRead != m.MoveQueueWrite) {
      const int e = m.MoveQueueRead;
      const int32_t tag = m.MoveQueue[e].MoveTag;
      if (tags->empty() || tags->back() != tag) {
        tags->push_back(tag);
        sums->push_back({});
      }
      for (int a = 0; a < kHostAxisCount; ++a) sums->back()[a] += c.MoveQueue[e].MoveSteps[a];
      m.MoveQueueRead = (e + 1) % kMoveQueueSize;
    }
  }
};

TEST(Trapezoid, ShortMoveIsATriangleLongMoveCruises) {
  const Trapezoid triangle = BuildTrapezoid(1.0, 50.0, 500.0);
  EXPECT_NEAR(triangle.v, std::sqrt(500.0), 1e-12);
  EXPECT_EQ(triangle.tCruise, 0.0);
  EXPECT_NEAR(triangle.Position(triangle.tAccel), 0.5, 1e-12);

  const Trapezoid cruise = BuildTrapezoid(100.0, 50.0, 500.0);
  EXPECT_EQ(cruise.v, 50.0);
  EXPECT_NEAR(cruise.tAccel, 0.1, 1e-15);
  EXPECT_NEAR(cruise.duration, 0.2 + 95.0 / 50.0, 1e-12);
  EXPECT_EQ(cruise.Position(cruise.duration), 100.0);
  EXPECT_EQ(cruise.Position(-1.0), 0.0);
  // The position is continuous where the phases meet.
  for (double t : {cruise.tAccel, cruise.tAccel + cruise.tCruise}) {
    EXPECT_NEAR(cruise.Position(t - 1e-9), cruise.Position(t + 1e-9), 1e-6);
  }
}

// Seeded random jobs: every move's slices add up to its whole-step distance, no slice is
// faster than an axis allows, and the speed changes no faster than its acceleration.
TEST_F(PlannerTest, RandomMovesSumToTheirStepsAndKeepTheLimits) {
  std::mt19937 rng(20261207);
  std::uniform_real_distribution<double> coordinate(-80.0, 80.0);
  std::uniform_real_distribution<double> feed(10.0, 6000.0);
  for (int round = 0; round < 40; ++round) {
    std::string text;
    for (int line = 0; line < 6; ++line) {
      char buffer[160];
      std::snprintf(buffer, sizeof buffer, "G%d X%.4f Y%.4f Z%.4f A%.3f F%.1f\n", line % 2,
                    coordinate(rng), coordinate(rng), coordinate(rng) / 10, coordinate(rng) * 4,
                    feed(rng));
      text += buffer;
    }
    const Job job = ParseJob(text);
    ASSERT_TRUE(job.errors.empty());
    Planner planner(job, c);
    ASSERT_TRUE(planner.errors().empty());
    m.MoveQueueRead = m.MoveQueueWrite = (round * 977) % kMoveQueueSize;
    std::vector<std::array<double, kHostAxisCount>> sums;
    std::vector<int32_t> tags;
    double previous[kHostAxisCount] = {};
    for (Planner::Status s = Planner::Status::kQueueFull; s != Planner::Status::kDone;) {
      const int from = m.MoveQueueWrite;
      s = planner.Fill(m, c);
      for (int e = from; e != m.MoveQueueWrite; e = (e + 1) % kMoveQueueSize) {
        for (int a = 0; a < kHostAxisCount; ++a) {
          const double steps = c.MoveQueue[e].MoveSteps[a];
          const double vMax = c.MaxVelocity[a] * c.StepsPerUnit[a] * kSliceSeconds;
          const double dvMax =
              c.Acceleration[a] * c.StepsPerUnit[a] * kSliceSeconds * kSliceSeconds;
          ASSERT_LE(std::fabs(steps), vMax * (1 + 1e-9) + 1e-9);
          // Within a move (the tag stays) the step per slice changes at most by the axis's
          // acceleration.
          const int prior = (e + kMoveQueueSize - 1) % kMoveQueueSize;
          if (e != from && m.MoveQueue[prior].MoveTag == m.MoveQueue[e].MoveTag) {
            ASSERT_LE(std::fabs(steps - previous[a]), dvMax * (1 + 1e-6) + 1e-9);
          }
          previous[a] = steps;
        }
      }
      TakeAll(&sums, &tags);
    }
    int64_t expected[kHostAxisCount] = {};
    for (size_t i = 0; i < planner.steps().size(); ++i) {
      const PlannedStep& step = planner.steps()[i];
      ASSERT_EQ(tags[i], step.line);
      for (int a = 0; a < kHostAxisCount; ++a) {
        ASSERT_NEAR(sums[i][a], static_cast<double>(step.to[a] - step.from[a]), 1e-6);
        expected[a] = step.to[a];
      }
    }
    for (int a = 0; a < kHostAxisCount; ++a) EXPECT_EQ(planner.CommandedEnd(a), expected[a]);
    EXPECT_EQ(planner.slicesWritten(), planner.totalSlices());
  }
}

TEST_F(PlannerTest, TargetsAreRoundedToWholeStepsOnce) {
  const Job job = ParseJob("G1 F600 X0.0004\nX0.0008\nX0.0012\n");
  Planner planner(job, c);
  // 0.4, 0.8 and 1.2 steps: the first target rounds to 0 (no move), then 1, then 1 (no move).
  EXPECT_EQ(planner.moveCount(), 1);
  planner.Fill(m, c);
  EXPECT_EQ(planner.CommandedEnd(0), 1);
}

// The planner writes only free entries and always leaves one empty, whatever the plug-in
// has taken, across the wrap of the ring.
TEST_F(PlannerTest, NeverOverrunsTheEntriesThePluginHasNotTaken) {
  const Job job = ParseJob("G1 F60 X30 Y20\nG1 X0 Y0\n");  // 72 s: several rings
  Planner planner(job, c);
  std::mt19937 rng(7);
  m.MoveQueueRead = m.MoveQueueWrite = 4000;
  constexpr double kUntouched = -12345.0;
  int fills = 0;
  for (Planner::Status s = Planner::Status::kQueueFull; s != Planner::Status::kDone; ++fills) {
    // Entries written but not taken must come through a fill unchanged.
    const int pending = (m.MoveQueueWrite - m.MoveQueueRead + kMoveQueueSize) % kMoveQueueSize;
    std::vector<double> kept;
    for (int i = 0; i < pending; ++i) {
      kept.push_back(c.MoveQueue[(m.MoveQueueRead + i) % kMoveQueueSize].MoveSteps[0]);
    }
    const int oldWrite = m.MoveQueueWrite;
    c.MoveQueue[(m.MoveQueueRead + kMoveQueueSize - 1) % kMoveQueueSize].MoveSteps[5] = kUntouched;
    s = planner.Fill(m, c);
    for (int i = 0; i < pending; ++i) {
      ASSERT_EQ(c.MoveQueue[(m.MoveQueueRead + i) % kMoveQueueSize].MoveSteps[0], kept[i]);
    }
    const int queued = (m.MoveQueueWrite - m.MoveQueueRead + kMoveQueueSize) % kMoveQueueSize;
    ASSERT_LE(queued, kMoveQueueSize - 1);
    ASSERT_GE(queued, pending);
    if (s == Planner::Status::kQueueFull) {
      ASSERT_EQ(queued, kMoveQueueSize - 1);
      // The entry just before the read index is the one that stays empty.
      ASSERT_EQ(c.MoveQueue[(m.MoveQueueRead + kMoveQueueSize - 1) % kMoveQueueSize].MoveSteps[5],
                kUntouched);
    }
    ASSERT_TRUE(oldWrite == m.MoveQueueWrite || queued > pending);
    // The plug-in takes a random number of entries.
    const int take = std::uniform_int_distribution<int>(0, queued)(rng);
    m.MoveQueueRead = (m.MoveQueueRead + take) % kMoveQueueSize;
  }
  EXPECT_GT(fills, 3);
  EXPECT_EQ(planner.slicesWritten(), planner.totalSlices());
}

TEST_F(PlannerTest, StopsAtADwellUntilItIsPassed) {
  const Job job = ParseJob("G1 F1200 X1\nG4 P2.5\nG1 X0\n");
  Planner planner(job, c);
  EXPECT_EQ(planner.Fill(m, c), Planner::Status::kAtDwell);
  const int written = m.MoveQueueWrite;
  EXPECT_EQ(written, planner.steps()[0].slices);
  EXPECT_EQ(planner.Fill(m, c), Planner::Status::kAtDwell);
  EXPECT_EQ(m.MoveQueueWrite, written);
  EXPECT_EQ(planner.DwellSeconds(), 2.5);
  EXPECT_EQ(planner.currentLine(), 2);
  planner.PassDwell();
  EXPECT_EQ(planner.Fill(m, c), Planner::Status::kDone);
  EXPECT_EQ(m.MoveQueue[m.MoveQueueWrite - 1].MoveTag, 3);
  EXPECT_EQ(planner.dwellCount(), 1);
  EXPECT_EQ(planner.moveCount(), 2);
  // Done stays done and writes nothing more.
  EXPECT_EQ(planner.Fill(m, c), Planner::Status::kDone);
}

TEST_F(PlannerTest, AnAxisThatCannotMoveIsReportedWithItsLine) {
  c.Acceleration[2] = 0.0;
  const Job job = ParseJob("G1 F100 X1\nG1 Z1\n");
  Planner planner(job, c);
  ASSERT_EQ(planner.errors().size(), 1u);
  EXPECT_EQ(planner.errors()[0].line, 2);
  EXPECT_NE(planner.errors()[0].message.find("axis Z"), std::string::npos);
}

TEST_F(PlannerTest, FeedRateIsCutToTheSlowestAxis) {
  // X alone at F6000 (100 units/s) is held to its 50 units/s.
  const Job job = ParseJob("G1 F6000 X100\n");
  Planner planner(job, c);
  EXPECT_EQ(planner.steps()[0].profile.v, 50.0);
  // A rapid of A alone goes at the A axis's own limit.
  const Job rapid = ParseJob("G0 A360\n");
  EXPECT_EQ(Planner(rapid, c).steps()[0].profile.v, 180.0);
}

}  // namespace
}  // namespace torvexan::sim::testing
