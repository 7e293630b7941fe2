// Canned drilling and boring cycles (G73, G81 to G89) as the straight moves and dwells they
// stand for: the move to each hole's position, down to R, the cycle's own way to the bottom
// and back, and the retract to R (G99) or to the height before the cycle (G98). The third
// axis of the plane is the drilling axis; up is its positive direction.
#pragma once

#include <vector>

#include "sim/host/job_file.h"
#include "sim/host/work_offsets.h"

namespace torvexan::sim {

struct CycleStep {
  enum class Kind { kRapid, kFeed, kDwell };
  Kind kind = Kind::kRapid;
  double target[kHostAxisCount] = {};  // machine units
  double seconds = 0.0;                // kDwell
};

// The R plane and bottom of the last cycle (machine units): a cycle line that does not write
// them again drills to the same heights, in incremental distance mode too.
struct CycleHeights {
  double r = 0.0;
  double bottom = 0.0;
  bool active = false;        // the block before was in a cycle too (no G80 or other motion since)
  double initialLevel = 0.0;  // the height where this run of cycles began: G98 returns there
  Plane plane = Plane::kXY;   // a change of plane begins a new run
};

// The steps of the cycle block b, starting with the machine at position.
void ExpandCycle(const Block& b, const double position[kHostAxisCount], const WorkOffsets& offsets,
                 CycleHeights* last, std::vector<CycleStep>* steps);

}  // namespace torvexan::sim
