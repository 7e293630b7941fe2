#include "tools/torvexan-sim/svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

namespace torvexan::sim {
namespace {

constexpr double kWidth = 960.0;  // pixels
constexpr double kLeft = 70.0;    // room for the vertical axis's numbers and name
constexpr double kRight = 170.0;  // room for the legends, whole
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

constexpr double kCommandedWidth = 3.0;  // pixels: the feed's colour shows around the card's line
constexpr double kCardWidth = 0.7;
constexpr size_t kMostLabels = 12;  // marks of one kind with their words; more are marks only
constexpr double kLegendRow = 18.0;

// "x,y" in pixels, to a tenth of one.
std::string At(double x, double y) {
  char text[48];
  std::snprintf(text, sizeof text, "%.1f,%.1f", x, y);
  return text;
}

// A series over time as one line; x is seconds on the series' own clock, shifted by zero.
void SeriesLine(std::ostringstream& out, const Frame& f, const std::vector<PlotPoint>& points,
                double zero, const std::string& style) {
  if (points.empty()) return;
  out << "<polyline fill=\"none\" " << style << " points=\"";
  for (const PlotPoint& p : points) out << At(f.X(p.x - zero), f.Y(p.y)) << ' ';
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

void LegendText(std::ostringstream& out, double x, double y, const std::string& text) {
  out << "<text x=\"" << x << "\" y=\"" << y << "\" font-size=\"11\" " << kFont << ">"
      << Escape(text) << "</text>\n";
}

// The feed scale; returns the rows it took.
int FeedLegend(std::ostringstream& out, double lx, double top, double maxFeed) {
  LegendText(out, lx, top + 10, "feed (mm/min)");
  constexpr int kSteps = 5;
  for (int i = 0; i <= kSteps; ++i) {
    const double share = 1.0 - static_cast<double>(i) / kSteps;
    const double y = top + 20 + i * kLegendRow;
    out << "<rect x=\"" << lx << "\" y=\"" << y << "\" width=\"14\" height=\"14\" fill=\""
        << FeedColour(share) << "\"/>";
    LegendText(out, lx + 18, y + 11, Number(std::round(share * maxFeed)));
  }
  return kSteps + 2;
}

int ToolLegend(std::ostringstream& out, double lx, double top, const std::set<int>& tools) {
  LegendText(out, lx, top + 10, "feed moves by tool");
  int row = 0;
  for (int t : tools) {
    const double y = top + 20 + row++ * kLegendRow;
    out << "<rect x=\"" << lx << "\" y=\"" << y << "\" width=\"14\" height=\"14\" fill=\""
        << ToolColour(t) << "\"/>";
    // Appended, not concatenated: GCC 12's -Wrestrict misreads "T" + string at -O3.
    std::string label = "T";
    label += std::to_string(t);
    LegendText(out, lx + 18, y + 11, label);
  }
  return row + 1;
}

// The shapes of the marks, drawn at (x, y) in pixels.
void HoleShape(std::ostringstream& out, double x, double y) {
  out << "<circle class=\"hole\" cx=\"" << x << "\" cy=\"" << y
      << "\" r=\"3.5\" fill=\"white\" stroke=\"black\" stroke-width=\"1.2\"/>\n";
}
void ReferenceShape(std::ostringstream& out, double x, double y) {
  out << "<path class=\"reference\" d=\"M" << At(x, y - 6) << " L" << At(x + 5, y + 3) << " L"
      << At(x - 5, y + 3) << " Z\" fill=\"#2ca02c\" stroke=\"black\" stroke-width=\"0.8\"/>\n";
}
void ProbeShape(std::ostringstream& out, double x, double y) {
  out << "<path class=\"probe\" d=\"M" << At(x, y - 5) << " L" << At(x + 5, y) << " L"
      << At(x, y + 5) << " L" << At(x - 5, y) << " Z\" fill=\"#9467bd\" stroke=\"black\" "
      << "stroke-width=\"0.8\"/>\n";
}
void StopShape(std::ostringstream& out, double x, double y) {
  constexpr double kArm = 6.0;  // pixels
  out << "<path class=\"stop\" d=\"M" << At(x - kArm, y - kArm) << " L" << At(x + kArm, y + kArm)
      << " M" << At(x - kArm, y + kArm) << " L" << At(x + kArm, y - kArm)
      << "\" stroke=\"red\" stroke-width=\"2.5\"/>\n";
}

using Shape = void (*)(std::ostringstream&, double, double);

// Marks of one kind; the first few carry their words, more would hide the path.
void Marks(std::ostringstream& out, const Frame& f, const std::vector<PlotMark>& marks, Shape shape,
           const char* colour) {
  for (size_t i = 0; i < marks.size(); ++i) {
    const double x = f.X(marks[i].x), y = f.Y(marks[i].y);
    shape(out, x, y);
    if (i < kMostLabels && !marks[i].text.empty()) {
      out << "<text x=\"" << x + 8 << "\" y=\"" << y - 6 << "\" font-size=\"11\" fill=\"" << colour
          << "\" " << kFont << ">" << Escape(marks[i].text) << "</text>\n";
    }
  }
}

// One <path> per run of pieces drawn alike, so that the file grows with what is drawn.
void CommandedPath(std::ostringstream& out, const Frame& f, const PathPlot& plot, bool byTool,
                   double maxFeed) {
  const std::vector<PathPoint> points = plot.commanded.Points();
  std::string d;
  int style = -1;
  bool moved = false;
  auto flush = [&] {
    if (d.empty()) return;
    const CommandedStyle& s = plot.commandedStyles[static_cast<size_t>(style)];
    const bool rapid = s.feed <= 0.0;
    const std::string colour = rapid    ? std::string("#999")
                               : byTool ? ToolColour(s.tool)
                                        : FeedColour(maxFeed > 0 ? s.feed / maxFeed : 0.0);
    out << "<path class=\"commanded\" fill=\"none\" stroke=\"" << colour
        << "\" stroke-linejoin=\"round\" stroke-width=\"" << (rapid ? 1.2 : kCommandedWidth) << "\""
        << (rapid ? " stroke-dasharray=\"4,3\"" : "") << " d=\"" << d << "\"/>\n";
    d.clear();
  };
  for (size_t i = 1; i < points.size(); ++i) {
    const PathPoint& p = points[i];
    if (p.jump) {
      moved = false;
      continue;
    }
    if (p.style != style) {
      flush();
      style = p.style;
      moved = false;
    }
    if (!moved) {
      d += 'M';
      d += At(f.X(points[i - 1].x), f.Y(points[i - 1].y));
    }
    moved = true;
    d += " L";
    d += At(f.X(p.x), f.Y(p.y));
  }
  flush();
}

// The card's path as a thin dark line: on the commanded path it runs inside the feed's colour,
// and wherever it leaves that path it shows on its own.
void CardPath(std::ostringstream& out, const Frame& f, const PathThinner& reported) {
  const std::vector<PathPoint> points = reported.Points();
  if (points.size() < 2) return;
  out << "<path class=\"card\" fill=\"none\" stroke=\"#111\" stroke-opacity=\"0.85\" "
         "stroke-width=\""
      << kCardWidth << "\" d=\"";
  for (const PathPoint& p : points) out << (p.jump ? "M" : "L") << At(f.X(p.x), f.Y(p.y)) << ' ';
  out << "\"/>\n";
}

// Rapids, the card's line and the marks, below the feeds or tools.
void PathLegend(std::ostringstream& out, const PathPlot& plot, double lx, double y) {
  out << "<line x1=\"" << lx << "\" y1=\"" << y << "\" x2=\"" << lx + 14 << "\" y2=\"" << y
      << "\" stroke=\"#999\" stroke-width=\"1.2\" stroke-dasharray=\"4,3\"/>";
  LegendText(out, lx + 18, y + 4, "rapid");
  y += kLegendRow;
  out << "<line x1=\"" << lx << "\" y1=\"" << y << "\" x2=\"" << lx + 14 << "\" y2=\"" << y
      << "\" stroke=\"#111\" stroke-width=\"" << kCardWidth << "\"/>";
  LegendText(out, lx + 18, y + 4, "card's path");
  const struct {
    const std::vector<PlotMark>& marks;
    Shape shape;
    const char* name;
  } kinds[] = {{plot.holes, HoleShape, "drilled hole"},
               {plot.references, ReferenceShape, "referencing"},
               {plot.probes, ProbeShape, "probe"},
               {plot.stops, StopShape, "stop"}};
  for (const auto& k : kinds) {
    if (k.marks.empty()) continue;
    y += kLegendRow;
    k.shape(out, lx + 7, y);
    std::string name = k.name;
    name += " (";
    name += std::to_string(k.marks.size());
    name += ')';
    LegendText(out, lx + 18, y + 4, name);
  }
}

void PathPart(std::ostringstream& out, const PathPlot& plot, double top) {
  Extent e;
  for (const Extent& part : {plot.commanded.extent(), plot.reported.extent()}) {
    if (part.empty) continue;
    e.Take(part.minX, part.minY);
    e.Take(part.maxX, part.maxY);
  }
  for (const auto* marks : {&plot.stops, &plot.holes, &plot.references, &plot.probes}) {
    for (const PlotMark& m : *marks) e.Take(m.x, m.y);
  }
  if (e.empty) e.Take(0.0, 0.0);
  Widen(&e.minX, &e.maxX);
  Widen(&e.minY, &e.maxY);
  // One scale for both axes keeps circles round.
  const double boxWidth = kWidth - kLeft - kRight;
  const double scale = std::min(boxWidth / (e.maxX - e.minX), kPathHeight / (e.maxY - e.minY));
  const double midX = (e.minX + e.maxX) / 2, midY = (e.minY + e.maxY) / 2;
  const double halfX = boxWidth / scale / 2, halfY = kPathHeight / scale / 2;
  const Frame f{kLeft,        top,          boxWidth,     kPathHeight,
                midX - halfX, midX + halfX, midY - halfY, midY + halfY};
  Axes(out, f, "X (mm)", "Y (mm)");
  double maxFeed = 0.0;
  std::set<int> tools;
  for (const CommandedStyle& s : plot.commandedStyles) {
    maxFeed = std::max(maxFeed, s.feed);
    if (s.feed > 0.0) tools.insert(s.tool);
  }
  // A job with several tools is coloured by tool, so that each tool's cut can be told apart.
  const bool byTool = tools.size() > 1;
  CommandedPath(out, f, plot, byTool, maxFeed);
  CardPath(out, f, plot.reported);
  Marks(out, f, plot.holes, HoleShape, "black");
  Marks(out, f, plot.references, ReferenceShape, "#1a6e1a");
  Marks(out, f, plot.probes, ProbeShape, "#5b3d8a");
  Marks(out, f, plot.stops, StopShape, "red");
  const double lx = kLeft + boxWidth + 14;
  out << "<g class=\"legend\">\n";
  const int rows = byTool ? ToolLegend(out, lx, top, tools) : FeedLegend(out, lx, top, maxFeed);
  PathLegend(out, plot, lx, top + 20 + rows * kLegendRow);
  out << "</g>\n";
}

// When the time plots begin and end, seconds since the job started.
void TimeSpan(const PathPlot& plot, double* begin, double* end) {
  *begin = 0.0;
  *end = 0.0;
  const auto take = [&](const SeriesThinner& s) {
    if (s.empty()) return;
    const std::vector<PlotPoint> points = s.Points();
    *begin = std::min(*begin, points.front().x - plot.timeZero);
    *end = std::max(*end, s.lastTime() - plot.timeZero);
  };
  take(plot.bufferFill);
  for (const TimeSeries& s : plot.velocities) take(s.points);
  if (*end - *begin < 1e-3) *end = *begin + 1e-3;
}

void FillPart(std::ostringstream& out, const PathPlot& plot, double top, double begin, double end) {
  const Frame f{kLeft,
                top,
                kWidth - kLeft - kRight,
                kTimeHeight,
                begin,
                end,
                0.0,
                static_cast<double>(plot.bufferCapacity)};
  Axes(out, f, "time since the job started (s)", "card buffer (rows)");
  SeriesLine(out, f, plot.bufferFill.Points(), plot.timeZero,
             "stroke=\"#1f77b4\" stroke-width=\"1\"");
}

// Scaled to what the axes did, whatever their limits; a limit inside that range is drawn.
void VelocityPart(std::ostringstream& out, const PathPlot& plot, double top, double begin,
                  double end) {
  double lo = 0.0, hi = 0.0;
  for (const TimeSeries& s : plot.velocities) {
    if (s.points.empty()) continue;
    lo = std::min(lo, s.points.minValue());
    hi = std::max(hi, s.points.maxValue());
  }
  Widen(&lo, &hi);
  const double margin = 0.05 * (hi - lo);
  lo -= margin;
  hi += margin;
  const Frame f{kLeft, top, kWidth - kLeft - kRight, kTimeHeight, begin, end, lo, hi};
  Axes(out, f, "time since the job started (s)", "velocity (mm/s, deg/s)");
  for (size_t i = 0; i < plot.velocities.size(); ++i) {
    const TimeSeries& s = plot.velocities[i];
    const char* colour = kAxisColours[i % std::size(kAxisColours)];
    SeriesLine(out, f, s.points.Points(), plot.timeZero,
               std::string("stroke=\"") + colour + "\" stroke-width=\"1\"");
    for (double limit : {s.limit, -s.limit}) {
      if (s.limit <= 0.0 || limit < lo || limit > hi) continue;
      out << "<line class=\"limit\" x1=\"" << f.left << "\" y1=\"" << f.Y(limit) << "\" x2=\""
          << f.left + f.width << "\" y2=\"" << f.Y(limit) << "\" stroke=\"" << colour
          << "\" stroke-width=\"0.8\" stroke-dasharray=\"6,4\"/>\n";
    }
    out << "<text x=\"" << kWidth - kRight + 14 << "\" y=\"" << top + 14 + 16 * i
        << "\" font-size=\"12\" fill=\"" << colour << "\" " << kFont << ">" << Escape(s.name)
        << (s.limit > 0.0 ? " (limit " : "")
        << (s.limit > 0.0 ? Number(s.limit) + ")" : std::string()) << "</text>\n";
  }
}

}  // namespace

void PathPlot::Command(double x, double y, double feed, int tool) {
  const auto same = [&](size_t i) {
    return commandedStyles[i].feed == feed && commandedStyles[i].tool == tool;
  };
  // Runs of moves share their look: the last one used is the first tried.
  size_t style = lastStyle_ < commandedStyles.size() && same(lastStyle_) ? lastStyle_ : 0;
  while (style < commandedStyles.size() && !same(style)) ++style;
  if (style == commandedStyles.size()) commandedStyles.push_back(CommandedStyle{feed, tool});
  lastStyle_ = style;
  commanded.LineTo(x, y, static_cast<int>(style));
}

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
    double begin = 0.0, end = 0.0;
    TimeSpan(plot, &begin, &end);
    const double fillTop = kTop + kPathHeight + kGap;
    FillPart(out, plot, fillTop, begin, end);
    VelocityPart(out, plot, fillTop + kTimeHeight + kGap, begin, end);
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
