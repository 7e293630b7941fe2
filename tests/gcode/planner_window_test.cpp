// The planner's look-ahead window: where the window reaches far enough it writes the very
// slices and tags that planning the whole run at once gives; its memory stays bounded on runs
// of any length; and the history it keeps behind the slices written is enough to find where a
// stopped machine stands.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "planner_fixture.h"
#include "sim/host/stop_window.h"

namespace torvexan::sim::testing {
namespace {

constexpr int64_t kOrigin[kHostAxisCount] = {};
using Slice = std::array<double, kHostAxisCount>;

struct Written {
  std::vector<Slice> slices;
  std::vector<int> tags;
};

// The whole run planned at once, as the planner did before it had a window: a backward and a
// forward pass over every corner, the times in one sum, then the slices by time. The limits of
// each move and the fastest each corner allows come from the planner's moves (the window does
// not change them); speeds, times, slices and tags are this reference's own.
Written WholeRun(const std::vector<PlannedMove>& moves, const int64_t end[kHostAxisCount]) {
  const size_t n = moves.size();
  std::vector<double> corner(n + 1, 0.0);
  for (size_t i = 1; i < n; ++i) corner[i] = moves[i].entryCap;
  for (size_t i = n; i-- > 0;) {
    corner[i] = std::min(corner[i], std::sqrt(corner[i + 1] * corner[i + 1] +
                                              2.0 * moves[i].aMax * moves[i].length));
  }
  for (size_t i = 0; i < n; ++i) {
    corner[i + 1] = std::min(
        corner[i + 1], std::sqrt(corner[i] * corner[i] + 2.0 * moves[i].aMax * moves[i].length));
  }
  std::vector<Trapezoid> profile(n);
  std::vector<double> start(n);
  double t = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const PlannedMove& m = moves[i];
    profile[i] = BuildTrapezoid(m.length, corner[i], corner[i + 1], m.vMax, m.aMax);
    start[i] = t;
    t += profile[i].duration;
    if (i + 1 < n && corner[i + 1] == 0.0) t = std::ceil(t / kSliceSeconds - 1e-9) * kSliceSeconds;
  }
  const int64_t slices =
      n == 0 ? 0 : std::max<int64_t>(1, static_cast<int64_t>(std::ceil(t / kSliceSeconds - 1e-9)));
  size_t cursor = 0;
  const auto at = [&](int64_t k, Slice* out) {
    if (k >= slices) {
      for (int a = 0; a < kHostAxisCount; ++a) (*out)[a] = static_cast<double>(end[a]);
      return;
    }
    const double time = static_cast<double>(k) * kSliceSeconds;
    while (cursor + 1 < n && start[cursor + 1] <= time) ++cursor;
    const PlannedMove& m = moves[cursor];
    const double fraction = profile[cursor].Position(time - start[cursor]) / m.length;
    for (int a = 0; a < kHostAxisCount; ++a) {
      const double from = static_cast<double>(m.from[a]);
      (*out)[a] = from + (static_cast<double>(m.to[a]) - from) * fraction;
    }
  };
  Written w;
  Slice before{}, after{};
  at(0, &before);
  for (int64_t k = 1; k <= slices; ++k) {
    at(k, &after);
    w.tags.push_back(k >= slices ? moves.back().line : moves[cursor].line);
    Slice s;
    for (int a = 0; a < kHostAxisCount; ++a) s[a] = after[a] - before[a];
    w.slices.push_back(s);
    before = after;
  }
  return w;
}

// A run's moves one by one, counting how many the planner asked for.
class Feeder final : public SegmentSource {
 public:
  explicit Feeder(const std::vector<PathSegment>& run) : run_(run) {}
  bool Next(PathSegment* s) override {
    if (next_ >= run_.size()) return false;
    *s = run_[next_++];
    return true;
  }
  size_t taken() const { return next_; }

