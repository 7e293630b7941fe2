// Everything of a run on the card's side of the link that depends on the system: the virtual
// cards (torvexan-card, the substitute libusb) and the private network are Linux programs and
// features, so on Windows only a card that already runs (--card external) is reached.
#pragma once

#include <string>

#include "tools/torvexan-sim/card_process.h"
#include "tools/torvexan-sim/sim_options.h"

namespace torvexan::sim {

// Readies this process for the card the options name, before anything else runs (and before
// any thread starts): pell5 needs the substitute libusb on the loader's path from the start,
// so the program starts once more with it there (this returns only when that fails); then the
// process enters its private network when the options ask for one. False, reason in *error,
// when the card cannot run on this system, the restart fails or the network cannot be made.
bool ReadyForCard(const SimOptions& options, char** argv, std::string* error);

// What a virtual card in another process is told: the machine around it (switches, probe
// surface) and the files it writes its trace and, for the libusb substitute, its statistics to.
struct CardSideFiles {
  std::string machineLayout;
  std::string tracePath;
  std::string statsPath;
};

// Starts torvexan-card for lorn4 and lorn5, given cardSeconds to live; readies the libusb
// substitute for pell5. False, reason in *error, when any of it fails.
bool StartCardSide(const SimOptions& options, double cardSeconds, const CardSideFiles& files,
                   CardProcess* card, std::string* error);

}  // namespace torvexan::sim
