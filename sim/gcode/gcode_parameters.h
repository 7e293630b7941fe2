// Numbered parameters (#1 .. #10399) of a G-code program. A parameter never set reads 0.
// Mach3 leaves its probe's trip point in #2000 to #2002 (X, Y, Z), and the same in
// #5061 to #5063 as other controls do.
#pragma once

#include <utility>
#include <vector>

namespace torvexan::sim {

inline constexpr int kParameterCount = 10400;
inline constexpr int kProbeResultParameter = 2000;     // X; Y and Z follow
inline constexpr int kProbeResultParameterNgc = 5061;  // X; Y and Z follow

class Parameters {
 public:
  Parameters() : values_(kParameterCount, 0.0) {}
  static bool Valid(double index) {
    return index >= 1.0 && index < kParameterCount && index == static_cast<int>(index);
  }
  double Get(int index) const {
    if ((index >= kProbeResultParameter && index < kProbeResultParameter + 3) ||
        (index >= kProbeResultParameterNgc && index < kProbeResultParameterNgc + 3)) {
      probeResultRead_ = true;
    }
    return values_[static_cast<size_t>(index)];
  }
  void Set(int index, double value) { values_[static_cast<size_t>(index)] = value; }
  // Whether a probe result was read since the last call: a line that did depends on where
  // the probe really tripped.
  bool TakeProbeResultRead() { return std::exchange(probeResultRead_, false); }

 private:
  std::vector<double> values_;
  mutable bool probeResultRead_ = false;
};

}  // namespace torvexan::sim
