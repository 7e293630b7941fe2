// The machine file (torvexan-sim --machine FILE): the user's own machine in TOML, every key
// optional, whatever is left out as on the built-in machine. examples/machine.toml documents
// each key. A bad file is refused whole, with its file, line and key.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/gcode/gcode.h"
#include "sim/host/machine_setup.h"
#include "tools/torvexan-sim/sim_options.h"

namespace torvexan::sim {

struct MachineFile {
  std::string path;
  MachineSetup machine = DefaultMachine();
  std::optional<CardChoice> card;
  std::string init;       // the initialization string: modes in force before the job's line 1
  WorkOffsets offsets;    // G54 .. G59 and G92 at start
  bool hasTools = false;  // a [[tool]] table was given (it may be empty)
  std::vector<ToolEntry> tools;
};

// Reads text as the machine file named path; false with "path:line: key: reason" in *error.
bool ParseMachineFile(std::string_view text, const std::string& path, MachineFile* file,
                      std::string* error);
bool LoadMachineFile(const std::string& path, MachineFile* file, std::string* error);

}  // namespace torvexan::sim
