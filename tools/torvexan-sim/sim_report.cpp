#include "tools/torvexan-sim/sim_report.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "sim/gcode/gcode.h"
#include "sim/host/machine_setup.h"
#include "tools/torvexan-sim/card_process.h"
#include "tools/torvexan-sim/console_log.h"
#include "tools/torvexan-sim/safety_report.h"

namespace torvexan::sim {
namespace {

constexpr const char* kLinkCountersKey = "link counters:";

// A figure the card reports, else the plug-in's own count of the same thing when it has one.
void PrintFigure(std::FILE* out, const char* name, const std::optional<long long>& value,
                 const RunFacts& facts, const long long PluginLinkFigures::*pluginSide = nullptr,
                 const char* pluginWords = "") {
  if (value) {
    std::fprintf(out, "%-15s %lld (card)\n", name, *value);
  } else if (facts.link && pluginSide != nullptr) {
    std::fprintf(out, "%-15s %lld (plug-in%s)\n", name, (*facts.link).*pluginSide, pluginWords);
  } else {
    std::fprintf(out, "%-15s n/a (%s)\n", name,
                 facts.cardStats ? "not in the card's statistics"
                                 : "not observable from the host side without our own card");
  }
}

}  // namespace

std::optional<PluginLinkFigures> ReadLinkCounters(const std::string& pluginOutput) {
  const size_t at = pluginOutput.rfind(kLinkCountersKey);
  if (at == std::string::npos) return std::nullopt;
  const size_t end = pluginOutput.find('\n', at);
  const std::string line = pluginOutput.substr(at, end == std::string::npos ? end : end - at);
  struct Field {
    const char* name;
    long long PluginLinkFigures::*figure;
  };
  static constexpr Field kFields[] = {
      {"exchanges", &PluginLinkFigures::exchanges},
      {"resends", &PluginLinkFigures::resends},
      {"stale replies", &PluginLinkFigures::staleReplies},
      {"rejected replies", &PluginLinkFigures::rejectedReplies},
      {"link losses", &PluginLinkFigures::linkLosses},
      {"discovery passes", &PluginLinkFigures::discoveryPasses},
      {"discovery requests", &PluginLinkFigures::discoveryRequests},
      {"usb opens", &PluginLinkFigures::usbOpens},
      {"usb connects", &PluginLinkFigures::usbConnects},
  };
  PluginLinkFigures figures;
  for (const Field& f : kFields) {
    const std::optional<long long> value = CardFigure(line, f.name);
    if (!value) return std::nullopt;
    figures.*f.figure = *value;
  }
  return figures;
}

bool Restored(const RunFacts& facts) {
  for (const CardAfterStop& c : facts.cardAfterStops) {
    if (!c.restored) return false;
  }
  return true;
}

bool PositionsAgree(const RunFacts& facts) {
  for (int a = 0; a < kHostAxisCount; ++a) {
    if (facts.commanded[a] != facts.reported[a]) return false;
  }
  return true;
}

void TakeCardRest(RunFacts* facts) {
  ApplyCardRest(facts->cardAfterStops, &facts->stops);
  if (!facts->stopped || facts->stops.empty()) return;
  for (int a = 0; a < kHostAxisCount; ++a) {
    facts->commanded[a] = std::llround(facts->stops.back().commanded[a]);
  }
}

void TakeCardTrace(const TraceFold& fold, RunFacts* facts) {
  facts->cardAfterStops = fold.AfterStops(facts->stops, facts->cardMsAtJobStart);
  TakeCardRest(facts);
  facts->motion = fold.Motion(facts->stops, facts->cardAfterStops, facts->cardMsAtJobStart);
  MergeMotionEvents(facts->motion, &facts->safety);
}

bool MotionClean(const RunFacts& facts) {
  return facts.motion.underruns == 0 && facts.motion.overLimits == 0;
}

void CollectDriverFacts(const JobDriver& driver, HostRecordsOwner& records, RunFacts* facts) {
  for (int a = 0; a < kHostAxisCount; ++a) {
    facts->commanded[a] = driver.Expected(a);
    facts->reported[a] = records.machine().Axes[a].PositionCounts;
  }
  facts->rowsTaken = driver.stats().rowsTaken;
  facts->slicesWritten = driver.stats().slicesPlanned;
  facts->finished = driver.phase() == JobDriver::Phase::kDone;
  if (facts->finished) {
    facts->offsetsAtEnd = driver.offsets();
    facts->toolAtEnd = driver.tool();
  }
  facts->stopped = driver.phase() == JobDriver::Phase::kStopped;
  facts->stops = driver.stops();
  // A stopped job's offsets and tool are those it had reached, not the whole file's.
  if (facts->stopped && !facts->stops.empty()) {
    facts->offsetsAtEnd = driver.offsets();
    facts->toolAtEnd = facts->stops.back().tool;
    facts->notesAtStop = true;
  }
  facts->safety = driver.safety().events();
  facts->timelineStartMs = driver.startMs();
  // A stopped job is judged against what the host had commanded up to the stop.
  if (facts->stopped) {
    for (int a = 0; a < kHostAxisCount; ++a) {
      facts->commanded[a] = std::llround(facts->stops.back().commanded[a]);
    }
  }
  facts->movesBeforeReread = driver.movesBeforeReread();
  facts->movesSinceReread = driver.movesSinceReread();
  facts->references = driver.references();
  facts->probes = driver.probes();
  facts->events = driver.events();
  // The host counts its events from the first motion: the report counts from the job's start.
  const DriverStats& stats = driver.stats();
  if (stats.motionStartMs >= facts->timelineStartMs && stats.motionStartMs > 0) {
    facts->motionStartSeconds =
        static_cast<double>(stats.motionStartMs - facts->timelineStartMs) / 1000.0;
    for (HostEvent& e : facts->events) e.seconds += facts->motionStartSeconds;
  }
  facts->userCodes = 0;
  for (const HostEvent& e : facts->events) facts->userCodes += e.userCode != 0 ? 1 : 0;
}

namespace {

double Units(int64_t steps, const HostControl& limits, int a) {
  return static_cast<double>(steps) / limits.StepsPerUnit[a];
}

// Where the probe found the surface against where the card's machine has it: the card looks
// at its probe input once per row, so a touch may lie up to one row's steps past the surface.
std::string SurfaceWords(const ProbeExpectation& e, int32_t measured, const HostControl& limits,
                         const ReportUnits& units) {
  const int32_t past = StepsPastSurface(e, measured);
  char text[200];
  const double surface = Units(e.surfaceCounts, limits, e.axis);
  int n = std::snprintf(text, sizeof text, "surface expected at %s",
                        Lengths(&kAxisLetters[e.axis], &surface, 1, units).c_str());
  if (past > 1 && past < std::max(e.rowSteps, 2)) {
    std::snprintf(text + n, sizeof text - n, "; %d steps past it, within the last row of %d", past,
                  e.rowSteps);
  } else if (past > 1 || past < -1) {
    std::snprintf(text + n, sizeof text - n, "; %d steps %s, MORE THAN ONE ROW OFF", std::abs(past),
                  past > 0 ? "past it" : "short of it");
  }
  return text;
}

// "X 1.0000 Y 2.0000 Z 3.0000" of steps, in the job's units.
std::string XyzOf(const int32_t* steps, const HostControl& limits, const ReportUnits& units) {
  const double mm[3] = {Units(steps[0], limits, 0), Units(steps[1], limits, 1),
                        Units(steps[2], limits, 2)};
  return Lengths(kAxisLetters, mm, 3, units);
}

void PrintProbe(std::FILE* out, const ProbeResult& p, const ProbeExpectation* e, const RunFacts& f,
                const HostControl& limits) {
  if (p.aborted) {
    // A card that restarted counts from zero: the counts it reports are no position.
    const bool lost = std::any_of(f.stops.begin(), f.stops.end(), [&](const StopRecord& s) {
      return s.line == p.line && s.positionLost;
    });
    std::fprintf(out, "%-15s line %d: aborted, no probe position; %s\n", "probe", p.line,
                 lost ? "where it stopped is NOT KNOWN (the card restarted)"
                      : ("stopped at " + XyzOf(p.stoppedAt, limits, f.units)).c_str());
    return;
  }
  std::fprintf(out, "%-15s line %d: %s, stopped at %s", "probe", p.line,
               p.contact ? "contact" : "NO contact", XyzOf(p.stoppedAt, limits, f.units).c_str());
  const bool expected = e != nullptr && e->known;
  if (f.usbCard) {
    // Without a probe position, where the machine stopped is the nearest measure of the touch.
    std::fprintf(out, " (USB replies carry no probe position%s%s)\n",
                 expected ? "; where it stopped, against the " : "",
                 expected ? SurfaceWords(*e, p.stoppedAt[e->axis], limits, f.units).c_str() : "");
    return;
  }
  std::fprintf(out, "; probe position %s", XyzOf(p.probeCounts, limits, f.units).c_str());
  if (expected) {
    std::fprintf(out, " (%s)", SurfaceWords(*e, p.probeCounts[e->axis], limits, f.units).c_str());
  }
  std::fputc('\n', out);
}

void PrintSequences(std::FILE* out, const RunFacts& f, const HostControl& limits) {
  for (const ReferenceResult& r : f.references) {
    if (r.done) {
      std::fprintf(out,
                   "%-15s line %d: %c on its switch, stands at %s after the pull-off "
                   "(expected %s)\n",
                   "referenced", r.line, kAxisLetters[r.axis],
                   Length(Units(r.endCounts, limits, r.axis), f.units).c_str(),
                   Length(f.referencedAt[r.axis], f.units).c_str());
    } else if (r.aborted) {
      std::fprintf(out, "%-15s line %d: %c NOT homed, the referencing was aborted\n", "referenced",
                   r.line, kAxisLetters[r.axis]);
    } else {
      std::fprintf(out, "%-15s line %d: %c refused by the plug-in (no card channel)\n",
                   "referenced", r.line, kAxisLetters[r.axis]);
    }
  }
  for (size_t i = 0; i < f.probes.size(); ++i) {
    PrintProbe(out, f.probes[i], i < f.probeExpected.size() ? &f.probeExpected[i] : nullptr, f,
               limits);
  }
  for (const HostEvent& e : f.events) {
    std::fprintf(out, "%-15s line %d at %s: %s\n", "host", e.line, JobTime(e.seconds).c_str(),
                 e.text.c_str());
  }
}

// "; the plug-in's last status text: ..." when it said anything, which may tell why.
std::string LastStatusWords(const RunFacts& f) {
  for (auto e = f.safety.rbegin(); e != f.safety.rend(); ++e) {
    if (e->source == SafetyEvent::Source::kPlugin) {
      return "; the plug-in's last status text: " + StatusTextUtf8(e->text);
    }
  }
  return std::string();
}

void PrintRegisterWrites(std::FILE* out, const RunFacts& f) {
  if (!f.modbus) {
    std::fprintf(out, "%-15s n/a (%s)\n", "modbus", f.modbusNote.c_str());
    return;
  }
  std::fprintf(out, "%-15s %zu register writes for %d user codes%s\n", "modbus",
               f.registerWrites.size(), f.userCodes,
               f.registerWrites.size() == static_cast<size_t>(f.userCodes) ? ""
               : f.registerWrites.empty() ? " (no frames arrived at the device)"
                                          : " (SOME MISSING)");
  for (const RegisterWrite& w : f.registerWrites) {
    std::fprintf(out, "%-15s function %d, register %d <- %d\n", "", w.function, w.reg, w.value);
  }
}

void PrintCardMotion(std::FILE* out, const RunFacts& f, const HostControl& limits) {
  const TraceFigures& t = f.trace;
  if (!t.present) {
    std::fprintf(out, "%-15s n/a (no trace from an external card)\n", "card buffer");
    return;
  }
  if (t.streamPeriods > 0) {
    std::fprintf(out, "%-15s min %d, mean %.1f of 199 rows while streaming (%.1f s)\n",
                 "card buffer", t.fillMin, t.fillMean, t.streamPeriods * 0.005);
  } else {
    std::fprintf(out, "%-15s the card never streamed the host's queue\n", "card buffer");
  }
  const char* const restart = " (the card restarted)";
  for (const SpindleChange& s : t.spindle) {
    std::fprintf(out, "%-15s %d at %s%s\n", "card spindle", s.value,
                 JobTime(JobSecondsOfCard(s.seconds * 1000.0, f.cardMsAtJobStart)).c_str(),
                 s.restart ? restart : "");
  }
  for (const SpindleChange& s : t.outputs) {
    std::fprintf(out, "%-15s %02x at %s%s\n", "card outputs", s.value,
                 JobTime(JobSecondsOfCard(s.seconds * 1000.0, f.cardMsAtJobStart)).c_str(),
                 s.restart ? restart : "");
  }
  std::fprintf(out, "%-15s spindle %d, outputs %02x (the card's trace)%s\n", "card at end",
               t.spindleAtEnd, t.outputsAtEnd,
               t.spindleAtEnd != 0 ? ": THE SPINDLE STILL TURNS" : "");
  std::fprintf(out, "axis  %10s %10s  %10s %10s  (card, over %d ms; limits)\n", "velocity", "limit",
               "accel", "limit", kMeasureWindowPeriods * 5);
  for (int c = 0; c < kMaxAxes; ++c) {
    const AxisFigures& a = t.axes[c];
    if (!a.moved) continue;
    const bool fast = a.vMax > limits.MaxVelocity[c] * 1.0001;
    const bool hard = a.aMax > limits.Acceleration[c] + a.aNoise;
    // A card that halts at once in a stop goes over any acceleration: that is the stop's.
    const char* verdict = !fast && !hard ? "within"
                          : (f.motion.axesOver & (1u << c)) != 0u
                              ? "OVER THE LIMIT"
                              : "over it only where the card halted at once";
    std::fprintf(out, "%c     %10.2f %10.2f  %10.1f %10.1f  %s\n", kAxisLetters[c], a.vMax,
                 limits.MaxVelocity[c], a.aMax, limits.Acceleration[c], verdict);
  }
}

// Every axis: where the host commanded it (up to the stop, if one ended the job) and the card.
void PrintPositions(std::FILE* out, const RunFacts& f, const HostControl& limits) {
  // An inch job's linear axes in inches, with millimetres beside; rotary axes in degrees.
  const bool inches = f.units.inches;
  std::fprintf(out, "axis  %12s  %12s  %12s%s  (%s, steps; units)\n", "commanded", "card",
               inches ? "card in/deg" : "card units", inches ? "       card mm" : "",
               f.stopped ? "commanded up to the stop" : "end");
  // A card that lost its count reports numbers that name no place on the machine.
  const bool lost = f.stopped && !f.stops.empty() && f.stops.back().positionLost;
  for (int a = 0; a < kHostAxisCount; ++a) {
    if (lost) {
      std::fprintf(out, "%c     %12lld  %12s  %12s  NOT KNOWN (the card restarted)\n",
                   kAxisLetters[a], static_cast<long long>(f.commanded[a]), "not known", "");
      continue;
    }
    const bool same = f.commanded[a] == f.reported[a];
    const double units = Units(f.reported[a], limits, a);
    const bool linear = a < 3;
    char mm[24] = "";
    if (inches) std::snprintf(mm, sizeof mm, "  %12.4f", units);
    std::fprintf(out, "%c     %12lld  %12d  %12.4f%s  %s\n", kAxisLetters[a],
                 static_cast<long long>(f.commanded[a]), f.reported[a],
                 inches && linear ? units / kMmPerInch : units, mm, same ? "ok" : "DIFFERENT");
  }
}

}  // namespace

void PrintReport(std::FILE* out, const RunFacts& f, const HostControl& limits) {
  std::fprintf(out, "\n== torvexan-sim report ==\n");
  std::fprintf(out, "%-15s %s: %d moves, %d dwells, %lld slices, %.1f s planned\n", "job",
               f.jobName.c_str(), f.moves, f.dwells, static_cast<long long>(f.slicesPlanned),
               f.plannedSeconds);
  std::fprintf(out, "%-15s %s, plug-in \"%s\", menu item \"%s\"\n", "card", f.cardName.c_str(),
               f.pluginName.c_str(), f.menuItem.c_str());
  PrintMachine(out, f.machine, f.units);
  std::fprintf(out, "%-15s %.1f s in %s, %s\n", "run", f.runSeconds, f.mode.c_str(),
               f.finished  ? "job finished"
               : f.stopped ? (f.stops.back().byOperator ? "job STOPPED by the operator's RESET"
                                                        : "job STOPPED by a fault")
                           : ("NOT finished: " + f.failure).c_str());
  std::fprintf(out, "%-15s seconds since the job started (the host's start of the run); %s%s\n",
               "times", f.motionStartSeconds >= 0.0 ? "motion began at " : "nothing moved",
               f.motionStartSeconds >= 0.0 ? JobTime(f.motionStartSeconds).c_str() : "");
  std::fprintf(out, "%-15s %s%s\n", "lengths", f.units.inches ? "inches (G20)" : "millimetres",
               f.units.inches ? ", millimetres beside them" : "");
  PrintWarnings(out, f.warnings);
  std::fprintf(out, "%-15s %lld of %lld (queue entries the plug-in took of those the host wrote)\n",
               "rows streamed", static_cast<long long>(f.rowsTaken),
               static_cast<long long>(f.slicesWritten));
  PrintFigure(out, "packets", f.packets, f, &PluginLinkFigures::exchanges, ": exchanges");
  PrintFigure(out, "resends", f.resends, f, &PluginLinkFigures::resends);
  std::optional<long long> underruns = f.underruns;
  if (!underruns && f.trace.present) underruns = f.trace.underruns;
  PrintFigure(out, "card underruns", underruns, f);
  if (f.link) {
    const PluginLinkFigures& l = *f.link;
    std::fprintf(out,
                 "%-15s %lld exchanges, %lld resends, %lld stale and %lld rejected replies, %lld "
                 "link losses (plug-in)\n",
                 "link", l.exchanges, l.resends, l.staleReplies, l.rejectedReplies, l.linkLosses);
    std::fprintf(out,
                 "%-15s %lld discovery passes (%lld requests), %lld usb opens, %lld usb "
                 "connects (plug-in)\n",
                 "card search", l.discoveryPasses, l.discoveryRequests, l.usbOpens, l.usbConnects);
  } else {
    std::fprintf(out, "%-15s n/a (the plug-in printed no link counters)\n", "link counters");
  }
  if (!f.cardExit.empty()) std::fprintf(out, "%-15s %s\n", "card process", f.cardExit.c_str());
  if (!f.finished && !f.cardTail.empty()) {
    std::fprintf(out, "card's last output:\n%s", f.cardTail.c_str());
  }
  std::fprintf(out, "%-15s %d\n", "status texts", f.statusTexts);
  if (f.runDir.empty()) {
    std::fprintf(out, "%-15s none (--no-files): the plug-in's log is not kept\n", "run folder");
  } else {
    std::fprintf(out, "%-15s %s\n", "run folder", f.runDir.c_str());
    std::fprintf(out, "%-15s %s\n", "plug-in log", f.logPath.c_str());
  }
  PrintSafety(out, f, limits);
  PrintSequences(out, f, limits);
  PrintRegisterWrites(out, f);
  PrintCardMotion(out, f, limits);
  PrintPositions(out, f, limits);
}

void PrintResult(std::FILE* out, const RunFacts& f) {
  if (f.stopped) {
    const StopRecord& s = f.stops.back();
    if (s.byOperator) {
      std::fprintf(out, "result: job STOPPED by the operator's RESET at line %d; the machine %s\n",
                   s.line, StopPathWords(s));
    } else {
      std::fprintf(out, "result: job STOPPED by a fault at line %d (%s); the machine %s\n", s.line,
                   StatusTextUtf8(s.cause).c_str(), StopPathWords(s));
    }
    return;
  }
  if (!f.finished) {
    std::fprintf(out, "result: the run FAILED: %s%s\n", f.failure.c_str(),
                 LastStatusWords(f).c_str());
    return;
  }
  if (!Restored(f)) {
    std::fprintf(out,
                 "result: the job went on after a stop WITHOUT the spindle or coolant it had on\n");
    return;
  }
  if (PositionsAgree(f) && !MotionClean(f)) {
    std::fprintf(out,
                 "result: positions agree, but the motion was NOT CLEAN: %zu underruns, %zu "
                 "stretches of an axis over its limits (see the safety events)\n",
                 f.motion.underruns, f.motion.overLimits);
    return;
  }
  std::fprintf(out, "result: positions %s\n", PositionsAgree(f) ? "agree" : "DISAGREE");
}

}  // namespace torvexan::sim
