// The host's axes as G-code names them, and the host's move-queue slice that the planner
// fills.
#pragma once

#include "state/host_records.h"

namespace torvexan::sim {

inline constexpr double kSliceSeconds = 0.005;  // one move-queue entry
inline constexpr const char kAxisLetters[kHostAxisCount + 1] = "XYZABC";

// Index of an axis letter (either case) in X Y Z A B C, -1 for any other letter.
constexpr int AxisIndex(char letter) {
  const char upper =
      letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 'a' + 'A') : letter;
  for (int a = 0; a < kHostAxisCount; ++a) {
    if (kAxisLetters[a] == upper) return a;
  }
  return -1;
}

}  // namespace torvexan::sim
