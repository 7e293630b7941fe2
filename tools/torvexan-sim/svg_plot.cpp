#include "tools/torvexan-sim/svg_plot.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace torvexan::sim {
namespace {

constexpr double kWidth = 800.0;   // pixels
constexpr double kHeight = 600.0;  // pixels
constexpr double kMargin = 40.0;   // pixels around the drawing

struct Frame {
  double minX, minY, scale, offsetX, offsetY;
  double X(double x) const { return offsetX + (x - minX) * scale; }
  // SVG's y axis points down; the machine's points up.
  double Y(double y) const { return kHeight - (offsetY + (y - minY) * scale); }
};

Frame FitFrame(const PathPlot& plot) {
  double minX = 0.0, maxX = 0.0, minY = 0.0, maxY = 0.0;
  bool first = true;
  for (const auto* path : {&plot.commanded, &plot.reported}) {
    for (const PlotPoint& p : *path) {
      minX = first ? p.x : std::min(minX, p.x);
      maxX = first ? p.x : std::max(maxX, p.x);
      minY = first ? p.y : std::min(minY, p.y);
      maxY = first ? p.y : std::max(maxY, p.y);
      first = false;
    }
  }
  const double spanX = std::max(maxX - minX, 1e-9);
  const double spanY = std::max(maxY - minY, 1e-9);
  // One scale for both axes keeps circles round.
  const double scale = std::min((kWidth - 2 * kMargin) / spanX, (kHeight - 2 * kMargin) / spanY);
  return Frame{minX, minY, scale, (kWidth - spanX * scale) / 2, (kHeight - spanY * scale) / 2};
}

void Polyline(std::ostringstream& out, const Frame& f, const std::vector<PlotPoint>& path,
              const char* style) {
  if (path.empty()) return;
  out << "<polyline fill=\"none\" " << style << " points=\"";
  char point[64];
  for (const PlotPoint& p : path) {
    std::snprintf(point, sizeof point, "%.2f,%.2f ", f.X(p.x), f.Y(p.y));
    out << point;
  }
  out << "\"/>\n";
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '&') {
      out += "&amp;";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string RenderSvg(const PathPlot& plot) {
  const Frame frame = FitFrame(plot);
  std::ostringstream out;
  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << kHeight
      << "\" viewBox=\"0 0 " << kWidth << ' ' << kHeight << "\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      << "<text x=\"10\" y=\"20\" font-family=\"sans-serif\" font-size=\"14\">"
      << Escape(plot.title) << "</text>\n"
      << "<text x=\"10\" y=\"" << kHeight - 26 << "\" font-family=\"sans-serif\" font-size=\"12\""
      << " fill=\"#1f77b4\">commanded (" << plot.commanded.size() << " points)</text>\n"
      << "<text x=\"10\" y=\"" << kHeight - 10 << "\" font-family=\"sans-serif\" font-size=\"12\""
      << " fill=\"#d62728\">reported by the card (" << plot.reported.size() << " samples)</text>\n";
  Polyline(out, frame, plot.commanded,
           "stroke=\"#1f77b4\" stroke-width=\"4\" stroke-opacity=\"0.4\"");
  Polyline(out, frame, plot.reported, "stroke=\"#d62728\" stroke-width=\"1.2\"");
  out << "</svg>\n";
  return out.str();
}

bool WriteSvg(const std::string& path, const PathPlot& plot, std::string* error) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << RenderSvg(plot);
  file.close();
  if (!file) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace torvexan::sim
