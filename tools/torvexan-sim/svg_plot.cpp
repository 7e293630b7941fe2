#include "tools/torvexan-sim/svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

namespace torvexan::sim {
namespace {

constexpr double kWidth = 900.0;  // pixels
constexpr double kLeft = 70.0;    // room for the vertical axis's numbers and name
constexpr double kRight = 110.0;  // room for the legends
constexpr double kPathHeight = 460.0;
constexpr double kTimeHeight = 170.0;
constexpr double kGap = 70.0;  // between plots: the time axis's numbers and name
constexpr double kTop = 40.0;
constexpr int kTicks = 6;  // about this many numbered ticks per axis
constexpr const char* kFont = "font-family=\"sans-serif\"";
constexpr const char* kAxisColours[] = {"#1f77b4", "#ff7f0e", "#2ca02c",
                                        "#d62728", "#9467bd", "#8c564b"};

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

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", std::fabs(v) < 1e-12 ? 0.0 : v);
  return text;
}

// A tick spacing of 1, 2 or 5 times a power of ten giving about kTicks ticks over span.
double NiceStep(double span) {
  const double raw = span / kTicks;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0}) {
    if (raw <= m * power) return m * power;
  }
  return 10.0 * power;
}

// A box on the page and the value ranges drawn into it.
struct Frame {
  double left, top, width, height;
  double x0, x1, y0, y1;
  double X(double x) const { return left + (x - x0) / (x1 - x0) * width; }
  double Y(double y) const { return top + height - (y - y0) / (y1 - y0) * height; }
};

void Widen(double* lo, double* hi) {
  if (*hi - *lo < 1e-9) {
    *lo -= 1.0;
    *hi += 1.0;
  }
}

// The frame's border, numbered grid lines and the names of both axes.
void Axes(std::ostringstream& out, const Frame& f, const std::string& xName,
          const std::string& yName) {
  out << "<rect x=\"" << f.left << "\" y=\"" << f.top << "\" width=\"" << f.width << "\" height=\""
      << f.height << "\" fill=\"none\" stroke=\"#444\"/>\n";
  const double xs = NiceStep(f.x1 - f.x0);
  for (double x = std::ceil(f.x0 / xs) * xs; x <= f.x1 + 1e-9; x += xs) {
    out << "<line x1=\"" << f.X(x) << "\" y1=\"" << f.top << "\" x2=\"" << f.X(x) << "\" y2=\""
        << f.top + f.height << "\" stroke=\"#ddd\"/>\n"
        << "<text x=\"" << f.X(x) << "\" y=\"" << f.top + f.height + 15
        << "\" text-anchor=\"middle\" font-size=\"11\" " << kFont << ">" << Number(x)
        << "</text>\n";
  }
  const double ys = NiceStep(f.y1 - f.y0);
  for (double y = std::ceil(f.y0 / ys) * ys; y <= f.y1 + 1e-9; y += ys) {
    out << "<line x1=\"" << f.left << "\" y1=\"" << f.Y(y) << "\" x2=\"" << f.left + f.width
        << "\" y2=\"" << f.Y(y) << "\" stroke=\"#ddd\"/>\n"
        << "<text x=\"" << f.left - 5 << "\" y=\"" << f.Y(y) + 4
        << "\" text-anchor=\"end\" font-size=\"11\" " << kFont << ">" << Number(y) << "</text>\n";
  }
  out << "<text x=\"" << f.left + f.width / 2 << "\" y=\"" << f.top + f.height + 32
      << "\" text-anchor=\"middle\" font-size=\"12\" " << kFont << ">" << Escape(xName)
      << "</text>\n"
      << "<text transform=\"translate(" << f.left - 48 << "," << f.top + f.height / 2
      << ") rotate(-90)\" text-anchor=\"middle\" font-size=\"12\" " << kFont << ">" << Escape(yName)
      << "</text>\n";
}

void Polyline(std::ostringstream& out, const Frame& f, const std::vector<PlotPoint>& points,
              const std::string& style) {
  if (points.empty()) return;
  out << "<polyline fill=\"none\" " << style << " points=\"";
  char point[64];
  for (const PlotPoint& p : points) {
    std::snprintf(point, sizeof point, "%.2f,%.2f ", f.X(p.x), f.Y(p.y));
    out << point;
  }
  out << "\"/>\n";
}

// Slow feeds blue, fast ones red.
std::string FeedColour(double share) {
  const double s = std::clamp(share, 0.0, 1.0);
  char colour[16];
  std::snprintf(colour, sizeof colour, "#%02x%02x%02x", static_cast<int>(40 + 200 * s),
                static_cast<int>(90 + 60 * (1.0 - std::fabs(2.0 * s - 1.0))),
                static_cast<int>(220 - 190 * s));
  return colour;
}

