// Cutter radius compensation (G41 left of the path, G42 right) for lines and arcs in one
// plane: the tool runs a radius away from the programmed path. The entry move ends a radius
// to the side of its programmed end, square to its own direction (an arc as the entry gets an
// arc of its own from where the tool stands to there); at an outside
// corner the tool goes round the programmed corner on an arc, at an inside corner the two
// offset paths meet, which shortens the move before it. That is why each move is held back
// until the next one is known.
#pragma once

#include <string>
#include <vector>

#include "sim/gcode/comp_geometry.h"
#include "sim/gcode/path_segment.h"

namespace torvexan::sim {

struct CompSetup {
  bool left = true;
  double radius = 0.0;  // mm
  double chordTolerance = 0.0;
  int first = 0, second = 1;  // the plane's axes
};

// A programmed arc: its centre in the plane, its turn and sweep (radians, magnitude).
struct CompArc {
  double centre[2] = {};
  bool clockwise = false;
  double sweep = 0.0;
};

class RadiusComp {
 public:
  // A programmed move from `from` to seg.target (machine units), straight or along arc.
  // Moves that are ready go to out. False with the reason when the tool cannot cut it.
  bool Move(const PathSegment& seg, const double from[kHostAxisCount], const CompArc* arc,
            const CompSetup& setup, std::vector<PathSegment>* out, std::string* why);
  // The move held back goes out as it is (compensation ends, or something else comes).
  void Flush(std::vector<PathSegment>* out);
  bool started() const { return started_; }
  void Reset() {
    started_ = false;
    across_.clear();
  }

 private:
  bool EntryArc(const double start[2], const double end[2], const CompArc& arc, CompPath* next,
                std::string* why);
  bool Join(const PathSegment& seg, const CompPath& next, std::vector<PathSegment>* out,
            std::string* why);
  void SendHeld(std::vector<PathSegment>* out) const;
  bool CutShort(const CompPath& next, std::string* why);
  void Corner(const PathSegment& seg, const CompPath& next, std::vector<PathSegment>* out);
  void AlongZ(const PathSegment& seg, const double from[kHostAxisCount],
              std::vector<PathSegment>* out);

  CompSetup setup_;
  bool started_ = false;
  bool held_ = false;
  PathSegment move_;                   // the move held back; its target is the tool's end
  double start_[kHostAxisCount] = {};  // where the held move starts (tool)
  double tool_[kHostAxisCount] = {};   // where the tool is after the moves given so far
  CompPath path_;                      // the held (or last) move as programmed
  std::vector<PathSegment> across_;    // moves across the plane waiting behind the held one
};

}  // namespace torvexan::sim
