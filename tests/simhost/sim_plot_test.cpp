// The plot and the report of torvexan-sim at any job length: thinning that keeps the shape at
// the plot's resolution within a bounded size, marks of holes, referencing and probes, the
// legend inside the picture, the card's trace folded period by period, and the report's
// units, clock, warnings and verdict.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "sim/gcode/gcode.h"
#include "sim/host/job_driver.h"
#include "tools/torvexan-sim/check_plot.h"
#include "tools/torvexan-sim/job_notes.h"
#include "tools/torvexan-sim/plot_thinning.h"
#include "tools/torvexan-sim/sim_report.h"
#include "tools/torvexan-sim/svg_plot.h"
#include "tools/torvexan-sim/trace_figures.h"

namespace torvexan::sim::testing {
namespace {

// Every axis 1000 steps per unit, 50 units/s, 500 units/s^2.
HostControl Limits() {
  HostControl limits{};
  for (int a = 0; a < kHostAxisCount; ++a) {
    limits.StepsPerUnit[a] = 1000.0;
    limits.MaxVelocity[a] = 50.0;
    limits.Acceleration[a] = 500.0;
  }
  return limits;
}

// How far p lies from the segment a-b.
double DistanceToSegment(PlotPoint p, PathPoint a, PathPoint b) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double length2 = dx * dx + dy * dy;
  double t = length2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / length2 : 0.0;
  t = std::clamp(t, 0.0, 1.0);
  return std::hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
}

// How far p lies from the drawn pieces of a thinned path.
double DistanceToPath(PlotPoint p, const std::vector<PathPoint>& path) {
  double best = INFINITY;
  for (size_t i = 1; i < path.size(); ++i) {
    if (!path[i].jump) best = std::min(best, DistanceToSegment(p, path[i - 1], path[i]));
  }
  return best;
}

TEST(PathThinning, EveryPointStaysWithinTheToleranceOfWhatIsDrawn) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> wobble(-0.02, 0.02);
  std::vector<PlotPoint> input;
  PathThinner thinner;
  // A spiral with fine noise, then a reversal back along a straight line.
  for (int i = 0; i < 20000; ++i) {
    const double a = i * 0.003, r = 5.0 + i * 0.002;
    input.push_back({r * std::cos(a) + wobble(random), r * std::sin(a) + wobble(random)});
  }
  for (int i = 0; i < 500; ++i) input.push_back({input.back().x - 0.1, input.back().y});
  for (int i = 0; i < 500; ++i) input.push_back({input.back().x + 0.1, input.back().y});
  for (const PlotPoint& p : input) thinner.LineTo(p.x, p.y);
  constexpr double kTolerance = 0.05;
  const std::vector<PathPoint> drawn = thinner.Points(kTolerance);
  EXPECT_LT(drawn.size(), input.size() / 4) << "noise within the tolerance is left out";
  for (size_t i = 0; i < input.size(); i += 7) {
    ASSERT_LE(DistanceToPath(input[i], drawn), kTolerance * 1.001) << "point " << i;
  }
  // The far end of the reversal is kept: a path that turns back is no shorter line.
  EXPECT_LE(DistanceToPath(input[input.size() - 501], drawn), kTolerance);
}

TEST(PathThinning, AStraightRunIsTwoPointsAndAPathRunTwiceIsDrawnOnce) {
  PathThinner once;
  PathThinner twice;
  for (int pass = 0; pass < 2; ++pass) {
    for (int row = 0; row < 50; ++row) {
      for (int i = 0; i <= 200; ++i) {
        const double x = (row % 2 ? 200 - i : i) * 0.5;
        if (pass == 0) once.LineTo(x, row * 0.5);
        twice.LineTo(x, row * 0.5);
      }
    }
    twice.JumpTo(0, 0);
  }
  const size_t single = once.Points().size();
  EXPECT_LE(single, 2u * 50u + 2u) << "each row is one straight piece";
  EXPECT_LE(twice.Points().size(), single + 2u) << "the second pass draws nothing new";
}

TEST(PathThinning, AJobOfAnyLengthStaysWithinTheBudget) {
  std::mt19937 random(11);
  std::uniform_real_distribution<double> at(0.0, 100.0);
  PathThinner thinner(2000);
  for (int i = 0; i < 200000; ++i) thinner.LineTo(at(random), at(random));
  EXPECT_LE(thinner.kept(), 2001u);
  EXPECT_GT(thinner.tolerance(), 0.0) << "the budget made it coarser";
  EXPECT_LE(thinner.Points().size(), 2001u);
  EXPECT_DOUBLE_EQ(thinner.extent().maxX - thinner.extent().minX > 99.0, true);
}

