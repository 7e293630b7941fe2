// Cutter radius compensation (G41 left of the path, G42 right) for straight moves in the XY
// plane: the tool runs a radius away from the programmed path. The entry move ends a radius
// to the side of its programmed end, square to its own direction; at an outside corner the
// tool goes round the programmed corner on an arc, at an inside corner the two offset lines
// meet, which shortens the move before it. That is why each move is held back until the
// next one is known.
#pragma once

#include <string>
#include <vector>

#include "sim/host/path_segment.h"

namespace torvexan::sim {

class RadiusComp {
 public:
  // A programmed straight move from `from` to seg.target (machine units) with the tool on
  // the left (or right) at radius. Moves that are ready go to out. False with the reason
  // when the tool cannot cut it.
  bool Line(const PathSegment& seg, const double from[kHostAxisCount], bool left, double radius,
            double chordTolerance, std::vector<PathSegment>* out, std::string* why);
  // The move held back goes out as it is (compensation ends, or something else comes).
  void Flush(std::vector<PathSegment>* out);
  bool started() const { return started_; }
  void Reset() { started_ = false; }

 private:
  bool CutShort(const double d[2], const double n[2], double cross, double radius, double length,
                std::string* why);
  void Corner(const PathSegment& seg, const double n[2], bool clockwise, double chordTolerance,
              std::vector<PathSegment>* out) const;

  bool started_ = false;
  bool held_ = false;
  PathSegment move_;       // the move held back
  double start_[2] = {};   // where the held move starts (tool, X Y)
  double dir_[2] = {};     // the programmed direction of the held move
  double corner_[2] = {};  // the programmed end of the held move
  double normal_[2] = {};  // from the programmed path to the tool along the held move
};

}  // namespace torvexan::sim
