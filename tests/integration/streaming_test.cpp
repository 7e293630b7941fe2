// A planned job streamed end to end to every card model: the card must end exactly where the
// host's queue says, step for step, whatever the link does on the way.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>

#include "integration/job_feeder.h"
#include "integration/machine_fixture.h"

namespace torvexan::testing {
namespace {

constexpr int kJobSlices = 60 * kSlicesPerSecond;  // 60 s of 5 ms slices

// A card model at one period of the host's window timer: the nominal 20 ms, or 31.25 ms where
// the system's timer granularity rounds it up.
struct StreamCase {
  CardCase card;
  uint32_t tickUs;
  friend void PrintTo(const StreamCase& c, std::ostream* os) {
    *os << c.card.name << " at " << c.tickUs << " us";
  }
};

class StreamingJob : public ::testing::TestWithParam<StreamCase> {};

TEST_P(StreamingJob, SixtySecondsOfMultiAxisMotionEndStepForStepWithoutUnderrun) {
  const CardCase mc = GetParam().card;
  SimulatedMachine machine(mc.model);
  machine.SetTickPeriodUs(GetParam().tickUs);
  machine.ConnectAndReset();
  HostWorld& host = machine.host();
  JobFeeder job(host, mc.axes, kJobSlices);

  ASSERT_TRUE(RunJob(machine, job, 20000)) << "the job never drained";
  machine.RunTicks(10);  // let the last positions come back

  for (int i = 0; i < mc.axes; ++i) {
    EXPECT_EQ(machine.card().position(i), job.CommandedSteps(i)) << "card channel " << i;
    EXPECT_EQ(host.machine->Axes[i].PositionCounts, job.CommandedSteps(i)) << "host axis " << i;
  }
  const sim::CardStats& card = machine.card().stats();
  EXPECT_EQ(card.rowsRefused, 0u);
  EXPECT_EQ(card.underruns, 0u) << card.starvedPeriods << " periods without rows";
  EXPECT_EQ(host.machine->EStop, 0);
  EXPECT_GE(card.rowsExecuted, static_cast<uint32_t>(kJobSlices));
}

INSTANTIATE_TEST_SUITE_P(
    EveryCardAtEitherTimerPeriod, StreamingJob,
    ::testing::Values(StreamCase{kLorn4Case, 20000}, StreamCase{kLorn5Case, 20000},
                      StreamCase{kPell5Case, 20000}, StreamCase{kLorn4Case, 31250},
                      StreamCase{kLorn5Case, 31250}, StreamCase{kPell5Case, 31250}),
    [](const ::testing::TestParamInfo<StreamCase>& info) {
      return std::string(info.param.card.name) + "_" + std::to_string(info.param.tickUs) + "us";
    });

// A late timer leaves the USB card short of rows unless a tick carries several exchanges; the
// tick must stay short all the same.
TEST(StreamingToAUsbCard, LateTicksCarryAFewExchangesAndNeverMore) {
  SimulatedMachine machine(sim::CardModel::kPell5);
  machine.SetTickPeriodUs(31250);
  machine.ConnectAndReset();
  JobFeeder job(machine.host(), 5, 10 * kSlicesPerSecond);
  int most = 0, ticksWithMore = 0;
  for (int i = 0; i < 2000 && !job.AllTaken(); ++i) {
    job.Fill();
    const uint32_t before = machine.card().stats().packets;
    machine.Tick();
    const int packets = static_cast<int>(machine.card().stats().packets - before);
    most = std::max(most, packets);
    ticksWithMore += packets > 1;
  }
  ASSERT_TRUE(job.AllTaken());
  EXPECT_EQ(most, 3);
  EXPECT_GT(ticksWithMore, 0);
  EXPECT_EQ(machine.card().stats().underruns, 0u);
}

TEST(StreamingOverALossyLink, DroppedDuplicatedAndDelayedPacketsNeverLoseOrDoubleARow) {
  SimulatedMachine machine(sim::CardModel::kLorn5);
  machine.ConnectAndReset();
  sim::FaultShares faults{};
  faults.drop = 0.05;
  faults.duplicate = 0.05;
  faults.delay = 0.05;
  faults.delayMs = 250;  // beyond the resend time-out: some copies arrive after their resend
  machine.netCard()->SetFaults(faults, 1234);
  JobFeeder job(machine.host(), 5, kJobSlices);
  ASSERT_TRUE(RunJob(machine, job, 40000));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(machine.card().position(i), job.CommandedSteps(i));
  EXPECT_EQ(machine.card().stats().rowsRefused, 0u);
  EXPECT_EQ(machine.card().stats().underruns, 0u);
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
  EXPECT_EQ(machine.card().stats().underruns, 0u);
}

}  // namespace
}  // namespace torvexan::testing
