// One straight move of a job as the planner takes it.
#pragma once

#include "state/host_records.h"

namespace torvexan::sim {

// One straight move; targets in machine units (mm, degrees).
struct PathSegment {
  int line = 0;
  bool rapid = false;
  bool exactStop = false;       // come to rest at its end (G61)
  double blendTolerance = 0.0;  // G64 P: mm the path may leave the corner by; 0 for none
  int tool = 0;                 // the tool in the spindle
  bool midArc = false;          // a slice of an arc before its last
  bool cycle = false;           // a move of a drilling cycle
  double feedPerMinute = 0.0;
  double target[kHostAxisCount] = {};
};

}  // namespace torvexan::sim
