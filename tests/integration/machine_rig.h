// A whole simulated machine under one virtual clock: host records, the plug-in, and virtual
// cards on a virtual network or USB bus. Minutes of machine time run in milliseconds. Free of
// any test framework, so the benchmarks and figure programs drive the same machine as the
// tests.
#pragma once

#include <ostream>

#include "harness/sim_world.h"
#include "support/cycle_driver.h"

namespace torvexan::testing {

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

  // One tick of the plug-in's cycle (20 ms unless set otherwise), with the host's Update every
  // fifth tick.
  void Tick() { driver_.Tick(); }
  void SetTickPeriodUs(uint32_t periodUs) { driver_.SetTickPeriodUs(periodUs); }
  // One firing of the plug-in's cycle timer alone: no Update, no time passing.
  void TimerTick() { driver_.TimerTick(); }
  void RunTicks(int n) { driver_.RunTicks(n); }
  template <typename Done>
  bool RunUntil(Done done, int maxTicks) {
    return driver_.RunUntil(done, maxTicks);
  }

  // Brings the link up and the card out of its power-up halt, as an operator would: wait for
  // the card, clear the emergency stop its halted state raised, press reset. Returns what
  // went wrong, or nullptr.
  const char* Connect() { return driver_.ConnectAndReset(host_, card()); }

  // What the host does when the operator presses reset after an emergency stop.
  bool ResetFromEmergencyStop() { return driver_.ResetFromEmergencyStop(host_, card()); }

 private:
  sim::SimWorld world_;
  FakePlatform fake_;
  sim::UsbCard* usbCard_ = nullptr;
  sim::NetCard* netCard_ = nullptr;
  HostWorld host_;
  Plugin plugin_{world_.Platform(&fake_.timer, &fake_.menu, &fake_.messageBox)};
  CycleDriver driver_{plugin_, fake_.timer, world_};
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
