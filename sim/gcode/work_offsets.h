// The offsets between the program's coordinates and the machine's: the six coordinate
// systems G54 to G59 (set with G10 L2 and L20), the G92 offset (set from the position by G92
// or to the value written by G52; G92.2 suspends it and G92.3 brings it back) and the tool length
// along Z (G43, G44, G49). machine = program + system + G92 + tool length.
#pragma once

#include "state/host_records.h"

namespace torvexan::sim {

inline constexpr int kCoordinateSystemCount = 6;
inline constexpr int kToolLengthAxis = 2;  // Z

class WorkOffsets {
 public:
  double Offset(int axis) const {
    return system_[active_ - 1][axis] + (g92Applied_ ? g92_[axis] : 0.0) +
           (axis == kToolLengthAxis ? toolLength_ : 0.0);
  }
  int active() const { return active_; }
  const double* system(int number) const { return system_[number - 1]; }
  const double* g92() const { return g92_; }
  bool g92Applied() const { return g92Applied_; }
  double toolLength() const { return toolLength_; }

  void Select(int number) { active_ = number; }
  // G10 L2: system (0: the active one) gets the offset value on axis.
  void SetSystem(int number, int axis, double value) { system_[Which(number)][axis] = value; }
  // G10 L20: the machine at machinePosition stands at programValue in that system.
  void SetSystemHere(int number, int axis, double programValue, double machinePosition) {
    system_[Which(number)][axis] =
        machinePosition - programValue - Offset(axis) + system_[active_ - 1][axis];
  }
  // G92: the machine at machinePosition stands at programValue.
  void SetG92(int axis, double programValue, double machinePosition) {
    if (!g92Applied_) {
      for (double& v : g92_) v = 0.0;
      g92Applied_ = true;
    }
    g92_[axis] = machinePosition - programValue - (Offset(axis) - g92_[axis]);
  }
  // G52: the G92 offset on axis becomes value, whatever the machine's position.
  void SetLocal(int axis, double value) {
    if (!g92Applied_) {
      for (double& v : g92_) v = 0.0;
      g92Applied_ = true;
    }
    g92_[axis] = value;
  }
  // The G92 offset itself, as a machine starts with it.
  void SetG92Offset(int axis, double value) {
    g92_[axis] = value;
    g92Applied_ = true;
  }
  void ClearG92() {
    for (double& v : g92_) v = 0.0;
    g92Applied_ = true;
  }
  void SuspendG92() { g92Applied_ = false; }
  void RestoreG92() { g92Applied_ = true; }
  void SetToolLength(double mm) { toolLength_ = mm; }

 private:
  int Which(int number) const { return (number == 0 ? active_ : number) - 1; }

  int active_ = 1;
  double system_[kCoordinateSystemCount][kHostAxisCount] = {};
  double g92_[kHostAxisCount] = {};
  bool g92Applied_ = true;
  double toolLength_ = 0.0;
};

}  // namespace torvexan::sim
