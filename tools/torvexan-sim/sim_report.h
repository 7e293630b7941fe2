// The short report at the end of a run, and the verdict: do the card's positions equal the
// positions the host commanded?
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "state/host_records.h"

namespace torvexan::sim {

// The plug-in's own link counters, from the line it prints when it stops.
struct PluginLinkFigures {
  long long exchanges = 0;
  long long resends = 0;
  long long staleReplies = 0;
  long long rejectedReplies = 0;
  long long linkLosses = 0;
  long long discoveryPasses = 0;
  long long discoveryRequests = 0;
  long long usbOpens = 0;
  long long usbConnects = 0;
};

// Reads the last "link counters:" line of the plug-in's output; nothing when there is none or
// a figure is missing from it.
std::optional<PluginLinkFigures> ReadLinkCounters(const std::string& pluginOutput);

struct RunFacts {
  std::string jobName;
  std::string cardName;
  std::string pluginName;
  std::string menuItem;
  int moves = 0;
  int dwells = 0;
  int64_t slicesPlanned = 0;
  double plannedSeconds = 0.0;  // motion and dwells
  double runSeconds = 0.0;
  int64_t rowsTaken = 0;
  bool finished = false;  // the job ran to its end (not stalled, not interrupted)
  std::string failure;
  int statusTexts = 0;
  std::optional<long long> packets;
  std::optional<long long> resends;
  std::optional<long long> underruns;
  std::optional<PluginLinkFigures> link;  // the plug-in's side, whatever the card
  bool cardStats = false;                 // a card of our own ran and its statistics were read
  std::string cardExit;
  std::string cardTail;  // the card's last lines, shown when the run failed
  int64_t commanded[kHostAxisCount] = {};
  int32_t reported[kHostAxisCount] = {};
};

// true when every axis of the card stands where the host commanded it.
bool PositionsAgree(const RunFacts& facts);
void PrintReport(std::FILE* out, const RunFacts& facts);

}  // namespace torvexan::sim