std::string ToolColour(int tool) {
  static const char* const kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e",
                                         "#9467bd", "#8c564b", "#e377c2", "#17becf"};
  return kColours[static_cast<unsigned>(tool) % (sizeof kColours / sizeof kColours[0])];
}

// The feed scale; returns the rows it took.
int FeedLegend(std::ostringstream& out, double lx, double top, double maxFeed) {
  out << "<text x=\"" << lx << "\" y=\"" << top + 10 << "\" font-size=\"11\" " << kFont
      << ">feed (mm/min)</text>\n";
  constexpr int kSteps = 5;
  for (int i = 0; i <= kSteps; ++i) {
    const double share = 1.0 - static_cast<double>(i) / kSteps;
    const double y = top + 20 + i * 18;
    out << "<rect x=\"" << lx << "\" y=\"" << y << "\" width=\"14\" height=\"14\" fill=\""
        << FeedColour(share) << "\"/><text x=\"" << lx + 18 << "\" y=\"" << y + 11
        << "\" font-size=\"11\" " << kFont << ">" << Number(std::round(share * maxFeed))
        << "</text>\n";
  }
  return kSteps + 1;
}

int ToolLegend(std::ostringstream& out, double lx, double top, const std::set<int>& tools) {
  out << "<text x=\"" << lx << "\" y=\"" << top + 10 << "\" font-size=\"11\" " << kFont
      << ">feed moves by tool</text>\n";
  int row = 0;
  for (int t : tools) {
    const double y = top + 20 + row++ * 18;
    out << "<rect x=\"" << lx << "\" y=\"" << y << "\" width=\"14\" height=\"14\" fill=\""
        << ToolColour(t) << "\"/><text x=\"" << lx + 18 << "\" y=\"" << y + 11
        << "\" font-size=\"11\" " << kFont << ">T" << t << "</text>\n";
  }
  return row;
}

// A red cross where motion stopped, with what stopped it.
void StopMarks(std::ostringstream& out, const Frame& f, const std::vector<PlotMark>& marks) {
  constexpr double kArm = 6.0;  // pixels
  for (const PlotMark& m : marks) {
    const double x = f.X(m.x), y = f.Y(m.y);
    out << "<path d=\"M" << x - kArm << "," << y - kArm << " L" << x + kArm << "," << y + kArm
        << " M" << x - kArm << "," << y + kArm << " L" << x + kArm << "," << y - kArm
        << "\" stroke=\"red\" stroke-width=\"2.5\"/>\n"
        << "<text x=\"" << x + kArm + 3 << "\" y=\"" << y - kArm
        << "\" font-size=\"11\" fill=\"red\" " << kFont << ">" << Escape(m.text) << "</text>\n";
  }
}

