// An SVG picture of a job in the XY plane: the path the host commanded and the path the card
// reported.
#pragma once

#include <string>
#include <vector>

namespace torvexan::sim {

struct PlotPoint {
  double x;
  double y;
};

struct PathPlot {
  std::string title;
  std::vector<PlotPoint> commanded;
  std::vector<PlotPoint> reported;
};

std::string RenderSvg(const PathPlot& plot);
bool WriteSvg(const std::string& path, const PathPlot& plot, std::string* error);

}  // namespace torvexan::sim
