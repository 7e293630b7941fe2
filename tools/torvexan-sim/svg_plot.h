// An SVG picture of a run: the XY path the host commanded, coloured by feed, with the path
// the card reported over it, then the card's buffer fill and each axis's velocity over time.
// Every plot has axes with units and a scale.
#pragma once

#include <string>
#include <vector>

#include "state/host_records.h"

namespace torvexan::sim {

struct PlotPoint {
  double x;
  double y;
};

// A commanded end point and the feed that reaches it (units per minute; 0 for a rapid).
struct CommandedPoint {
  double x;
  double y;
  double feed;
  int tool = 0;  // the tool in the spindle
};

// A place on the XY path with a word on it: where motion stopped, and why.
struct PlotMark {
  double x;
  double y;
  std::string text;
};

// One quantity over time.
struct TimeSeries {
  std::string name;               // "X"
  std::vector<PlotPoint> points;  // x: seconds, y: the value
};

struct PathPlot {
  std::string title;
  std::vector<CommandedPoint> commanded;
  std::vector<PlotPoint> reported;
  std::vector<PlotMark> stops;        // where an emergency stop or an abort stopped motion
  std::vector<PlotPoint> bufferFill;  // seconds, rows in the card's buffer
  int bufferCapacity = 199;
  std::vector<TimeSeries> velocities;  // units per second
};

std::string RenderSvg(const PathPlot& plot);
bool WriteSvg(const std::string& path, const PathPlot& plot, std::string* error);

}  // namespace torvexan::sim
