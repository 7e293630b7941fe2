// A plug-in state over fake host records and a card session, driven tick by tick: the test
// plays the link (which exchanges the pending packet) and the card (free slots, motion state).
#pragma once

#include <memory>

#include "link/card_session.h"
#include "motion/motion_machine.h"
#include "recording_packets.h"
#include "state/plugin_state.h"
#include "support/fake_platform.h"
#include "support/host_world.h"

namespace torvexan::testing {

struct MotionWorld {
  FakePlatform fake;
  HostWorld world;
  PluginState s{fake.platform()};
  HostMachine& machine = *world.machine;
  HostControl& control = *world.control;

  explicit MotionWorld(uint32_t cardType = kCardLorn5) {
    s.host.machine = world.machine.get();
    s.host.doubles = world.doubles.get();
    s.host.control = world.control.get();
    s.host.frame = world.frame.get();
    s.session = std::make_unique<CardSession>();
    ResetCardSession(*s.session);
    ApplyCardModel(*s.session, cardType);
    for (AxisProfile& p : s.session->axisJog) InitAxisProfile(p);
    session().online = 1;
    session().freeSlots = 199;
    Sent().Clear();
  }

  CardSession& session() { return *s.session; }

  void Tick() {
    const bool free = session().txLength == 0;
    MotionTick(s);
    if (free && session().txLength != 0) RecordBuiltPacket(session());
  }
  // The link exchanges whatever is pending.
  void Exchange() { session().txLength = 0; }
  void TickAndExchange(int ticks = 1) {
    for (int i = 0; i < ticks; ++i) {
      Tick();
      Exchange();
    }
  }

  // The host's planner appends one 5 ms slice.
  void Enqueue(int32_t tag, double x, double y = 0, double z = 0, double a = 0, double b = 0,
               double c = 0) {
    const int i = machine.MoveQueueWrite;
    machine.MoveQueue[i].MoveTag = tag;
    const double steps[kHostAxisCount] = {x, y, z, a, b, c};
    for (int h = 0; h < kHostAxisCount; ++h) control.MoveQueue[i].MoveSteps[h] = steps[h];
    machine.MoveQueueWrite = (i + 1) % kMoveQueueSize;
  }
  void EnqueueMany(int count) {
    for (int i = 0; i < count; ++i) Enqueue(i, 1.0);
  }
};

}  // namespace torvexan::testing
