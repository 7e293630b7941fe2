// A stream that lost time on the way: after the card's answers were lost for a while, the next
// full batches go out one a tick until the card's buffer is full again; a link that loses
// nothing keeps its pace of one exchange every other tick.
#include <gtest/gtest.h>

#include <set>

#include "integration/job_feeder.h"
#include "linksim/link_bench.h"

namespace torvexan::testing {
namespace {

using Kind = TappedDatagram::Kind;

constexpr size_t kFullLorn5Batch = 21 + 2 * 5 * 50;  // a MotionCmd of 50 rows of 5 channels
constexpr int kNearlyFull = 180;                     // rows of the card's 199
constexpr int kCaughtUp = 199 - 50;  // room for less than a full batch: the stream's own pace

// Ticks in which a full batch of rows was sent for the first time (resends not counted).
std::set<uint32_t> FullBatchTicks(LinkBench& bench, size_t mark) {
  std::set<int> seen;
  std::set<uint32_t> ticks;
  for (const auto& d : bench.tap().Of(Kind::kSend, mark)) {
    if (d.bytes.size() != kFullLorn5Batch || !seen.insert(d.Sequence()).second) continue;
    ticks.insert(d.tick);
  }
  return ticks;
}

int BackToBack(const std::set<uint32_t>& ticks) {
  int n = 0;
  for (uint32_t t : ticks) n += ticks.count(t + 1);
  return n;
}

TEST_F(ConnectedLorn5, StreamThatLostTimeGetsAFullBatchEveryTickUntilItsBufferIsFull) {
  JobFeeder job(bench.host(), 5, 120 * kSlicesPerSecond);
  const sim::VirtualCard& c = card->card;
  ASSERT_TRUE(bench.RunUntil(
      [&] {
        job.Fill();
        return c.bufferedRows() > kNearlyFull;
      },
      500));
  // Nothing lost: never two batches in a row of ticks.
  const size_t steady = bench.tap().size();
  ASSERT_FALSE(bench.RunUntil(
      [&] {
        job.Fill();
        return false;
      },
      100));
  EXPECT_EQ(BackToBack(FullBatchTicks(bench, steady)), 0);
  EXPECT_EQ(bench.session().counters.resends, 0u);

  // Every answer of the card is lost for 30 ticks: its buffer drains by about 120 rows.
  card->fromCard.SetShares(sim::FaultShares{1.0, 0, 0, 0});
  bench.RunUntil(
      [&] {
        job.Fill();
        return false;
      },
      30);
  card->fromCard.SetShares(sim::FaultShares{});
  ASSERT_TRUE(bench.online());
  ASSERT_LT(c.bufferedRows(), 199 - 50) << "the buffer did not fall behind";
  // The packet sent into the silence is answered at its next send, up to 11 ticks later.
  const uint64_t exchanges = bench.session().counters.exchanges;
  ASSERT_TRUE(bench.RunUntil(
      [&] {
        job.Fill();
        return bench.session().counters.exchanges > exchanges;
      },
      12));
  const size_t recovering = bench.tap().size();
  int ticks = 0;
  ASSERT_TRUE(bench.RunUntil(
      [&] {
        job.Fill();
        ++ticks;
        return c.bufferedRows() >= kCaughtUp;
      },
      100));
  // One full batch a tick while catching up: 50 rows a tick against 4 run.
  EXPECT_GE(BackToBack(FullBatchTicks(bench, recovering)), 1);
  EXPECT_LE(ticks, 6) << "the buffer took long to fill again";
  EXPECT_EQ(c.stats().underruns, 0u);
  EXPECT_EQ(c.stats().rowsOverflowed, 0u);

  // Back at the pace of a link that loses nothing.
  const size_t after = bench.tap().size();
  bench.RunUntil(
      [&] {
        job.Fill();
        return false;
      },
      100);
  EXPECT_EQ(BackToBack(FullBatchTicks(bench, after)), 0);
}

}  // namespace
}  // namespace torvexan::testing
