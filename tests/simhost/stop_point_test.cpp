// Where a stopped card stands: the stretch of the run it can stand on, matched against the
// machine's position, and the card's own trace of the stop (a restart zeroes its counts, a
// silent link lets it run on through its buffer).
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "sim/gcode/gcode.h"
#include "sim/host/host_records_owner.h"
#include "sim/host/machine_setup.h"
#include "sim/host/stop_window.h"
#include "tools/torvexan-sim/card_after_stop.h"

namespace torvexan::sim::testing {
namespace {

PathSegment Feed(int line, double x, double y) {
  PathSegment s;
  s.line = line;
  s.feedPerMinute = 600.0;  // 10 mm/s
  s.exactStop = true;
  s.target[0] = x;
  s.target[1] = y;
  return s;
}

// A square from the origin back through it and on: lines 2..5 around, line 6 out again.
class StopPointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const int64_t origin[kHostAxisCount] = {};
    JobError error;
    ASSERT_TRUE(planner.Plan(
        {Feed(2, 20, 0), Feed(3, 20, 20), Feed(4, 0, 20), Feed(5, 0, 0), Feed(6, 20, 0)}, origin,
        &error));
  }
  // The slice at which the run reaches the end of move i.
  int64_t EndOf(size_t i) const {
    const PlannedMove& m = planner.moves()[i];
    return static_cast<int64_t>(std::ceil((m.startSeconds + m.profile.duration) / kSliceSeconds));
  }
  // Where the card stands after running slice k of the run: it runs whole rows.
  std::array<double, kHostAxisCount> At(int64_t k) const {
    std::array<double, kHostAxisCount> at{};
    planner.PositionAt(k, at.data());
    for (double& v : at) v = std::round(v);
    return at;
  }
  HostRecordsOwner records{DefaultMachine()};
  Planner planner{records.control()};
};

TEST_F(StopPointTest, TheOriginLaterOnThePathIsNotWhereAZeroedCardStands) {
  // The card reported line 4 and the plug-in had taken the run nearly to the end of line 5:
  // the origin, where line 2 began and line 5 ends, was not reached, and a zeroed card there
  // is on no part of the stretch.
  const StopWindow window(planner, EndOf(3) - 10, 4);
  EXPECT_EQ(window.MoveOfCardLine().line, 4);
  EXPECT_EQ(window.firstSlice(), EndOf(1));
  const double origin[kHostAxisCount] = {};
  EXPECT_FALSE(window.Match(origin, 1.0).has_value());
  // Halfway along line 4, and a few rows into line 5.
  for (const int64_t k : {(EndOf(1) + EndOf(2)) / 2, EndOf(2) + 3}) {
    const std::optional<PathMatch> match = window.Match(At(k).data(), 1.0);
    ASSERT_TRUE(match.has_value()) << k;
    EXPECT_EQ(match->slice, k);
    EXPECT_EQ(match->line, k < EndOf(2) ? 4 : 5);
    EXPECT_EQ(match->move, k < EndOf(2) ? 2u : 3u);
  }
  // A row short of the stretch (still on line 3) and ten steps beside line 4: off it.
  EXPECT_FALSE(window.Match(At(EndOf(1) - 5).data(), 1.0).has_value());
  std::array<double, kHostAxisCount> beside = At((EndOf(1) + EndOf(2)) / 2);
  beside[1] -= 10.0;
  EXPECT_FALSE(window.Match(beside.data(), 1.0).has_value());
}

TEST_F(StopPointTest, PositionsBeyondWhatThePlugInTookAreNotOnTheStretch) {
  const StopWindow window(planner, EndOf(2), 3);
  double end[kHostAxisCount];
  window.PositionAt(window.lastSlice(), end);
  EXPECT_NEAR(end[0], 0.0, 0.5);
  EXPECT_NEAR(end[1], 20000.0, 0.5);
  // The middle of line 5 was never sent.
  const double line5[kHostAxisCount] = {0.0, 10000.0};
  EXPECT_FALSE(window.Match(line5, 1.0).has_value());
  // A line the card never reported in this run leaves the whole run taken so far.
  const StopWindow unknown(planner, EndOf(2), 99);
  EXPECT_EQ(unknown.firstSlice(), 0);
  const double origin[kHostAxisCount] = {};
  ASSERT_TRUE(unknown.Match(origin, 1.0).has_value());
  EXPECT_EQ(unknown.Match(origin, 1.0)->line, 2);
}

