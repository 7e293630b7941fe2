// What the check of a job before the run draws as it goes: the commanded path coloured by feed
// or tool, a mark on each hole a drilling cycle makes and where referencing and probing
// happen; and the feeds the axes cannot make, to warn of. Nothing of the path is kept but what
// the plot keeps.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "sim/gcode/gcode.h"
#include "sim/host/job_driver.h"
#include "tools/torvexan-sim/svg_plot.h"

namespace torvexan::sim {

class CheckPlot final : public CheckObserver {
 public:
  // The path starts at machine zero, as the check's does.
  CheckPlot(const HostControl& limits, PathPlot* plot);
  void Move(const PathSegment& s) override;
  void Action(const JobAction& a, const double* position) override;
  // Moves after the first `moves` are not drawn (nor warned of), and the marks of referencing
  // and probes, drawn already, are not drawn again.
  void DrawOnly(size_t moves) {
    drawLimit_ = moves;
    marking_ = false;
  }
  // A move drawn whatever the limit: one the host ran instead of what the check assumed.
  void Draw(const PathSegment& s);
  std::vector<std::string> Warnings() const { return feeds_.Texts(); }

 private:
  PathPlot* plot_;
  FeedWarningFold feeds_;
  double last_[kHostAxisCount] = {};
  bool holeMarked_ = false;  // the last hole's mark stands at last_'s X and Y
  size_t moves_ = 0;
  size_t drawLimit_ = std::numeric_limits<size_t>::max();
  bool marking_ = true;
};

}  // namespace torvexan::sim
