#include "tools/torvexan-sim/config_dialog.h"

namespace torvexan::sim {

bool ConfigDialogAvailable(std::string* error) {
  *error = "--config-dialog needs Windows dialogs: run torvexan-sim.exe under Wine (see README.md)";
  return false;
}

int OpenConfigDialog(VirtualHost& host) {
  return host.Config();
}

}  // namespace torvexan::sim