 private:
  const std::vector<PathSegment>& run_;
  size_t next_ = 0;
};

class PlannerWindowTest : public PlannerFixture {
 protected:
  // Streams run through the window (nothing is dropped: no queue is filled) and holds its
  // slices and tags against the whole run planned at once.
  void ExpectSameAsWholeRun(const std::vector<PathSegment>& run) {
    Feeder feeder(run);
    Planner planner(c);
    JobError error;
    ASSERT_TRUE(planner.Start(feeder, kOrigin, &error)) << error.message;
    // The window plans ahead of the slices, not the whole run at once.
    if (run.size() > 2 * Planner::kChunkMoves) {
      EXPECT_LT(feeder.taken(), run.size());
    }
    Written streamed;
    Slice s;
    int tag = 0;
    // Every move as it becomes final, before the history lets go of it.
    std::vector<PlannedMove> moves;
    while (planner.TakeSlice(s.data(), &tag)) {
      streamed.slices.push_back(s);
      streamed.tags.push_back(tag);
      ASSERT_LT(planner.windowMoves(), Planner::kWindowMoves)
          << "the cap, not the look-ahead, settled moves";
      ASSERT_LE(planner.firstMove(), moves.size());
      for (size_t i = moves.size(); i < planner.firstMove() + planner.finalMoves(); ++i) {
        moves.push_back(planner.moves()[i - planner.firstMove()]);
      }
    }
    ASSERT_TRUE(planner.closed());
    ASSERT_EQ(static_cast<int64_t>(moves.size()), planner.movesPlanned());
    const Written whole = WholeRun(moves, planner.end());
    ASSERT_EQ(streamed.slices.size(), whole.slices.size());
    EXPECT_EQ(planner.slices(), static_cast<int64_t>(whole.slices.size()));
    for (size_t k = 0; k < whole.slices.size(); ++k) {
      for (int a = 0; a < kHostAxisCount; ++a) {
        ASSERT_NEAR(streamed.slices[k][a], whole.slices[k][a], 1e-9)
            << "slice " << k << " axis " << a;
      }
      ASSERT_EQ(streamed.tags[k], whole.tags[k]) << "slice " << k;
    }
  }
};

// Seeded random paths of every kind of move the window must see past: short CAM segments
// bending a little, sharp corners, reversals, rapids, G61, G64 P, moves of a step or two,
// long straights and arcs as many short chords at high feed (which need a long look-ahead).
TEST_F(PlannerWindowTest, StreamedSlicesAreThoseOfTheWholeRunPlannedAtOnce) {
  std::mt19937 rng(20261208);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::uniform_real_distribution<double> feed(60.0, 6000.0);
  std::uniform_int_distribution<int> event(0, 24);
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    std::vector<PathSegment> run;
    double x = 0, y = 0, z = 0, heading = 0, f = feed(rng), tolerance = 0.0;
    bool exact = false;
    int line = 0;
    while (run.size() < 2500) {
      const int e = event(rng);
      ++line;
      if (e == 0) heading += 1.6;         // a sharp corner
      if (e == 1) heading += 3.14159265;  // back the way it came
      if (e == 2) f = feed(rng);
      if (e == 3) exact = !exact;                                       // G61 / G64
      if (e == 4) tolerance = tolerance > 0 ? 0.0 : 0.005 * unit(rng);  // G64 P
      if (e == 5) {                                                     // an arc of many chords
        const double r = 1.0 + 20.0 * unit(rng), turn = (unit(rng) < 0.5 ? -1 : 1) * 3.0;
        const int chords = 20 + static_cast<int>(200 * unit(rng));
        const double cx = x - r * std::sin(heading), cy = y + r * std::cos(heading);
        for (int i = 1; i <= chords; ++i) {
          const double h = heading + turn * i / chords;
          PathSegment s = Feed(line, 6000, cx + r * std::sin(h), cy - r * std::cos(h), z);
          s.blendTolerance = tolerance;
          s.midArc = i < chords;
          run.push_back(s);
        }
        heading += turn;
        x = run.back().target[0];
        y = run.back().target[1];
        continue;
      }
      if (e == 6) {  // a rapid somewhere else
        PathSegment s = Feed(line, 0, x += 30 * unit(rng), y -= 30 * unit(rng), z += 1);
        s.rapid = true;
        run.push_back(s);
        continue;
      }
      heading += 0.3 * (unit(rng) - 0.5);
      const double l = e == 7 ? 100.0 * unit(rng) : e == 8 ? 0.0015 * unit(rng) : 2.0 * unit(rng);
      x += l * std::cos(heading);
      y += l * std::sin(heading);
      PathSegment s = Feed(line, f, x, y, z);
      s.exactStop = exact;
      s.blendTolerance = tolerance;
      run.push_back(s);
    }
    ExpectSameAsWholeRun(run);
  }
}

