// What one completed exchange folds into the host and takes from it.
#include <climits>
#include <string>
#include <vector>

#include "signals/io_config.h"
#include "signals/signal_mapping.h"
#include "signals_fixture.h"

namespace torvexan::testing {
namespace {

constexpr uint8_t kFreshSample = 0x80;

class Feedback : public SignalsFixture {
 protected:
  void SetUp() override {
    SignalsFixture::SetUp();
    card().cardState = 3;  // moving
    hc.MotionIdle = 0;
    m.SequenceEnded = 0;
  }
  void Remainders(double value) {
    for (double& r : s.motion.StepRemainders) r = value;
  }
  bool RemaindersCleared() const {
    for (double r : s.motion.StepRemainders) {
      if (r != 0.0) return false;
    }
    return true;
  }
};

TEST_F(Feedback, FreshSampleCopiesPositionsThroughTheAxisMap) {
  s.settings.AxisMap[3] = 5;
  s.settings.AxisMap[4] = 3;
  m.Axes[4].PositionCounts = 44;
  const int32_t positions[kMaxCardAxes] = {10, -20, 30, 50, 60};
  for (int i = 0; i < kMaxCardAxes; ++i) card().axisPosition[i] = positions[i];
  card().statusBits = kFreshSample;
  MapFeedback(s);
  EXPECT_EQ(m.Axes[0].PositionCounts, 10);
  EXPECT_EQ(m.Axes[1].PositionCounts, -20);
  EXPECT_EQ(m.Axes[2].PositionCounts, 30);
  EXPECT_EQ(m.Axes[5].PositionCounts, 50);
  EXPECT_EQ(m.Axes[3].PositionCounts, 60);
  EXPECT_EQ(m.Axes[4].PositionCounts, 44) << "no channel drives B";
}

TEST_F(Feedback, AReplyWithoutAFreshSampleChangesNeitherPositionsNorSpeeds) {
  m.Axes[0].PositionCounts = 5;
  m.AxisSpeed[0] = 77;
  s.mapping.LastCardTime = 100;
  card().axisPosition[0] = 500;
  card().cardTime = 200;
  card().statusBits = 0x7F;
  MapFeedback(s);
  EXPECT_EQ(m.Axes[0].PositionCounts, 5);
  EXPECT_EQ(m.AxisSpeed[0], 77);
  EXPECT_EQ(s.mapping.LastCardTime, 100);
}

TEST_F(Feedback, SpeedIsSampledOverAtLeastFiveCardTicksAcrossTheWrap) {
  s.mapping.LastCardTime = 65533;
  card().cardTime = 2;  // dt 5 across the 16-bit wrap
  m.Axes[1].PositionCounts = 1000;
  card().axisPosition[1] = 990;
  card().statusBits = kFreshSample;
  MapFeedback(s);
  EXPECT_EQ(m.AxisSpeed[1], 10 * 200 / 5);
  EXPECT_EQ(m.AxisSpeed[0], 0);
  EXPECT_EQ(s.mapping.LastCardTime, 2);

  card().cardTime = 6;  // dt 4: positions follow, the speed sample waits
  card().axisPosition[1] = 900;
  MapFeedback(s);
  EXPECT_EQ(m.Axes[1].PositionCounts, 900);
  EXPECT_EQ(m.AxisSpeed[1], 400);
  EXPECT_EQ(s.mapping.LastCardTime, 2);

  card().cardTime = 8;  // dt 6 since the last sample; only this exchange's move counts
  card().axisPosition[1] = 907;
  MapFeedback(s);
  EXPECT_EQ(m.AxisSpeed[1], 233) << "7 * 200 / 6 truncated";
  EXPECT_EQ(s.mapping.LastCardTime, 8);
}

TEST_F(Feedback, AJumpTooFastForTheSpeedFieldSaturates) {
  m.Axes[0].PositionCounts = INT_MIN;
  card().axisPosition[0] = INT_MAX;
  card().cardTime = 5;
  card().statusBits = kFreshSample;
  MapFeedback(s);
  EXPECT_EQ(m.AxisSpeed[0], INT_MAX);
}

TEST_F(Feedback, TheCardsMoveTagReachesTheHostOnlyWhileTheStreamRuns) {
  card().cardCounter = 0xFFFFFFFEu;
  MapFeedback(s);
  EXPECT_EQ(m.CurrentMoveTag, -2);

  card().cardCounter = 7;
  s.motion.MotionMode = kJogMove;
  MapFeedback(s);
  EXPECT_EQ(m.CurrentMoveTag, -2);

  s.motion.MotionMode = kQueueStreaming;
  hc.MotionIdle = 1;
  MapFeedback(s);
  EXPECT_EQ(m.CurrentMoveTag, -2);
}

TEST_F(Feedback, TheEndOfMotionRaisesIdleAndDropsTheRemainders) {
  Remainders(0.25);
  card().motionActive = 1;
  card().cardTime = 0;
  card().cardState = 2;
  card().cardCounter = 9;
  MapFeedback(s);
  EXPECT_EQ(card().motionActive, 0);
  EXPECT_EQ(hc.MotionIdle, 1);
  EXPECT_TRUE(RemaindersCleared());
  EXPECT_NE(m.CurrentMoveTag, 9) << "idle now: the tag is not taken";

  Remainders(0.25);  // the host ends its sequence while the card still moves
  card().cardState = 3;
  m.SequenceEnded = 1;
  MapFeedback(s);
  EXPECT_TRUE(RemaindersCleared());
}

// A stalled link lets the card run dry in the middle of a stream; the entries still queued
// continue it, so their fractions must stay until the queue is empty.
TEST_F(Feedback, ACardRunDryWithEntriesStillQueuedKeepsTheRemainders) {
  Remainders(0.25);
  card().motionActive = 1;
  card().cardState = 2;
  m.MoveQueueRead = 4090;
  m.MoveQueueWrite = 3;  // nine entries across the wrap
  MapFeedback(s);
  EXPECT_EQ(hc.MotionIdle, 1);
  EXPECT_FALSE(RemaindersCleared());

  m.MoveQueueRead = 3;  // the host gave the rest of the stream up and emptied the queue
  MapFeedback(s);
  EXPECT_TRUE(RemaindersCleared()) << "idle on entry, but nothing is left to carry them";
}

TEST_F(Feedback, OutsideStreamingTheEndOfMotionLeavesIdleToTheSequence) {
  Remainders(-0.5);
  card().motionActive = 1;
  card().cardState = 1;
  s.motion.MotionMode = kHomingSequence;
  MapFeedback(s);
  EXPECT_EQ(card().motionActive, 0);
  EXPECT_EQ(hc.MotionIdle, 0);
  EXPECT_TRUE(RemaindersCleared());
}

TEST_F(Feedback, CardStateZeroIsAnEmergencyStopUnlessAConfigurationIsPending) {
  card().cardState = 0;
  s.requests.RequestFlags = kRequestConfigure;
  MapFeedback(s);
  EXPECT_EQ(m.EStop, 0);

  s.requests.RequestFlags = kRequestStopMotion;
  MapFeedback(s);
  EXPECT_EQ(m.EStop, 1);
  EXPECT_EQ(m.StopCode, 6);
}

TEST_F(Feedback, HandwheelCountsTakeTheSelectedMultiplierX10First) {
  card().mpgDelta = -3;
  MapFeedback(s);
  EXPECT_EQ(m.MpgCounts, -3);
  card().inputBits = static_cast<uint16_t>(card().mpgX100Mask);
  MapFeedback(s);
  EXPECT_EQ(m.MpgCounts, -303);
  card().inputBits = static_cast<uint16_t>(card().mpgX10Mask | card().mpgX100Mask);
  MapFeedback(s);
  EXPECT_EQ(m.MpgCounts, -333);

  m.MpgCounts = INT_MAX;  // a counter that has run for long wraps instead of overflowing
  card().mpgDelta = 1;
  card().inputBits = 0;
  MapFeedback(s);
  EXPECT_EQ(m.MpgCounts, INT_MIN);
}

TEST_F(Feedback, TheAxisSelectorSwitchesHandwheelJogModeOnAndOff) {
  card().inputBits = 0x0200;  // Y selected
  MapFeedback(s);
  EXPECT_EQ(hc.JogMode, 2);
  card().inputBits = 0;
  MapFeedback(s);
  EXPECT_EQ(hc.JogMode, 0);
  hc.JogMode = 1;
  MapFeedback(s);
  EXPECT_EQ(hc.JogMode, 1) << "other jog modes belong to the host";
}

TEST_F(Feedback, WithTheHandwheelDisabledCountsAndJogModeStay) {
  s.settings.MPGDisable = true;
  card().mpgDelta = 4;
  card().inputBits = static_cast<uint16_t>(card().mpgAnyAxisMask | card().mpgX10Mask);
  MapFeedback(s);
  EXPECT_EQ(m.MpgCounts, 0);
  EXPECT_EQ(hc.JogMode, 0);
  hc.JogMode = 2;
  card().inputBits = 0;
  MapFeedback(s);
  EXPECT_EQ(hc.JogMode, 2);
}

class Inputs : public SignalsFixture {
 protected:
  void Entry(int index, uint8_t pin, uint8_t activeLow, uint8_t active, uint8_t port = kCardPort,
             uint8_t enabled = 1) {
    m.InputSignals[index] = InputSignal{enabled, pin, port, activeLow, active};
  }
};

TEST_F(Inputs, CardPinsSetTheHostSignalsThroughTheirPolarity) {
  Entry(0, 1, 0, 0);
  Entry(1, 2, 1, 0);  // active-low on a low pin
  Entry(2, 16, 0, 0);
  Entry(3, 3, 1, 1);  // active-low on a high pin
  Entry(4, 4, 0, 1);  // active-high on a low pin
  Entry(10, 0, 0, 1);
  Entry(11, 17, 0, 1);
  Entry(12, 1, 0, 1, /*port=*/1);
  Entry(13, 1, 0, 1, kCardPort, /*enabled=*/0);
  card().inputBits = 0x8005;
  MapInputs(s);
  EXPECT_EQ(m.InputSignals[0].Active, 1);
  EXPECT_EQ(m.InputSignals[1].Active, 1);
  EXPECT_EQ(m.InputSignals[2].Active, 1);
  EXPECT_EQ(m.InputSignals[3].Active, 0);
  EXPECT_EQ(m.InputSignals[4].Active, 0);
  for (int kept : {10, 11, 12, 13}) EXPECT_EQ(m.InputSignals[kept].Active, 1) << kept;
}

TEST_F(Inputs, TheEmergencyStopInputStopsAndHaltsOnEveryExchange) {
  card().outputBits = 0x0F;
  card().spindleValue = 800;
  s.motion.MotionMode = kJogMove;
  s.requests.RequestFlags = kRequestConfigure;
  card().inputBits = static_cast<uint16_t>(card().estopMask);
  MapInputs(s);
  EXPECT_EQ(m.EStop, 1);
  EXPECT_EQ(m.StopCode, 6);
  EXPECT_EQ(s.requests.RequestFlags, kRequestHalt);
  EXPECT_EQ(card().outputBits, 0);
  EXPECT_EQ(card().spindleValue, 0);
  EXPECT_EQ(s.motion.MotionMode, kQueueStreaming);
  EXPECT_EQ(m.SequenceEnded, 1);

  s.requests.RequestFlags = 0;  // the halt went out
  MapInputs(s);
  EXPECT_EQ(s.requests.RequestFlags, kRequestHalt);
}

TEST_F(Inputs, ACardWithoutEmergencyStopInputNeverRaisesIt) {
  Online(kCardLorn4);
  ASSERT_EQ(card().estopMask, 0u);
  card().inputBits = 0xFFFF;
  MapInputs(s);
  EXPECT_EQ(m.EStop, 0);
  EXPECT_EQ(s.requests.RequestFlags, 0u);
}

TEST_F(Inputs, LimitOverrideEndsOnceNoLimitIsActive) {
  Entry(SecondLimitInput(2), 5, 0, 0);
  Entry(HomeInput(0), 6, 0, 0);
  m.LimitOverride = 1;
  card().inputBits = 0x0010 | 0x0020;  // the limit on pin 5 and the home on pin 6
  MapInputs(s);
  EXPECT_EQ(m.LimitOverride, 1);
  EXPECT_TRUE(HostCallbacks::Codes().empty());

  card().inputBits = 0x0020;  // only the home input: it does not hold the override
  MapInputs(s);
  EXPECT_EQ(m.LimitOverride, 0);
  EXPECT_EQ(HostCallbacks::Codes(), std::vector<std::string>{"(Override Mode Exited.)"});
}

TEST_F(Inputs, ALimitActiveOnAnotherPortAlsoHoldsTheOverride) {
  Entry(FirstLimitInput(4), 1, 0, 1, /*port=*/1);
  m.LimitOverride = 1;
  MapInputs(s);
  EXPECT_EQ(m.LimitOverride, 1);
  m.InputSignals[FirstLimitInput(4)].Enabled = 0;
  MapInputs(s);
  EXPECT_EQ(m.LimitOverride, 0);
}

class Outputs : public SignalsFixture {
 protected:
  void Entry(int index, uint8_t pin, uint8_t active, uint8_t activeLow = 0,
             uint8_t port = kCardPort, uint8_t enabled = 1) {
    m.OutputSignals[index] = OutputSignal{enabled, pin, port, active, activeLow};
  }
};

TEST_F(Outputs, HostSignalsOnCardPinsBecomeTheOutputBits) {
  Entry(0, 1, 1);
  Entry(1, 3, 0, /*activeLow=*/1);
  Entry(2, 4, 1, /*activeLow=*/1);
  Entry(3, 5, 1);
  Entry(4, 2, 1, 0, /*port=*/1);
  Entry(5, 2, 1, 0, kCardPort, /*enabled=*/0);
  card().outputBits = 0xFFFF;
  MapOutputs(m, card());
  EXPECT_EQ(card().outputBits, 0x05);
}

TEST_F(Outputs, ALaterEntryOnTheSamePinDecides) {
  Entry(0, 2, 1);
  Entry(7, 2, 0);
  MapOutputs(m, card());
  EXPECT_EQ(card().outputBits, 0);
  Entry(0, 2, 0);
  Entry(7, 2, 1);
  MapOutputs(m, card());
  EXPECT_EQ(card().outputBits, 0x02);
}

TEST_F(Outputs, ASuspendedHostLeavesTheOutputsAlone) {
  Entry(0, 1, 1);
  card().outputBits = 0x08;
  m.HostSuspended = 1;
  MapOutputs(m, card());
  EXPECT_EQ(card().outputBits, 0x08);
}

}  // namespace
}  // namespace torvexan::testing
