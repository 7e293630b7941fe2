// A card that restarts while it executes a stream of rows: the host learns of it from the
// card's own halted state, and once the operator has reset the machine the next job runs to
// the step, with no row lost or run twice, whether the link held or had to be found again.
#include <gtest/gtest.h>

#include <cmath>

#include "linksim/link_bench.h"

namespace torvexan::testing {
namespace {

constexpr int kAxes = 5;

// The host's planner: a fixed number of 5 ms slices of fractional steps per axis, written as
// far ahead as the queue allows, with the exact sums it commanded.
class SliceFeeder {
 public:
  SliceFeeder(HostWorld& host, int slices, double phase)
      : host_(host), slices_(slices), phase_(phase) {}

  void Fill() {
    HostMachine& m = *host_.machine;
    HostControl& c = *host_.control;
    constexpr int kLead = 400;
    while (next_ < slices_) {
      const int used = (m.MoveQueueWrite - m.MoveQueueRead + kMoveQueueSize) % kMoveQueueSize;
      if (used >= kLead) return;
      const int w = m.MoveQueueWrite;
      for (int a = 0; a < kHostAxisCount; ++a) {
        const double d =
            a < kAxes ? (0.8 + 0.3 * a) * std::sin(next_ * 0.004 * (a + 1) + phase_) + 0.05 : 0.0;
        c.MoveQueue[w].MoveSteps[a] = d;
        commanded_[a] += d;
      }
      m.MoveQueue[w].MoveTag = 1 + next_ / 100;
      m.MoveQueueWrite = (w + 1) % kMoveQueueSize;
      ++next_;
    }
    c.QueueDrain = 1;
  }
  bool Done() const { return next_ >= slices_; }
  int32_t Commanded(int axis) const { return static_cast<int32_t>(std::lround(commanded_[axis])); }

 private:
  HostWorld& host_;
  int slices_;
  double phase_;
  int next_ = 0;
  double commanded_[kHostAxisCount] = {};
};

struct RebootCase {
  uint32_t bootMs;
  bool linkLost;  // the boot outlasts ten resends: discovery must find the card again
};

class CardRebootsWhileStreaming : public ::testing::TestWithParam<RebootCase> {};

TEST_P(CardRebootsWhileStreaming, HostSeesTheHaltAndTheNextJobRunsStepForStep) {
  const RebootCase rc = GetParam();
  LinkBench bench;
  bench.world().net.AddLocalAddress("10.0.0.1");
  sim::NetCard& net = bench.world().net.AddCard(sim::CardModel::kLorn5, "10.0.0.50");
  sim::VirtualCard& card = net.card;
  bench.Start();
  bench.ConnectAndReset(card);
  HostMachine& m = *bench.host().machine;

  SliceFeeder first(bench.host(), 4000, 0.0);
  ASSERT_TRUE(bench.RunUntil(
      [&] {
        first.Fill();
        return card.stats().rowsExecuted > 600 && card.bufferedRows() > 40;
      },
      3000));
  const uint32_t executedBefore = card.stats().rowsExecuted;
  card.Reboot(rc.bootMs);

  bool wentOffline = false;
  ASSERT_TRUE(bench.RunUntil(
      [&] {
        wentOffline = wentOffline || !bench.online();
        return m.EStop != 0;
      },
      1000))
      << "the host never learnt that the card halted";
  EXPECT_EQ(wentOffline, rc.linkLost);
  EXPECT_EQ(card.stats().rowsExecuted, executedBefore) << "a halted card ran rows";
  // The host abandons its job, as it does on an emergency stop.
  m.MoveQueueWrite = m.MoveQueueRead;
  // A lost link raised the emergency stop at once; the positions come with the link.
  ASSERT_TRUE(bench.RunUntil([&] { return bench.online(); }, 1000));
  bench.RunTicks(5);
  for (int i = 0; i < kAxes; ++i) {
    EXPECT_EQ(m.Axes[i].PositionCounts, card.position(i)) << "the host shows steps the card lost";
  }

  bench.ConnectAndReset(card);
  int32_t start[kAxes];
  for (int i = 0; i < kAxes; ++i) start[i] = card.position(i);
  const uint32_t executed = card.stats().rowsExecuted;
  const uint32_t refused = card.stats().rowsRefused;
  constexpr int kSecondJob = 1500;
  SliceFeeder second(bench.host(), kSecondJob, 1.0);
  ASSERT_TRUE(bench.RunUntil(
      [&] {
        second.Fill();
        return second.Done() && m.MoveQueueRead == m.MoveQueueWrite &&
               bench.host().control->MotionIdle == 1 && card.bufferedRows() == 0;
      },
      4000));
  bench.RunTicks(5);
  for (int i = 0; i < kAxes; ++i) {
    EXPECT_EQ(card.position(i), start[i] + second.Commanded(i)) << "card channel " << i;
    EXPECT_EQ(m.Axes[i].PositionCounts, card.position(i)) << "host axis " << i;
  }
  EXPECT_EQ(card.stats().rowsExecuted - executed, static_cast<uint32_t>(kSecondJob));
  EXPECT_EQ(card.stats().rowsRefused, refused);
  EXPECT_EQ(card.stats().reboots, 1u);
  EXPECT_TRUE(bench.online());
}

INSTANTIATE_TEST_SUITE_P(Lorn5, CardRebootsWhileStreaming,
                         ::testing::Values(RebootCase{300, false}, RebootCase{3000, true}),
                         [](const auto& info) {
                           return std::string(info.param.linkLost ? "LinkLostAndFound"
                                                                  : "LinkHeld");
                         });

}  // namespace
}  // namespace torvexan::testing
