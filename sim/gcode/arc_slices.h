// An arc cut into the straight moves the planner takes.
#pragma once

#include <vector>

#include "sim/gcode/arc_geometry.h"
#include "sim/gcode/path_segment.h"

namespace torvexan::sim {

// Slices of arc (in the plane of axes first and second) from `from` to end.target, each no
// farther than chordTolerance from the arc; the axes off the plane (a helix's third axis,
// rotary axes) run evenly along it. The slices take end's line, feed and modes; the last
// ends exactly on end.target.
void AppendArcSlices(const Arc& arc, int first, int second, const double from[kHostAxisCount],
                     const PathSegment& end, double chordTolerance, std::vector<PathSegment>* out);

}  // namespace torvexan::sim
