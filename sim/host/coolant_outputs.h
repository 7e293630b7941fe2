// The machine's coolant: flood (M8) and mist (M7) are two of the host's output signals, wired
// to the card's outputs 1 and 2 (port 3), as a machine builder sets them in the host's ports
// and pins. The plug-in sends the output signals to the card with every packet.
#pragma once

#include "state/host_records.h"

namespace torvexan::sim {

inline constexpr int kFloodSignal = 0;  // index in HostMachine::OutputSignals
inline constexpr int kMistSignal = 1;
inline constexpr int kCoolantPort = 3;  // the card's own port
inline constexpr int kFloodOutput = 1;  // card output numbers, bit 0 and bit 1 of its outputs
inline constexpr int kMistOutput = 2;

inline void WireCoolant(HostMachine& m) {
  m.OutputSignals[kFloodSignal] = OutputSignal{1, kFloodOutput, kCoolantPort, 0, 0};
  m.OutputSignals[kMistSignal] = OutputSignal{1, kMistOutput, kCoolantPort, 0, 0};
}

inline void SetCoolant(HostMachine& m, bool flood, bool mist) {
  m.OutputSignals[kFloodSignal].Active = flood ? 1 : 0;
  m.OutputSignals[kMistSignal].Active = mist ? 1 : 0;
}

}  // namespace torvexan::sim
