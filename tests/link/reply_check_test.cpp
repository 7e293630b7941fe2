// Judging a reply against the last one trusted: what the card cannot have reached is held back
// until a second copy says the same, what it can have reached is taken at once.
#include "link/reply_check.h"

#include <gtest/gtest.h>

#include <memory>

#include "link/packets.h"
#include "support/fake_platform.h"

namespace torvexan::testing {
namespace {

constexpr int32_t kMoving = 3;
constexpr int32_t kHalted = 0;

class ReplyCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    Platform p{};
    p.clock = &clock;
    s = std::make_unique<PluginState>(p);
    s->session = std::make_unique<CardSession>();
    c = s->session.get();
    ResetCardSession(*c);
    ApplyCardModel(*c, kCardLorn5);
    // The first reply after the link came up is the reference.
    Send(kMotionCmd, 0);
    EXPECT_TRUE(Reply(100, 150, kMoving));
  }

  // A packet leaves now (its first send).
  void Send(uint8_t code, uint8_t rows) {
    c->txCode = code;
    c->txRows = rows;
    NotePacketSent(s->link.transport, clock.nowMs);
  }

  // The reply now in the session is judged, as the transports do.
  bool Take(bool statusReply) {
    return TakeReply(s->link.transport, *c, clock.nowMs, s->motion.MotionMode == kHandwheelJog,
                     statusReply);
  }

  // A status reply arrives: judged, and rolled back when held, as the transports do.
  bool Reply(uint16_t cardTime, uint8_t freeSlots, int32_t state, int32_t position = 0) {
    const ReplyFields before = SaveReplyFields(*c);
    c->cardTime = cardTime;
    c->freeSlots = freeSlots;
    c->cardState = state;
    for (int32_t& p : c->axisPosition) p = position;
    if (Take(true)) return true;
    RestoreReplyFields(*c, before);
    return false;
  }

  ManualClock clock;
  std::unique_ptr<PluginState> s;
  CardSession* c = nullptr;
};

TEST_F(ReplyCheck, AFreeCountAboveWhatTheCardCanHaveFreedIsHeldUntilACopyConfirmsIt) {
  clock.nowMs = 20;
  Send(kMotionCmd, 50);
  EXPECT_TRUE(Reply(104, 104, kMoving)) << "150 free, 50 rows taken, 4 periods run";
  clock.nowMs = 40;
  Send(kMotionCmd, 50);
  // 104 - 50 + 4 = 58 at most; a damaged byte says 122 and would overflow the card.
  EXPECT_FALSE(Reply(108, 122, kMoving));
  EXPECT_EQ(c->freeSlots, 104) << "a held reply leaves nothing behind";
  EXPECT_EQ(c->cardTime, 104);
  EXPECT_EQ(c->counters.heldReplies, 1u);
  clock.nowMs = 41;  // the resend's copy, undamaged
  EXPECT_TRUE(Reply(108, 58, kMoving));
  EXPECT_EQ(c->freeSlots, 58);
}

TEST_F(ReplyCheck, ACardThatRestartedIsBelievedOnTheSecondIdenticalCopy) {
  clock.nowMs = 20;
  Send(kMotionCmd, 0);
  EXPECT_FALSE(Reply(3, 199, kHalted)) << "its clock went back";
  EXPECT_TRUE(Reply(3, 199, kHalted));
  EXPECT_EQ(c->cardState, kHalted);
}

TEST_F(ReplyCheck, TheCardsClockCannotRunAheadOfTheHostsAndPositionsNotBeyondItsRows) {
  c->largestRowSteps = 200;
  clock.nowMs = 20;
  Send(kMotionCmd, 0);
  EXPECT_FALSE(Reply(100 + 300, 150, kMoving)) << "1.5 s of card time in 20 ms";
  EXPECT_FALSE(Reply(104, 150, kMoving, 0x7F7F)) << "a damaged byte of a position";
  EXPECT_TRUE(Reply(104, 150, kMoving, 1000)) << "200 steps in each of 5 periods";
  clock.nowMs = 2000;  // after a long wait the card's clock has run on
  Send(kMotionCmd, 0);
  EXPECT_TRUE(Reply(104 + 396, 150, kMoving, 60000));

  s->motion.MotionMode = kHandwheelJog;  // the card sets the pace
  clock.nowMs = 2020;
  Send(kMotionCmd, 0);
  EXPECT_TRUE(Reply(504, 150, kMoving, 70000));
}

TEST_F(ReplyCheck, AProbeContactMustLieOnTheWayTheAxisWent) {
  c->largestRowSteps = 10;
  clock.nowMs = 20;
  Send(kMotionCmd, 0);
  c->probePosition[2] = 0x10000 + 30;  // a damaged latch
  EXPECT_FALSE(Reply(104, 150, kMoving, 40));
  c->probePosition[2] = 30;
  EXPECT_TRUE(Reply(104, 150, kMoving, 40));
  EXPECT_EQ(c->probePosition[2], 30);
}

TEST_F(ReplyCheck, CommandsThatResetTheCardAndNewLinksStartANewReference) {
  clock.nowMs = 20;
  Send(kConfigureCmd, 0);
  EXPECT_TRUE(Reply(104, 199, kMoving, -5000000)) << "positions loaded, buffer cleared";
  Send(kMotionCmd, 0);
  EXPECT_FALSE(Reply(9, 199, kMoving, -5000000));
  ForgetReplies(s->link.transport);
  EXPECT_TRUE(Reply(9, 199, kMoving, -5000000));
}

TEST_F(ReplyCheck, AnAcknowledgementWithMoreFreeSlotsThanTheBufferHoldsIsHeld) {
  Send(kSetPositionsCmd, 0);
  c->freeSlots = 250;
  EXPECT_FALSE(Take(false));
  EXPECT_TRUE(Take(false)) << "the same again: the card says so";
  c->freeSlots = 199;
  EXPECT_TRUE(Take(false));
}

}  // namespace
}  // namespace torvexan::testing
