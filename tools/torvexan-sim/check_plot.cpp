#include "tools/torvexan-sim/check_plot.h"

#include <algorithm>

#include "sim/host/machine_setup.h"

namespace torvexan::sim {

CheckPlot::CheckPlot(const HostControl& limits, PathPlot* plot) : plot_(plot), feeds_(limits) {
  plot_->commanded.JumpTo(0.0, 0.0);
}

void CheckPlot::Move(const PathSegment& s) {
  if (moves_++ < drawLimit_) Draw(s);
}

void CheckPlot::Draw(const PathSegment& s) {
  feeds_.Add(s);
  plot_->Command(s.target[0], s.target[1], s.rapid ? 0.0 : s.feedPerMinute, s.tool);
  const bool sameXY = s.target[0] == last_[0] && s.target[1] == last_[1];
  // A cycle's feed down into the work where the tool stands is a hole; pecks of one hole and
  // a second cycle on the same hole leave one mark.
  if (!s.rapid && sameXY && s.target[2] < last_[2] && s.cycle && !holeMarked_) {
    plot_->holes.push_back(PlotMark{s.target[0], s.target[1], std::string()});
    holeMarked_ = true;
  }
  if (!sameXY) holeMarked_ = false;
  std::copy(s.target, s.target + kHostAxisCount, last_);
}

void CheckPlot::Action(const JobAction& a, const double* position) {
  if (!marking_) return;
  if (a.kind == JobAction::Kind::kReference) {
    std::string axes;
    for (int i = 0; i < a.axisCount; ++i) axes += kAxisLetters[a.axisOrder[i]];
    const std::string words = axes + " (line " + std::to_string(a.line) + ")";
    std::vector<PlotMark>& marks = plot_->references;
    // Axes referenced one after the other where the tool stands share one mark and its words.
    if (!marks.empty() && marks.back().x == position[0] && marks.back().y == position[1]) {
      marks.back().text += ", " + words;
    } else {
      marks.push_back(PlotMark{position[0], position[1], std::string("referencing ") + words});
    }
  } else if (a.kind == JobAction::Kind::kProbe) {
    plot_->probes.push_back(PlotMark{a.move.target[0], a.move.target[1],
                                     std::string("probe, line ") + std::to_string(a.line)});
  }
}

}  // namespace torvexan::sim
