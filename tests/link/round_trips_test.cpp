// The reply wait of the Ethernet exchange as the card's round trips make it.
#include "link/round_trips.h"

#include <gtest/gtest.h>

namespace torvexan::testing {
namespace {

RoundTrips After(std::initializer_list<uint32_t> samples) {
  RoundTrips r{};
  for (uint32_t s : samples) NoteRoundTrip(r, s);
  return r;
}

TEST(RoundTrips, WithoutASampleTheFixedWaitHolds) {
  EXPECT_EQ(ReplyWaitTicks(RoundTrips{}), kLongestReplyWaitTicks);
  EXPECT_EQ(kLinkLossTicks, 110u) << "ten sends of more than ten ticks each";
}

TEST(RoundTrips, CardAnsweringWithinATickIsSentThePacketAgainAfterTwo) {
  RoundTrips r{};
  for (int i = 0; i < 40; ++i) NoteRoundTrip(r, 1);
  // The variation comes down to nothing: the wait is the round trip itself.
  EXPECT_EQ(r.variationEighths, 0u);
  EXPECT_EQ(r.smoothedEighths, 8u);
  EXPECT_EQ(ReplyWaitTicks(r), 1u);
}

TEST(RoundTrips, JitterWidensTheWaitAndTheLongestRecentTripIsItsFloor) {
  RoundTrips steady{};
  for (int i = 0; i < 40; ++i) NoteRoundTrip(steady, i % 2 == 0 ? 2 : 4);
  EXPECT_GE(ReplyWaitTicks(steady), 5u) << "a wait no longer than the slower trips";
  EXPECT_LE(ReplyWaitTicks(steady), 10u);

  // One slow answer among quick ones: the wait covers it while it is among the recent trips.
  RoundTrips r{};
  for (int i = 0; i < 40; ++i) NoteRoundTrip(r, 1);
  NoteRoundTrip(r, 6);
  for (int i = 0; i < RoundTrips::kRecent - 1; ++i) NoteRoundTrip(r, 1);
  EXPECT_GE(ReplyWaitTicks(r), 6u);
  NoteRoundTrip(r, 1);  // now out of the recent trips
  for (int i = 0; i < 40; ++i) NoteRoundTrip(r, 1);
  EXPECT_EQ(ReplyWaitTicks(r), 1u);
}

TEST(RoundTrips, NeverLongerThanTheFixedWait) {
  EXPECT_EQ(ReplyWaitTicks(After({40, 60, 200, 1000})), kLongestReplyWaitTicks);
}

TEST(RoundTrips, FirstSampleGivesItselfAndHalfOfItAsVariation) {
  const RoundTrips r = After({4});
  EXPECT_EQ(r.smoothedEighths, 32u);
  EXPECT_EQ(r.variationEighths, 16u);
  EXPECT_EQ(ReplyWaitTicks(r), kLongestReplyWaitTicks);  // 4 + 4 x 2, capped
  EXPECT_EQ(ReplyWaitTicks(After({1})), 1u + 2u);
  EXPECT_EQ(ReplyWaitTicks(After({0, 0, 0})), 1u) << "replies read in the tick of their send";
}

TEST(RoundTrips, MissedWaitsStayShortThreeTimesThenGrowToTheFixedWait) {
  EXPECT_EQ(WaitAfterMiss(2, 1), 2u);
  EXPECT_EQ(WaitAfterMiss(2, 3), 2u);
  EXPECT_EQ(WaitAfterMiss(2, 4), 3u);
  EXPECT_EQ(WaitAfterMiss(6, 5), 9u);
  EXPECT_EQ(WaitAfterMiss(9, 6), kLongestReplyWaitTicks);
  EXPECT_EQ(WaitAfterMiss(0, 4), 1u);
}

// While the card runs low a packet goes again in the first tick its answer is overdue: the
// longest recent round trip less the tick in which a reply is read before the wait is judged,
// with no margin for the variation that the usual wait adds.
TEST(RoundTrips, PromptWaitIsTheLongestRecentTripLessOneWithoutTheVariation) {
  EXPECT_EQ(PromptReplyWaitTicks(RoundTrips{}), kLongestReplyWaitTicks - 1)
      << "without a sample: a tick less than the fixed wait";
  // One sample of a tick: the usual wait is three ticks, its margin for a variation not yet
  // known; the prompt one sends in the next tick without an answer.
  const RoundTrips first = After({1});
  ASSERT_EQ(ReplyWaitTicks(first), 3u);
  EXPECT_EQ(PromptReplyWaitTicks(first), 0u);
  EXPECT_EQ(PromptReplyWaitTicks(After({0, 0})), 0u);

  RoundTrips jitter{};
  for (int i = 0; i < 40; ++i) NoteRoundTrip(jitter, i % 2 == 0 ? 2 : 4);
  EXPECT_EQ(PromptReplyWaitTicks(jitter), 3u) << "the slower trips are waited for";
  EXPECT_LT(PromptReplyWaitTicks(jitter), ReplyWaitTicks(jitter));

  RoundTrips slow{};
  for (int i = 0; i < 40; ++i) NoteRoundTrip(slow, 6);
  EXPECT_EQ(PromptReplyWaitTicks(slow), 5u)
      << "a slow card is not sent a packet before it can answer";
  EXPECT_EQ(PromptReplyWaitTicks(After({40, 60})), kLongestReplyWaitTicks);

  // A late answer lengthens the usual waits, but it is no measured trip: one datagram held up
  // in the network must not slow the card's prompt resends down to the fixed wait.
  RoundTrips late{};
  for (int i = 0; i < 40; ++i) NoteRoundTrip(late, 1);
  ASSERT_EQ(PromptReplyWaitTicks(late), 0u);
  for (int i = 0; i < 4; ++i) NoteLateAnswer(late);
  ASSERT_EQ(ReplyWaitTicks(late), kLongestReplyWaitTicks);
  EXPECT_EQ(PromptReplyWaitTicks(late), 0u);
  NoteRoundTrip(late, 3);
  EXPECT_EQ(PromptReplyWaitTicks(late), 2u) << "a measured slow trip counts";
  for (int i = 0; i < RoundTrips::kRecent; ++i) NoteRoundTrip(late, 1);
  EXPECT_EQ(PromptReplyWaitTicks(late), 0u);
}

// A late answer says the card took longer than the wait: the waits double until a clean
// sample, and the recent trips keep one tick more than that wait for a while after it.
TEST(RoundTrips, LateAnswerDoublesTheWaitUntilACleanSampleAndIsKeptAmongTheRecentTrips) {
  RoundTrips r{};
  for (int i = 0; i < 40; ++i) NoteRoundTrip(r, 1);
  ASSERT_EQ(ReplyWaitTicks(r), 1u);
  NoteLateAnswer(r);
  EXPECT_EQ(ReplyWaitTicks(r), 2u);
  NoteLateAnswer(r);
  EXPECT_EQ(ReplyWaitTicks(r), 4u);
  NoteLateAnswer(r);
  EXPECT_EQ(ReplyWaitTicks(r), 8u);
  NoteLateAnswer(r);
  EXPECT_EQ(ReplyWaitTicks(r), kLongestReplyWaitTicks);
  NoteRoundTrip(r, 1);  // clean: the doubling ends, the late answers are still recent
  EXPECT_EQ(ReplyWaitTicks(r), 9u);
  for (int i = 0; i < RoundTrips::kRecent; ++i) NoteRoundTrip(r, 1);
  EXPECT_EQ(ReplyWaitTicks(r), 1u);
}

}  // namespace
}  // namespace torvexan::testing
