// The motion state machine runs every tick; it must never touch the heap. This program counts
// every global operator new while ticks run.
#include <gtest/gtest.h>

#include "motion/profile.h"
#include "motion_world.h"
#include "support/heap_counter.h"

namespace torvexan::testing {
namespace {

// Runs ticks with the heap watched; returns the allocations seen.
template <typename Body>
long CountAllocations(Body body) {
  StartCountingAllocations();
  body();
  return StopCountingAllocations();
}

TEST(Allocations, TheCounterSeesAnAllocation) {
  const long seen = CountAllocations([] {
    void* volatile p = ::operator new(16);
    ::operator delete(p);
  });
  EXPECT_EQ(seen, 1);
}

TEST(Allocations, StreamingTicksAllocateNothing) {
  MotionWorld w;
  long rows = 0;
  const long seen = CountAllocations([&] {
    for (int tick = 0; tick < 20000; ++tick) {
      while (QueuedEntries(w.machine) < 1000) w.Enqueue(tick, 0.3 * tick, -0.7, 1.5, 0.5, -0.5, 2);
      w.session().freeSlots = static_cast<uint8_t>(tick % 200);
      w.TickAndExchange();
      if (Sent().Last().kind == kQueueSegments) rows += Sent().Last().count;
    }
  });
  EXPECT_GT(rows, 100000);
  EXPECT_EQ(seen, 0);
}

TEST(Allocations, ProfileSequencesAllocateNothing) {
  MotionWorld w;
  const long seen = CountAllocations([&] {
    for (int round = 0; round < 50; ++round) {
      StartJogProfile(w.s.settings, w.session(), 20.0f, 200.0f, 10.0f, 800.0, 0);
      StartJogProfile(w.s.settings, w.session(), 20.0f, 200.0f, -7.0f, 800.0, 3);
      w.s.motion.MotionMode = kJogMove;
      w.s.motion.MotionStep = 0;
      for (int tick = 0; tick < 200; ++tick) w.TickAndExchange();
      w.session().motionActive = 0;
      w.TickAndExchange();
    }
  });
  EXPECT_EQ(w.s.motion.MotionMode, kQueueStreaming);
  EXPECT_EQ(seen, 0);
}

}  // namespace
}  // namespace torvexan::testing
