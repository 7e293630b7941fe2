#include "sim/host/host_records_owner.h"

#include "sim/host/coolant_outputs.h"

namespace torvexan::sim {
namespace {

constexpr double kJogRatePercentDefault = 50.0;

}  // namespace

HostRecordsOwner::HostRecordsOwner(const MachineSetup& setup)
    : machine_(std::make_unique<HostMachine>()),
      control_(std::make_unique<HostControl>()),
      doubles_(std::make_unique<HostDoubles>()),
      frame_(std::make_unique<HostFrame>()) {
  frame_->MainWindow = window_.handle();
  frame_->FullSpeedJog = &fullSpeedJog_;

  WriteMachineSetup(setup, *machine_, *control_);
  WireCoolant(*machine_);
  control_->ComPort = kComPort;
  control_->ComBaud = kComBaud;
  // Nothing moves until the plug-in says otherwise.
  control_->MotionIdle = 1;
  doubles_->Values[kJogRatePercent] = kJogRatePercentDefault;
}

}  // namespace torvexan::sim