TEST(SeriesThinning, EachSliverKeepsItsExtremesAndTheSizeIsBounded) {
  SeriesThinner series;
  constexpr int kSamples = 2000000;  // 10,000 s in 5 ms periods
  for (int k = 0; k < kSamples; ++k) {
    const double t = k * 0.005;
    // A short spike among slow waves: the plot must still show it.
    const double v = k == 1234567 ? 99.0 : 10.0 * std::sin(t / 30.0);
    series.Add(t, v);
  }
  const std::vector<PlotPoint> points = series.Points();
  EXPECT_LE(points.size(), 4 * SeriesThinner::kBuckets);
  EXPECT_GT(points.size(), SeriesThinner::kBuckets);
  EXPECT_DOUBLE_EQ(series.maxValue(), 99.0);
  bool spike = false;
  for (const PlotPoint& p : points) spike = spike || p.y == 99.0;
  EXPECT_TRUE(spike);
  EXPECT_DOUBLE_EQ(points.front().x, 0.0);
  EXPECT_DOUBLE_EQ(points.back().x, (kSamples - 1) * 0.005);
  for (size_t i = 1; i < points.size(); ++i) ASSERT_GE(points[i].x, points[i - 1].x);
}

// The numbers of an attribute of every element of a kind, in the order they stand.
std::vector<double> Attribute(const std::string& svg, const std::string& element,
                              const std::string& name) {
  std::vector<double> values;
  const std::regex tag("<" + element + "\\b[^>]*\\b" + name + "=\"([-0-9.e]+)\"");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), tag); it != std::sregex_iterator();
       ++it) {
    values.push_back(std::stod((*it)[1]));
  }
  return values;
}

double ViewWidth(const std::string& svg) {
  std::smatch m;
  EXPECT_TRUE(std::regex_search(svg, m, std::regex("viewBox=\"0 0 ([0-9.]+) ([0-9.]+)\"")));
  return m.empty() ? 0.0 : std::stod(m[1]);
}

// A drilling job: five holes, one of them pecked, and a probe and a referencing.
constexpr const char* kDrillJob =
    "G21 G90 G17\n"
    "G28.1 Z0\n"
    "G38.2 Z-5 F100\n"
    "G0 Z5\n"
    "G81 X10 Y10 Z-3 R1 F200\n"
    "X20\n"
    "X30 Y20\n"
    "G83 X40 Y20 Z-6 R1 Q1.5 F200\n"
    "G81 X50 Y10 Z-3 R1\n"
    "G80 G0 Z5\n"
    "M30\n";

TEST(SvgPlot, HolesProbesAndReferencingAreMarkedAndTheLegendIsWhole) {
  const Job job = ParseJob(kDrillJob);
  ASSERT_TRUE(job.errors.empty()) << job.errors.front().message;
  const HostControl limits = Limits();
  PathPlot plot;
  plot.title = "drill";
  CheckPlot drawn(limits, &plot);
  const JobCheck check = CheckJob(job, limits, JobSetup{}, &drawn);
  ASSERT_TRUE(check.errors.empty()) << check.errors.front().message;
  EXPECT_EQ(plot.holes.size(), 5u) << "one mark per hole, the pecked one too";
  ASSERT_EQ(plot.probes.size(), 1u);
  EXPECT_EQ(plot.probes[0].text, "probe, line 3");
  ASSERT_EQ(plot.references.size(), 1u);
  EXPECT_NE(plot.references[0].text.find("line 2"), std::string::npos);

  const std::string svg = RenderSvg(plot);
  EXPECT_EQ(Attribute(svg, "circle", "cx").size(), 5u + 1u) << "five holes and the legend's";
  // Every word of the legend ends inside the picture (11 px type, under 7 px a letter).
  const size_t legend = svg.find("<g class=\"legend\">");
  ASSERT_NE(legend, std::string::npos);
  const std::string part = svg.substr(legend, svg.find("</g>", legend) - legend);
  const std::regex text("<text x=\"([0-9.]+)\"[^>]*>([^<]*)</text>");
  int texts = 0;
  for (auto it = std::sregex_iterator(part.begin(), part.end(), text); it != std::sregex_iterator();
       ++it, ++texts) {
    const double right = std::stod((*it)[1]) + 7.0 * (*it)[2].length();
    EXPECT_LE(right, ViewWidth(svg)) << (*it)[2];
  }
  EXPECT_GE(texts, 9) << "feeds, rapid, card, hole, referencing, probe";
}

