// An SVG picture of a run: the XY path the host commanded, coloured by feed, with the path
// the card reported over it, then the card's buffer fill and each axis's velocity over time.
// Every plot has axes with units and a scale.
#pragma once

#include <string>
#include <vector>

#include "state/host_records.h"
#include "tools/torvexan-sim/plot_thinning.h"

namespace torvexan::sim {

// A place on the XY path with a word on it: where motion stopped and why, a drilled hole, a
// referencing or a probe.
struct PlotMark {
  double x;
  double y;
  std::string text;
};

// One quantity over time (seconds since the job started), and the limit it was given (0: none).
struct TimeSeries {
  std::string name;  // "X"
  SeriesThinner points;
  double limit = 0.0;
};

// How a commanded move is drawn: the feed that reaches its end (units per minute; 0 for a
// rapid) and the tool in the spindle.
struct CommandedStyle {
  double feed;
  int tool;
};

struct PathPlot {
  std::string title;
  PathThinner commanded;  // styles index commandedStyles
  std::vector<CommandedStyle> commandedStyles;
  PathThinner reported;         // where the card (or the host, without a card trace) stood
  std::vector<PlotMark> stops;  // where an emergency stop or an abort stopped motion
  std::vector<PlotMark> holes;  // one per hole a drilling cycle made
  std::vector<PlotMark> references;
  std::vector<PlotMark> probes;
  SeriesThinner bufferFill;  // rows in the card's buffer
  int bufferCapacity = 199;
  std::vector<TimeSeries> velocities;  // units per second
  double timeZero = 0.0;               // when the job started on the series' clock, seconds

  // The next commanded end point, and the feed (0: rapid) and tool that reach it.
  void Command(double x, double y, double feed, int tool = 0);

 private:
  size_t lastStyle_ = 0;
};

std::string RenderSvg(const PathPlot& plot);
bool WriteSvg(const std::string& path, const PathPlot& plot, std::string* error);

}  // namespace torvexan::sim