TEST_F(PlannerWindowTest, HandMadeRunsNeedingTheLongestLookAhead) {
  // A long straight at the machine's fastest in tiny pieces: no piece is final until the
  // distance to stop from full speed lies ahead of it.
  std::vector<PathSegment> straight;
  for (int i = 1; i <= 3000; ++i) straight.push_back(Feed(i, 6000, i * 0.05, 0));
  ExpectSameAsWholeRun(straight);
  // Zigzags that come to rest at every reversal: each reversal settles what comes before it.
  std::vector<PathSegment> zigzag;
  for (int i = 1; i <= 1500; ++i) zigzag.push_back(Feed(i, 3000, (i % 2) * 5.0, i * 0.01));
  ExpectSameAsWholeRun(zigzag);
  // A run shorter than one chunk, and a run of one move.
  ExpectSameAsWholeRun({Feed(1, 600, 1, 0), Feed(2, 600, 1, 1), Feed(3, 600, 0, 1)});
  ExpectSameAsWholeRun({Feed(1, 600, 10, 0)});
}

// A run whose moves come from a formula, never held whole: a million of them.
class Endless final : public SegmentSource {
 public:
  Endless(int64_t moves, const Planner& planner) : moves_(moves), planner_(planner) {}
  // The most the planner held while it asked for moves, which is when it holds the most.
  size_t widestWindow = 0;
  size_t mostRetained = 0;
  bool Next(PathSegment* s) override {
    widestWindow = std::max(widestWindow, planner_.windowMoves());
    mostRetained = std::max(mostRetained, planner_.moves().size());
    if (next_ >= moves_) return false;
    ++next_;
    *s = PathSegment{};
    s->line = static_cast<int>(next_);
    s->feedPerMinute = 6000;
    // Stretches of single-step pieces in a straight line (the window's cap settles those)
    // between zigzags of 0.05 mm pieces.
    const int64_t phase = next_ % 200000;
    if (phase < 20000) {
      x_ += 0.001;
    } else {
      x_ += 0.05;
      y_ = (next_ % 40) < 20 ? y_ + 0.03 : y_ - 0.03;
    }
    s->target[0] = x_;
    s->target[1] = y_;
    return true;
  }

 private:
  int64_t moves_;
  const Planner& planner_;
  int64_t next_ = 0;
  double x_ = 0.0;
  double y_ = 0.0;
};

