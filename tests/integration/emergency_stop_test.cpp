// The emergency-stop button on the card's input, pressed in the middle of motion: the plug-in
// raises the host's emergency stop, halts the card and nothing moves until the operator resets;
// after the reset the card takes the host's positions and the next job runs step for step.
#include <gtest/gtest.h>

#include "integration/job_feeder.h"
#include "integration/machine_fixture.h"
#include "motion/motion_machine.h"
#include "signals/io_config.h"

namespace torvexan::testing {
namespace {

constexpr int32_t kStopCodeEStop = 6;
constexpr int kSpindleOnClockwise = 3;
constexpr int kOutputPin = 2;  // a coolant relay on the card's second output
constexpr int kMaxTicksToReact = 3;
constexpr int kHeldTicks = 100;  // 2 s with the button pressed
constexpr int kJobTicks = 20000;

uint32_t Commands(const sim::VirtualCard& card, sim::CommandCode code) {
  return card.stats().perCode[static_cast<int>(code)];
}

class EmergencyStopInput : public ::testing::TestWithParam<CardCase> {
 protected:
  EmergencyStopInput() : machine(GetParam().model) {}

  void SetUp() override {
    // The host drives a relay on the card and runs the spindle at half speed.
    OutputSignal& relay = host().machine->OutputSignals[0];
    relay = OutputSignal{1, kOutputPin, kCardPort, 1, 0};
    host().control->SpindlePwm = 1;
    host().control->SpindleFraction = 0.5;
    machine.ConnectAndReset();
    machine.plugin().Notify(kSpindleOnClockwise);
  }

  HostWorld& host() { return machine.host(); }
  sim::VirtualCard& card() { return machine.card(); }

  // Runs the job while the host's planner keeps up, until the card has executed `rows`.
  void StreamUntilExecuted(JobFeeder& job, uint32_t rows) {
    ASSERT_TRUE(machine.RunUntil(
        [&] {
          job.Fill();
          return card().stats().rowsExecuted >= rows;
        },
        kJobTicks));
  }

  void ExpectPositionsFrozen(const int32_t (&at)[sim::kMaxAxes], uint32_t executed) {
    for (int i = 0; i < card().axisCount(); ++i) {
      EXPECT_EQ(card().position(i), at[i]) << "card channel " << i;
      EXPECT_EQ(host().machine->Axes[i].PositionCounts, at[i]) << "host axis " << i;
    }
    EXPECT_EQ(card().stats().rowsExecuted, executed);
  }

