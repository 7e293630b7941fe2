// The pieces of torvexan-sim around the run: loading the plug-in by name, reading the card's
// statistics, the command line, the report's verdict and the plot.
#include <gtest/gtest.h>

#include <cstdio>

#include "sim/host/plugin_library.h"
#include "tools/torvexan-sim/card_after_stop.h"
#include "tools/torvexan-sim/card_process.h"
#include "tools/torvexan-sim/move_spool.h"
#include "tools/torvexan-sim/safety_report.h"
#include "tools/torvexan-sim/sim_options.h"
#include "tools/torvexan-sim/sim_report.h"
#include "tools/torvexan-sim/svg_plot.h"

namespace torvexan::sim::testing {
namespace {

TEST(PluginLibraryLoad, BindsAllEntryPointsOfThePluginByName) {
  PluginLibrary library;
  std::string error;
  ASSERT_TRUE(library.Open(TORVEXAN_TEST_PLUGIN_PATH, &error)) << error;
  EXPECT_EQ(MissingEntries(library.table()), "");
  EXPECT_STREQ(library.table().SetProName("/nonexistent/settings.xml"),
               "Quorvanta Motion Card Plugins V2.0");
  library.Close();
  EXPECT_EQ(library.table().Update, nullptr);
}

TEST(PluginLibraryLoad, NamesWhatALibraryDoesNotExport) {
  PluginLibrary library;
  std::string error;
  EXPECT_FALSE(library.Open("libm.so.6", &error));
  EXPECT_NE(error.find("does not export: SetProName SetDoButton"), std::string::npos) << error;
  EXPECT_NE(error.find("TorvexanDispatchTimers"), std::string::npos);
  EXPECT_EQ(library.table().SetProName, nullptr);
  EXPECT_FALSE(library.Open("/nonexistent/libTorvexan.so", &error));
  EXPECT_NE(error.find("/nonexistent/libTorvexan.so"), std::string::npos);
}

// The moves after a probe's re-read come back from their file as they went in, also after a
// first reading; a file that cannot be written is no plot of half the moves.
TEST(MoveSpool, GivesBackEveryMoveInOrderAndOwnsUpToAFileItCouldNotWrite) {
  const std::string path = ::testing::TempDir() + "spool-test.bin";
  MoveSpool spool(path);
  const auto lines = [&spool] {
    std::vector<int> seen;
    EXPECT_TRUE(spool.ForEach([&seen](const PathSegment& s) { seen.push_back(s.line); }));
    return seen;
  };
  EXPECT_TRUE(lines().empty());
  PathSegment s;
  for (int line = 1; line <= 3; ++line) {
    s.line = line;
    s.target[2] = -line * 0.5;
    spool.Move(s);
  }
  EXPECT_EQ(lines(), (std::vector<int>{1, 2, 3}));
  s.line = 4;
  spool.Move(s);
  EXPECT_EQ(lines(), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(spool.size(), 4u);
  EXPECT_TRUE(spool.whole());
  spool.Close();
  EXPECT_FALSE(spool.whole());
  std::remove(path.c_str());

  MoveSpool nowhere(::testing::TempDir() + "no-such-dir/spool.bin");
  nowhere.Move(s);
  EXPECT_FALSE(nowhere.whole());
  EXPECT_FALSE(nowhere.ForEach([](const PathSegment&) {}));
}

TEST(CardOutput, FiguresAreReadInTheCardsWordsAndTheLastOneWins) {
  const std::string output =
      "torvexan-card model lorn5\n"
      "underruns: 2\n"
      "stats: packets=812 resends=3\n"
      "Underruns = 5\n"
      "17 rows dropped\n";
  EXPECT_EQ(CardFigure(output, "underrun"), 5);
  EXPECT_EQ(CardFigure(output, "packets"), 812);
  EXPECT_EQ(CardFigure(output, "resends"), 3);
  EXPECT_EQ(CardFigure(output, "dropped"), 17);
  EXPECT_EQ(CardFigure(output, "lorn"), std::nullopt);  // the 5 belongs to the model's name
  EXPECT_EQ(CardFigure(output, "crc"), std::nullopt);
}

TEST(PluginOutput, LinkCountersAreReadFromTheLastCountersLine) {
  EXPECT_EQ(ReadLinkCounters("sent from 10.0.0.1----------0\r\n"), std::nullopt);
  EXPECT_EQ(ReadLinkCounters("link counters: exchanges 5, resends 1\n"), std::nullopt)
      << "a line with figures missing";
  const std::optional<PluginLinkFigures> l = ReadLinkCounters(
      "link counters: exchanges 1, resends 1, stale replies 1, rejected replies 1, link losses "
      "1, discovery passes 1, discovery requests 1, usb opens 1, usb connects 1\n"
      "receieved from 10.0.0.7,-------------------ID: 3\r\n"
      "link counters: exchanges 2000, resends 17, stale replies 4, rejected replies 3, link "
      "losses 2, discovery passes 3, discovery requests 6, usb opens 40, usb connects 5\n");
  ASSERT_TRUE(l.has_value());
  EXPECT_EQ(l->exchanges, 2000);
  EXPECT_EQ(l->resends, 17);
  EXPECT_EQ(l->staleReplies, 4);
  EXPECT_EQ(l->rejectedReplies, 3);
  EXPECT_EQ(l->linkLosses, 2);
  EXPECT_EQ(l->discoveryPasses, 3);
  EXPECT_EQ(l->discoveryRequests, 6);
  EXPECT_EQ(l->usbOpens, 40);
  EXPECT_EQ(l->usbConnects, 5);
}

TEST(SimReport, CardFiguresFirstThenThePluginsCounts) {
  RunFacts facts;
  facts.link = PluginLinkFigures{};
  facts.link->exchanges = 900;
  facts.link->resends = 12;
  facts.packets = 905;
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  HostControl limits{};
  for (int a = 0; a < kHostAxisCount; ++a) limits.StepsPerUnit[a] = 1000.0;
  PrintReport(f, facts, limits);
  std::rewind(f);
  std::string report(4096, '\0');
  report.resize(std::fread(report.data(), 1, report.size(), f));
  std::fclose(f);
  EXPECT_NE(report.find("packets         905 (card)"), std::string::npos) << report;
  EXPECT_NE(report.find("resends         12 (plug-in)"), std::string::npos) << report;
  EXPECT_NE(report.find("card underruns  n/a"), std::string::npos) << report;
}

TEST(SimCommandLine, OptionsAndTheirMistakes) {
  SimOptions o;
  std::string error;
  char* good[] = {const_cast<char*>("torvexan-sim"), const_cast<char*>("--card=pell5"),
                  const_cast<char*>("--axis"),       const_cast<char*>("Z:400:10:100"),
                  const_cast<char*>("--svg"),        const_cast<char*>("out.svg"),
                  const_cast<char*>("job.nc")};
  ASSERT_TRUE(ParseSimOptions(7, good, &o, &error)) << error;
  EXPECT_EQ(o.card, CardChoice::kPell5);
  EXPECT_EQ(o.machine.axes[2].stepsPerUnit, 400.0);
  EXPECT_EQ(o.svgPath, "out.svg");
  EXPECT_EQ(o.jobPath, "job.nc");
  EXPECT_TRUE(o.privateNetwork);

  SimOptions repeated;
  char* rep[] = {const_cast<char*>("torvexan-sim"), const_cast<char*>("--card-arg=--drop"),
                 const_cast<char*>("--card-arg"), const_cast<char*>("0.05"),
                 const_cast<char*>("job.nc")};
  ASSERT_TRUE(ParseSimOptions(5, rep, &repeated, &error)) << error;
  EXPECT_EQ(repeated.cardArgs, (std::vector<std::string>{"--drop", "0.05"}));
  EXPECT_EQ(repeated.jobPath, "job.nc") << "one value per --card-arg; the job stays the job";

  SimOptions external;
  char* ext[] = {const_cast<char*>("torvexan-sim"), const_cast<char*>("--card"),
                 const_cast<char*>("external"), const_cast<char*>("job.nc")};
  ASSERT_TRUE(ParseSimOptions(4, ext, &external, &error));
  EXPECT_FALSE(external.privateNetwork);  // an external card is reached on the real network
  EXPECT_FALSE(external.configDialog);
  char* dialog[] = {const_cast<char*>("torvexan-sim"), const_cast<char*>("--config-dialog"),
                    const_cast<char*>("job.nc")};
  SimOptions withDialog;
  ASSERT_TRUE(ParseSimOptions(3, dialog, &withDialog, &error)) << error;
  EXPECT_TRUE(withDialog.configDialog);

  for (const char* bad : {"--card=lorn9", "--axis=Q:1:1:1", "--axis=X:1000:9000:1",
                          "--stall-seconds=x", "--frobnicate"}) {
    SimOptions o2;
    char* argv[] = {const_cast<char*>("torvexan-sim"), const_cast<char*>(bad),
                    const_cast<char*>("job.nc")};
    EXPECT_FALSE(ParseSimOptions(3, argv, &o2, &error)) << bad;
  }
  SimOptions none;
  char* noJob[] = {const_cast<char*>("torvexan-sim")};
  EXPECT_FALSE(ParseSimOptions(1, noJob, &none, &error));
}

TEST(SimReport, OneStepOffOnAnyAxisIsADisagreement) {
  RunFacts facts;
  for (int a = 0; a < kHostAxisCount; ++a) facts.commanded[a] = facts.reported[a] = 100 * a;
  EXPECT_TRUE(PositionsAgree(facts));
  facts.reported[5] += 1;
  EXPECT_FALSE(PositionsAgree(facts));
}

TEST(SvgPlot, PathColouredByFeedAndTimePlotsWithNamedAxes) {
  PathPlot plot;
  plot.title = "a <b> & c";
  plot.commanded.JumpTo(0, 0);
  plot.Command(10, 0, 600);
  plot.Command(10, 5, 1200);
  plot.Command(0, 0, 0);
  plot.reported.LineTo(0, 0);
  plot.reported.LineTo(10, 5);
  plot.bufferFill.Add(0.0, 50);
  plot.bufferFill.Add(1.0, 180);
  plot.velocities.push_back(TimeSeries{"X", {}, 50.0});
  plot.velocities[0].points.Add(0.0, 0.0);
  plot.velocities[0].points.Add(1.0, 20.0);
  const std::string svg = RenderSvg(plot);
  EXPECT_NE(svg.find("a &lt;b&gt; &amp; c"), std::string::npos);
  for (const char* name : {"X (mm)", "Y (mm)", "feed (mm/min)", "time since the job started (s)",
                           "card buffer (rows)", "velocity (mm/s, deg/s)", "rapid"}) {
    EXPECT_NE(svg.find(name), std::string::npos) << name;
  }
  // The slowest and the fastest feed get different colours; the rapid is dashed grey.
  const size_t slow = svg.find("class=\"commanded\"");
  ASSERT_NE(slow, std::string::npos);
  const std::string first = svg.substr(slow, svg.find("/>", slow) - slow);
  const size_t fast = svg.find("class=\"commanded\"", slow + 1);
  ASSERT_NE(fast, std::string::npos);
  const std::string second = svg.substr(fast, svg.find("/>", fast) - fast);
  EXPECT_NE(first.substr(first.find("stroke=")), second.substr(second.find("stroke=")));
  EXPECT_NE(svg.find("stroke-dasharray"), std::string::npos);
  // The card's path, and buffer fill and one velocity over time.
  EXPECT_NE(svg.find("class=\"card\""), std::string::npos);
  size_t polylines = 0;
  for (size_t at = svg.find("<polyline"); at != std::string::npos;
       at = svg.find("<polyline", at + 1)) {
    ++polylines;
  }
  EXPECT_EQ(polylines, 2u);
}

}  // namespace
}  // namespace torvexan::sim::testing

namespace torvexan::sim::testing {
namespace {

TEST(SafetyTimeline, TheCardsOwnEventsFindTheirPlaceInTime) {
  RunFacts facts;
  facts.timelineStartMs = 300;  // the host's timeline began 0.3 s after the card started
  facts.safety = {{1.0, 6, SafetyEvent::Source::kHost, "reference"},
                  {4.0, 7, SafetyEvent::Source::kHost, "EStop raised by the plug-in"}};
  MergeCardEvents(
      "torvexan-card: Lorn5 on 0.0.0.0:1234\n"
      "torvexan-card: the card falls silent at 2.000 s\n"
      "card    60 s: commands 1, rows 2\n"
      "torvexan-card: the card answers again at 6.000 s\n",
      0, &facts);
  ASSERT_EQ(facts.safety.size(), 4u);
  EXPECT_EQ(facts.safety[1].text, "the card falls silent");
  EXPECT_EQ(facts.safety[1].source, SafetyEvent::Source::kCard);
  EXPECT_DOUBLE_EQ(facts.safety[1].seconds, 1.7);
  EXPECT_EQ(facts.safety[1].line, 6);  // the line of the host's event before it
  EXPECT_EQ(facts.safety[3].text, "the card answers again");
  EXPECT_DOUBLE_EQ(facts.safety[3].seconds, 5.7);
}

// One period of a card's trace: its state, buffered rows and where X stands on the machine.
TraceSample Period(uint64_t ms, int state, int buffered, int32_t x) {
  TraceSample s;
  s.ms = ms;
  s.state = state;
  s.buffered = buffered;
  s.physical[0] = x;
  return s;
}

TEST(CardAfterStop, StepsAfterTheHaltCountUntilTheRunEndsOrTheOperatorResets) {
  // The host's timeline began 100 ms into the card's; the stop came at 1.000 s on it.
  StopRecord stop;
  stop.seconds = 1.0;
  const std::vector<TraceSample> trace = {
      Period(1095, kStreaming, 5, 0),  Period(1100, kStreaming, 4, 10),
      Period(1105, kStreaming, 3, 20),  // rows still run after the host's stop
      Period(1110, kHalted, 0, 20),    Period(1115, kHalted, 0, 20),
      Period(1120, kReady, 0, 20),     Period(1125, kReady, 0, 27)};
  std::vector<CardAfterStop> found = CheckCardAfterStops(trace, {stop}, 100.0);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_TRUE(found[0].halted);
  EXPECT_FALSE(found[0].ranDry);
  EXPECT_DOUBLE_EQ(found[0].haltSeconds, 1.010);
  EXPECT_EQ(found[0].stepsMoved, 7);  // nothing may move until the run ends
  stop.resumed = true;                // the reset readied the card before it moved again
  EXPECT_EQ(CheckCardAfterStops(trace, {stop}, 100.0)[0].stepsMoved, 0);
  // A card the link left in its stream halts in effect when its buffer runs dry; one that
  // never does is no halt at all.
  const std::vector<TraceSample> dry = {Period(1100, kStreaming, 2, 0),
                                        Period(1105, kStreaming, 0, 5)};
  stop.resumed = false;
  EXPECT_TRUE(CheckCardAfterStops(dry, {stop}, 100.0)[0].ranDry);
  EXPECT_FALSE(CheckCardAfterStops({dry[0]}, {stop}, 100.0)[0].halted);
}

// A probe's period in the trace: Z's count and where Z stands on the machine.
TraceSample ZAt(int32_t counts, int32_t machine) {
  TraceSample s;
  s.positions[2] = counts;
  s.physical[2] = machine;
  return s;
}

TEST(ProbeExpectation, TheSurfaceInTheCountsTheProbeTouchedWith) {
  // Referencing left Z's counts 10021 steps below the machine's; the surface is at -12500.
  const std::string layout = "home:2:10000:above,probe:2:-12500:below";
  const std::vector<TraceSample> trace = {ZAt(-22511, -12490), ZAt(-22531, -12510),
                                          ZAt(-22531, -12510)};
  ProbeResult touched;
  touched.contact = true;
  touched.stoppedAt[2] = -22531;
  ProbeResult missed;  // no contact: nothing to expect
  const std::vector<ProbeExpectation> e = ExpectProbes(trace, layout, {missed, touched});
  ASSERT_EQ(e.size(), 2u);
  EXPECT_FALSE(e[0].known);
  ASSERT_TRUE(e[1].known);
  EXPECT_EQ(e[1].surfaceCounts, -22521);
  EXPECT_EQ(e[1].rowSteps, 20);
  EXPECT_EQ(StepsPastSurface(e[1], -22531), 10);
  EXPECT_EQ(StepsPastSurface(e[1], -22500), -21);  // a touch above the surface is short of it
  // A probe that stopped elsewhere than any touch in the trace gets no expectation.
  touched.stoppedAt[2] = -22400;
  EXPECT_FALSE(ExpectProbes(trace, layout, {touched})[0].known);
}

TEST(ProbeExpectation, CutsBelowTheSurfaceInTheStreamAreNoTouchesAndProbesTakeTheirsInTurn) {
  const std::string layout = "home:2:10000:above,probe:2:-12500:below";
  TouchLog log(layout);
  std::vector<TraceSample> trace = {ZAt(-12490, -12490), ZAt(-12510, -12510),   // a cut
                                    ZAt(-12490, -12490), ZAt(-12520, -12520),   // a probe
                                    ZAt(-12400, -12400), ZAt(-12505, -12505)};  // and another
  for (size_t k = 0; k < trace.size(); ++k) trace[k].state = k < 2 ? kStreaming : kSequence;
  for (size_t k = 0; k < trace.size(); ++k) log.Add(k == 0 ? nullptr : &trace[k - 1], trace[k]);
  ProbeResult first, second;
  first.contact = second.contact = true;
  first.stoppedAt[2] = -12520;
  second.stoppedAt[2] = -12505;
  // The cut stood at -12510 too: the first probe must not take it for its touch.
  ProbeResult atTheCut = first;
  atTheCut.stoppedAt[2] = -12510;
  const std::vector<ProbeExpectation> e = log.Expect({first, second, atTheCut});
  ASSERT_TRUE(e[0].known);
  EXPECT_EQ(e[0].rowSteps, 30);
  ASSERT_TRUE(e[1].known);
  EXPECT_EQ(e[1].rowSteps, 105);
  EXPECT_FALSE(e[2].known);
}

}  // namespace
}  // namespace torvexan::sim::testing
