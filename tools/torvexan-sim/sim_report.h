// The short report at the end of a run, and the verdict: do the card's positions equal the
// positions the host commanded?
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "host/host_records.h"

namespace torvexan::sim {

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
  bool cardStats = false;  // a card of our own ran and its statistics were read
  std::string cardExit;
  std::string cardTail;  // the card's last lines, shown when the run failed
  int64_t commanded[kHostAxisCount] = {};
  int32_t reported[kHostAxisCount] = {};
};

// true when every axis of the card stands where the host commanded it.
bool PositionsAgree(const RunFacts& facts);
void PrintReport(std::FILE* out, const RunFacts& facts);

}  // namespace torvexan::sim
