// A planned job streamed end to end to every card model: the card must end exactly where the
// host's queue says, step for step, whatever the link does on the way.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "integration/machine_fixture.h"

namespace torvexan::testing {
namespace {

constexpr int kJobSlices = 12000;     // 60 s of 5 ms slices
constexpr int kQueueLeadSlices = 600;  // how far ahead the host's planner fills the queue

// The host's planner: a smooth multi-axis path as fractional steps per slice, written into the
// move queue as far ahead as the plug-in leaves room, with the exact sums it commanded.
class JobFeeder {
 public:
  JobFeeder(HostWorld& host, int axes) : host_(host), axes_(axes) {}

  double SliceSteps(int slice, int axis) const {
    const double t = slice * 0.005;
    const double speed = 0.7 + 0.4 * axis;  // steps per slice at the crest
    return speed * std::sin(t * (0.9 + 0.37 * axis) + axis) + 0.013 * (axis + 1);
  }

  void Fill() {
    HostMachine& m = *host_.machine;
    HostControl& c = *host_.control;
    while (next_ < kJobSlices) {
      const int used = (m.MoveQueueWrite - m.MoveQueueRead + kMoveQueueSize) % kMoveQueueSize;
      if (used >= kQueueLeadSlices) return;
      const int w = m.MoveQueueWrite;
      for (int a = 0; a < kHostAxisCount; ++a) {
        const double d = a < axes_ ? SliceSteps(next_, a) : 0.0;
        c.MoveQueue[w].MoveSteps[a] = d;
        commanded_[a] += d;
      }
      m.MoveQueue[w].MoveTag = 1 + next_ / 200;  // one tag per second of motion
      m.MoveQueueWrite = (w + 1) % kMoveQueueSize;
      ++next_;
    }
    c.QueueDrain = 1;
  }
  bool Done() const { return next_ >= kJobSlices; }
  int32_t CommandedSteps(int axis) const {
    return static_cast<int32_t>(std::lround(commanded_[axis]));
  }

 private:
  HostWorld& host_;
  int axes_;
  int next_ = 0;
  double commanded_[kHostAxisCount] = {};
};

struct ModelCase {
  sim::CardModel model;
  int axes;
  const char* name;
  friend void PrintTo(const ModelCase& c, std::ostream* os) { *os << c.name; }
};

class StreamingJob : public ::testing::TestWithParam<ModelCase> {};

TEST_P(StreamingJob, SixtySecondsOfMultiAxisMotionEndStepForStep) {
  const ModelCase mc = GetParam();
  SimulatedMachine machine(mc.model);
  machine.ConnectAndReset();
  HostWorld& host = machine.host();
  JobFeeder job(host, mc.axes);

  bool finished = machine.RunUntil(
      [&] {
        job.Fill();
        return job.Done() && host.machine->MoveQueueRead == host.machine->MoveQueueWrite &&
               host.control->MotionIdle == 1 && machine.card().bufferedRows() == 0;
      },
      20000);
  ASSERT_TRUE(finished) << "the job never drained";
  machine.RunTicks(10);  // let the last positions come back
  std::printf("read %d write %d idle %d buffered %d executed %u online %d type %u state %d\n", host.machine->MoveQueueRead, host.machine->MoveQueueWrite, host.control->MotionIdle, machine.card().bufferedRows(), machine.card().stats().rowsExecuted, machine.state().session->online, machine.state().session->cardType, machine.card().state());

  for (int i = 0; i < mc.axes; ++i) {
    EXPECT_EQ(machine.card().position(i), job.CommandedSteps(i)) << "card channel " << i;
    EXPECT_EQ(host.machine->Axes[i].PositionCounts, job.CommandedSteps(i)) << "host axis " << i;
  }
  EXPECT_EQ(machine.card().stats().rowsRefused, 0u);
  EXPECT_EQ(host.machine->EStop, 0);
  EXPECT_GE(machine.card().stats().rowsExecuted, static_cast<uint32_t>(kJobSlices));
}

INSTANTIATE_TEST_SUITE_P(EveryCard, StreamingJob,
                         ::testing::Values(ModelCase{sim::CardModel::kLorn4, 4, "Lorn4"},
                                           ModelCase{sim::CardModel::kLorn5, 5, "Lorn5"},
                                           ModelCase{sim::CardModel::kPell5, 5, "Pell5"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StreamingOverALossyLink, DroppedDuplicatedAndDelayedPacketsNeverLoseOrDoubleARow) {
  SimulatedMachine machine(sim::CardModel::kLorn5);
  machine.ConnectAndReset();
  sim::FaultShares faults{};
  faults.drop = 0.05;
  faults.duplicate = 0.05;
  faults.delay = 0.05;
  faults.delayMs = 90;
  machine.netCard()->SetFaults(faults, 1234);
  JobFeeder job(machine.host(), 5);
  ASSERT_TRUE(machine.RunUntil(
      [&] {
        job.Fill();
        return job.Done() && machine.host().control->MotionIdle == 1 &&
               machine.host().machine->MoveQueueRead == machine.host().machine->MoveQueueWrite &&
               machine.card().bufferedRows() == 0;
      },
      40000));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(machine.card().position(i), job.CommandedSteps(i));
  EXPECT_EQ(machine.card().stats().rowsRefused, 0u);
  EXPECT_GT(machine.card().stats().duplicates, 0u) << "the faults never forced a resend";
  EXPECT_GT(machine.card().stats().stale, 0u) << "no copy was held back past its resend";
}

}  // namespace
}  // namespace torvexan::testing
