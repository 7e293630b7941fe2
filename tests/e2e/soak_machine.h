// The simulated mill's switches as the soak exercise needs them: X, Y and Z reference on
// their switches, and the work's top lies below Z's switch.
#pragma once

#include <cmath>
#include <cstdint>

#include "sim/host/machine_setup.h"
#include "tests/e2e/link_exercise.h"

namespace torvexan::e2e {

inline SoakMachine SoakSwitches(const sim::MachineSetup& setup, bool probeLatched) {
  constexpr int kZ = 2;
  SoakMachine m;
  m.homedAxes = 3;
  m.probeDepthSteps = static_cast<int32_t>(
      std::lround((setup.home[kZ].at - setup.probeSurfaceZ) * setup.axes[kZ].stepsPerUnit));
  m.pullOffUnits = sim::kPullOff;
  m.probeLatched = probeLatched;
  return m;
}

}  // namespace torvexan::e2e
