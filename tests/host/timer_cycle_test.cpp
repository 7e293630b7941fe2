// The 20 ms cycle that the host's Update calls keep alive.
#include <gtest/gtest.h>

#include "support/fake_platform.h"
#include "support/host_world.h"

namespace torvexan::testing {
namespace {

class TimerCycle : public ::testing::Test {
 protected:
  void SetUp() override { StartPlugin(plugin, world); }

  // Fires the running cycle timer once, as the host's message loop would.
  void Tick() {
    ASSERT_FALSE(fake.timer.running.empty());
    plugin.OnTimer(nullptr, fake.timer.running.front());
  }
  bool TimerAlive() const { return !fake.timer.running.empty(); }

  FakePlatform fake;
  HostWorld world;
  Plugin plugin{fake.platform()};
  PluginState& s = plugin.state();
};

TEST_F(TimerCycle, UpdateStartsOneTimerThatKeepsRunning) {
  plugin.Update();
  plugin.Update();  // a second Update before the first tick must not start another timer
  EXPECT_EQ(fake.timer.starts, 1);
  Tick();
  EXPECT_TRUE(TimerAlive());
  EXPECT_EQ(s.cycle.TickCount, 1u);
  plugin.Update();
  EXPECT_EQ(fake.timer.starts, 1);
}

TEST_F(TimerCycle, TwentyTicksWorkAfterTheLastUpdateAndTheTwentyFirstStopsTheTimer) {
  plugin.Update();
  Tick();  // consumes the Update
  const uint32_t before = s.cycle.TickCount;
  for (int i = 0; i < 20; ++i) Tick();
  EXPECT_EQ(s.cycle.TickCount, before + 20);
  EXPECT_TRUE(TimerAlive());
  Tick();
  EXPECT_FALSE(TimerAlive());
  EXPECT_EQ(s.cycle.timerId, 0u);
  EXPECT_EQ(s.cycle.TickCount, before + 20);

  // The next Update starts a new timer whose first tick resets the count and works.
  plugin.Update();
  EXPECT_EQ(fake.timer.starts, 2);
  Tick();
  EXPECT_EQ(s.cycle.IdleTicks, 0);
  EXPECT_EQ(s.cycle.TickCount, before + 21);
}

TEST_F(TimerCycle, UpdateEveryHundredMillisecondsKeepsTheTimerAlive) {
  int highest = 0;
  for (int i = 0; i < 500; ++i) {
    if (i % 5 == 0) plugin.Update();  // 100 ms at a 20 ms tick
    Tick();
    highest = std::max(highest, s.cycle.IdleTicks);
  }
  EXPECT_TRUE(TimerAlive());
  EXPECT_EQ(fake.timer.starts, 1);
  EXPECT_LE(highest, 5);
  EXPECT_EQ(s.cycle.TickCount, 500u);
}

TEST_F(TimerCycle, AReenteredTickOnlyKeepsTheBooks) {
  plugin.Update();
  Tick();
  s.session->headerFlags = 0x1234;
  world.machine->LimitOverride = 1;
  s.cycle.InTick = true;  // as if the host ran its message loop inside a tick
  const uint32_t count = s.cycle.TickCount;
  const int idle = s.cycle.IdleTicks;
  Tick();
  EXPECT_EQ(s.cycle.IdleTicks, idle + 1);
  EXPECT_EQ(s.cycle.TickCount, count);
  EXPECT_EQ(s.session->headerFlags, 0x1234u);
  s.cycle.InTick = false;
  Tick();
  EXPECT_EQ(s.cycle.TickCount, count + 1);
  EXPECT_EQ(s.session->headerFlags, 0x40u);
}

TEST_F(TimerCycle, EachTickRewritesTheHeaderFlagsFromLimitOverride) {
  plugin.Update();
  s.session->headerFlags = 0x02;
  Tick();
  EXPECT_EQ(s.session->headerFlags, 0u);
  world.machine->LimitOverride = 1;
  Tick();
  EXPECT_EQ(s.session->headerFlags, 0x40u);
}

TEST_F(TimerCycle, RequestsWaitWhileTheLinkIsDown) {
  plugin.Update();
  s.requests.RequestFlags = kRequestHalt;
  for (int i = 0; i < 5; ++i) Tick();
  EXPECT_EQ(s.requests.RequestFlags, kRequestHalt);
  EXPECT_EQ(s.session->txLength, 0);
}

}  // namespace
}  // namespace torvexan::testing
