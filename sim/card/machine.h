// The machine around the virtual card: switches that trip at given step positions of the
// machine (counted from where the axes stood at the first power-up, whatever positions the
// card is loaded with later), a probe surface, the emergency-stop button and the handwheel. A test
// scripts it; the card reads it through its input pins.
#pragma once

#include <cmath>
#include <cstdint>

namespace torvexan::sim {

inline constexpr int kMaxAxes = 5;

// A switch that is active on one side of a step position.
struct PositionSwitch {
  bool present = false;
  int32_t atSteps = 0;
  bool activeBelow = true;  // active while the axis stands at or below atSteps, else at or above

  bool ActiveAt(int32_t position) const {
    if (!present) return false;
    return activeBelow ? position <= atSteps : position >= atSteps;
  }
};

struct AxisSwitches {
  PositionSwitch home;
  PositionSwitch limit1;  // wired to the axis's first limit input
  PositionSwitch limit2;  // wired to the axis's second limit input
};

struct Machine {
  AxisSwitches axes[kMaxAxes];
  int probeAxis = 2;            // the probe touches the surface along this card axis
  PositionSwitch probeSurface;  // where the surface stands with every other axis at step 0
  // A tilted surface (the warped board an auto-levelling job probes): how many steps along the
  // probe axis it rises per step of each other axis.
  double probeTilt[kMaxAxes] = {};
  bool estop = false;
  bool auxInput = false;
  int handwheelAxis = -1;  // card axis the handwheel selector points at; -1 = off
  bool handwheelX10 = false;
  bool handwheelX100 = false;
  int32_t handwheelCounts = 0;  // turned since the card last looked

  void SetHome(int axis, int32_t atSteps, bool activeBelow = true) {
    axes[axis].home = PositionSwitch{true, atSteps, activeBelow};
  }
  void SetLimits(int axis, int32_t lowSteps, int32_t highSteps) {
    axes[axis].limit1 = PositionSwitch{true, lowSteps, true};
    axes[axis].limit2 = PositionSwitch{true, highSteps, false};
  }
  void SetProbeSurface(int axis, int32_t atSteps, bool activeBelow = true) {
    probeAxis = axis;
    probeSurface = PositionSwitch{true, atSteps, activeBelow};
  }
  // The surface's step on the probe axis with the machine's axes standing at physical.
  int32_t ProbeSurfaceAt(const int32_t physical[kMaxAxes]) const {
    double rise = 0.0;
    for (int a = 0; a < kMaxAxes; ++a) {
      if (a != probeAxis) rise += probeTilt[a] * physical[a];
    }
    return probeSurface.atSteps + static_cast<int32_t>(std::lround(rise));
  }
  bool ProbeTouches(const int32_t physical[kMaxAxes]) const {
    if (!probeSurface.present || probeAxis < 0 || probeAxis >= kMaxAxes) return false;
    PositionSwitch here = probeSurface;
    here.atSteps = ProbeSurfaceAt(physical);
    return here.ActiveAt(physical[probeAxis]);
  }
  void TurnHandwheel(int32_t counts) { handwheelCounts += counts; }
  int32_t TakeHandwheelCounts() {
    const int32_t c = handwheelCounts;
    handwheelCounts = 0;
    return c;
  }
};

}  // namespace torvexan::sim