TEST(CheckPlot, FeedsTheAxesCannotMakeAreWarnedOfOncePerLineAndCountedPastTen) {
  std::string text = "G21 G90\nG1 X10 F600\n";  // 10 mm/s: within the axes' 50
  for (int i = 1; i <= 12; ++i) text += "G1 X" + std::to_string(10 + i) + " F9000\n";
  text += "M30\n";
  const Job job = ParseJob(text);
  ASSERT_TRUE(job.errors.empty());
  const HostControl limits = Limits();
  PathPlot plot;
  CheckPlot drawn(limits, &plot);
  ASSERT_TRUE(CheckJob(job, limits, JobSetup{}, &drawn).errors.empty());
  const std::vector<std::string> warnings = drawn.Warnings();
  ASSERT_EQ(warnings.size(), kMostFeedWarnings + 1);
  EXPECT_EQ(warnings[0],
            "line 3: F9000 is above what the axes can do along this move (3000 per minute); it "
            "runs at that");
  EXPECT_EQ(warnings.back(), "2 more lines with such feeds");
}

TEST(SvgPlot, ALongJobsPlotStaysSmall) {
  PathPlot plot;
  plot.commanded.JumpTo(0, 0);
  // A hundred passes of a 3-D raster seen from above, with the card 2 um off now and then.
  for (int pass = 0; pass < 100; ++pass) {
    for (int row = 0; row < 150; ++row) {
      for (int i = 0; i <= 240; ++i) {
        const double x = (row % 2 ? 240 - i : i) * 0.5;
        plot.Command(x, row * 0.5, 600.0);
        plot.reported.LineTo(x + (i % 17 == 0 ? 0.002 : 0.0), row * 0.5);
      }
    }
    plot.Command(0, 0, 0.0);
  }
  for (int k = 0; k < 1000000; ++k) plot.bufferFill.Add(k * 0.005, 150 + k % 40);
  const std::string svg = RenderSvg(plot);
  EXPECT_LT(svg.size(), 1500000u) << "3.6 million points, drawn at the picture's resolution";
  EXPECT_GT(Attribute(svg, "path", "stroke-width").size(), 2u);
}

TEST(TraceFold, AStopToldLateIsWatchedFromItsTime) {
  HostControl limits{};
  for (int a = 0; a < kHostAxisCount; ++a) limits.StepsPerUnit[a] = 1000.0;
  TraceFold fold(limits, std::string(), nullptr);
  std::vector<TraceSample> trace;
  for (uint64_t ms = 5; ms <= 3000; ms += 5) {
    TraceSample s;
    s.ms = ms;
    s.state = ms < 1200 ? kStreaming : kHalted;
    s.buffered = ms < 1200 ? 10 : 0;
    s.physical[0] = static_cast<int32_t>(ms < 1200 ? ms : 1200 + (ms > 2000 ? 3 : 0));
    trace.push_back(s);
    fold.Add(s);
    // The host stopped at 1.1 s and the run tells the fold half a second later.
    if (ms == 1600) fold.WatchStop(1100.0);
  }
  StopRecord stop;
  stop.seconds = 1.0;  // on the host's timeline, which began 100 ms into the card's
  const std::vector<CardAfterStop> late = fold.AfterStops({stop}, 100.0);
  const std::vector<CardAfterStop> whole = CheckCardAfterStops(trace, {stop}, 100.0);
  ASSERT_EQ(late.size(), 1u);
  EXPECT_TRUE(late[0].halted);
  EXPECT_DOUBLE_EQ(late[0].haltSeconds, whole[0].haltSeconds);
  EXPECT_DOUBLE_EQ(late[0].haltSeconds, 1.1);
  EXPECT_EQ(late[0].stepsMoved, 3);
  EXPECT_EQ(late[0].stepsMoved, whole[0].stepsMoved);
  TraceFigures f = fold.Finish();
  EXPECT_TRUE(f.axes[0].moved);
  EXPECT_NEAR(f.axes[0].vMax, 1.0, 1e-9) << "one step a millisecond: 1 mm/s";
}

