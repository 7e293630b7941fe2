// The command line of torvexan-sim.
#pragma once

#include <string>
#include <vector>

#include "sim/host/machine_setup.h"

namespace torvexan::sim {

enum class CardChoice { kLorn4, kLorn5, kPell5, kExternal };

struct SimOptions {
  std::string jobPath;
  std::string pluginPath;  // empty: look next to the program, then in the build tree
  CardChoice card = CardChoice::kLorn5;
  std::string cardProgram;  // empty: look next to the program, then in the build tree
  std::vector<std::string> cardArgs;
  std::string usbLibDir;     // pell5: directory of the substitute libusb-1.0.so.0
  std::string settingsPath;  // empty: a fresh temporary settings file
  std::string svgPath;
  std::string toolsPath;  // tool table, lengths and diameters in mm; empty: all tools 0
  MachineSetup machine = DefaultMachine();
  unsigned startupMs = 1000;
  unsigned stallSeconds = 10;
  double chordTolerance = 0.001;  // mm: arcs are cut into slices no farther from the arc
  bool fast = false;              // virtual time, everything in this process
  bool privateNetwork = true;
  bool progress = true;
  bool configDialog = false;  // open the plug-in's configuration dialog before the job
  bool help = false;
};

// false (message in *error) on a bad command line.
bool ParseSimOptions(int argc, char** argv, SimOptions* options, std::string* error);
const char* CardName(CardChoice card);
std::string SimUsage();

}  // namespace torvexan::sim
