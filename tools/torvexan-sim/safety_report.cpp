#include "tools/torvexan-sim/safety_report.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "sim/host/machine_setup.h"
#include "tools/torvexan-sim/console_log.h"

namespace torvexan::sim {
namespace {

void PrintTimeline(std::FILE* out, const RunFacts& f) {
  if (f.safety.empty()) {
    std::fprintf(out, "%-15s none\n", "safety events");
    return;
  }
  std::fprintf(out, "safety events  (seconds since the job started, job line, source)\n");
  for (const SafetyEvent& e : f.safety) {
    std::fprintf(out, "  %9.3f s  line %-5d %-8s %s\n", e.seconds, e.line, SourceName(e.source),
                 StatusTextUtf8(e.text).c_str());
  }
}

// What the card's trace says happened once the card had halted.
// Whether the card had the spindle and the coolant back when it ran the job's first row again.
void PrintRestored(std::FILE* out, const CardAfterStop& c) {
  if (!c.ranAgain) return;
  std::fprintf(out, "%-15s the card ran the job again at %s with spindle %d, outputs %02x: %s\n",
               "", JobTime(c.ranAgainSeconds).c_str(), c.spindleThen, c.outputsThen,
               c.restored ? "spindle and coolant as the job had them"
                          : "NOT what the job had on at the stop");
}

void PrintCardAfterStop(std::FILE* out, const CardAfterStop& c, bool resumed) {
  const char* until = resumed ? "until the operator's reset" : "until the run ended";
  const char* how = c.ranDry ? "; it ran its buffer dry, still in its stream" : "";
  if (!c.halted) {
    std::fprintf(out, "%-15s THE CARD NEVER HALTED after the stop\n", "");
  } else if (c.stepsMoved == 0) {
    std::fprintf(out, "%-15s the card moved nothing after it halted at %.3f s (%s%s)\n", "",
                 c.haltSeconds, until, how);
  } else {
    std::fprintf(out, "%-15s the card MOVED %lld steps after it halted at %.3f s (%s%s)\n", "",
                 static_cast<long long>(c.stepsMoved), c.haltSeconds, until, how);
  }
}

// Where the machine came to rest, from the card: its trace when it is ours, else what it
// last reported to the plug-in.
void PrintRest(std::FILE* out, const StopRecord& s, const CardAfterStop* card,
               const HostControl& limits, const ReportUnits& units) {
  const bool traced = card != nullptr && card->halted;
  const bool known = traced || !s.positionLost;
  double at[3], commanded[3];
  for (int a = 0; a < 3; ++a) {
    at[a] = (known ? s.at[a] : s.lastKnown[a]) / limits.StepsPerUnit[a];
    commanded[a] = s.commanded[a] / limits.StepsPerUnit[a];
  }
  const std::string where = Lengths(kAxisLetters, at, 3, units);
  const std::string line = s.cardLine > 0 || traced ? " on line " + std::to_string(s.line) : "";
  if (traced) {
    std::fprintf(out, "%-15s the card came to rest at %s%s (the card's trace): %s", "",
                 where.c_str(), line.c_str(), StopPathWords(s));
  } else if (known) {
    std::fprintf(out, "%-15s the card last reported %s%s (what it last reported%s): %s", "",
                 where.c_str(), line.c_str(),
                 s.judgedAfterReset ? ", after the reset" : ", no trace of the card's own",
                 StopPathWords(s));
  } else {
    std::fprintf(out, "%-15s the card last reported %s%s before it lost its count: %s", "",
                 where.c_str(), line.c_str(), StopPathWords(s));
  }
  if (s.path == StopRecord::Path::kOffPath) {
    std::fprintf(out, " (last commanded before the stop: %s)",
                 Lengths(kAxisLetters, commanded, 3, units).c_str());
  }
  std::fputc('\n', out);
  if (s.positionLost) {
    std::fprintf(out,
                 "%-15s the card restarted: its count is lost, its position NOT KNOWN to the "
                 "host until it is referenced again\n",
                 "");
  }
}

void PrintStop(std::FILE* out, const StopRecord& s, const CardAfterStop* card,
               const HostControl& limits, const ReportUnits& units) {
  std::fprintf(out, "%-15s line %d at %s while %s: %s\n", "stop", s.line,
               JobTime(s.seconds).c_str(), s.during.c_str(), StatusTextUtf8(s.cause).c_str());
  PrintRest(out, s, card, limits, units);
  std::string after = s.resumed ? "the operator reset and the job went on" : "the job ended there";
  if (!s.notResumed.empty()) after = "the job could not go on: " + s.notResumed;
  std::fprintf(out, "%-15s %s; %s\n", "",
               s.entriesAfterStop == 0 ? "the host commanded nothing after the stop"
                                       : "THE HOST WROTE QUEUE ENTRIES AFTER THE STOP",
               after.c_str());
}

}  // namespace

void MergeCardEvents(const std::string& cardOutput, uint64_t cardStartMs, RunFacts* facts) {
  static constexpr const char* kPrefix = "torvexan-card: ";
  static constexpr const char* kAt = " at ";
  std::vector<SafetyEvent>& events = facts->safety;
  size_t start = 0;
  for (size_t end; (end = cardOutput.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = cardOutput.substr(start, end - start);
    const size_t at = line.rfind(kAt);
    if (line.rfind(kPrefix, 0) != 0 || at == std::string::npos || line.back() != 's') continue;
    char* parsed = nullptr;
    const double cardSeconds = std::strtod(line.c_str() + at + std::strlen(kAt), &parsed);
    if (parsed == line.c_str() + at + std::strlen(kAt)) continue;
    SafetyEvent e;
    e.source = SafetyEvent::Source::kCard;
    e.text = line.substr(std::strlen(kPrefix), at - std::strlen(kPrefix));
    e.seconds =
        (static_cast<double>(cardStartMs) - static_cast<double>(facts->timelineStartMs)) / 1000.0 +
        cardSeconds;
    auto place = std::upper_bound(
        events.begin(), events.end(), e.seconds,
        [](double seconds, const SafetyEvent& other) { return seconds < other.seconds; });
    // The job line is that of the host's event before it: the card does not know lines.
    e.line = place == events.begin() ? 0 : std::prev(place)->line;
    events.insert(place, e);
  }
}

const char* StopPathWords(const StopRecord& stop) {
  switch (stop.path) {
    case StopRecord::Path::kOnPath:
      return "stands on the commanded path, no farther than the plug-in had taken";
    case StopRecord::Path::kOffPath:
      return "stands OFF the path commanded before the stop: its position is not known, "
             "reference it again";
    case StopRecord::Path::kInSequence:
      return "stopped outside a queue of moves (dwell, referencing or probing)";
    case StopRecord::Path::kNotKnown:
      return "stands where it is NOT KNOWN (the card restarted and lost its count)";
  }
  return "?";
}

void PrintSafety(std::FILE* out, const RunFacts& f, const HostControl& limits) {
  PrintTimeline(out, f);
  for (size_t i = 0; i < f.stops.size(); ++i) {
    PrintStop(out, f.stops[i], i < f.cardAfterStops.size() ? &f.cardAfterStops[i] : nullptr, limits,
              f.units);
    if (i < f.cardAfterStops.size()) {
      PrintCardAfterStop(out, f.cardAfterStops[i], f.stops[i].resumed);
      PrintRestored(out, f.cardAfterStops[i]);
    }
  }
  if (f.cardStats && !f.cardEvents.empty()) {
    std::fprintf(out, "%-15s %s\n", "card faults", f.cardEvents.c_str());
  }
}

}  // namespace torvexan::sim
