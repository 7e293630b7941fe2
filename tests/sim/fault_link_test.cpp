#include <gtest/gtest.h>

#include <vector>

#include "card/fault_link.h"

namespace torvexan::sim {
namespace {

std::vector<int> Arrivals(FaultLink& link, int packets) {
  const uint8_t bytes[4] = {1, 2, 3, 4};
  for (int i = 0; i < packets; ++i) link.Send(i, bytes, 4, static_cast<uint64_t>(i));
  std::vector<int> got;
  FaultLink::Packet p;
  while (link.TakeDue(UINT64_MAX - 1, p)) got.push_back(static_cast<int>(p.route));
  return got;
}

TEST(FaultLink, SharesAreHeldOverManyPacketsAndRepeatWithTheSeed) {
  FaultShares shares;
  shares.drop = 0.1;
  FaultLink a(42), b(42);
  a.SetShares(shares);
  b.SetShares(shares);
  int dropped = 0;
  for (int round = 0; round < 100; ++round) {
    const auto got = Arrivals(a, 50);
    dropped += 50 - static_cast<int>(got.size());
    EXPECT_EQ(got, Arrivals(b, 50));
  }
  EXPECT_GT(dropped, 400);
  EXPECT_LT(dropped, 600);
  EXPECT_EQ(a.counts().dropped, static_cast<uint32_t>(dropped));
}

TEST(FaultLink, DelayedPacketArrivesAfterLatencyAndDelay) {
  FaultLink link(7);
  FaultShares shares;
  shares.delay = 1.0;
  shares.delayMs = 25;
  link.SetShares(shares);
  link.SetLatency(2);
  const uint8_t b[1] = {9};
  link.Send(100, b, 1, 0);
  FaultLink::Packet p;
  EXPECT_EQ(link.NextDue(), 127u);
  EXPECT_FALSE(link.TakeDue(126, p));
  EXPECT_TRUE(link.TakeDue(127, p));
}

TEST(FaultLink, DuplicatesArriveTwiceAndCorruptionChangesOneByte) {
  FaultLink dup(3), bad(3);
  FaultShares d;
  d.duplicate = 1.0;
  dup.SetShares(d);
  FaultShares c;
  c.corrupt = 1.0;
  bad.SetShares(c);
  EXPECT_EQ(Arrivals(dup, 3), (std::vector<int>{0, 0, 1, 1, 2, 2}));
  const uint8_t plain[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  for (int i = 0; i < 20; ++i) {
    bad.Send(0, plain, 8, 0);
    FaultLink::Packet p;
    ASSERT_TRUE(bad.TakeDue(0, p));
    int differing = 0;
    for (int k = 0; k < 8; ++k) differing += p.bytes[k] != plain[k];
    EXPECT_EQ(differing, 1);
  }
}

TEST(FaultLink, ArrivalOrderFollowsDueTimeThenSendOrder) {
  FaultLink link(1);
  const uint8_t b[1] = {0};
  link.Send(10, b, 1, 1);
  link.Send(5, b, 1, 2);
  link.Send(10, b, 1, 3);
  FaultLink::Packet p;
  std::vector<int> order;
  while (link.TakeDue(100, p)) order.push_back(static_cast<int>(p.route));
  EXPECT_EQ(order, (std::vector<int>{2, 1, 3}));
}

}  // namespace
}  // namespace torvexan::sim
