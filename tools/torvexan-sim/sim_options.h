// The command line of torvexan-sim.
#pragma once

#include <string>
#include <vector>

#include "sim/host/machine_setup.h"
#include "tools/card_options.h"

namespace torvexan::sim {

enum class CardChoice { kLorn4, kLorn5, kPell5, kExternal };

struct SimOptions {
  std::string jobPath;
  std::string pluginPath;  // empty: look next to the program, then in the build tree
  CardChoice card = CardChoice::kLorn5;
  std::string cardProgram;  // empty: look next to the program, then in the build tree
  std::vector<std::string> cardArgs;
  tools::CardServerOptions cardFaults;  // the card arguments read with the card's own table
  std::string usbLibDir;                // pell5: directory of the substitute libusb-1.0.so.0
  std::string settingsPath;             // empty: a fresh temporary settings file
  std::string svgPath;
  std::string toolsPath;    // tool table, lengths and diameters in mm; empty: all tools 0
  std::string machinePath;  // the machine file; empty: the built-in machine
  std::string init;         // --init: the initialization string; empty: the machine's
  std::string logPath;      // the plug-in's console output; empty: plugin.log in the run folder
  std::string outDir;       // the run folder; empty: <job name>-run beside the job
  bool noFiles = false;     // keep nothing: no run folder, no log, no probe log
  MachineSetup machine = DefaultMachine();
  bool ignoreTravel = false;  // a move beyond an axis's travel is only a warning
  unsigned startupMs = 1000;
  unsigned stallSeconds = 10;
  double chordTolerance = 0.001;  // mm: arcs are cut into slices no farther from the arc
  bool fast = false;              // virtual time, everything in this process
  bool privateNetwork = true;
  bool progress = true;
  bool configDialog = false;     // open the plug-in's configuration dialog before the job
  bool resetAfterStop = false;   // the operator resets, references again and goes on
  double resetAtSeconds = -1.0;  // the operator presses RESET this far into the job; < 0 never
  bool allowEmpty = false;       // a job without a single action is no mistake
  bool verbose = false;          // the plug-in's console output on the console as well
  bool help = false;
  // As written, applied by SettleSimOptions over the machine file's.
  std::string cardText;
  std::vector<std::string> axisTexts;
};

// Exit statuses of torvexan-sim.
inline constexpr int kExitDisagree = 1;
inline constexpr int kExitFailed = 2;
inline constexpr int kExitBadJob = 3;
inline constexpr int kExitStopped = 4;
inline constexpr int kExitMotion = 5;  // the card ran dry or an axis went over its limits
inline constexpr int kExitUsage = 64;

struct MachineFile;

// false (message in *error) on a bad command line. ParseSimOptions reads the command line
// and settles it on the built-in machine; a program that reads the machine file it names
// does so between ReadSimOptions and SettleSimOptions, so that the command line wins.
bool ParseSimOptions(int argc, char** argv, SimOptions* options, std::string* error);
bool ReadSimOptions(int argc, char** argv, SimOptions* options, std::string* error);
bool SettleSimOptions(SimOptions* options, const MachineFile* file, std::string* error);
const char* CardName(CardChoice card);
std::string SimUsage();

}  // namespace torvexan::sim