TEST_F(PlannerWindowTest, WindowAndHistoryStayBoundedOnAMillionMovesAndTheSlicesStayWithinLimits) {
  constexpr int64_t kMoves = 1'000'000;
  // Fast enough that stopping from full speed takes more single steps than the window holds.
  c.MaxVelocity[0] = c.MaxVelocity[1] = 100.0;
  Planner planner(c);
  Endless source(kMoves, planner);
  JobError error;
  ASSERT_TRUE(planner.Start(source, kOrigin, &error));
  size_t longestHistory = 0;
  Slice previous{};
  int64_t taken = 0;
  double sum[kHostAxisCount] = {};
  for (Planner::Status s = Planner::Status::kQueueFull; s != Planner::Status::kDone;) {
    s = planner.Fill(m, c);
    longestHistory = std::max(longestHistory, planner.finalMoves());
    // The plug-in takes everything; every slice keeps the axes' speed and acceleration, the
    // moves the cap settled early included.
    for (; m.MoveQueueRead != m.MoveQueueWrite;
         m.MoveQueueRead = (m.MoveQueueRead + 1) % kMoveQueueSize) {
      const double* now = c.MoveQueue[m.MoveQueueRead].MoveSteps;
      for (int a = 0; a < 2; ++a) {
        const double spu = c.StepsPerUnit[a];
        ASSERT_LE(std::fabs(now[a]), c.MaxVelocity[a] * spu * kSliceSeconds * (1 + 1e-6))
            << "slice " << taken;
        ASSERT_LE(std::fabs(now[a] - previous[a]),
                  c.Acceleration[a] * spu * kSliceSeconds * kSliceSeconds * (1 + 1e-6) + 1e-9)
            << "slice " << taken;
        previous[a] = now[a];
        sum[a] += now[a];
      }
      ++taken;
    }
  }
  EXPECT_EQ(planner.movesPlanned(), kMoves);
  EXPECT_EQ(taken, planner.slices());
  EXPECT_EQ(planner.slicesWritten(), taken);
  // The single-step stretch needs more look-ahead than the cap allows: the window filled up
  // (it asks for no more moves once full).
  EXPECT_EQ(source.widestWindow, Planner::kWindowMoves - 1);
  // Final moves: the history behind the slices written plus one chunk settled ahead of them.
  EXPECT_LE(longestHistory, Planner::kHistoryMoves + Planner::kChunkMoves + 2);
  // Everything held: the history, the window, and the final moves of the slice not yet written.
  EXPECT_LE(source.mostRetained,
            Planner::kHistoryMoves + Planner::kWindowMoves + 2 * Planner::kChunkMoves);
  for (int a = 0; a < 2; ++a) EXPECT_NEAR(sum[a], static_cast<double>(planner.end()[a]), 1e-3);
}

// A machine stopped deep in a long run: only the history is left of what ran, and it is
// enough to find the machine on the path, on the card's line.
TEST_F(PlannerWindowTest, AStopLongIntoARunIsFoundOnThePathFromTheHistory) {
  std::vector<PathSegment> run;
  for (int i = 1; i <= 60000; ++i) {
    run.push_back(Feed(i, 2400, i * 0.1, (i / 50) % 2 == 0 ? 0.0 : 0.3 * ((i % 50) / 50.0)));
  }
  Feeder feeder(run);
  Planner planner(c);
  JobError error;
  ASSERT_TRUE(planner.Start(feeder, kOrigin, &error));
  // The plug-in takes rows until well into the run, then stops with a full queue behind it.
  double at[kHostAxisCount] = {};
  int cardLine = 0;
  int64_t taken = 0;
  while (taken < 15000) {
    ASSERT_EQ(planner.Fill(m, c), Planner::Status::kQueueFull);
    for (int i = 0; i < 1000 && m.MoveQueueRead != m.MoveQueueWrite; ++i, ++taken) {
      for (int a = 0; a < kHostAxisCount; ++a) at[a] += c.MoveQueue[m.MoveQueueRead].MoveSteps[a];
      cardLine = m.MoveQueue[m.MoveQueueRead].MoveTag;
      m.MoveQueueRead = (m.MoveQueueRead + 1) % kMoveQueueSize;
    }
  }
  ASSERT_EQ(planner.Fill(m, c), Planner::Status::kQueueFull);
  const int queued = (m.MoveQueueWrite - m.MoveQueueRead + kMoveQueueSize) % kMoveQueueSize;
  ASSERT_EQ(planner.slicesWritten() - queued, taken);
  EXPECT_GT(planner.firstMove(), 0u) << "the start of the run is no longer held";
  EXPECT_LT(feeder.taken(), run.size());
  // The card ran whole steps of what it was sent.
  for (double& v : at) v = std::round(v);
  const StopWindow window(planner, taken, cardLine);
  ASSERT_FALSE(window.empty());
  EXPECT_TRUE(window.whole());
  EXPECT_EQ(window.MoveOfCardLine().line, cardLine);
  const std::optional<PathMatch> match = window.Match(at, 1.0);
  ASSERT_TRUE(match.has_value());
  EXPECT_EQ(match->line, cardLine);
  EXPECT_EQ(match->slice, taken);
  // The move matched is the one the planner holds for that line, with its segment.
  const PlannedMove& held = planner.moves()[match->move - planner.firstMove()];
  EXPECT_EQ(held.line, cardLine);
  EXPECT_EQ(held.segment.line, cardLine);
}

