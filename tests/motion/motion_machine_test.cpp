// Queue streaming, the dwell wait, resume points and the motion reset, tick by tick.
#include "motion/motion_machine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "motion/motion_steps.h"
#include "motion_world.h"

namespace torvexan::testing {
namespace {

class Streaming : public ::testing::Test {
 protected:
  MotionWorld w;
  CardSession& cs = w.session();
  PluginState& s = w.s;
};

TEST_F(Streaming, EmptyQueuePollsOnEveryFreeTickAndReportsIdleOnceTheCardStopped) {
  w.control.MotionIdle = 0;
  w.Tick();
  EXPECT_EQ(Sent().Total(), 1);
  EXPECT_TRUE(Sent().Last().IsPoll());
  EXPECT_EQ(w.control.MotionIdle, 1);
  w.Tick();  // the poll is still pending: nothing more
  EXPECT_EQ(Sent().Total(), 1);
  EXPECT_EQ(s.motion.MotionStep, kStreamAwaitingSlot);
  w.Exchange();
  w.Tick();
  EXPECT_EQ(Sent().Total(), 2);
  EXPECT_EQ(s.motion.MotionStep, kAtStart);
}

TEST_F(Streaming, DrainingAnEmptyQueueSendsEndOfStreamInsteadOfPolls) {
  w.control.QueueDrain = 1;
  w.TickAndExchange(3);
  ASSERT_EQ(Sent().Total(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Sent().At(i).command, kEndOfStreamCmd);
}

TEST_F(Streaming, BatchIsCutAtTheCardsFreeSlots) {
  w.EnqueueMany(40);
  cs.freeSlots = 35;
  w.Tick();
  const SentPacket& batch = Sent().Last();
  EXPECT_EQ(batch.command, kMotionCmd);
  EXPECT_EQ(batch.kind, kQueueSegments);
  EXPECT_EQ(batch.count, 35);
  EXPECT_EQ(batch.tag, 34);  // the last entry taken
  EXPECT_EQ(w.machine.MoveQueueRead, 35);
  EXPECT_EQ(s.motion.MotionStep, kStreamAwaitingBatch);
}

TEST_F(Streaming, TooFewFreeSlotsOrEntriesOnlyPollUntilTheHostDrains) {
  w.EnqueueMany(40);
  cs.freeSlots = 20;
  w.TickAndExchange(4);
  for (int i = 0; i < Sent().Total(); ++i) EXPECT_TRUE(Sent().At(i).IsPoll());
  EXPECT_EQ(w.machine.MoveQueueRead, 0);

  w.machine.MoveQueueRead = 30;  // 10 entries left, minSegments is 30
  cs.freeSlots = 199;
  w.TickAndExchange(3);
  EXPECT_TRUE(Sent().Last().IsPoll());
  EXPECT_EQ(w.machine.MoveQueueRead, 30);
  w.control.QueueDrain = 1;
  w.Tick();
  EXPECT_EQ(Sent().Last().count, 10);
  EXPECT_EQ(w.machine.MoveQueueRead, 40);
}

TEST_F(Streaming, SuspendedHostGetsPollsOnly) {
  w.EnqueueMany(60);
  w.machine.HostSuspended = 1;
  w.TickAndExchange(3);
  EXPECT_EQ(Sent().Total(), 3);
  EXPECT_TRUE(Sent().Last().IsPoll());
  EXPECT_EQ(w.machine.MoveQueueRead, 0);
}

TEST_F(Streaming, ExchangedBatchMarksMotionAndIsFollowedByAPollInTheSamePass) {
  w.EnqueueMany(50);
  w.control.MotionIdle = 1;
  w.Tick();
  EXPECT_EQ(Sent().Last().count, 50);
  w.Tick();  // batch still pending
  EXPECT_EQ(Sent().Total(), 1);
  EXPECT_EQ(cs.motionActive, 0);
  w.Exchange();
  w.Tick();
  EXPECT_EQ(cs.motionActive, 1);
  EXPECT_EQ(w.control.MotionIdle, 0);
  EXPECT_TRUE(Sent().Last().IsPoll());
  EXPECT_EQ(s.motion.MotionStep, kAtStart);
}

TEST_F(Streaming, WrappedQueueIsTakenInOrderAcrossItsEnd) {
  w.machine.MoveQueueRead = 4090;
  w.machine.MoveQueueWrite = 4090;
  for (int i = 0; i < 36; ++i) w.Enqueue(1000 + i, i);
  EXPECT_EQ(w.machine.MoveQueueWrite, 30);
  w.Tick();
  const SentPacket& batch = Sent().Last();
  ASSERT_EQ(batch.count, 36);
  for (int r = 0; r < 36; ++r) EXPECT_EQ(batch.Row(r, 0), r);
  EXPECT_EQ(batch.tag, 1035);
  EXPECT_EQ(w.machine.MoveQueueRead, 30);
}

TEST_F(Streaming, IndicesOutsideTheQueueNeverReachOutsideIt) {
  w.control.QueueDrain = 1;
  w.machine.MoveQueueRead = -1;     // entry 4095
  w.machine.MoveQueueWrite = 8195;  // entry 3
  w.Tick();
  EXPECT_EQ(Sent().Last().count, 4);
  EXPECT_EQ(w.machine.MoveQueueRead, 3);
  w.Exchange();
  w.machine.MoveQueueRead = 70000;
  w.machine.MoveQueueWrite = 70002;
  w.TickAndExchange(2);
  EXPECT_EQ(w.machine.MoveQueueRead, 70002 % kMoveQueueSize);
}

TEST_F(Streaming, HalfStepsRoundAwayFromZeroAndCarryTheirRemainderPerAxis) {
  w.control.QueueDrain = 1;
  w.Enqueue(1, 0.5, -0.5);
  w.Enqueue(2, 0.5, -0.5);
  w.Enqueue(3, 0.25, 0.7);
  w.Tick();
  const SentPacket& batch = Sent().Last();
  ASSERT_EQ(batch.count, 3);
  EXPECT_EQ(batch.Row(0, 0), 1);
  EXPECT_EQ(batch.Row(1, 0), 0);
  EXPECT_EQ(batch.Row(0, 1), -1);
  EXPECT_EQ(batch.Row(1, 1), 0);
  EXPECT_EQ(batch.Row(2, 0), 0);  // 0.25: below half a step
  EXPECT_EQ(batch.Row(2, 1), 1);  // 0.7 + 0
  EXPECT_DOUBLE_EQ(s.motion.StepRemainders[0], 0.25);
  EXPECT_NEAR(s.motion.StepRemainders[1], -0.3, 1e-12);
}

TEST_F(Streaming, NonFiniteSlicesMoveNothingAndDoNotPoisonLaterOnes) {
  w.control.QueueDrain = 1;
  w.Enqueue(1, NAN, 1e300);
  w.Enqueue(2, 2.0, 3.0);
  w.Tick();
  const SentPacket& batch = Sent().Last();
  EXPECT_EQ(batch.Row(0, 0), 0);
  EXPECT_EQ(batch.Row(0, 1), 0);
  EXPECT_EQ(batch.Row(1, 0), 2);
  EXPECT_EQ(batch.Row(1, 1), 3);
}

TEST_F(Streaming, SlavedAxesFollowTheirMasterWhateverTheirOwnSteps) {
  w.control.QueueDrain = 1;
  w.machine.Axes[3].IsSlave = 1;
  w.machine.Axes[3].SlaveOf = 1;  // A follows Y
  w.machine.Axes[4].IsSlave = 1;
  w.machine.Axes[4].SlaveOf = 9;  // not an axis: B keeps its own steps
  w.Enqueue(1, 1.0, 2.4, 3.0, 50.0, 5.0);
  w.Enqueue(2, 1.0, 2.4, 3.0, -50.0, 5.0);
  w.Tick();
  const SentPacket& batch = Sent().Last();
  EXPECT_EQ(batch.Row(0, 3), 2);
  EXPECT_EQ(batch.Row(1, 3), 3);  // Y's remainder carried: 2.4 + 0.4
  EXPECT_EQ(batch.Row(0, 4), 5);
}

TEST_F(Streaming, AxisMapPicksTheHostAxisOfEachChannel) {
  w.control.QueueDrain = 1;
  s.settings.AxisMap[3] = 4;
  s.settings.AxisMap[4] = 5;
  w.Enqueue(1, 1, 2, 3, 4, 5, 6);
  w.Tick();
  for (int c = 0; c < 3; ++c) EXPECT_EQ(Sent().Last().Row(0, c), c + 1);
  EXPECT_EQ(Sent().Last().Row(0, 3), 5);
  EXPECT_EQ(Sent().Last().Row(0, 4), 6);
}

TEST(StreamingFourAxes, RowsAreAsWideAsTheCard) {
  MotionWorld w(kCardLorn4);
  w.control.QueueDrain = 1;
  w.Enqueue(1, 1, 2, 3, 4, 5);
  w.Enqueue(2, 6, 7, 8, 9, 10);
  w.Tick();
  const SentPacket& batch = Sent().Last();
  EXPECT_EQ(batch.rowWidth, 4);
  EXPECT_EQ(batch.rows[4], 6);  // second row starts after four values
}

TEST(StreamingUsb, UsbCardTakesFiveRowsAtATime) {
  MotionWorld w(kCardPell5);
  w.EnqueueMany(12);
  w.Tick();
  EXPECT_EQ(Sent().Last().count, 5);
}

// Five rows a packet only keep up with the card when every exchange carries rows.
TEST(StreamingUsb, ExchangedBatchIsFollowedByTheNextBatchWithoutAPollBetween) {
  MotionWorld w(kCardPell5);
  w.EnqueueMany(12);
  w.TickAndExchange(3);
  ASSERT_EQ(Sent().Total(), 3);
  EXPECT_EQ(Sent().At(0).count, 5);
  EXPECT_EQ(Sent().At(1).count, 5);
  EXPECT_TRUE(Sent().At(2).IsPoll()) << "two entries left, fewer than a batch";
  EXPECT_EQ(w.session().motionActive, 1);
  EXPECT_EQ(w.machine.MoveQueueRead, 10);
}

// A long random job: what reaches the card, slice by slice, is the rounded running sum of what
// the host planned.
TEST_F(Streaming, StreamedStepsTrackTheRoundedSumOfTheQueue) {
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> slice(-40.0, 40.0);
  double planned[kHostAxisCount] = {};
  int64_t sent[kCardChannels] = {};
  int queued = 0;
  for (int tick = 0; tick < 3000; ++tick) {
    while (queued < 6000 &&
           (w.machine.MoveQueueWrite + 1) % kMoveQueueSize != w.machine.MoveQueueRead) {
      double x[kHostAxisCount];
      for (double& v : x) v = slice(rng);
      w.Enqueue(queued++, x[0], x[1], x[2], x[3], x[4], x[5]);
      for (int h = 0; h < kHostAxisCount; ++h) planned[h] += x[h];
      if (queued % 97 == 0) break;  // the host fills in bursts
    }
    w.control.QueueDrain = queued == 6000;
    cs.freeSlots = static_cast<uint8_t>(rng() % 200);
    const int before = Sent().Total();
    w.TickAndExchange();
    for (int i = before; i < Sent().Total(); ++i) {
      const SentPacket& p = Sent().At(i);
      if (p.kind != kQueueSegments) continue;
      for (int r = 0; r < p.count; ++r) {
        for (int c = 0; c < kCardChannels; ++c) sent[c] += p.Row(r, c);
      }
    }
  }
  EXPECT_EQ(w.machine.MoveQueueRead, w.machine.MoveQueueWrite);
  for (int c = 0; c < kCardChannels; ++c) EXPECT_LE(std::fabs(sent[c] - planned[c]), 0.5) << c;
}

class Dwell : public ::testing::Test {
 protected:
  void StartDwell(uint32_t now, int32_t ms) {
    w.fake.clock.nowMs = now;
    s.motion.DwellMs = ms;
    s.motion.DwellStart = now;
    w.machine.Dwelling = 1;
    s.motion.MotionMode = kDwellWait;
  }
  MotionWorld w;
  PluginState& s = w.s;
};

TEST_F(Dwell, PollsUntilTheTimeHasPassedEvenAcrossTheCounterWrap) {
  StartDwell(0xFFFFFFF0u, 100);
  for (uint32_t step = 0; step < 10; ++step) {
    w.fake.clock.nowMs = 0xFFFFFFF0u + step * 10;  // wraps after 16 ms
    w.TickAndExchange();
    EXPECT_EQ(s.motion.MotionMode, kDwellWait) << step;
    EXPECT_EQ(s.motion.MotionStep, kDwellAwaitingTime);
  }
  EXPECT_EQ(Sent().Total(), 10);
  EXPECT_TRUE(Sent().Last().IsPoll());
  w.fake.clock.nowMs = 0xFFFFFFF0u + 100;
  w.TickAndExchange();
  EXPECT_EQ(s.motion.MotionMode, kQueueStreaming);
  EXPECT_EQ(w.machine.Dwelling, 0);
  EXPECT_EQ(Sent().Total(), 10);
}

TEST_F(Dwell, ZeroOrNegativeDwellEndsOnItsFirstTickWithoutSending) {
  for (int32_t ms : {0, -5}) {
    StartDwell(500, ms);
    w.Tick();
    EXPECT_EQ(s.motion.MotionMode, kQueueStreaming) << ms;
    EXPECT_EQ(w.machine.Dwelling, 0);
  }
  EXPECT_EQ(Sent().Total(), 0);
}

TEST_F(Dwell, PendingPacketIsNotOverwrittenWhileWaiting) {
  StartDwell(10, 50);
  w.session().txLength = 7;
  w.Tick();
  EXPECT_EQ(Sent().Total(), 0);
  EXPECT_EQ(w.session().txLength, 7);
}

TEST_F(Dwell, StartsAfreshWhenItFindsAnotherSequencesResumePoint) {
  s.motion.MotionStep = kStreamAwaitingBatch;  // the dwell handler switches mode only
  StartDwell(10, 50);
  w.Tick();
  EXPECT_EQ(s.motion.MotionStep, kAtStart);
  EXPECT_EQ(s.motion.MotionMode, kDwellWait);
  EXPECT_EQ(Sent().Total(), 0);
  w.Tick();
  EXPECT_EQ(Sent().Total(), 1);
}

TEST(ResumePoints, EachSequenceDropsTheOthersResumePoints) {
  const int32_t modes[] = {kQueueStreaming, kHomingSequence, kProbingSequence,
                           kDwellWait,      kJogMove,        kHandwheelJog};
  const uint16_t foreign[] = {kHomeApproaching, kStreamAwaitingBatch, kJogFeeding,
                              kProbeFeeding,    kHandwheelPolling,    kDwellAwaitingTime};
  for (int i = 0; i < 6; ++i) {
    MotionWorld w;
    w.s.motion.MotionMode = modes[i];
    w.s.motion.MotionStep = foreign[i];
    w.Tick();
    EXPECT_EQ(w.s.motion.MotionStep, kAtStart) << modes[i];
    EXPECT_EQ(w.s.motion.MotionMode, modes[i]);
    EXPECT_EQ(Sent().Total(), 0);
  }
}

TEST(ResumePoints, UnknownModeDoesNothing) {
  MotionWorld w;
  w.s.motion.MotionMode = 3;
  w.Tick();
  EXPECT_EQ(Sent().Total(), 0);
}

TEST(Reset, DuringHomingTheNextTickOnlyDropsTheHomingStepAndTheOneAfterStreams) {
  MotionWorld w;
  w.s.motion.MotionMode = kHomingSequence;
  w.machine.Homing = 1;
  w.s.motion.ActiveAxis = 0;
  w.TickAndExchange(2);  // HomeCmd exchanged, approach running
  ASSERT_EQ(w.s.motion.MotionStep, kHomeApproaching);
  w.machine.Jogging = 1;
  w.machine.Axes[2].AxisMoveFlag = 1;
  w.control.MotionResetFlag = 1;
  ResetMotion(w.s);
  EXPECT_EQ(w.s.motion.MotionMode, kQueueStreaming);
  EXPECT_EQ(w.machine.Homing, 0);
  EXPECT_EQ(w.machine.Jogging, 0);
  EXPECT_EQ(w.machine.Axes[2].AxisMoveFlag, 0);
  EXPECT_EQ(w.control.MotionResetFlag, 0);
  EXPECT_EQ(w.machine.SequenceEnded, 1);
  const int before = Sent().Total();
  w.Tick();
  EXPECT_EQ(Sent().Total(), before);
  EXPECT_EQ(w.s.motion.MotionStep, kAtStart);
  w.Tick();
  EXPECT_EQ(Sent().Total(), before + 1);
  EXPECT_TRUE(Sent().Last().IsPoll());
}

}  // namespace
}  // namespace torvexan::testing
