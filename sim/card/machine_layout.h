// The machine around a virtual card written as text, so that a card in another process (the
// card server, the libusb substitute) gets the same switches as one in this process:
// "home:0:-30000:below,home:2:10000:above,probe:2:-12500:below" puts card axis 0's home switch
// active at and below step -30000, axis 2's at and above 10000, and the probe surface of axis
// 2 at and below -12500 (steps of the machine, see machine.h). "tilt:0:0.002" tilts the probe
// surface: it rises 0.002 steps along the probe axis per step of card axis 0.
#pragma once

#include <string>

#include "card/machine.h"

namespace torvexan::sim {

// Applies every item of layout to machine; false, with the bad item in *error.
bool ApplyMachineLayout(const std::string& layout, Machine* machine, std::string* error);

}  // namespace torvexan::sim