// Single steps at full feed: fifty moves a slice, more than the history holds within the
// queue. A card whose line is gone from it is on no stretch the host can vouch for.
TEST_F(PlannerWindowTest, AStretchThatLostTheCardsLineSaysSo) {
  std::vector<PathSegment> run;
  for (int i = 1; i <= 200000; ++i) run.push_back(Feed(i, 3000, i * 0.001, 0));
  Feeder feeder(run);
  Planner planner(c);
  JobError error;
  ASSERT_TRUE(planner.Start(feeder, kOrigin, &error));
  std::vector<int> tags;
  Slice s;
  int tag = 0;
  while (tags.size() < 700 && planner.TakeSlice(s.data(), &tag)) tags.push_back(tag);
  ASSERT_EQ(tags.size(), 700u);
  const int64_t taken = 700;
  ASSERT_GT(planner.firstMove(), 0u);
  EXPECT_FALSE(StopWindow(planner, taken, tags[100]).whole()) << "a line long gone";
  EXPECT_FALSE(StopWindow(planner, taken, -1).whole()) << "no line of the run";
  const StopWindow recent(planner, taken, tags[690]);
  EXPECT_TRUE(recent.whole());
  EXPECT_EQ(recent.MoveOfCardLine().line, tags[690]);
}

// A move that cannot be made far into a run ends the run at rest where that move starts; the
// slices before it are written and add up to there.
TEST_F(PlannerWindowTest, AMoveThatCannotBeMadeLateInARunEndsItAtRest) {
  std::vector<PathSegment> run;
  for (int i = 1; i <= 2000; ++i) run.push_back(Feed(i, 1200, i * 0.1, 0));
  run[1500].target[0] = 1e12;  // beyond what 32-bit steps can count
  Feeder feeder(run);
  Planner planner(c);
  JobError error;
  ASSERT_TRUE(planner.Start(feeder, kOrigin, &error));
  Slice s{}, last{};
  double x = 0.0, fastest = 0.0;
  int tag = 0;
  while (planner.TakeSlice(s.data(), &tag)) {
    x += s[0];
    fastest = std::max(fastest, s[0]);
    last = s;
  }
  ASSERT_TRUE(planner.error().has_value());
  EXPECT_EQ(planner.error()->line, 1501);
  EXPECT_EQ(planner.end()[0], std::llround(run[1499].target[0] * c.StepsPerUnit[0]));
  EXPECT_NEAR(x, static_cast<double>(planner.end()[0]), 1e-6);
  EXPECT_LT(std::fabs(last[0]), fastest / 4) << "the last slice comes to rest";
  // Within the first moves, nothing of the run is planned.
  std::vector<PathSegment> early(run.begin(), run.begin() + 10);
  early[5].target[0] = 1e12;
  Planner refused(c);
  EXPECT_FALSE(refused.Plan(early, kOrigin, &error));
  EXPECT_EQ(error.line, 6);
  EXPECT_EQ(refused.slices(), 0);
}

}  // namespace
}  // namespace torvexan::sim::testing
