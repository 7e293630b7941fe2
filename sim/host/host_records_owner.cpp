#include "sim/host/host_records_owner.h"

namespace torvexan::sim {
namespace {

constexpr double kJogRatePercentDefault = 50.0;
constexpr uint8_t kCardInputPort = 3;  // the host's port number of the card's inputs

}  // namespace

HostRecordsOwner::HostRecordsOwner(const MachineSetup& setup)
    : machine_(std::make_unique<HostMachine>()),
      control_(std::make_unique<HostControl>()),
      doubles_(std::make_unique<HostDoubles>()),
      frame_(std::make_unique<HostFrame>()) {
  frame_->MainWindow = window_.handle();
  frame_->FullSpeedJog = &fullSpeedJog_;

  for (int a = 0; a < kHostAxisCount; ++a) {
    machine_->Axes[a].Enabled = 1;
    control_->StepsPerUnit[a] = setup.axes[a].stepsPerUnit;
    control_->MaxVelocity[a] = setup.axes[a].maxVelocity;
    control_->Acceleration[a] = setup.axes[a].acceleration;
  }
  // The home switches and the probe, wired to card inputs.
  for (int a = 0; a < kHostAxisCount; ++a) {
    control_->HomeSpeedPercent[a] = setup.homeSpeedPercent;
    control_->HomeNegative[a] = setup.home[a].negative ? 1 : 0;
    if (setup.home[a].present && a < 4) {
      machine_->InputSignals[HomeInput(a)] =
          InputSignal{1, static_cast<uint8_t>(kFirstHomePin + a), kCardInputPort, 0, 0};
    }
  }
  if (setup.probe) {
    machine_->InputSignals[kProbeInput] =
        InputSignal{1, static_cast<uint8_t>(kProbePin), kCardInputPort, 0, 0};
  }
  control_->ComPort = kComPort;
  control_->ComBaud = kComBaud;
  // Nothing moves until the plug-in says otherwise.
  control_->MotionIdle = 1;
  doubles_->Values[kJogRatePercent] = kJogRatePercentDefault;
}

}  // namespace torvexan::sim
