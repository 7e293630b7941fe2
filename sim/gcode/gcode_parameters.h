// Numbered parameters (#1 .. #10399) of a G-code program. A parameter never set reads 0.
// Mach3 leaves its probe's trip point in #2000 to #2002 (X, Y, Z), and the same in
// #5061 to #5063 as other controls do; #5211 to #5386 hold the work offsets.
#pragma once

#include <bitset>
#include <utility>
#include <vector>

namespace torvexan::sim {

inline constexpr int kParameterCount = 10400;
inline constexpr int kProbeResultParameter = 2000;     // X; Y and Z follow
inline constexpr int kProbeResultParameterNgc = 5061;  // X; Y and Z follow
// The offsets as the controls keep them, in millimetres (degrees for A, B, C): the G92
// offset's X to C, the coordinate system in force (1 for G54 .. 6 for G59), and each
// system's X to C at 5221 + 20 (n - 1) for system n.
inline constexpr int kG92Parameter = 5211;
inline constexpr int kSystemInForceParameter = 5220;
inline constexpr int kFirstSystemParameter = 5221;
inline constexpr int kSystemParameterStride = 20;
inline constexpr int kLastOffsetParameter = 5386;  // the last of nine systems' nine axes

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
  void Set(int index, double value) {
    values_[static_cast<size_t>(index)] = value;
    if (index >= kG92Parameter && index <= kLastOffsetParameter)
      unknown_[static_cast<size_t>(index - kG92Parameter)] = false;
  }
  // An offset set where the machine stood (G92, G10 L20) is not known while reading.
  void SetUnknown(int index) {
    if (index >= kG92Parameter && index <= kLastOffsetParameter)
      unknown_[static_cast<size_t>(index - kG92Parameter)] = true;
  }
  bool Known(int index) const {
    return index < kG92Parameter || index > kLastOffsetParameter ||
           !unknown_[static_cast<size_t>(index - kG92Parameter)];
  }
  // Whether a probe result was read since the last call: a line that did depends on where
  // the probe really tripped.
  bool TakeProbeResultRead() { return std::exchange(probeResultRead_, false); }

 private:
  std::vector<double> values_;
  std::bitset<kLastOffsetParameter - kG92Parameter + 1> unknown_;
  mutable bool probeResultRead_ = false;
};

}  // namespace torvexan::sim
