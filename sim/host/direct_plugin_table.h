// The plug-in linked into the same program: the table points straight at its exported
// functions, for hosts that run the plug-in in-process (tests, debugging).
#pragma once

#include "sim/host/plugin_table.h"

namespace torvexan::sim {

PluginTable DirectPluginTable();

}  // namespace torvexan::sim
