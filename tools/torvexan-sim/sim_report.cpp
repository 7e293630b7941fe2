#include "tools/torvexan-sim/sim_report.h"

#include "sim/host/machine_setup.h"
#include "tools/torvexan-sim/card_process.h"

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
  PrintFigure(out, "packets", f.packets, f, &PluginLinkFigures::exchanges, ": exchanges");
  PrintFigure(out, "resends", f.resends, f, &PluginLinkFigures::resends);
  PrintFigure(out, "card underruns", f.underruns, f);
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
  std::fprintf(out, "axis  %12s  %12s\n", "commanded", "card");
  for (int a = 0; a < kHostAxisCount; ++a) {
    const bool same = f.commanded[a] == f.reported[a];
    std::fprintf(out, "%c     %12lld  %12d  %s\n", kAxisLetters[a],
                 static_cast<long long>(f.commanded[a]), f.reported[a], same ? "ok" : "DIFFERENT");
  }
  std::fprintf(out, "result: positions %s\n", PositionsAgree(f) ? "agree" : "DISAGREE");
}

}  // namespace torvexan::sim
