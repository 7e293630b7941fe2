// The motion state machine runs every tick; it must never touch the heap. This program counts
// every global operator new while ticks run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "motion/profile.h"
#include "motion_world.h"

namespace {
bool counting = false;
long allocations = 0;
}  // namespace

void* operator new(std::size_t size) {
  if (counting) ++allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace torvexan::testing {
namespace {

// Runs ticks with the heap watched; returns the allocations seen.
template <typename Body>
long CountAllocations(Body body) {
  allocations = 0;
  counting = true;
  body();
  counting = false;
  return allocations;
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
      StartJogProfile(w.s, 20.0f, 200.0f, 10.0f, 800.0, 0);
      StartJogProfile(w.s, 20.0f, 200.0f, -7.0f, 800.0, 3);
      w.s.MotionMode = kJogMove;
      w.s.MotionStep = 0;
      for (int tick = 0; tick < 200; ++tick) w.TickAndExchange();
      w.session().motionActive = 0;
      w.TickAndExchange();
    }
  });
  EXPECT_EQ(w.s.MotionMode, kQueueStreaming);
  EXPECT_EQ(seen, 0);
}

}  // namespace
}  // namespace torvexan::testing
