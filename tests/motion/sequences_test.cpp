// Jog, handwheel jog, homing and probing as the card sees them, tick by tick.
#include <gtest/gtest.h>

#include "motion/motion_steps.h"
#include "motion/profile.h"
#include "motion_world.h"

namespace torvexan::testing {
namespace {

constexpr int32_t kCardReady = 1;  // cardState of a card that has ended its move

// Sum of one channel's values over the computed rows sent since packet index first.
int64_t SentSteps(int first, int channel) {
  int64_t sum = 0;
  for (int i = first; i < Sent().Total(); ++i) {
    const SentPacket& p = Sent().At(i);
    if (p.command != kMotionCmd || p.kind != kComputedSegments) continue;
    for (int r = 0; r < p.count; ++r) sum += p.Row(r, channel);
  }
  return sum;
}

class Jog : public ::testing::Test {
 protected:
  void SetUp() override {
    StartJogProfile(s.settings, cs, 1.0f, 50.0f, 1.0f, 1000.0,
                    1);  // 213 rows, 1000 steps on channel 1
    s.motion.MotionMode = kJogMove;
    w.machine.Jogging = 1;
    w.TickAndExchange();  // ProfileStartCmd
  }
  // Feeds until the profiles have run out.
  void FeedToTheEnd() {
    for (int i = 0; i < 20 && Sent().Last().command != kEndOfStreamCmd; ++i) w.TickAndExchange();
  }
  MotionWorld w;
  PluginState& s = w.s;
  CardSession& cs = w.session();
};

TEST_F(Jog, StartsWithProfileStartThenFeedsAtMostJogBufSizeRows) {
  EXPECT_EQ(Sent().At(0).command, kProfileStartCmd);
  w.control.MotionIdle = 1;
  w.TickAndExchange();
  EXPECT_EQ(cs.motionActive, 1);
  EXPECT_EQ(w.control.MotionIdle, 0);
  EXPECT_EQ(Sent().Last().kind, kComputedSegments);
  EXPECT_EQ(Sent().Last().tag, 0);
  EXPECT_EQ(Sent().Last().count, 50);  // freeSlots 199: nothing queued
  cs.freeSlots = 170;                  // 29 queued
  w.TickAndExchange();
  EXPECT_EQ(Sent().Last().count, 21);
  for (int freeSlots : {150, 230}) {  // 49 queued; above 199 wraps to many
    cs.freeSlots = static_cast<uint8_t>(freeSlots);
    w.TickAndExchange();
    EXPECT_TRUE(Sent().Last().IsPoll()) << freeSlots;
  }
  s.settings.JogBufSize = 20;
  cs.freeSlots = 179;  // 20 queued: the buffer is full, no rows this time
  w.TickAndExchange();
  EXPECT_TRUE(Sent().Last().IsPoll()) << "the profile has rows left: the stream must stay open";
  EXPECT_GT(cs.axisJog[1].stepCount, cs.axisJog[1].stepIndex);
}

// The card runs rows while packets travel: a buffer smaller than the rows of two exchanges
// would run dry between packets.
TEST_F(Jog, SmallBufferIsWidenedToTheRowsTheCardRunsBetweenPackets) {
  s.settings.JogBufSize = 5;
  cs.cardTime = 8;  // the ProfileStartCmd's reply came eight 5 ms periods after the last one
  w.TickAndExchange();
  EXPECT_EQ(Sent().Last().count, 18);  // two exchanges of 8 rows, and 2 to spare
  cs.cardTime = 16;
  cs.freeSlots = 181;  // 18 queued as the reply counted them, 10 by now
  w.TickAndExchange();
  EXPECT_TRUE(Sent().Last().IsPoll());
  cs.cardTime = 17;  // a fast exchange: the set size rules again
  cs.freeSlots = 196;
  w.TickAndExchange();
  EXPECT_EQ(Sent().Last().count, 2);
  s.settings.JogBufSize = 50;  // a large buffer is kept as it is
  cs.cardTime = 25;
  cs.freeSlots = 189;
  w.TickAndExchange();
  EXPECT_EQ(Sent().Last().count, 40);
}

// The tail of a profile may go out with the batch before it, but a card clock that jumped (a
// late reply, a stalled exchange) makes no exchange long enough to queue it beyond the bound.
TEST_F(Jog, LastBatchAfterACardClockJumpStaysWithinTheBufferAndOneExchange) {
  w.TickAndExchange(3);  // 150 of the 213 rows
  ASSERT_EQ(ProfileRowsLeft(cs), 63);
  cs.freeSlots = 160;  // 39 queued
  cs.cardTime = 1000;
  w.TickAndExchange();
  constexpr int kMostRowsOfOneExchange = 20;  // 100 ms
  EXPECT_LE(39 + Sent().Last().count, 50 + kMostRowsOfOneExchange);
  cs.freeSlots = 199;
  cs.cardTime = 1002;
  FeedToTheEnd();
  EXPECT_EQ(SentSteps(0, 1), 1000) << "the tail was lost";
}

TEST_F(Jog, EndOfStreamOnlyOnceTheProfilesHaveNoRowsLeftEvenWithAFullBuffer) {
  FeedToTheEnd();
  s.settings.JogBufSize = 20;
  cs.freeSlots = 179;
  w.TickAndExchange();
  EXPECT_EQ(Sent().Last().command, kEndOfStreamCmd);
}

TEST_F(Jog, RunsTheProfileOutThenEndsWhenTheCardStops) {
  FeedToTheEnd();
  EXPECT_EQ(SentSteps(0, 1), 1000);
  EXPECT_EQ(Sent().Last().command, kEndOfStreamCmd);
  w.TickAndExchange();
  EXPECT_EQ(Sent().Last().command, kEndOfStreamCmd);  // until the card reports a stop
  cs.motionActive = 0;
  const int before = Sent().Total();
  w.Tick();
  EXPECT_EQ(Sent().Total(), before);
  EXPECT_EQ(s.motion.MotionMode, kQueueStreaming);
  EXPECT_EQ(s.motion.MotionStep, kAtStart);
  EXPECT_EQ(w.machine.Jogging, 0);
  EXPECT_EQ(w.machine.SequenceEnded, 1);
  EXPECT_EQ(w.control.MotionIdle, 1);
}

TEST_F(Jog, StopRequestDeceleratesTheStoppedChannelsOnly) {
  StartJogProfile(s.settings, cs, 1.0f, 50.0f, -1.0f, 1000.0, 0);
  w.TickAndExchange(3);  // 150 rows: both channels cruise
  cs.jogStopBits = 2;
  s.requests.RequestFlags |= kRequestJogStop | kRequestHalt;
  w.TickAndExchange();
  EXPECT_EQ(cs.jogStopBits, 0);
  EXPECT_EQ(s.requests.RequestFlags, kRequestHalt);
  FeedToTheEnd();
  const int64_t stopped = SentSteps(0, 1);
  EXPECT_LT(stopped, 1000);
  EXPECT_GT(stopped, 700);
  EXPECT_NEAR(stopped, cs.axisJog[1].lastSteps, 5);  // the row at the stop is skipped
  EXPECT_EQ(SentSteps(0, 0), -1000);
}

TEST_F(Jog, ComputedRowsAreSlaved) {
  w.machine.Axes[3].IsSlave = 1;
  w.machine.Axes[3].SlaveOf = 1;
  FeedToTheEnd();
  EXPECT_EQ(SentSteps(0, 3), 1000);
}

TEST(HandwheelJog, NamesTheChannelsPollsAndEndsOnTheSameTickAsItsStop) {
  MotionWorld w;
  PluginState& s = w.s;
  s.motion.ActiveAxis = 1;
  s.motion.SlaveAxis = 0;
  s.motion.MotionMode = kHandwheelJog;
  w.machine.Jogging = 1;
  w.machine.Axes[1].AxisMoveFlag = 1;
  w.control.MotionResetFlag = 1;
  w.TickAndExchange();
  EXPECT_EQ(Sent().Last().command, kHandwheelJogCmd);
  EXPECT_EQ(Sent().Last().channel, 1);
  EXPECT_EQ(Sent().Last().slaveChannel, 0);
  w.TickAndExchange(2);
  EXPECT_EQ(w.session().motionActive, 1);
  EXPECT_TRUE(Sent().Last().IsPoll());
  w.session().jogStopBits = 2;
  s.requests.RequestFlags = kRequestJogStop;
  w.Tick();
  EXPECT_EQ(Sent().Last().command, kStopMotionCmd);
  EXPECT_EQ(s.motion.MotionMode, kQueueStreaming);
  EXPECT_EQ(s.requests.RequestFlags, 0u);
  EXPECT_EQ(w.session().jogStopBits, 0);
  EXPECT_EQ(w.machine.Axes[1].AxisMoveFlag, 0);
  EXPECT_EQ(w.control.MotionResetFlag, 0);
  EXPECT_EQ(w.machine.Jogging, 0);
  EXPECT_EQ(w.machine.SequenceEnded, 1);
}

TEST(HandwheelJog, AxisCarriedByNoChannelIsNamedAsNone) {
  MotionWorld w;
  w.s.motion.ActiveAxis = 5;  // C: not in the default map
  w.s.motion.MotionMode = kHandwheelJog;
  w.Tick();
  EXPECT_EQ(Sent().Last().channel, kUnmappedChannel);
}

TEST(Homing, FindsTheSwitchTakesTheReferenceWaitsForTheHostAndPullsOff) {
  MotionWorld w;
  PluginState& s = w.s;
  CardSession& cs = w.session();
  s.motion.ActiveAxis = 2;
  s.settings.ZPullOff = 0.05;
  w.control.HomeNegative[2] = 1;
  w.control.HomeSpeedPercent[2] = 100;
  w.control.MaxVelocity[2] = 1;
  w.control.Acceleration[2] = 50;
  w.control.StepsPerUnit[2] = 1000;
  w.control.PendingWordB = 0x01000001;
  w.machine.Homing = 1;
  w.machine.SequenceEnded = 1;  // left set by an earlier sequence
  w.machine.Axes[0].PositionCounts = 11;
  w.machine.HomeReferenceCounts[2] = 777;
  BuildHomeApproach(s.settings, w.control, cs, 2);
  s.motion.MotionMode = kHomingSequence;

  w.TickAndExchange();
  EXPECT_EQ(Sent().Last().command, kHomeCmd);
  EXPECT_EQ(Sent().Last().channel, 2);
  EXPECT_NE(Sent().Last().headerFlags & 2u, 0u);
  w.TickAndExchange();
  EXPECT_EQ(Sent().Last().count, 50);
  EXPECT_LT(Sent().Last().Row(49, 2), 0);
  cs.freeSlots = 20;  // below minSegments: poll
  w.TickAndExchange();
  EXPECT_TRUE(Sent().Last().IsPoll());

  cs.motionActive = 0;  // the card stopped at the switch and is ready
  cs.cardState = kCardReady;
  w.TickAndExchange();
  EXPECT_TRUE(Sent().Last().IsPoll()) << "the stop is believed on the next reply";
  cs.motionActive = 0;  // the poll's reply says so too
  w.TickAndExchange();
  EXPECT_EQ(w.control.MotionIdle, 1);
  const SentPacket& positions = Sent().Last();
  EXPECT_EQ(positions.command, kSetPositionsCmd);
  EXPECT_EQ(positions.mask, 1 << 2);
  EXPECT_EQ(positions.positions[2], 777);
  EXPECT_EQ(positions.positions[0], 11);
  EXPECT_EQ(w.machine.Axes[2].PositionCounts, 777);
  w.TickAndExchange();
  EXPECT_EQ(Sent().Last().command, kProfileStartCmd);
  const int waiting = Sent().Total();
  w.TickAndExchange(3);
  EXPECT_EQ(Sent().Total(), waiting);

  w.machine.SequenceEnded = 0;
  cs.freeSlots = 199;
  const int pullOff = Sent().Total();
  w.TickAndExchange(2);
  EXPECT_EQ(cs.motionActive, 1);
  EXPECT_EQ(SentSteps(pullOff, 2), 50);
  EXPECT_EQ(Sent().Last().command, kEndOfStreamCmd);
  cs.motionActive = 0;
  cs.cardState = kCardReady;
  w.TickAndExchange();
  EXPECT_EQ(w.machine.AxisHomed[2], 0);
  cs.motionActive = 0;
  w.Tick();
  EXPECT_EQ(w.machine.AxisHomed[2], 1);
  EXPECT_EQ(w.control.PendingWordB, 1);
  EXPECT_EQ(w.machine.Homing, 0);
  EXPECT_EQ(w.machine.SequenceEnded, 1);
  EXPECT_EQ(w.control.MotionIdle, 1);
  EXPECT_EQ(s.motion.MotionMode, kQueueStreaming);
}

TEST(Probing, EndsWithTheLatchedPositionsOfAllFiveChannels) {
  MotionWorld w(kCardLorn4);
  PluginState& s = w.s;
  CardSession& cs = w.session();
  BuildProfile(1000, 50, 1, -1.0, kTimeQuantum, 1000, cs.axisJog[2]);
  s.motion.MotionMode = kProbingSequence;
  w.machine.Axes[4].ProbeFlag = 1;
  w.TickAndExchange();
  EXPECT_EQ(Sent().Last().command, kProbeStartCmd);
  w.TickAndExchange();
  EXPECT_EQ(Sent().Last().count, 50);
  cs.motionActive = 0;  // the probe touched: the card dropped the rows still queued
  cs.cardState = kCardReady;
  w.TickAndExchange();
  EXPECT_TRUE(Sent().Last().IsPoll());
  cs.motionActive = 0;
  for (int c = 0; c < kMaxCardAxes; ++c) cs.probePosition[c] = 100 + c;
  w.Tick();
  for (int h = 0; h < 5; ++h) {
    EXPECT_EQ(w.machine.Axes[h].ProbeCounts, 100 + h);
    EXPECT_EQ(w.machine.Axes[h].ProbeFlag, 0);
  }
  EXPECT_EQ(w.machine.SequenceEnded, 1);
  EXPECT_EQ(s.motion.MotionMode, kQueueStreaming);
}

// The USB card reports no probe latch: it stops at the contact, and where its channels stand then
// is the result, not a latch left from an earlier probe.
TEST(Probing, OnTheUsbCardEndsWithThePositionsWhereTheCardStopped) {
  MotionWorld w(kCardPell5);
  PluginState& s = w.s;
  CardSession& cs = w.session();
  s.motion.MotionMode = kProbingSequence;
  w.TickAndExchange();
  w.TickAndExchange();
  cs.motionActive = 0;
  cs.cardState = kCardReady;
  w.TickAndExchange();
  cs.motionActive = 0;
  for (int c = 0; c < kMaxCardAxes; ++c) {
    cs.axisPosition[c] = -2000 - c;
    cs.probePosition[c] = 100 + c;  // stale
  }
  w.Tick();
  ASSERT_EQ(s.motion.MotionMode, kQueueStreaming);
  for (int h = 0; h < 5; ++h) EXPECT_EQ(w.machine.Axes[h].ProbeCounts, -2000 - h);
}

// A move that ended because the card halted (or in emergency stop) reached no switch and touched
// nothing: the sequence ends without a result and says so.
TEST(HomingAndProbing, EndedByAHaltedCardTakeNoResult) {
  for (const int32_t mode : {kHomingSequence, kProbingSequence}) {
    MotionWorld w;
    PluginState& s = w.s;
    CardSession& cs = w.session();
    HostCallbacks::Codes().clear();
    s.host.CodeCallback = &HostCallbacks::Code;
    s.motion.ActiveAxis = 0;
    w.machine.Homing = mode == kHomingSequence;
    w.machine.Axes[0].ProbeCounts = 55;
    w.machine.Axes[0].PositionCounts = 9;
    w.machine.HomeReferenceCounts[0] = 777;
    s.motion.MotionMode = mode;
    w.TickAndExchange(2);  // the start command, then the first feed
    cs.motionActive = 0;
    cs.cardState = 0;
    for (int c = 0; c < kMaxCardAxes; ++c) cs.probePosition[c] = 100 + c;
    const int sent = Sent().Total();
    w.Tick();
    EXPECT_EQ(Sent().Total(), sent) << "nothing more goes to the card";
    EXPECT_EQ(s.motion.MotionMode, kQueueStreaming);
    EXPECT_EQ(w.machine.SequenceEnded, 1);
    EXPECT_EQ(w.machine.Homing, 0);
    EXPECT_EQ(w.machine.AxisHomed[0], 0);
    EXPECT_EQ(w.machine.Axes[0].PositionCounts, 9);
    EXPECT_EQ(w.machine.Axes[0].ProbeCounts, 55);
    EXPECT_EQ(HostCallbacks::Codes().size(), 1u);
  }
}

// The replies carry no checksum: one that says the card stopped in the middle of an approach,
// a pull-off or a probing move is asked again, and the move goes on when the card still moves.
// Taken at its word, it would set the reference or report a probe position mid-move.
TEST(HomingAndProbing, OneReplySayingTheCardStoppedIsAskedAgain) {
  for (const int32_t mode : {kHomingSequence, kProbingSequence}) {
    MotionWorld w;
    PluginState& s = w.s;
    CardSession& cs = w.session();
    s.motion.ActiveAxis = 0;
    w.control.HomeSpeedPercent[0] = 100;
    w.control.MaxVelocity[0] = 1;
    w.control.Acceleration[0] = 50;
    w.control.StepsPerUnit[0] = 1000;
    w.machine.Homing = mode == kHomingSequence;
    w.machine.Axes[0].ProbeFlag = 1;
    w.machine.HomeReferenceCounts[0] = 777;
    if (mode == kHomingSequence) BuildHomeApproach(s.settings, w.control, cs, 0);
    s.motion.MotionMode = mode;
    w.TickAndExchange(2);  // the start command, then the first feed
    cs.motionActive = 0;   // a damaged reply: the card seems to stand
    cs.cardState = kCardReady;
    w.TickAndExchange();
    EXPECT_TRUE(Sent().Last().IsPoll());
    const int asked = Sent().Total();
    w.TickAndExchange();  // the poll's reply: the card still moves
    ASSERT_EQ(Sent().Total(), asked + 1);
    const uint8_t command = Sent().Last().command;
    EXPECT_TRUE(command == kMotionCmd || command == kEndOfStreamCmd) << int{command};
    EXPECT_EQ(s.motion.MotionMode, mode);
    EXPECT_EQ(w.machine.AxisHomed[0], 0);
    EXPECT_EQ(w.machine.Axes[0].ProbeFlag, 1);
    if (mode == kHomingSequence) {
      EXPECT_EQ(Sent().Last().count, 50) << "the approach goes on";
      EXPECT_EQ(w.machine.Homing, 1);
    }
  }
}

}  // namespace
}  // namespace torvexan::testing
