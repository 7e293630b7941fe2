// A planned job streamed end to end to every card model: the card must end exactly where the
// host's queue says, step for step, whatever the link does on the way.
#include <gtest/gtest.h>

#include "integration/job_feeder.h"
#include "integration/machine_fixture.h"

namespace torvexan::testing {
namespace {

constexpr int kJobSlices = 60 * kSlicesPerSecond;  // 60 s of 5 ms slices

class StreamingJob : public ::testing::TestWithParam<CardCase> {};

TEST_P(StreamingJob, SixtySecondsOfMultiAxisMotionEndStepForStep) {
  const CardCase mc = GetParam();
  SimulatedMachine machine(mc.model);
  machine.ConnectAndReset();
  HostWorld& host = machine.host();
  JobFeeder job(host, mc.axes, kJobSlices);

  ASSERT_TRUE(RunJob(machine, job, 20000)) << "the job never drained";
  machine.RunTicks(10);  // let the last positions come back

  for (int i = 0; i < mc.axes; ++i) {
    EXPECT_EQ(machine.card().position(i), job.CommandedSteps(i)) << "card channel " << i;
    EXPECT_EQ(host.machine->Axes[i].PositionCounts, job.CommandedSteps(i)) << "host axis " << i;
  }
  EXPECT_EQ(machine.card().stats().rowsRefused, 0u);
  EXPECT_EQ(host.machine->EStop, 0);
  EXPECT_GE(machine.card().stats().rowsExecuted, static_cast<uint32_t>(kJobSlices));
}

INSTANTIATE_TEST_SUITE_P(EveryCard, StreamingJob,
                         ::testing::Values(kLorn4Case, kLorn5Case, kPell5Case), CardCaseName);

TEST(StreamingOverALossyLink, DroppedDuplicatedAndDelayedPacketsNeverLoseOrDoubleARow) {
  SimulatedMachine machine(sim::CardModel::kLorn5);
  machine.ConnectAndReset();
  sim::FaultShares faults{};
  faults.drop = 0.05;
  faults.duplicate = 0.05;
  faults.delay = 0.05;
  faults.delayMs = 90;
  machine.netCard()->SetFaults(faults, 1234);
  JobFeeder job(machine.host(), 5, kJobSlices);
  ASSERT_TRUE(RunJob(machine, job, 40000));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(machine.card().position(i), job.CommandedSteps(i));
  EXPECT_EQ(machine.card().stats().rowsRefused, 0u);
  EXPECT_GT(machine.card().stats().duplicates, 0u) << "the faults never forced a resend";
  EXPECT_GT(machine.card().stats().stale, 0u) << "no copy was held back past its resend";
}

// A gantry: the A motor is slaved to Y and must end where Y ends, whatever A's own slices say.
TEST(StreamingASlavedAxis, AFollowsYStepForStep) {
  SimulatedMachine machine(sim::CardModel::kLorn5);
  machine.host().machine->Axes[3].IsSlave = 1;
  machine.host().machine->Axes[3].SlaveOf = 1;
  machine.ConnectAndReset();
  JobFeeder job(machine.host(), 5, 10 * kSlicesPerSecond);
  ASSERT_TRUE(RunJob(machine, job, 5000));
  machine.RunTicks(10);
  ASSERT_NE(job.CommandedSteps(1), job.CommandedSteps(3));
  EXPECT_EQ(machine.card().position(1), job.CommandedSteps(1));
  EXPECT_EQ(machine.card().position(3), job.CommandedSteps(1));
  EXPECT_EQ(machine.host().machine->Axes[3].PositionCounts, job.CommandedSteps(1));
  EXPECT_EQ(machine.card().position(4), job.CommandedSteps(4));
}

}  // namespace
}  // namespace torvexan::testing
