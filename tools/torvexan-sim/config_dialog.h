// Opens the plug-in's configuration dialog from the simulated host, as the CNC host does from
// its menu, while the host keeps calling Update so that the link comes up behind the dialog.
#pragma once

#include <string>

#include "sim/host/virtual_host.h"

namespace torvexan::sim {

// False, reason in *error, on a system where the plug-in has no dialog to show.
bool ConfigDialogAvailable(std::string* error);

// Runs the dialog until the user closes it; returns the plug-in's Config result.
int OpenConfigDialog(VirtualHost& host);

}  // namespace torvexan::sim
