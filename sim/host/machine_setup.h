// The simulated machine's axes: what the host's configuration would hold for each of them.
#pragma once

#include <string>

#include "state/host_records.h"

namespace torvexan::sim {

inline constexpr double kSliceSeconds = 0.005;  // one move-queue entry
inline constexpr const char kAxisLetters[kHostAxisCount + 1] = "XYZABC";

struct AxisSetup {
  double stepsPerUnit;
  double maxVelocity;   // units per second
  double acceleration;  // units per second squared
};

struct MachineSetup {
  AxisSetup axes[kHostAxisCount];
};

// A small mill: X, Y, Z in millimetres, A, B, C in degrees.
MachineSetup DefaultMachine();

// Reads "X:1000:50:500" (axis, steps per unit, velocity, acceleration) into the setup.
bool ParseAxisSetup(const std::string& text, MachineSetup* setup, std::string* error);

// Checks that every axis can move and that its fastest slice fits the card's 16-bit row value.
bool ValidateMachine(const MachineSetup& setup, std::string* error);

// Index of an axis letter (either case) in X Y Z A B C, -1 for any other letter.
int AxisIndex(char letter);

}  // namespace torvexan::sim
