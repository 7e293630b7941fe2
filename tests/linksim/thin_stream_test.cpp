// A move's first batch leaves the card with little to run on: while its answers are lost it is
// sent again every tick, so the rows after it arrive before the card runs dry. A card with a
// deep buffer is sent a packet again at the usual pace, until the time its packets have been
// failing has run its buffer low.
#include <gtest/gtest.h>

#include <vector>

#include "integration/job_feeder.h"
#include "linksim/link_bench.h"

namespace torvexan::testing {
namespace {

using Kind = TappedDatagram::Kind;

constexpr size_t kPollLength = 21;  // a MotionCmd without rows
constexpr int kSilentTicks = 7;

// The ticks in which the first packet longer than `shorter` bytes sent since `mark` went out,
// its resends included.
std::vector<uint32_t> SendsOfFirst(LinkBench& bench, size_t mark, size_t shorter) {
  std::vector<uint32_t> ticks;
  int sequence = -1;
  for (const auto& d : bench.tap().Of(Kind::kSend, mark)) {
    if (d.bytes.size() <= shorter) continue;
    if (sequence < 0) sequence = d.Sequence();
    if (d.Sequence() == sequence) ticks.push_back(d.tick);
  }
  return ticks;
}

// Loses every answer of the card for kSilentTicks ticks.
void SilenceAnswers(LinkBench& bench, sim::NetCard& card, JobFeeder& job) {
  card.fromCard.SetShares(sim::FaultShares{1.0, 0, 0, 0});
  bench.RunUntil(
      [&] {
        job.Fill();
        return false;
      },
      kSilentTicks);
  card.fromCard.SetShares(sim::FaultShares{});
}

TEST_F(ConnectedLorn5, FirstBatchOfAMoveGoesAgainEveryTickAndLaterBatchesAtTheUsualPace) {
  const sim::VirtualCard& c = card->card;
  JobFeeder job(bench.host(), 5, 120 * kSlicesPerSecond);
  // The job starts right after an exchange, so the next packet is its first batch.
  const uint64_t exchanges = bench.session().counters.exchanges;
  ASSERT_TRUE(bench.RunUntil([&] { return bench.session().counters.exchanges > exchanges; }, 20));
  const size_t start = bench.tap().size();
  job.Fill();
  SilenceAnswers(bench, *card, job);

  const std::vector<uint32_t> first = SendsOfFirst(bench, start, kPollLength);
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(bench.tap().Of(Kind::kSend, start).front().bytes.size(), kPollLength + 2 * 5 * 50)
      << "the move did not start with a full batch";
  ASSERT_GE(first.size(), 2u) << "the first batch was not sent again";
  EXPECT_GE(first.size(), static_cast<size_t>(kSilentTicks - 1));
  for (size_t i = 1; i < first.size(); ++i) EXPECT_EQ(first[i] - first[i - 1], 1u);
  EXPECT_GT(c.bufferedRows(), 0) << "the card did not start the move";

  // The stream carries on and fills the card's buffer without running it dry.
  ASSERT_TRUE(bench.RunUntil(
      [&] {
        job.Fill();
        return c.bufferedRows() > 180;
      },
      200));
  EXPECT_EQ(c.stats().underruns, 0u);

  // With the buffer deep, a packet whose answers are lost waits at least two ticks a send.
  const size_t deep = bench.tap().size();
  const uint64_t resends = bench.session().counters.resends;
  SilenceAnswers(bench, *card, job);
  const std::vector<uint32_t> later = SendsOfFirst(bench, deep, 0);
  ASSERT_GE(later.size(), 2u);
  for (size_t i = 1; i < later.size(); ++i) EXPECT_GE(later[i] - later[i - 1], 2u);
  EXPECT_LE(bench.session().counters.resends - resends, static_cast<uint64_t>(kSilentTicks / 2));
  EXPECT_EQ(c.stats().underruns, 0u);
  EXPECT_EQ(c.stats().rowsOverflowed, 0u);
}

// Every packet towards the card is lost for 40 ticks, 160 rows of the card's deep buffer: at the
// usual pace, backing off to a send every 11 ticks, the next packet would come after the card
// had run dry. Once the rows run since its last answer leave it low, it is sent every tick.
TEST_F(ConnectedLorn5, DeepBufferDrainedByALongLossIsFedEveryTickBeforeItRunsDry) {
  const sim::VirtualCard& c = card->card;
  JobFeeder job(bench.host(), 5, 120 * kSlicesPerSecond);
  ASSERT_TRUE(bench.RunUntil(
      [&] {
        job.Fill();
        return c.bufferedRows() > 180 && bench.session().txLength == 0;
      },
      500));
  const size_t start = bench.tap().size();
  card->toCard.SetShares(sim::FaultShares{1.0, 0, 0, 0});
  bench.RunUntil(
      [&] {
        job.Fill();
        return false;
      },
      40);
  card->toCard.SetShares(sim::FaultShares{});
  const std::vector<uint32_t> sends = SendsOfFirst(bench, start, 0);
  ASSERT_GE(sends.size(), 10u);
  for (size_t i = sends.size() - 5; i < sends.size(); ++i) EXPECT_EQ(sends[i] - sends[i - 1], 1u);
  ASSERT_TRUE(bench.RunUntil(
      [&] {
        job.Fill();
        return c.bufferedRows() > 150;
      },
      100));
  EXPECT_EQ(c.stats().underruns, 0u);
  EXPECT_EQ(c.stats().rowsOverflowed, 0u);
  EXPECT_EQ(bench.session().counters.linkLosses, 0u);
}

}  // namespace
}  // namespace torvexan::testing