// A booting card runs no periods: its first period after a restart comes a boot time later,
// but the spindle and the relay went off when it went down.
TEST(TraceFold, WhatARestartSwitchedOffIsDatedAtTheRestartNotAtTheBootsEnd) {
  HostControl limits{};
  for (int a = 0; a < kHostAxisCount; ++a) limits.StepsPerUnit[a] = 1000.0;
  TraceFold fold(limits, std::string(), nullptr);
  TraceSample s;
  s.state = kStreaming;
  s.spindle = 800;
  s.outputs = 0x01;
  for (s.ms = 5; s.ms <= 1000; s.ms += 5) fold.Add(s);
  s.ms = 1505;  // half a second of boot
  s.state = kHalted;
  s.spindle = 0;
  s.outputs = 0;
  s.reboots = 1;
  fold.Add(s);
  s.ms = 1510;
  s.spindle = 800;  // the host's reset and M3, a period later: no restart of its own
  fold.Add(s);
  const TraceFigures f = fold.Finish();
  ASSERT_EQ(f.spindle.size(), 3u);
  EXPECT_DOUBLE_EQ(f.spindle[1].seconds, 1.0);
  EXPECT_TRUE(f.spindle[1].restart);
  EXPECT_DOUBLE_EQ(f.spindle[2].seconds, 1.51);
  EXPECT_FALSE(f.spindle[2].restart);
  ASSERT_EQ(f.outputs.size(), 2u);
  EXPECT_DOUBLE_EQ(f.outputs[1].seconds, 1.0);
  EXPECT_TRUE(f.outputs[1].restart);
}

std::string ReportOf(const RunFacts& facts) {
  HostControl limits{};
  for (int a = 0; a < kHostAxisCount; ++a) limits.StepsPerUnit[a] = 1000.0;
  std::FILE* f = std::tmpfile();
  PrintReport(f, facts, limits);
  std::fputs("between\n", f);
  PrintResult(f, facts);
  std::rewind(f);
  std::string text(16384, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), f));
  std::fclose(f);
  return text;
}

TEST(SimReport, InchJobsInInchesWithMillimetresOneClockWarningsAndTheVerdictLast) {
  RunFacts facts;
  facts.finished = true;
  facts.units.inches = true;
  facts.motionStartSeconds = 1.0;
  facts.warnings = {"line 4: F900 is above what the axes can do"};
  facts.reported[0] = facts.commanded[0] = 25400;  // X at one inch
  ProbeResult p;
  p.line = 9;
  p.contact = true;
  p.stoppedAt[2] = p.probeCounts[2] = -12700;
  facts.probes = {p};
  facts.events = {HostEvent{3, 0, 2.5, "M3"}};
  const std::string report = ReportOf(facts);
  EXPECT_NE(report.find("motion began at 1.000 s"), std::string::npos) << report;
  EXPECT_NE(report.find("warning         line 4: F900"), std::string::npos) << report;
  EXPECT_NE(report.find("Z -0.5000 in (X 0.0000 Y 0.0000 Z -12.7000 mm)"), std::string::npos)
      << report;
  EXPECT_NE(report.find("host            line 3 at 2.500 s: M3"), std::string::npos) << report;
  EXPECT_NE(report.find("1.0000       25.4000  ok"), std::string::npos) << report;
  EXPECT_EQ(report.substr(report.rfind("between\n")), "between\nresult: positions agree\n");
  facts.units.inches = false;
  EXPECT_EQ(ReportOf(facts).find(" in ("), std::string::npos) << "a millimetre job stays so";
}

TEST(JobNotes, AnInchJobsOffsetsAndToolLengthInInchesWithMillimetres) {
  WorkOffsets offsets;
  offsets.SetSystem(1, 0, 25.4);
  offsets.SetSystem(1, 3, 90.0);  // a rotary axis stays in degrees
  offsets.SetToolLength(12.7);
  const Job job = ParseJob("G20 G0 X1\nM30\n");
  ASSERT_TRUE(job.inches);
  ASSERT_FALSE(ParseJob("G21 G0 X1\nM30\n").inches);
  std::FILE* f = std::tmpfile();
  PrintJobNotes(f, job, offsets, 0, std::string(), ReportUnits{true});
  PrintJobNotes(f, job, offsets, 0, std::string(), ReportUnits{false});
  std::rewind(f);
  std::string text(4096, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), f));
  std::fclose(f);
  EXPECT_NE(text.find("G54: X 1.0000 in (X 25.400 mm) A 90.000\n"), std::string::npos) << text;
  EXPECT_NE(text.find("tool length 0.5000 in (12.700 mm)"), std::string::npos) << text;
  EXPECT_NE(text.find("G54: X 25.400 A 90.000\n"), std::string::npos) << text;
  EXPECT_NE(text.find("tool length 12.700 mm"), std::string::npos) << text;
}

}  // namespace
}  // namespace torvexan::sim::testing
