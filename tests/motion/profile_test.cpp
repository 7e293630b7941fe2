// Jerk-limited profiles: known values, invariants over many random moves, stops and refusals.
#include "motion/profile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "motion_world.h"

namespace torvexan::testing {
namespace {

// The worked examples print ten decimals, cut off: the value lies in [printed, printed + 1e-10).
void ExpectPrinted(double value, double printed) {
  EXPECT_GE(value, printed - 1e-15);
  EXPECT_LT(value, printed + 1e-10);
}

AxisProfile Built(double jerk, double a, double v, double d, double spu = 1.0) {
  AxisProfile p;
  InitAxisProfile(p);
  BuildProfile(jerk, a, v, d, kTimeQuantum, spu, p);
  return p;
}

// Every delta of the profile from its current step to its end.
std::vector<int32_t> RunOut(AxisProfile& p) {
  std::vector<int32_t> deltas;
  while (p.stepIndex < p.stepCount) deltas.push_back(NextProfileStep(p));
  return deltas;
}

int64_t Sum(const std::vector<int32_t>& v) {
  int64_t sum = 0;
  for (int32_t d : v) sum += d;
  return sum;
}

TEST(Profile, LongMoveMatchesTheWorkedExample) {
  const AxisProfile p = Built(1000, 50, 1, 1);
  EXPECT_EQ(p.jerk, 1000);
  ExpectPrinted(p.rampTime, 0.0316227766);
  ExpectPrinted(p.fullSpeedDistance, 0.0632455532);
  EXPECT_EQ(p.hasCruise, 1);
  ExpectPrinted(p.phases[2].endTime - p.phases[1].endTime, 0.9367544467);
  ExpectPrinted(p.totalTime, 1.0632455532);
  EXPECT_EQ(p.stepCount, 213);
  ExpectPrinted(p.stepTime, 0.0049917631);
}

TEST(Profile, ShortMoveMatchesTheWorkedExample) {
  const AxisProfile p = Built(1000, 50, 1, 0.05);
  EXPECT_EQ(p.hasCruise, 0);
  ExpectPrinted(p.shortRampTime, 0.0292401773);
  ExpectPrinted(p.totalTime, 0.1169607095);
  EXPECT_EQ(p.stepCount, 24);
}

TEST(Profile, DeltasSumToTheRoundedStepDistance) {
  AxisProfile p = Built(1000, 50, 1, 1, 1000);
  const std::vector<int32_t> deltas = RunOut(p);
  EXPECT_EQ(deltas.size(), 213u);
  EXPECT_EQ(Sum(deltas), 1000);
  EXPECT_EQ(NextProfileStep(p), 0);  // nothing after the end
}

TEST(Profile, NegativeDistanceMirrorsEveryDelta) {
  AxisProfile forward = Built(1000, 50, 1, 0.7, 800);
  AxisProfile backward = Built(1000, 50, 1, -0.7, 800);
  EXPECT_EQ(backward.direction, -1);
  EXPECT_EQ(backward.distance, forward.distance);
  EXPECT_EQ(std::memcmp(backward.phases, forward.phases, sizeof forward.phases), 0);
  const std::vector<int32_t> f = RunOut(forward);
  const std::vector<int32_t> b = RunOut(backward);
  ASSERT_EQ(f.size(), b.size());
  for (size_t i = 0; i < f.size(); ++i) EXPECT_EQ(b[i], -f[i]) << i;
}

TEST(Profile, JerkIsLoweredToKeepTheAccelerationLimitButNeverRaised) {
  EXPECT_EQ(Built(100, 50, 1, 1).jerk, 100);    // below A x A / V: used as given
  EXPECT_EQ(Built(5000, 50, 1, 1).jerk, 2500);  // above: lowered to A x A / V
}

TEST(Profile, EqualRampAndAccelerationTimesArePlannedWithPeakAccelerationAtTheLimit) {
  AxisProfile p = Built(1000, 20, 1, 1, 1000);
  EXPECT_EQ(p.jerk, 400);
  EXPECT_NEAR(p.rampTime, 0.05, 1e-15);
  EXPECT_NEAR(p.accelLimitTime, 0.05, 1e-15);
  EXPECT_EQ(p.planned, 1);
  EXPECT_NEAR(p.phases[1].startAcceleration, 20, 1e-12);
  EXPECT_NEAR(p.totalTime, 1.1, 1e-12);  // 4r + (D - 2Vr) / V
  EXPECT_EQ(Sum(RunOut(p)), 1000);
}

// With the jerk raised to its floor above A x A / V, a profile could never replay the phases of
// the move before it; it keeps the acceleration limit by cruising slower.
TEST(Profile, RaisedJerkPlansItsOwnPhasesWithinTheAccelerationLimit) {
  AxisProfile p = Built(1000, 50, 1, 1, 1000);
  BuildProfile(1000, 0.1, 1, 0.3, kTimeQuantum, 1000, p);
  EXPECT_EQ(p.jerk, kMinJerk);
  EXPECT_LE(p.phases[1].startAcceleration, 0.1 * (1 + 1e-12));
  EXPECT_LE(p.phases[2].startSpeed, 1.0);
  EXPECT_NEAR(ProfilePosition(p, p.stepCount), 0.3, 1e-12);
  EXPECT_EQ(Sum(RunOut(p)), 300);
}

TEST(Profile, UnusableLimitsMoveNothingAndForgetTheLastMove) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  struct Limits {
    double jerk, a, v, d, spu;
  };
  const Limits cases[] = {
      {1000, 50, 0, 1, 1000},   {1000, 50, -1, 1, 1000},  {1000, 50, nan, 1, 1000},
      {1000, 50, inf, 1, 1000}, {1000, 0, 1, 1, 1000},    {1000, -5, 1, 1, 1000},
      {1000, inf, 1, 1, 1000},  {1000, 50, 1, 1, 0},      {1000, 50, 1, 1, -3},
      {1000, 50, 1, 1, nan},    {1000, 50, 1, nan, 1000}, {1000, 50, 1, -inf, 1000},
      {nan, 50, 1, 1, 1000},
  };
  for (const Limits& l : cases) {
    AxisProfile p = Built(1000, 50, 1, 1, 1000);
    NextProfileStep(p);
    BuildProfile(l.jerk, l.a, l.v, l.d, kTimeQuantum, l.spu, p);
    EXPECT_EQ(p.stepCount, 0) << l.a << " " << l.v << " " << l.d << " " << l.spu;
    EXPECT_EQ(p.stepIndex, 0);
    EXPECT_EQ(NextProfileStep(p), 0);
  }
}

TEST(Profile, ZeroDistanceHasNoSteps) {
  AxisProfile p = Built(1000, 50, 1, 0, 1000);
  EXPECT_EQ(p.stepCount, 0);
  EXPECT_EQ(p.totalTime, 0);
  StopProfile(p);
  EXPECT_EQ(p.stepCount, 0);
}

TEST(Profile, HugeMovesStopAtTheStepCounterAndEndlessOnesAreRefused) {
  AxisProfile far = Built(1e12, 1e9, 1e7, -1e12, 1000);
  EXPECT_EQ(far.direction, -1);
  EXPECT_EQ(Sum(RunOut(far)), -static_cast<int64_t>(kMaxProfileSteps));
  AxisProfile slow = Built(1000, 50, 1e-9, 1, 1000);
  EXPECT_EQ(slow.stepCount, 0);
}

struct RandomMove {
  double jerk, a, v, d, spu;
};

RandomMove Draw(std::mt19937_64& rng) {
  auto logUniform = [&](double lo, double hi) {
    return std::exp(std::uniform_real_distribution<double>(std::log(lo), std::log(hi))(rng));
  };
  RandomMove m;
  m.jerk = logUniform(5, 1e5);
  m.a = logUniform(0.05, 2000);  // includes moves whose jerk is raised to its floor
  m.v = logUniform(0.2, 200);
  m.d = logUniform(1e-4, 50) * (rng() % 2 ? 1 : -1);
  m.spu = logUniform(10, 10000);
  return m;
}

// Sampled positions must keep the speed and acceleration limits, never run backwards, and
// arrive at the distance at rest.
void ExpectWithinLimits(const AxisProfile& p, const RandomMove& m) {
  const double tau = p.stepTime;
  const double tolerance = 1e-9;
  double before = 0;
  double previous = 0;
  for (int32_t k = 1; k <= p.stepCount; ++k) {
    const double now = ProfilePosition(p, k);
    const double speed = (now - previous) / tau;
    EXPECT_GE(speed, -tolerance * m.v) << k;
    EXPECT_LE(speed, m.v * (1 + tolerance)) << k;
    if (k >= 2) {
      EXPECT_LE(std::fabs(now - 2 * previous + before) / (tau * tau), m.a * (1 + 1e-6)) << k;
    }
    before = previous;
    previous = now;
  }
  EXPECT_NEAR(previous, p.distance, 1e-9 * p.distance);
  if (p.stepCount >= 1) {
    const double lastSpeed = (previous - ProfilePosition(p, p.stepCount - 1)) / tau;
    EXPECT_LE(lastSpeed, p.jerk * tau * tau / 2 * (1 + 1e-6) + 1e-9);
  }
}

TEST(Profile, RandomMovesKeepTheirInvariants) {
  std::mt19937_64 rng(20261207);
  for (int trial = 0; trial < 400; ++trial) {
    const RandomMove m = Draw(rng);
    SCOPED_TRACE(::testing::Message() << "trial " << trial << " j " << m.jerk << " a " << m.a
                                      << " v " << m.v << " d " << m.d << " spu " << m.spu);
    AxisProfile p = Built(m.jerk, m.a, m.v, m.d, m.spu);
    ASSERT_GT(p.stepCount, 0);
    EXPECT_EQ(p.stepCount, static_cast<int32_t>(std::ceil(p.totalTime / kTimeQuantum)));
    EXPECT_LE(p.stepTime, kTimeQuantum * (1 + 1e-12));
    ExpectWithinLimits(p, m);
    const std::vector<int32_t> deltas = RunOut(p);
    const int64_t rounded = static_cast<int64_t>(std::floor(std::fabs(m.d) * m.spu + 0.5));
    EXPECT_EQ(Sum(deltas), m.d < 0 ? -rounded : rounded);
    for (int32_t delta : deltas) EXPECT_GE(delta * (m.d < 0 ? -1 : 1), 0);
  }
}

TEST(Profile, RandomStopsEndEarlierAtRestWithTheStepsTheyReport) {
  std::mt19937_64 rng(7);
  for (int trial = 0; trial < 300; ++trial) {
    const RandomMove m = Draw(rng);
    SCOPED_TRACE(::testing::Message() << "trial " << trial);
    AxisProfile p = Built(m.jerk, m.a, m.v, m.d, m.spu);
    const int32_t stopAt = static_cast<int32_t>(rng() % (p.stepCount + 1));
    int64_t travelled = 0;
    while (p.stepIndex < stopAt) travelled += NextProfileStep(p);
    const double fullDistance = p.distance;
    StopProfile(p);
    EXPECT_LE(p.distance, fullDistance * (1 + 1e-12));
    travelled += Sum(RunOut(p));
    // The row at the stop is skipped: the channel ends about one row short of the rebuilt
    // profile's rounded distance.
    const double oneRow = 2 * m.v * m.spu * kTimeQuantum + 1;
    EXPECT_LE(std::fabs(static_cast<double>(travelled - int64_t{p.lastSteps} * p.direction)),
              oneRow);
    if (p.stepCount > 0) ExpectWithinLimits(p, m);
  }
}

TEST(Profile, StopWhileCruisingDeceleratesAtOnce) {
  AxisProfile p = Built(1000, 50, 1, 1, 1000);
  const AxisProfile before = p;
  while (p.stepIndex < 100) NextProfileStep(p);
  const double e = 100 * before.stepTime - 2 * before.rampTime;  // time spent cruising
  StopProfile(p);
  EXPECT_EQ(p.phases[0].endTime, before.phases[0].endTime);
  EXPECT_EQ(p.phases[1].endTime, before.phases[1].endTime);
  EXPECT_NEAR(p.phases[2].endTime - p.phases[1].endTime, e, 1e-12);
  EXPECT_NEAR(p.totalTime, 4 * before.rampTime + e, 1e-12);
  EXPECT_EQ(p.stepIndex, 101);  // the rebuilt profile's step at the stop is skipped
}

TEST(Profile, StopWhileRampingUpPeaksNow) {
  AxisProfile p = Built(1000, 50, 1, 1, 1000);
  NextProfileStep(p);
  NextProfileStep(p);
  const double now = 2 * p.stepTime;
  StopProfile(p);
  EXPECT_EQ(p.hasCruise, 0);
  EXPECT_NEAR(p.shortRampTime, now, 1e-12);
}

TEST(Profile, StopWhileDeceleratingChangesNothing) {
  AxisProfile p = Built(1000, 50, 1, 1, 1000);
  while (p.stepIndex < 205) NextProfileStep(p);
  const AxisProfile before = p;
  StopProfile(p);
  EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0);
}

