// A whole simulated machine under one virtual clock: host records, the plug-in, and virtual
// cards on a virtual network or USB bus. Minutes of machine time run in milliseconds. Free of
// any test framework, so the benchmarks and figure programs drive the same machine as the
// tests.
#pragma once

#include <ostream>

#include "harness/sim_world.h"
#include "support/fake_platform.h"
#include "support/host_world.h"

namespace torvexan::testing {

inline constexpr uint32_t kTickMs = 20;
inline constexpr int kHostUpdateEveryTicks = 5;  // the host's Update comes every 100 ms

class MachineRig {
 public:
  explicit MachineRig(sim::CardModel model) {
    if (model == sim::CardModel::kPell5) {
      usbCard_ = &world_.usb.AddCard();
    } else {
      world_.net.AddLocalAddress("10.0.0.1");
      netCard_ = &world_.net.AddCard(model, "10.0.0.50");
    }
    for (int a = 0; a < kAxisRecordCount; ++a) host_.machine->Axes[a].Enabled = 1;
    for (int a = 0; a < kHostAxisCount; ++a) host_.control->StepsPerUnit[a] = 1000.0;
    StartPlugin(plugin_, host_);
  }
  MachineRig(const MachineRig&) = delete;
  MachineRig& operator=(const MachineRig&) = delete;

  Plugin& plugin() { return plugin_; }
  PluginState& state() { return plugin_.state(); }
  HostWorld& host() { return host_; }
  sim::SimWorld& world() { return world_; }
  sim::VirtualCard& card() { return usbCard_ ? usbCard_->card : netCard_->card; }
  sim::NetCard* netCard() { return netCard_; }
  sim::UsbCard* usbCard() { return usbCard_; }

  // One 20 ms tick of the plug-in's cycle, with the host's Update every 100 ms.
  void Tick() {
    if (ticks_ % kHostUpdateEveryTicks == 0) plugin_.Update();
    ++ticks_;
    TimerTick();
    world_.Advance(kTickMs);
  }
  // One firing of the plug-in's cycle timer alone: no Update, no time passing.
  void TimerTick() {
    if (!fake_.timer.running.empty()) plugin_.OnTimer(nullptr, fake_.timer.running.front());
  }
  void RunTicks(int n) {
    for (int i = 0; i < n; ++i) Tick();
  }
  template <typename Done>
  bool RunUntil(Done done, int maxTicks) {
    for (int i = 0; i < maxTicks; ++i) {
      if (done()) return true;
      Tick();
    }
    return done();
  }

  // Brings the link up and the card out of its power-up halt, as an operator would: wait for
  // the card, clear the emergency stop its halted state raised, press reset. Returns what
  // went wrong, or nullptr.
  const char* Connect() {
    if (!RunUntil([&] { return state().session->online && state().session->cardType != 0; }, 500)) {
      return "the card never came online";
    }
    RunTicks(3);
    if (!ResetFromEmergencyStop()) return "the card never became ready";
    RunTicks(3);
    return host_.machine->EStop == 0 ? nullptr : "the emergency stop came back";
  }

  // What the host does when the operator presses reset after an emergency stop: clear EStop,
  // call Reset, and once the card is configured and ready take note of the ended sequence.
  bool ResetFromEmergencyStop() {
    host_.machine->EStop = 0;
    plugin_.Reset();
    if (!RunUntil([&] { return card().state() == 1 && state().RequestFlags == 0; }, 200)) {
      return false;
    }
    host_.machine->SequenceEnded = 0;
    return true;
  }

 private:
  sim::SimWorld world_;
  FakePlatform fake_;
  sim::UsbCard* usbCard_ = nullptr;
  sim::NetCard* netCard_ = nullptr;
  HostWorld host_;
  Plugin plugin_{world_.Platform(&fake_.timer, &fake_.menu, &fake_.messageBox)};
  uint64_t ticks_ = 0;
};

// One card model as a test or figure parameter, with the axes it drives.
struct CardCase {
  sim::CardModel model;
  int axes;
  const char* name;
  friend void PrintTo(const CardCase& c, std::ostream* os) { *os << c.name; }
};
inline constexpr CardCase kLorn4Case{sim::CardModel::kLorn4, 4, "Lorn4"};
inline constexpr CardCase kLorn5Case{sim::CardModel::kLorn5, 5, "Lorn5"};
inline constexpr CardCase kPell5Case{sim::CardModel::kPell5, 5, "Pell5"};

}  // namespace torvexan::testing
