// The timer list that stands in for window timers on hosts without Windows.
#include "platform/posix/timer_list.h"

#include <gtest/gtest.h>

#include <vector>

namespace torvexan {
namespace {

// The list takes a plain function as its clock; the test owns the time it reads.
uint32_t now = 0;
uint32_t Now() {
  return now;
}

struct Fired {
  void* window;
  uintptr_t id;
};

class TimerListTest : public ::testing::Test {
 protected:
  void SetUp() override { now = 0xFFFFFF00u; }  // close to wrapping round
  static void Tick(void* context, void* window, uintptr_t id) {
    static_cast<TimerListTest*>(context)->fired.push_back({window, id});
  }
  // Advances the clock in 1 ms steps, dispatching after each.
  void Advance(uint32_t ms) {
    for (uint32_t i = 0; i < ms; ++i) {
      ++now;
      timers.Dispatch();
    }
  }
  std::vector<Fired> fired;
  TimerList timers{&TimerListTest::Tick, this, &Now};
};

TEST_F(TimerListTest, PeriodicTimerTicksEveryPeriodAcrossClockWrap) {
  const uintptr_t id = timers.Start(1, 20);
  ASSERT_NE(id, 0u);
  Advance(19);
  EXPECT_TRUE(fired.empty());
  Advance(1);
  ASSERT_EQ(fired.size(), 1u);
  EXPECT_EQ(fired[0].id, id);
  EXPECT_EQ(fired[0].window, nullptr);  // like a timer without owner window
  Advance(400);                         // the clock wraps on the way
  EXPECT_EQ(fired.size(), 21u);
}

TEST_F(TimerListTest, EachStartGetsAnIdOfItsOwnAndStopEndsOnlyThatTimer) {
  const uintptr_t a = timers.Start(1, 20);
  const uintptr_t b = timers.Start(1, 20);
  EXPECT_NE(a, b);
  timers.Stop(nullptr, a);
  EXPECT_EQ(timers.ActiveCount(), 1);
  Advance(40);
  ASSERT_EQ(fired.size(), 2u);
  EXPECT_EQ(fired[0].id, b);
  EXPECT_EQ(fired[1].id, b);
}

TEST_F(TimerListTest, ALateDispatchRunsTheTickOnceAndDoesNotCatchUp) {
  timers.Start(1, 20);
  now += 100;  // the host's loop was busy for five periods
  EXPECT_EQ(timers.Dispatch(), 20);
  EXPECT_EQ(fired.size(), 1u);
  Advance(19);
  EXPECT_EQ(fired.size(), 1u);
}

TEST_F(TimerListTest, DispatchReportsTheWaitUntilTheNextTimer) {
  EXPECT_EQ(timers.Dispatch(), -1);
  timers.Start(1, 20);
  timers.Start(1, 50);
  now += 5;
  EXPECT_EQ(timers.Dispatch(), 15);
}

TEST_F(TimerListTest, ATickMayStopItsOwnTimer) {
  // The cycle stops its timer from inside the tick, as Windows allows with KillTimer.
  TimerList* list = nullptr;
  int ticks = 0;
  struct Context {
    TimerList** list;
    int* ticks;
  } context{&list, &ticks};
  TimerList self(
      [](void* c, void* window, uintptr_t id) {
        auto* ctx = static_cast<Context*>(c);
        ++*ctx->ticks;
        (*ctx->list)->Stop(window, id);
      },
      &context, &Now);
  list = &self;
  self.Start(1, 20);
  now += 20;
  EXPECT_EQ(self.Dispatch(), -1);
  now += 40;
  self.Dispatch();
  EXPECT_EQ(ticks, 1);
}

TEST_F(TimerListTest, AFullListRefusesAnotherTimer) {
  for (int i = 0; i < TimerList::kMaxTimers; ++i) EXPECT_NE(timers.Start(1, 20), 0u);
  EXPECT_EQ(timers.Start(1, 20), 0u);
}

}  // namespace
}  // namespace torvexan