TEST_F(StopPointTest, TheStretchBeginsWithTheFirstMoveOfTheCardsLine) {
  // An arc's slices all carry the arc's line: the card may be on any of them.
  const int64_t origin[kHostAxisCount] = {};
  JobError error;
  ASSERT_TRUE(planner.Plan(
      {Feed(2, 10, 0), Feed(3, 20, 0), Feed(3, 20, 10), Feed(3, 20, 20), Feed(4, 0, 20)}, origin,
      &error));
  const StopWindow window(planner, EndOf(3) + 5, 3);
  EXPECT_EQ(window.MoveOfCardLine().move, 1u);
  EXPECT_EQ(window.firstSlice(), EndOf(0));
  const int64_t onFirstSlice = (EndOf(0) + EndOf(1)) / 2;
  ASSERT_TRUE(window.Match(At(onFirstSlice).data(), 1.0).has_value());
  EXPECT_EQ(window.Match(At(onFirstSlice).data(), 1.0)->move, 1u);
  double start[kHostAxisCount];
  window.StartOf(1, start);
  EXPECT_DOUBLE_EQ(start[0], 10000.0);
  EXPECT_DOUBLE_EQ(start[1], 0.0);
}

TraceSample Sample(uint64_t ms, int state, int buffered, int32_t count, int32_t physical,
                   uint32_t tag) {
  TraceSample s;
  s.ms = ms;
  s.state = state;
  s.buffered = buffered;
  s.positions[0] = count;
  s.physical[0] = physical;
  s.tag = tag;
  return s;
}

StopRecord StopAt(double seconds, const StopWindow& window) {
  StopRecord r;
  r.seconds = seconds;
  r.line = 2;  // what the host made of its counts
  r.path = StopRecord::Path::kOffPath;
  r.window = window;
  return r;
}

TEST_F(StopPointTest, ARestartedCardIsFoundWhereTheMachineStandsNotAtItsZeroCount) {
  // The card's counts start 100 steps behind the machine's; it restarts at 2.000 s halfway
  // along line 2: counts 0 from then on, the machine where it was.
  const auto x = static_cast<int32_t>(At(EndOf(0) / 2)[0]);
  std::vector<TraceSample> trace;
  for (uint64_t ms = 1900; ms < 2000; ms += 5) {
    trace.push_back(Sample(ms, kStreaming, 150, x, x + 100, 2));
  }
  for (uint64_t ms = 2000; ms < 3000; ms += 5) {
    trace.push_back(Sample(ms, kHalted, 0, 0, x + 100, 0));
    trace.back().reboots = 1;
  }
  std::vector<StopRecord> stops = {StopAt(0.1, StopWindow(planner, EndOf(1), 2))};
  const std::vector<CardAfterStop> found = CheckCardAfterStops(trace, stops, 1950.0);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_TRUE(found[0].halted);
  EXPECT_TRUE(found[0].restarted);
  EXPECT_EQ(found[0].rest[0], x);
  EXPECT_EQ(found[0].line, 2);
  EXPECT_EQ(found[0].stepsMoved, 0);
  ApplyCardRest(found, &stops);
  EXPECT_TRUE(stops[0].positionLost);
  EXPECT_EQ(stops[0].at[0], x);
  EXPECT_EQ(stops[0].path, StopRecord::Path::kOnPath);
  EXPECT_EQ(stops[0].line, 2);
}

TEST_F(StopPointTest, ACardOnASilentLinkIsFoundWhereItRanDry) {
  // The host stops at 1.0 s with the card on line 2 and 40 rows in its buffer; the card,
  // hearing nothing more, runs them dry: round the corner into line 3.
  const int64_t first = EndOf(0) - 30;
  std::vector<TraceSample> trace;
  for (int64_t k = first - 20, rows = 40; rows > 0; ++k) {
    const bool stopped = k >= first;
    rows -= stopped ? 1 : 0;
    const std::array<double, kHostAxisCount> at = At(k);
    const auto ms = static_cast<uint64_t>(1000 + (k - first) * 5);
    trace.push_back(Sample(ms, kStreaming, static_cast<int>(rows), static_cast<int32_t>(at[0]),
                           static_cast<int32_t>(at[0]), k < EndOf(0) ? 2 : 3));
    trace.back().positions[1] = trace.back().physical[1] = static_cast<int32_t>(at[1]);
  }
  const TraceSample dry = trace.back();
  for (uint64_t ms = dry.ms + 5; ms < dry.ms + 500; ms += 5) {
    trace.push_back(dry);
    trace.back().ms = ms;
  }
  std::vector<StopRecord> stops = {StopAt(1.0, StopWindow(planner, EndOf(2), 2))};
  const std::vector<CardAfterStop> found = CheckCardAfterStops(trace, stops, 0.0);
  ASSERT_TRUE(found[0].halted);
  EXPECT_TRUE(found[0].ranDry);
  EXPECT_FALSE(found[0].restarted);
  EXPECT_EQ(found[0].rest[0], dry.physical[0]);
  EXPECT_EQ(found[0].rest[1], dry.physical[1]);
  EXPECT_GT(dry.physical[1], 0);  // it did turn the corner
  EXPECT_EQ(found[0].line, 3);
  ApplyCardRest(found, &stops);
  EXPECT_FALSE(stops[0].positionLost);
  EXPECT_EQ(stops[0].path, StopRecord::Path::kOnPath);
  EXPECT_EQ(stops[0].line, 3);
  EXPECT_EQ(stops[0].cardLine, 3);
}

}  // namespace
}  // namespace torvexan::sim::testing
