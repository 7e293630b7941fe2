// Canned drilling and boring cycles (G73, G81 to G89) as the straight moves, dwells and
// spindle events they stand for: the move to each hole's position, down to R, the cycle's own
// way to the bottom and back, and the retract to R (G99) or to the height before the cycle
// (G98). The third axis of the plane is the drilling axis; up is its positive direction.
// Cycles that stop the spindle in the hole (G84, G86, G87, G88) start it again as it ran
// before the cycle.
#pragma once

#include <vector>

#include "sim/gcode/job_file.h"
#include "sim/gcode/work_offsets.h"

namespace torvexan::sim {

struct CycleStep {
  enum class Kind {
    kRapid,
    kFeed,
    kDwell,
    kSpindle,  // stop, or start in a direction
    kOrient,   // G87: the spindle stops at its set angle, so the bar's cutter faces away
    kPause,    // G88: the operator takes over at the bottom
  };
  Kind kind = Kind::kRapid;
  double target[kHostAxisCount] = {};        // machine units; where the tool stands for the others
  double seconds = 0.0;                      // kDwell
  SpindleTurn spindle = SpindleTurn::kNone;  // kSpindle
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

// The steps of the cycle block b, starting with the machine at position and the spindle
// turning as turning says (M3 or M4).
void ExpandCycle(const Block& b, const double position[kHostAxisCount], const WorkOffsets& offsets,
                 SpindleTurn turning, CycleHeights* last, std::vector<CycleStep>* steps);

// Whether the cycle stops and restarts the spindle, and so needs it turning.
bool CycleTurnsSpindle(int code);

}  // namespace torvexan::sim