  SimulatedMachine machine;
};

TEST_P(EmergencyStopInput, HaltsTheJobAndAfterTheResetTheNextJobEndsStepForStep) {
  JobFeeder first(host(), 5, 60 * kSlicesPerSecond);
  StreamUntilExecuted(first, 10 * kSlicesPerSecond);
  ASSERT_EQ(card().state(), sim::kStreaming);
  ASSERT_NE(card().spindle(), 0);
  ASSERT_EQ(card().outputs() & (1u << (kOutputPin - 1)), 1u << (kOutputPin - 1));
  const uint32_t haltsBefore = Commands(card(), sim::CommandCode::kHalt);

  card().machine().estop = true;
  ASSERT_TRUE(machine.RunUntil([&] { return host().machine->EStop == 1; }, kMaxTicksToReact));
  EXPECT_EQ(host().machine->StopCode, kStopCodeEStop);
  // The host's answer to an emergency stop: its planner drops the job and its outputs go off.
  first.Abandon();
  host().machine->OutputSignals[0].Active = 0;
  machine.RunTicks(5);

  // The reset path ran: motion reset, spindle off, the card told to halt and halted.
  EXPECT_EQ(machine.state().motion.MotionMode, kQueueStreaming);
  EXPECT_EQ(host().machine->SequenceEnded, 1);
  EXPECT_EQ(machine.state().session->spindleValue, 0);
  EXPECT_GT(Commands(card(), sim::CommandCode::kHalt), haltsBefore);
  EXPECT_EQ(card().state(), sim::kHalted);
  EXPECT_EQ(card().spindle(), 0);
  EXPECT_EQ(card().outputs(), 0);

  // Nothing moves while the button is held, nor after it is released until the reset.
  int32_t haltedAt[sim::kMaxAxes] = {};
  for (int i = 0; i < card().axisCount(); ++i) haltedAt[i] = card().position(i);
  const uint32_t executed = card().stats().rowsExecuted;
  machine.RunTicks(kHeldTicks);
  ExpectPositionsFrozen(haltedAt, executed);
  card().machine().estop = false;
  machine.RunTicks(kHeldTicks);
  ExpectPositionsFrozen(haltedAt, executed);
  EXPECT_EQ(host().machine->EStop, 1) << "the emergency stop ends only with the host's reset";
  EXPECT_EQ(card().state(), sim::kHalted);

  // The operator resets: the card is configured with the host's positions and is ready.
  const uint32_t configuresBefore = Commands(card(), sim::CommandCode::kConfigure);
  ASSERT_TRUE(machine.ResetFromEmergencyStop());
  EXPECT_EQ(Commands(card(), sim::CommandCode::kConfigure), configuresBefore + 1);
  ExpectPositionsFrozen(haltedAt, executed);
  const uint32_t refused = card().stats().rowsRefused;

  JobFeeder second(host(), 5, 20 * kSlicesPerSecond);
  ASSERT_TRUE(RunJob(machine, second, kJobTicks));
  machine.RunTicks(10);  // the last positions come back
  for (int i = 0; i < card().axisCount(); ++i) {
    EXPECT_EQ(card().position(i), haltedAt[i] + second.CommandedSteps(i)) << "card channel " << i;
    EXPECT_EQ(host().machine->Axes[i].PositionCounts, haltedAt[i] + second.CommandedSteps(i))
        << "host axis " << i;
  }
  EXPECT_EQ(card().stats().rowsRefused, refused);
  EXPECT_EQ(host().machine->EStop, 0);
}

// The jog ends and its axis stands, however far the profile still had to go.
TEST_P(EmergencyStopInput, EndsAJogAndTheAxisStands) {
  host().control->Acceleration[0] = 200.0;
  machine.plugin().JogOn(0, 0, 20.0);
  ASSERT_EQ(machine.state().motion.MotionMode, kJogMove);
  ASSERT_TRUE(machine.RunUntil([&] { return card().position(0) > 2000; }, 200));

  card().machine().estop = true;
  ASSERT_TRUE(machine.RunUntil([&] { return host().machine->EStop == 1; }, kMaxTicksToReact));
  machine.RunTicks(2);
  EXPECT_EQ(machine.state().motion.MotionMode, kQueueStreaming);
  EXPECT_EQ(host().machine->Jogging, 0);
  EXPECT_EQ(card().state(), sim::kHalted);
  const int32_t stoppedAt = card().position(0);
  machine.RunTicks(kHeldTicks);
  EXPECT_EQ(card().position(0), stoppedAt);
  EXPECT_EQ(host().machine->Axes[0].PositionCounts, stoppedAt);
}

// A dwell would otherwise wait out its time: the reset path ends it at once.
TEST_P(EmergencyStopInput, EndsADwellAtOnce) {
  machine.plugin().DoDwell(60.0);
  machine.RunTicks(5);
  ASSERT_EQ(machine.state().motion.MotionMode, kDwellWait);

  card().machine().estop = true;
  ASSERT_TRUE(machine.RunUntil([&] { return host().machine->EStop == 1; }, kMaxTicksToReact));
  EXPECT_EQ(machine.state().motion.MotionMode, kQueueStreaming);
  EXPECT_EQ(host().machine->Dwelling, 0);
}

INSTANTIATE_TEST_SUITE_P(CardsWithTheInput, EmergencyStopInput,
                         ::testing::Values(kLorn5Case, kPell5Case), CardCaseName);

// The four-axis card has no emergency-stop line: its button does nothing to the job.
TEST(EmergencyStopInputOnLorn4, NeverRaisesTheEmergencyStopAndTheJobRunsOn) {
  SimulatedMachine machine(sim::CardModel::kLorn4);
  machine.ConnectAndReset();
  JobFeeder job(machine.host(), 4, 20 * kSlicesPerSecond);
  bool pressed = false;
  ASSERT_TRUE(machine.RunUntil(
      [&] {
        job.Fill();
        if (!pressed && machine.card().stats().rowsExecuted >= 5 * kSlicesPerSecond) {
          machine.card().machine().estop = true;
          pressed = true;
        }
        EXPECT_EQ(machine.host().machine->EStop, 0);
        return job.AllTaken() && machine.host().control->MotionIdle == 1 &&
               machine.card().bufferedRows() == 0;
      },
      kJobTicks));
  machine.RunTicks(10);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(machine.card().position(i), job.CommandedSteps(i));
  EXPECT_EQ(machine.host().machine->EStop, 0);
}

}  // namespace
}  // namespace torvexan::testing