TEST(GenerateRows, ChannelsRunTheirOwnProfilesUntilAllHaveEnded) {
  MotionWorld w;
  CardSession& cs = w.session();
  BuildProfile(1000, 50, 1, 1, kTimeQuantum, 1000, cs.axisJog[2]);
  int32_t rows[kRowBufferValues];
  int total = 0;
  for (int expected : {50, 50, 50, 50, 13, 0}) {
    const int produced = GenerateRows(cs, 50, rows);
    EXPECT_EQ(produced, expected);
    for (int r = 0; r < produced; ++r) {
      for (int c : {0, 1, 3, 4}) EXPECT_EQ(rows[r * 5 + c], 0);
      total += rows[r * 5 + 2];
    }
  }
  EXPECT_EQ(total, 1000);
}

TEST(GenerateRows, AShortProfileContributesZerosWhileALongOneGoesOn) {
  MotionWorld w(kCardLorn4);
  CardSession& cs = w.session();
  BuildProfile(1000, 50, 1, 0.05, kTimeQuantum, 1000, cs.axisJog[0]);
  BuildProfile(1000, 50, 1, -1, kTimeQuantum, 1000, cs.axisJog[3]);
  int32_t rows[kRowBufferValues];
  ASSERT_EQ(GenerateRows(cs, 50, rows), 50);
  int sum0 = 0;
  for (int r = 0; r < 50; ++r) sum0 += rows[r * 4];
  EXPECT_EQ(sum0, 50);
  EXPECT_EQ(rows[49 * 4], 0);
  EXPECT_LT(rows[49 * 4 + 3], 0);
  ClearProfiles(cs);
  EXPECT_EQ(GenerateRows(cs, 50, rows), 0);
}

