// G51's scale factors: the program's coordinates along each axis are multiplied by the
// factor about the program's origin (zero of the work coordinates in force) before G68
// turns them; a negative factor mirrors. G50 ends it.
#pragma once

#include "state/host_records.h"

namespace torvexan::sim {

struct Scaling {
  bool on = false;
  double factor[kHostAxisCount] = {1.0, 1.0, 1.0, 1.0, 1.0, 1.0};

  void Apply(double p[kHostAxisCount]) const {
    if (!on) return;
    for (int a = 0; a < kHostAxisCount; ++a) p[a] *= factor[a];
  }
  // Factors are never 0 (G51 refuses it), so every scaled point has one program point.
  void Undo(double p[kHostAxisCount]) const {
    if (!on) return;
    for (int a = 0; a < kHostAxisCount; ++a) p[a] /= factor[a];
  }
  // Whether the plane of axes first, second is mirrored: arcs there turn the other way.
  bool Mirrors(int first, int second) const {
    return on && (factor[first] < 0.0) != (factor[second] < 0.0);
  }
};

}  // namespace torvexan::sim
