// A running plug-in with a card online, as the link leaves it after an exchange.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "link/card_session.h"
#include "support/fake_platform.h"
#include "support/host_world.h"

namespace torvexan::testing {

class SignalsFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    StartPlugin(plugin, world);
    Online(kCardLorn5);
  }

  CardSession& card() { return *s.session; }

  void Online(uint32_t cardType) {
    ApplyCardModel(*s.session, cardType);
    s.session->online = 1;
  }

  FakePlatform fake;
  HostWorld world;
  Plugin plugin{fake.platform()};
  PluginState& s = plugin.state();
  HostMachine& m = *world.machine;
  HostControl& hc = *world.control;
};

}  // namespace torvexan::testing