TEST(Slaving, ChannelsThreeAndFourCopyTheirMasterOrStayStill) {
  MotionWorld w;
  w.s.settings.AxisMap[4] = 5;  // channel 4 carries C
  w.machine.Axes[3].IsSlave = 1;
  w.machine.Axes[3].SlaveOf = 1;  // A follows Y
  w.machine.Axes[5].IsSlave = 1;
  w.machine.Axes[5].SlaveOf = 4;  // C follows B, which no channel carries
  int32_t rows[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  ApplySlaving(w.s.settings, w.machine, w.session(), rows, 2);
  const int32_t expected[10] = {1, 2, 3, 2, 0, 6, 7, 8, 7, 0};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(rows[i], expected[i]) << i;
}

TEST(ProfileMoves, HomingRunsTowardsTheSwitchAndPullsOffTheOtherWay) {
  MotionWorld w;
  w.s.settings.AxisMap[3] = 4;  // channel 3 carries B
  w.s.settings.APullOff = 2.5;
  w.control.HomeSpeedPercent[4] = 30;
  w.control.MaxVelocity[4] = 0.1;
  w.control.Acceleration[4] = 3.3;
  w.control.StepsPerUnit[4] = 400;
  w.control.HomeNegative[4] = 1;
  BuildProfile(1000, 50, 1, 1, kTimeQuantum, 1000, w.session().axisJog[0]);
  BuildHomeApproach(w.s.settings, w.control, w.session(), 3);
  const AxisProfile& p = w.session().axisJog[3];
  EXPECT_EQ(w.session().axisJog[0].stepCount, 0);  // other channels cleared
  EXPECT_EQ(p.direction, -1);
  EXPECT_EQ(p.distance, 9999);
  EXPECT_EQ(p.speed, static_cast<double>(static_cast<float>(30 / 100.0 * 0.1)));
  EXPECT_EQ(p.acceleration, static_cast<double>(3.3f));
  EXPECT_EQ(p.stepsPerUnit, 400);
  BuildHomePullOff(w.s.settings, w.control, w.session(), 4);
  EXPECT_EQ(p.direction, 1);
  EXPECT_EQ(p.distance, 2.5);
  w.control.HomeNegative[4] = 0;
  BuildHomePullOff(w.s.settings, w.control, w.session(), 4);
  EXPECT_EQ(p.direction, -1);
  BuildHomePullOff(w.s.settings, w.control, w.session(), 5);  // carried by no channel: nothing
  EXPECT_EQ(p.stepCount, 0);
}

TEST(ProfileMoves, JogProfileUsesTheJerkSetting) {
  MotionWorld w;
  w.s.settings.Jerk = 60;
  StartJogProfile(w.s.settings, w.session(), 2.0f, 100.0f, -3.0f, 250.0, 1);
  const AxisProfile& p = w.session().axisJog[1];
  EXPECT_EQ(p.jerk, 60);
  EXPECT_EQ(p.direction, -1);
  EXPECT_EQ(p.stepsPerUnit, 250);
  StartJogProfile(w.s.settings, w.session(), 2.0f, 100.0f, -3.0f, 250.0,
                  7);  // no such channel: ignored
}

}  // namespace
}  // namespace torvexan::testing
