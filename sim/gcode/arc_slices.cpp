#include "sim/gcode/arc_slices.h"

namespace torvexan::sim {

void AppendArcSlices(const Arc& arc, int first, int second, const double from[kHostAxisCount],
                     const PathSegment& end, double chordTolerance, std::vector<PathSegment>* out) {
  const int slices = SliceCount(arc, chordTolerance);
  for (int i = 1; i < slices; ++i) {
    const double f = static_cast<double>(i) / slices;
    PathSegment s = end;
    for (int a = 0; a < kHostAxisCount; ++a) s.target[a] = from[a] + (end.target[a] - from[a]) * f;
    PointOnArc(arc, f, &s.target[first], &s.target[second]);
    s.midArc = true;
    s.exactStop = false;
    out->push_back(s);
  }
  out->push_back(end);
  out->back().midArc = false;
}

}  // namespace torvexan::sim
