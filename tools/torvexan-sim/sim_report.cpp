#include "tools/torvexan-sim/sim_report.h"

#include "sim/host/machine_setup.h"

namespace torvexan::sim {
namespace {

void PrintFigure(std::FILE* out, const char* name, const std::optional<long long>& value,
                 const RunFacts& facts) {
  if (value) {
    std::fprintf(out, "%-15s %lld (card)\n", name, *value);
  } else {
    std::fprintf(out, "%-15s n/a (%s)\n", name,
                 facts.cardStats ? "not in the card's statistics"
                                 : "not observable from the host side without our own card");
  }
}

}  // namespace

bool PositionsAgree(const RunFacts& facts) {
  for (int a = 0; a < kHostAxisCount; ++a) {
    if (facts.commanded[a] != facts.reported[a]) return false;
  }
  return true;
}

void PrintReport(std::FILE* out, const RunFacts& f) {
  std::fprintf(out, "\n== torvexan-sim report ==\n");
  std::fprintf(out, "%-15s %s: %d moves, %d dwells, %lld slices, %.1f s planned\n", "job",
               f.jobName.c_str(), f.moves, f.dwells, static_cast<long long>(f.slicesPlanned),
               f.plannedSeconds);
  std::fprintf(out, "%-15s %s, plug-in \"%s\", menu item \"%s\"\n", "card", f.cardName.c_str(),
               f.pluginName.c_str(), f.menuItem.c_str());
  std::fprintf(out, "%-15s %.1f s, %s\n", "run", f.runSeconds,
               f.finished ? "job finished" : ("NOT finished: " + f.failure).c_str());
  std::fprintf(out, "%-15s %lld of %lld (queue entries the plug-in took)\n", "rows streamed",
               static_cast<long long>(f.rowsTaken), static_cast<long long>(f.slicesPlanned));
  PrintFigure(out, "packets", f.packets, f);
  PrintFigure(out, "resends", f.resends, f);
  PrintFigure(out, "card underruns", f.underruns, f);
  if (!f.cardExit.empty()) std::fprintf(out, "%-15s %s\n", "card process", f.cardExit.c_str());
  if (!f.finished && !f.cardTail.empty()) {
    std::fprintf(out, "card's last output:\n%s", f.cardTail.c_str());
  }
  std::fprintf(out, "%-15s %d\n", "status texts", f.statusTexts);
  std::fprintf(out, "axis  %12s  %12s\n", "commanded", "card");
  for (int a = 0; a < kHostAxisCount; ++a) {
    const bool same = f.commanded[a] == f.reported[a];
    std::fprintf(out, "%c     %12lld  %12d  %s\n", kAxisLetters[a],
                 static_cast<long long>(f.commanded[a]), f.reported[a], same ? "ok" : "DIFFERENT");
  }
  std::fprintf(out, "result: positions %s\n", PositionsAgree(f) ? "agree" : "DISAGREE");
}

}  // namespace torvexan::sim
