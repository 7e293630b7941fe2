// The simulated machine's axes: what the host's configuration would hold for each of them.
#pragma once

#include <string>

#include "sim/gcode/gcode.h"
#include "state/host_records.h"

namespace torvexan::sim {

struct AxisSetup {
  double stepsPerUnit;
  double maxVelocity;   // units per second
  double acceleration;  // units per second squared
};

// A home switch of the machine: where it trips (units from where the axis stood at power-up)
// and on which side; referencing runs towards it.
struct HomeSwitch {
  bool present = false;
  double at = 0.0;
  bool negative = true;  // active at and below `at`; referencing runs in the negative direction
};

inline constexpr int kFirstHomePin = 1;  // card input pin of X's home switch; Y, Z, A follow
inline constexpr int kProbePin = 5;      // card input pin of the probe
inline constexpr double kPullOff = 5.0;  // the plug-in's default pull-off after referencing, units
inline constexpr int kComPort = 1;       // the host's COM port: the machine's Modbus accessory
inline constexpr int kComBaud = 19200;

struct MachineSetup {
  AxisSetup axes[kHostAxisCount];
  HomeSwitch home[kHostAxisCount];
  int homeSpeedPercent = 20;  // of the axis's velocity
  bool probe = true;
  double probeSurfaceZ = -12.5;  // the workpiece's top, units from where Z stood at power-up
};

// A small mill: X, Y, Z in millimetres, A, B, C in degrees. X and Y reference on switches
// 30 mm below where they stand at power-up, Z on one 10 mm above; the probe touches the
// work 12.5 mm below Z's power-up position.
MachineSetup DefaultMachine();

// The machine's switches and probe surface for a virtual card (card/machine_layout.h), card
// channel c carrying host axis c.
std::string CardMachineLayout(const MachineSetup& setup);

// Writes the machine into the host's records as its configuration would: every axis enabled
// with its steps, velocity and acceleration, the referencing speeds and directions, and the
// home switches and the probe wired to the card's inputs.
void WriteMachineSetup(const MachineSetup& setup, HostMachine& machine, HostControl& control);

// Where each axis stands after referencing: the pull-off away from its switch, from the
// switch's position, which the plug-in makes the axis's zero.
void ReferencedPositions(const MachineSetup& setup, double out[kHostAxisCount]);

// Reads "X:1000:50:500" (axis, steps per unit, velocity, acceleration) into the setup.
bool ParseAxisSetup(const std::string& text, MachineSetup* setup, std::string* error);

// Checks that every axis can move and that its fastest slice fits the card's 16-bit row value.
bool ValidateMachine(const MachineSetup& setup, std::string* error);

}  // namespace torvexan::sim
