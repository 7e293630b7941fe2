// The planner: slices that add up to whole steps, blended corners that never ask an axis for
// more than its velocity or acceleration, exact stops where the job asks or turns back, and
// the ring it writes into.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "planner_fixture.h"

namespace torvexan::sim::testing {
namespace {

constexpr int64_t kOrigin[kHostAxisCount] = {};

class PlannerTest : public PlannerFixture {
 protected:
  // Every slice of the run as the plug-in would take it from the queue.
  std::vector<std::array<double, kHostAxisCount>> TakeRun(Planner& planner) {
    std::vector<std::array<double, kHostAxisCount>> slices;
    for (Planner::Status s = Planner::Status::kQueueFull; s != Planner::Status::kDone;) {
      s = planner.Fill(m, c);
      while (m.MoveQueueRead != m.MoveQueueWrite) {
        std::array<double, kHostAxisCount> slice;
        for (int a = 0; a < kHostAxisCount; ++a)
          slice[a] = c.MoveQueue[m.MoveQueueRead].MoveSteps[a];
        slices.push_back(slice);
        m.MoveQueueRead = (m.MoveQueueRead + 1) % kMoveQueueSize;
      }
    }
    return slices;
  }

  // No slice is faster than an axis allows, and from one slice to the next no axis changes
  // its speed by more than its acceleration allows, corners included; the run starts and
  // ends at rest.
  void ExpectWithinLimits(const std::vector<std::array<double, kHostAxisCount>>& slices) {
    std::array<double, kHostAxisCount> previous{};
    for (size_t k = 0; k <= slices.size(); ++k) {
      const std::array<double, kHostAxisCount> now =
          k < slices.size() ? slices[k] : std::array<double, kHostAxisCount>{};
      for (int a = 0; a < kHostAxisCount; ++a) {
        const double spu = c.StepsPerUnit[a];
        ASSERT_LE(std::fabs(now[a]), c.MaxVelocity[a] * spu * kSliceSeconds * (1 + 1e-9) + 1e-9)
            << "slice " << k << " axis " << a;
        ASSERT_LE(std::fabs(now[a] - previous[a]),
                  c.Acceleration[a] * spu * kSliceSeconds * kSliceSeconds * (1 + 1e-6) + 1e-9)
            << "slice " << k << " axis " << a;
      }
      previous = now;
    }
  }
};

TEST(Trapezoid, EntryAndExitSpeedsAndTheRestToRestCase) {
  const Trapezoid triangle = BuildTrapezoid(1.0, 50.0, 500.0);
  EXPECT_NEAR(triangle.v, std::sqrt(500.0), 1e-12);
  EXPECT_EQ(triangle.tCruise, 0.0);
  EXPECT_NEAR(triangle.Position(triangle.tAccel), 0.5, 1e-12);
  const Trapezoid cruise = BuildTrapezoid(100.0, 50.0, 500.0);
  EXPECT_EQ(cruise.v, 50.0);
  EXPECT_NEAR(cruise.duration, 0.2 + 95.0 / 50.0, 1e-12);
  // Entered at 20 and left at 40: up to 50, cruise, down to 40.
  const Trapezoid blended = BuildTrapezoid(10.0, 20.0, 40.0, 50.0, 500.0);
  EXPECT_NEAR(blended.tAccel, 30.0 / 500.0, 1e-12);
  EXPECT_NEAR(blended.tDecel, 10.0 / 500.0, 1e-12);
  const double dt = 1e-7;
  EXPECT_NEAR(blended.Position(dt) / dt, 20.0, 1e-3);
  EXPECT_NEAR((blended.length - blended.Position(blended.duration - dt)) / dt, 40.0, 1e-3);
  for (double t : {blended.tAccel, blended.tAccel + blended.tCruise}) {
    EXPECT_NEAR(blended.Position(t - 1e-9), blended.Position(t + 1e-9), 1e-6);
  }
}

// Seeded random CAM-like paths (many short segments bending a little, some sharp corners,
// some reversals, G61 now and then, random feeds): every slice keeps the axes' limits and the
// slices add up to the run's whole-step end.
TEST_F(PlannerTest, BlendedRunsNeverExceedTheAxisLimits) {
  std::mt19937 rng(20261207);
  std::uniform_real_distribution<double> turn(-0.15, 0.15);
  std::uniform_real_distribution<double> length(0.01, 3.0);
  std::uniform_real_distribution<double> feed(60.0, 6000.0);
  std::uniform_int_distribution<int> event(0, 19);
  for (int round = 0; round < 30; ++round) {
    std::vector<PathSegment> run;
    double x = 0, y = 0, z = 0, heading = 0, f = feed(rng);
    for (int i = 0; i < 300; ++i) {
      const int e = event(rng);
      if (e == 0) heading += 1.6;         // a sharp corner
      if (e == 1) heading += 3.14159265;  // back the way it came
      if (e == 2) f = feed(rng);
      heading += turn(rng);
      const double l = length(rng);
      x += l * std::cos(heading);
      y += l * std::sin(heading);
      z += e == 3 ? 0.5 : 0.0;
      PathSegment s = Feed(i + 1, f, x, y, z, i * 0.1);
      s.exactStop = e == 4;
      s.rapid = e == 5;
      run.push_back(s);
    }
    Planner planner(c);
    JobError error;
    ASSERT_TRUE(planner.Plan(run, kOrigin, &error)) << error.message;
    const auto slices = TakeRun(planner);
    ASSERT_EQ(static_cast<int64_t>(slices.size()), planner.slices());
    ExpectWithinLimits(slices);
    for (int a = 0; a < kHostAxisCount; ++a) {
      double sum = 0;
      for (const auto& s : slices) sum += s[a];
      EXPECT_NEAR(sum, static_cast<double>(planner.end()[a]), 1e-6);
      EXPECT_EQ(planner.end()[a], std::llround(run.back().target[a] * c.StepsPerUnit[a]));
    }
  }
}

TEST_F(PlannerTest, ShortSegmentsOfAGentleCurveKeepMovingThroughTheirCorners) {
  // A quarter circle of radius 50 as 400 straight pieces, at F1200 (20 mm/s).
  std::vector<PathSegment> run;
  for (int i = 1; i <= 400; ++i) {
    const double angle = i * (M_PI / 2) / 400;
    run.push_back(Feed(i, 1200, 50 * std::sin(angle), 50 - 50 * std::cos(angle)));
  }
  Planner planner(c);
  JobError error;
  ASSERT_TRUE(planner.Plan(run, kOrigin, &error));
  const double length = 50 * M_PI / 2;
  // Blended: about length / 20 mm/s plus one start and one stop; stopping at each of the 400
  // corners would take several times as long.
  EXPECT_LT(planner.seconds(), length / 20.0 + 0.2);
  const auto slices = TakeRun(planner);
  for (size_t k = 10; k + 10 < slices.size(); ++k) {
    ASSERT_GT(std::hypot(slices[k][0], slices[k][1]), 0.0) << "stood still at slice " << k;
  }
  ExpectWithinLimits(slices);
}

TEST_F(PlannerTest, ExactStopWhereTheJobAsksAndWhereThePathTurnsBack) {
  auto restsAtCorner = [&](std::vector<PathSegment> run) {
    Planner planner(c);
    JobError error;
    EXPECT_TRUE(planner.Plan(run, kOrigin, &error));
    return planner.moves()[1].profile.v0 == 0.0 && planner.moves()[0].profile.v1 == 0.0;
  };
  EXPECT_FALSE(restsAtCorner({Feed(1, 1200, 10, 0), Feed(2, 1200, 20, 0.5)}));
  std::vector<PathSegment> g61 = {Feed(1, 1200, 10, 0), Feed(2, 1200, 20, 0.5)};
  g61[0].exactStop = true;
  EXPECT_TRUE(restsAtCorner(g61));
  EXPECT_TRUE(restsAtCorner({Feed(1, 1200, 10, 0), Feed(2, 1200, 5, 0)})) << "reversal";
  std::vector<PathSegment> rapid = {Feed(1, 1200, 10, 0), Feed(2, 0, 20, 0.5)};
  rapid[1].rapid = true;
  EXPECT_TRUE(restsAtCorner(rapid));
}

// G64 P: the straight slice that crosses a blended corner cuts it; the corner's speed keeps
// that cut within the tolerance.
TEST_F(PlannerTest, BlendToleranceBoundsHowFarTheSlicesCutACorner) {
  auto cornerCut = [&](double tolerance) {
    std::vector<PathSegment> run = {Feed(1, 3000, 20, 0), Feed(2, 3000, 20, 20)};
    for (PathSegment& s : run) s.blendTolerance = tolerance;
    Planner planner(c);
    JobError error;
    EXPECT_TRUE(planner.Plan(run, kOrigin, &error)) << error.message;
    double worst = 0.0;
    double before[kHostAxisCount], after[kHostAxisCount];
    for (int64_t k = 0; k < planner.slices(); ++k) {
      planner.PositionAt(k, before);
      planner.PositionAt(k + 1, after);
      const double x0 = before[0] / c.StepsPerUnit[0], y0 = before[1] / c.StepsPerUnit[1];
      const double x1 = after[0] / c.StepsPerUnit[0], y1 = after[1] / c.StepsPerUnit[1];
      if (!(x0 < 20.0 && y1 > 0.0)) continue;  // only the slice across the corner
      // Distance from the corner (20, 0) to the chord.
      const double dx = x1 - x0, dy = y1 - y0;
      worst = std::max(worst, std::fabs(dx * (0.0 - y0) - dy * (20.0 - x0)) / std::hypot(dx, dy));
    }
    return worst;
  };
  // The corner rule alone keeps the default machine's cut near 1.5 um (the slice's own
  // acceleration sets that floor); a tolerance holds, below that floor too, where the machine
  // stops at the corner on a slice boundary.
  EXPECT_LT(cornerCut(0.0), 0.002);
  for (double tolerance : {0.0001, 0.001, 0.002, 0.01}) {
    EXPECT_LE(cornerCut(tolerance), tolerance) << tolerance;
  }
  EXPECT_EQ(cornerCut(0.0001), 0.0);
}

TEST_F(PlannerTest, FeedRateIsCutToTheSlowestAxisAndRapidsRunAtTheAxisLimit) {
  Planner planner(c);
  JobError error;
  ASSERT_TRUE(planner.Plan({Feed(1, 6000, 100, 0)}, kOrigin, &error));
  EXPECT_EQ(planner.moves()[0].profile.v, 50.0);
  PathSegment rapid;
  rapid.rapid = true;
  rapid.target[3] = 360;
  ASSERT_TRUE(planner.Plan({rapid}, kOrigin, &error));
  EXPECT_EQ(planner.moves()[0].profile.v, 180.0);
}

TEST_F(PlannerTest, TargetsAreRoundedToWholeStepsOnceAndAnUnusableAxisIsReported) {
  Planner planner(c);
  JobError error;
  // 0.4, 0.8 and 1.2 steps: the first target rounds to 0 (no move), then 1, then 1 (no move).
  ASSERT_TRUE(
      planner.Plan({Feed(1, 600, 0.0004, 0), Feed(2, 600, 0.0008, 0), Feed(3, 600, 0.0012, 0)},
                   kOrigin, &error));
  EXPECT_EQ(planner.moves().size(), 1u);
  EXPECT_EQ(planner.end()[0], 1);
  c.Acceleration[2] = 0.0;
  Planner broken(c);
  EXPECT_FALSE(broken.Plan({Feed(1, 100, 1, 0), Feed(2, 100, 1, 0, 1)}, kOrigin, &error));
  EXPECT_EQ(error.line, 2);
  EXPECT_NE(error.message.find("axis Z"), std::string::npos);
}

// The planner writes only free entries and always leaves one empty, whatever the plug-in
// has taken, across the wrap of the ring.
TEST_F(PlannerTest, NeverOverrunsTheEntriesThePluginHasNotTaken) {
  Planner planner(c);
  JobError error;
  ASSERT_TRUE(planner.Plan({Feed(1, 60, 30, 20), Feed(2, 60, 0, 0)}, kOrigin, &error));
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
    c.MoveQueue[(m.MoveQueueRead + kMoveQueueSize - 1) % kMoveQueueSize].MoveSteps[5] = kUntouched;
    s = planner.Fill(m, c);
    for (int i = 0; i < pending; ++i) {
      ASSERT_EQ(c.MoveQueue[(m.MoveQueueRead + i) % kMoveQueueSize].MoveSteps[0], kept[i]);
    }
    const int queued = (m.MoveQueueWrite - m.MoveQueueRead + kMoveQueueSize) % kMoveQueueSize;
    ASSERT_LE(queued, kMoveQueueSize - 1);
    if (s == Planner::Status::kQueueFull) {
      ASSERT_EQ(queued, kMoveQueueSize - 1);
      ASSERT_EQ(c.MoveQueue[(m.MoveQueueRead + kMoveQueueSize - 1) % kMoveQueueSize].MoveSteps[5],
                kUntouched);
    }
    const int take = std::uniform_int_distribution<int>(0, queued)(rng);
    m.MoveQueueRead = (m.MoveQueueRead + take) % kMoveQueueSize;
  }
  EXPECT_GT(fills, 3);
  EXPECT_EQ(planner.slicesWritten(), planner.slices());
  EXPECT_EQ(m.MoveQueue[(m.MoveQueueWrite + kMoveQueueSize - 1) % kMoveQueueSize].MoveTag, 2);
}

}  // namespace
}  // namespace torvexan::sim::testing
