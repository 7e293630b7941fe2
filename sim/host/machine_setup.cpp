#include "sim/host/machine_setup.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace torvexan::sim {
namespace {

constexpr double kMaxStepsPerSlice = 32767.0;
constexpr int kCardChannels =
    5;  // host axes X to B ride on card channels 0 to 4  // a row carries signed 16-bit step counts

constexpr uint8_t kCardInputPort = 3;  // the host's port number of the card's inputs
constexpr int kHomeSwitchInputs = 4;   // the host has home inputs for X, Y, Z and A

constexpr AxisSetup kLinearAxis{1000.0, 50.0, 500.0};
constexpr AxisSetup kZAxis{1000.0, 25.0, 250.0};
constexpr AxisSetup kRotaryAxis{100.0, 180.0, 720.0};

bool ParseNumber(const char** cursor, double* value) {
  char* end = nullptr;
  *value = std::strtod(*cursor, &end);
  if (end == *cursor) return false;
  *cursor = end;
  return true;
}

// A travel end in steps, as far as the host's 32-bit record reaches.
int32_t StepsWithin(double steps) {
  return static_cast<int32_t>(
      std::llround(std::clamp(steps, double{INT32_MIN}, double{INT32_MAX})));
}

}  // namespace

MachineSetup DefaultMachine() {
  MachineSetup m;
  const AxisSetup axes[kHostAxisCount] = {kLinearAxis, kLinearAxis, kZAxis,
                                          kRotaryAxis, kRotaryAxis, kRotaryAxis};
  std::copy(axes, axes + kHostAxisCount, m.axes);
  m.home[0] = HomeSwitch{true, -30.0, true};
  m.home[1] = HomeSwitch{true, -30.0, true};
  m.home[2] = HomeSwitch{true, 10.0, false};
  // X and Y end at their switches and run 300 mm; Z runs 120 mm, up to 20 mm above its
  // switch (a machine whose Z is referenced with the tool out of the spindle).
  m.travel[0] = AxisTravel{-30.0, 270.0};
  m.travel[1] = AxisTravel{-30.0, 270.0};
  m.travel[2] = AxisTravel{-90.0, 30.0};
  return m;
}

std::string CardMachineLayout(const MachineSetup& setup) {
  std::string layout;
  auto add = [&layout](const char* kind, int axis, double steps, bool below) {
    if (!layout.empty()) layout += ',';
    layout += std::string(kind) + ":" + std::to_string(axis) + ":" +
              std::to_string(std::llround(steps)) + (below ? ":below" : ":above");
  };
  for (int a = 0; a < kCardChannels; ++a) {
    const HomeSwitch& h = setup.home[a];
    if (h.present) add("home", a, h.at * setup.axes[a].stepsPerUnit, h.negative);
  }
  if (setup.probe) {
    add("probe", 2, setup.probeSurfaceZ * setup.axes[2].stepsPerUnit, true);
    for (int a = 0; a < 2; ++a) {
      if (setup.probeSlope[a] == 0.0) continue;
      char tilt[64];
      std::snprintf(tilt, sizeof tilt, ",tilt:%d:%.9g", a,
                    setup.probeSlope[a] * setup.axes[2].stepsPerUnit / setup.axes[a].stepsPerUnit);
      layout += tilt;
    }
  }
  return layout;
}

void WriteMachineSetup(const MachineSetup& setup, HostMachine& machine, HostControl& control) {
  for (int a = 0; a < kHostAxisCount; ++a) {
    machine.Axes[a].Enabled = 1;
    control.StepsPerUnit[a] = setup.axes[a].stepsPerUnit;
    control.MaxVelocity[a] = setup.axes[a].maxVelocity;
    control.Acceleration[a] = setup.axes[a].acceleration;
    control.HomeSpeedPercent[a] = setup.homeSpeedPercent;
    control.HomeNegative[a] = setup.home[a].negative ? 1 : 0;
    const AxisTravel& t = setup.travel[a];
    if (t.Limited()) machine.SoftLimitsOn = 1;
    machine.SoftLimitMin[a] = StepsWithin(t.min * setup.axes[a].stepsPerUnit);
    machine.SoftLimitMax[a] = StepsWithin(t.max * setup.axes[a].stepsPerUnit);
    if (setup.home[a].present && a < kHomeSwitchInputs) {
      machine.InputSignals[HomeInput(a)] =
          InputSignal{1, static_cast<uint8_t>(kFirstHomePin + a), kCardInputPort, 0, 0};
    }
  }
  if (setup.probe) {
    machine.InputSignals[kProbeInput] =
        InputSignal{1, static_cast<uint8_t>(kProbePin), kCardInputPort, 0, 0};
  }
}

void ReferencedPositions(const MachineSetup& setup, double out[kHostAxisCount]) {
  for (int a = 0; a < kHostAxisCount; ++a) {
    out[a] = setup.home[a].negative ? kPullOff : -kPullOff;
  }
}

bool ParseAxisSetup(const std::string& text, MachineSetup* setup, std::string* error) {
  const int axis = text.size() > 1 && text[1] == ':' ? AxisIndex(text[0]) : -1;
  AxisSetup parsed{};
  const char* cursor = text.c_str() + 2;
  const bool ok = axis >= 0 && ParseNumber(&cursor, &parsed.stepsPerUnit) && *cursor++ == ':' &&
                  ParseNumber(&cursor, &parsed.maxVelocity) && *cursor++ == ':' &&
                  ParseNumber(&cursor, &parsed.acceleration) && *cursor == '\0';
  if (!ok) {
    *error = "axis setup '" + text + "' is not AXIS:STEPS_PER_UNIT:VELOCITY:ACCELERATION";
    return false;
  }
  setup->axes[axis] = parsed;
  return true;
}

bool ValidateMachine(const MachineSetup& setup, std::string* error) {
  for (int a = 0; a < kHostAxisCount; ++a) {
    const AxisSetup& s = setup.axes[a];
    const std::string name(1, kAxisLetters[a]);
    if (!(std::isfinite(s.stepsPerUnit) && s.stepsPerUnit > 0.0 && std::isfinite(s.maxVelocity) &&
          s.maxVelocity > 0.0 && std::isfinite(s.acceleration) && s.acceleration > 0.0)) {
      *error = "axis " + name + ": steps per unit, velocity and acceleration must be positive";
      return false;
    }
    if (s.maxVelocity * s.stepsPerUnit * kSliceSeconds > kMaxStepsPerSlice) {
      *error = "axis " + name + ": at full speed one 5 ms slice exceeds 32767 steps";
      return false;
    }
  }
  return true;
}

}  // namespace torvexan::sim
