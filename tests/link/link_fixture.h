// A plug-in state with a card session over the scripted network and, when asked, the scripted
// USB card; the test advances ticks itself.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "fake_net.h"
#include "fake_usb.h"
#include "host/timer_cycle.h"
#include "link/card_session.h"
#include "link/link_machine.h"
#include "link/packets.h"
#include "state/plugin_state.h"
#include "support/fake_platform.h"
#include "support/host_world.h"

namespace torvexan::testing {

class LinkFixture : public ::testing::Test {
 protected:
  static constexpr uint32_t kFirstLocal = 0x0100000A;   // 10.0.0.1
  static constexpr uint32_t kSecondLocal = 0x0A01A8C0;  // 192.168.1.10

  FakePlatform fake;
  ScriptedNet net;
  FakeEthCard card;
  std::unique_ptr<FakeUsbCard> usb;
  HostWorld world;
  std::unique_ptr<PluginState> state;
  CardSession* session = nullptr;

  // withUsb: a USB library is installed (the device itself is FakeUsbCard::present).
  void Start(bool withUsb) {
    if (withUsb) usb = std::make_unique<FakeUsbCard>();
    Platform p = fake.platform();
    p.net = &net;
    p.usb = withUsb ? static_cast<UsbLoader*>(usb.get()) : &fake.noUsb;
    state = std::make_unique<PluginState>(p);
    state->host.machine = world.machine.get();
    state->host.doubles = world.doubles.get();
    state->host.control = world.control.get();
    state->host.frame = world.frame.get();
    state->host.CodeCallback = &HostCallbacks::Code;
    state->session = std::make_unique<CardSession>();
    StartCardSession(*state->session, p);
    session = state->session.get();
    net.addresses = {kFirstLocal, kSecondLocal};
    card.reachableFrom = kSecondLocal;
    net.peers.push_back(&card);
  }

  void TearDown() override {
    if (session != nullptr) StopCardSession(*session);
  }

  // One tick as the timer cycle runs it for the link.
  int Tick() {
    ++state->cycle.TickCount;
    fake.clock.nowMs += 20;
    return RunLinkStep(*state);
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) Tick();
  }

  // Ticks until the link is up; false when it does not come within the limit.
  bool TickUntilOnline(int limit = 100) {
    for (int i = 0; i < limit && !session->online; ++i) Tick();
    return session->online != 0;
  }

  // A status poll left pending the way the motion modes leave one.
  void QueueStatusPoll() {
    ASSERT_EQ(session->txLength, 0);
    session->txLength = BuildStatusPoll(*session);
  }

  size_t CommandSends() const {
    size_t n = 0;
    for (const SentPacket& p : net.sent) n += p.toAddress == card.address ? 1 : 0;
    return n;
  }
};

}  // namespace torvexan::testing
