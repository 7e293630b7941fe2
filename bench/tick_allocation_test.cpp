// Nothing may be allocated per tick or per packet. This program counts every global operator
// new while whole ticks of the plug-in stream a job to each card model: the host's Update, the
// timer tick (dispatcher, motion, link exchange, signal mapping) and the virtual card's time.
#include <gtest/gtest.h>

#include "integration/job_feeder.h"
#include "integration/machine_fixture.h"
#include "support/heap_counter.h"

namespace torvexan::testing {
namespace {

constexpr int kWarmUpTicks = 50;     // the first batches are out before counting starts
constexpr int kCountedTicks = 5000;  // 100 s of streaming
constexpr int kJobSlices = 120 * kSlicesPerSecond;  // longer than the counted ticks

template <typename Body>
long CountAllocations(Body body) {
  StartCountingAllocations();
  body();
  return StopCountingAllocations();
}

TEST(TickAllocations, TheCounterSeesAnAllocation) {
  const long seen = CountAllocations([] {
    void* volatile p = ::operator new(16);
    ::operator delete(p);
  });
  EXPECT_EQ(seen, 1);
}

class StreamingTicks : public ::testing::TestWithParam<CardCase> {};

TEST_P(StreamingTicks, AllocateNothing) {
  SimulatedMachine machine(GetParam().model);
  machine.ConnectAndReset();
  JobFeeder job(machine.host(), GetParam().axes, kJobSlices);
  for (int i = 0; i < kWarmUpTicks; ++i) {
    job.Fill();
    machine.Tick();
  }
  const uint32_t rowsBefore = machine.card().stats().rowsReceived;
  const uint32_t packetsBefore = machine.card().stats().packets;
  const long seen = CountAllocations([&] {
    for (int i = 0; i < kCountedTicks; ++i) {
      job.Fill();
      machine.Tick();
    }
  });
  // The ticks really streamed: rows kept reaching the card and every packet was answered.
  EXPECT_GT(machine.card().stats().rowsReceived - rowsBefore, static_cast<uint32_t>(kCountedTicks));
  EXPECT_GT(machine.card().stats().packets - packetsBefore,
            static_cast<uint32_t>(kCountedTicks / 4));
  EXPECT_FALSE(job.AllTaken());
  EXPECT_EQ(machine.host().machine->EStop, 0);
  EXPECT_EQ(seen, 0);
}

INSTANTIATE_TEST_SUITE_P(EveryCard, StreamingTicks,
                         ::testing::Values(kLorn4Case, kLorn5Case, kPell5Case), CardCaseName);

}  // namespace
}  // namespace torvexan::testing
