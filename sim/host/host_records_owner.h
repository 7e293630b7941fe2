// The simulated host's own records: the four records it hands to InitControl, and the menu
// bar of its main window with the "PlugIn Control" menu the plug-in adds its item to.
#pragma once

#include <memory>

#include "sim/host/host_main_window.h"
#include "sim/host/machine_setup.h"
#include "state/host_records.h"

namespace torvexan::sim {

class HostRecordsOwner {
 public:
  explicit HostRecordsOwner(const MachineSetup& setup);
  HostRecordsOwner(const HostRecordsOwner&) = delete;
  HostRecordsOwner& operator=(const HostRecordsOwner&) = delete;

  HostMachine& machine() { return *machine_; }
  HostControl& control() { return *control_; }
  HostDoubles& doubles() { return *doubles_; }
  HostFrame& frame() { return *frame_; }
  const HostMainWindow& mainWindow() const { return window_; }

 private:
  // The records are large (the move queue alone is 200 KB), so they live on the heap.
  std::unique_ptr<HostMachine> machine_;
  std::unique_ptr<HostControl> control_;
  std::unique_ptr<HostDoubles> doubles_;
  std::unique_ptr<HostFrame> frame_;
  HostMainWindow window_;
  HostBool fullSpeedJog_ = 0;
};

}  // namespace torvexan::sim
