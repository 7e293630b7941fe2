#include "sim/host/host_records_owner.h"

#include <cstring>

namespace torvexan::sim {
namespace {

constexpr double kJogRatePercentDefault = 50.0;

void AddMenu(MenuBarModel& bar, const char* title, MenuBarModel* submenu) {
  MenuBarModel::Item& item = bar.items[bar.count++];
  item = MenuBarModel::Item{};
  std::strncpy(item.text, title, sizeof item.text - 1);
  item.submenu = submenu;
}

}  // namespace

HostRecordsOwner::HostRecordsOwner(const MachineSetup& setup)
    : machine_(std::make_unique<HostMachine>()),
      control_(std::make_unique<HostControl>()),
      doubles_(std::make_unique<HostDoubles>()),
      frame_(std::make_unique<HostFrame>()),
      menus_(std::make_unique<Menus>()) {
  AddMenu(menus_->bar, "File", &menus_->fileMenu);
  AddMenu(menus_->bar, "PlugIn Control", &menus_->pluginMenu);
  frame_->MainWindow = &menus_->bar;
  frame_->FullSpeedJog = &fullSpeedJog_;

  for (int a = 0; a < kHostAxisCount; ++a) {
    machine_->Axes[a].Enabled = 1;
    control_->StepsPerUnit[a] = setup.axes[a].stepsPerUnit;
    control_->MaxVelocity[a] = setup.axes[a].maxVelocity;
    control_->Acceleration[a] = setup.axes[a].acceleration;
  }
  // Nothing moves until the plug-in says otherwise.
  control_->MotionIdle = 1;
  doubles_->Values[kJogRatePercent] = kJogRatePercentDefault;
}

}  // namespace torvexan::sim
