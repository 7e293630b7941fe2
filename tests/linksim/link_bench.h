// The plug-in in front of virtual cards under one virtual clock, with its socket calls
// written down: a test lays out the network and the USB bus, starts the plug-in and runs
// 20 ms ticks. Unlike the machine fixture the world starts empty, so a test can put any
// number of local addresses and cards where it needs them.
#pragma once

#include <gtest/gtest.h>

#include "harness/sim_world.h"
#include "linksim/wire_tap.h"
#include "support/cycle_driver.h"

namespace torvexan::testing {

inline constexpr uint32_t kTimeoutTicks = 10;  // a wait is over after more than this
inline constexpr int kSendsBeforeLoss = 10;

class LinkBench {
 public:
  LinkBench() {
    tap_.WatchTicks(&plugin_.state().cycle.TickCount);
    for (int a = 0; a < kAxisRecordCount; ++a) host_.machine->Axes[a].Enabled = 1;
    for (int a = 0; a < kHostAxisCount; ++a) host_.control->StepsPerUnit[a] = 1000.0;
  }

  sim::SimWorld& world() { return world_; }
  WireTap& tap() { return tap_; }
  HostWorld& host() { return host_; }
  Plugin& plugin() { return plugin_; }
  PluginState& state() { return plugin_.state(); }
  CardSession& session() { return *plugin_.state().session; }
  bool online() { return session().online != 0; }
  uint32_t tick() { return plugin_.state().cycle.TickCount; }

  // The host's start-up order; the cards and addresses should be in place by now.
  void Start() { StartPlugin(plugin_, host_); }

  // One tick of the plug-in's cycle, with the host's Update every 100 ms, then 20 ms pass.
  void Tick() { driver_.Tick(); }
  void RunTicks(int n) { driver_.RunTicks(n); }
  template <typename Done>
  bool RunUntil(Done done, int maxTicks) {
    return driver_.RunUntil(done, maxTicks);
  }

  // Waits for the link, then does what an operator does with a card that powered up halted:
  // clear the emergency stop and press reset, until the card is ready.
  void ConnectAndReset(const sim::VirtualCard& card) {
    const char* failure = driver_.ConnectAndReset(host_, card);
    ASSERT_EQ(failure, nullptr) << failure;
  }

 private:
  sim::SimWorld world_;
  FakePlatform fake_;
  WireTap tap_{world_.net};
  HostWorld host_;
  Plugin plugin_{torvexan::Platform{&tap_, &fake_.timer, &fake_.menu, &fake_.messageBox,
                                    &world_.timeline, &world_.usbLoader, nullptr, nullptr}};
  CycleDriver driver_{plugin_, fake_.timer, world_};
};

// A Lorn5 on the one local address, connected and ready.
class ConnectedLorn5 : public ::testing::Test {
 protected:
  void SetUp() override {
    bench.world().net.AddLocalAddress("10.0.0.1");
    card = &bench.world().net.AddCard(sim::CardModel::kLorn5, "10.0.0.50");
    bench.Start();
    bench.ConnectAndReset(card->card);
  }
  LinkBench bench;
  sim::NetCard* card = nullptr;
};

}  // namespace torvexan::testing
