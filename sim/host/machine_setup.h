// The simulated machine's axes: what the host's configuration would hold for each of them.
#pragma once

#include <string>

#include "sim/gcode/gcode.h"
#include "state/host_records.h"

namespace torvexan::sim {

inline constexpr double kUnlimitedTravel = 1e9;

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

// The range the host lets an axis move in, machine coordinates (its soft limits).
struct AxisTravel {
  double min = -kUnlimitedTravel;
  double max = kUnlimitedTravel;
  bool Limited() const { return min > -kUnlimitedTravel || max < kUnlimitedTravel; }
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
  AxisTravel travel[kHostAxisCount];
  bool probe = true;
  double probeSurfaceZ = -12.5;  // the workpiece's top, units from where Z stood at power-up
  // A tilted workpiece: how much its top rises per unit of X and of Y, with X and Y counted
  // from where they stood at power-up (probeSurfaceZ is its height there).
  double probeSlope[2] = {};
  double spindleMaxRpm = 0.0;  // the spindle's full speed; 0: the plug-in's own setting
};

// A small mill: X, Y, Z in millimetres, A, B, C in degrees. X and Y reference on switches
// 30 mm below where they stand at power-up, Z on one 10 mm above; the probe touches the
// work 12.5 mm below Z's power-up position. The travel: X and Y from their switches up to
// 270, Z from -90 up to 30 (A, B and C turn without end).
MachineSetup DefaultMachine();

// The machine's switches and probe surface for a virtual card (card/machine_layout.h), card
// channel c carrying host axis c.
std::string CardMachineLayout(const MachineSetup& setup);

// Writes the machine into the host's records as its configuration would: every axis enabled
// with its steps, velocity and acceleration, the referencing speeds and directions, and the
// home switches and the probe wired to the card's inputs, and the travel as soft limits.
void WriteMachineSetup(const MachineSetup& setup, HostMachine& machine, HostControl& control);

// Where each axis stands after referencing: the pull-off away from its switch, from the
// switch's position, which the plug-in makes the axis's zero.
void ReferencedPositions(const MachineSetup& setup, double out[kHostAxisCount]);

// Reads "X:1000:50:500" (axis, steps per unit, velocity, acceleration) into the setup.
bool ParseAxisSetup(const std::string& text, MachineSetup* setup, std::string* error);

// Checks that every axis can move and that its fastest slice fits the card's 16-bit row value.
bool ValidateMachine(const MachineSetup& setup, std::string* error);

}  // namespace torvexan::sim