void PathPart(std::ostringstream& out, const PathPlot& plot, double top) {
  double minX = 0.0, maxX = 0.0, minY = 0.0, maxY = 0.0;
  bool first = true;
  auto take = [&](double x, double y) {
    minX = first ? x : std::min(minX, x);
    maxX = first ? x : std::max(maxX, x);
    minY = first ? y : std::min(minY, y);
    maxY = first ? y : std::max(maxY, y);
    first = false;
  };
  for (const CommandedPoint& p : plot.commanded) take(p.x, p.y);
  for (const PlotPoint& p : plot.reported) take(p.x, p.y);
  for (const PlotMark& m : plot.stops) take(m.x, m.y);
  Widen(&minX, &maxX);
  Widen(&minY, &maxY);
  // One scale for both axes keeps circles round.
  const double boxWidth = kWidth - kLeft - kRight;
  const double scale = std::min(boxWidth / (maxX - minX), kPathHeight / (maxY - minY));
  const double midX = (minX + maxX) / 2, midY = (minY + maxY) / 2;
  const double halfX = boxWidth / scale / 2, halfY = kPathHeight / scale / 2;
  const Frame f{kLeft,        top,          boxWidth,     kPathHeight,
                midX - halfX, midX + halfX, midY - halfY, midY + halfY};
  Axes(out, f, "X (mm)", "Y (mm)");
  double maxFeed = 0.0;
  std::set<int> tools;
  for (const CommandedPoint& p : plot.commanded) {
    maxFeed = std::max(maxFeed, p.feed);
    if (p.feed > 0.0) tools.insert(p.tool);
  }
  // A job with several tools is coloured by tool, so that each tool's cut can be told apart.
  const bool byTool = tools.size() > 1;
  for (size_t i = 1; i < plot.commanded.size(); ++i) {
    const CommandedPoint& a = plot.commanded[i - 1];
    const CommandedPoint& b = plot.commanded[i];
    const bool rapid = b.feed <= 0.0;
    const std::string colour = rapid    ? std::string("#999")
                               : byTool ? ToolColour(b.tool)
                                        : FeedColour(maxFeed > 0 ? b.feed / maxFeed : 0.0);
    out << "<line x1=\"" << f.X(a.x) << "\" y1=\"" << f.Y(a.y) << "\" x2=\"" << f.X(b.x)
        << "\" y2=\"" << f.Y(b.y) << "\" stroke=\"" << colour << "\" stroke-width=\"3\""
        << (rapid ? " stroke-dasharray=\"4,3\"" : "") << "/>\n";
  }
  Polyline(out, f, plot.reported, "stroke=\"black\" stroke-width=\"0.8\"");
  StopMarks(out, f, plot.stops);
  // Legend: the feed scale or the tools, rapids, the card's path.
  const double lx = kLeft + boxWidth + 15;
  const int rows = byTool ? ToolLegend(out, lx, top, tools) : FeedLegend(out, lx, top, maxFeed);
  const double ry = top + 40 + rows * 18;
  out << "<line x1=\"" << lx << "\" y1=\"" << ry << "\" x2=\"" << lx + 14 << "\" y2=\"" << ry
      << "\" stroke=\"#999\" stroke-width=\"3\" stroke-dasharray=\"4,3\"/><text x=\"" << lx + 18
      << "\" y=\"" << ry + 4 << "\" font-size=\"11\" " << kFont << ">rapid</text>\n"
      << "<line x1=\"" << lx << "\" y1=\"" << ry + 18 << "\" x2=\"" << lx + 14 << "\" y2=\""
      << ry + 18 << "\" stroke=\"black\"/><text x=\"" << lx + 18 << "\" y=\"" << ry + 22
      << "\" font-size=\"11\" " << kFont << ">card</text>\n";
}

double EndSeconds(const PathPlot& plot) {
  double end = 0.0;
  if (!plot.bufferFill.empty()) end = plot.bufferFill.back().x;
  for (const TimeSeries& s : plot.velocities) {
    if (!s.points.empty()) end = std::max(end, s.points.back().x);
  }
  return end;
}

void FillPart(std::ostringstream& out, const PathPlot& plot, double top, double end) {
  const Frame f{kLeft,
                top,
                kWidth - kLeft - kRight,
                kTimeHeight,
                0.0,
                end,
                0.0,
                static_cast<double>(plot.bufferCapacity)};
  Axes(out, f, "time (s)", "card buffer (rows)");
  Polyline(out, f, plot.bufferFill, "stroke=\"#1f77b4\" stroke-width=\"1\"");
}

void VelocityPart(std::ostringstream& out, const PathPlot& plot, double top, double end) {
  double lo = 0.0, hi = 0.0;
  for (const TimeSeries& s : plot.velocities) {
    for (const PlotPoint& p : s.points) {
      lo = std::min(lo, p.y);
      hi = std::max(hi, p.y);
    }
  }
  Widen(&lo, &hi);
  const Frame f{kLeft, top, kWidth - kLeft - kRight, kTimeHeight, 0.0, end, lo, hi};
  Axes(out, f, "time (s)", "velocity (mm/s, deg/s)");
  for (size_t i = 0; i < plot.velocities.size(); ++i) {
    const char* colour = kAxisColours[i % std::size(kAxisColours)];
    Polyline(out, f, plot.velocities[i].points,
             std::string("stroke=\"") + colour + "\" stroke-width=\"1\"");
    out << "<text x=\"" << kWidth - kRight + 15 << "\" y=\"" << top + 14 + 16 * i
        << "\" font-size=\"12\" fill=\"" << colour << "\" " << kFont << ">"
        << Escape(plot.velocities[i].name) << "</text>\n";
  }
}

}  // namespace

std::string RenderSvg(const PathPlot& plot) {
  const bool timePlots = !plot.bufferFill.empty() || !plot.velocities.empty();
  const double height = kTop + kPathHeight + kGap + (timePlots ? 2 * (kTimeHeight + kGap) : 0.0);
  std::ostringstream out;
  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << kWidth << ' ' << height << "\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      << "<text x=\"10\" y=\"22\" font-size=\"15\" " << kFont << ">" << Escape(plot.title)
      << "</text>\n";
  PathPart(out, plot, kTop);
  if (timePlots) {
    const double end = std::max(EndSeconds(plot), 1e-3);
    const double fillTop = kTop + kPathHeight + kGap;
    FillPart(out, plot, fillTop, end);
    VelocityPart(out, plot, fillTop + kTimeHeight + kGap, end);
  }
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
