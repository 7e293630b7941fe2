// The short report at the end of a run, and the verdict: do the card's positions equal the
// positions the host commanded?
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "sim/host/job_driver.h"
#include "state/host_records.h"
#include "tools/torvexan-sim/card_after_stop.h"
#include "tools/torvexan-sim/machine_report.h"
#include "tools/torvexan-sim/motion_events.h"
#include "tools/torvexan-sim/probe_expectation.h"
#include "tools/torvexan-sim/report_words.h"
#include "tools/torvexan-sim/trace_figures.h"

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

// One request the machine's Modbus device served.
struct RegisterWrite {
  int function;
  int reg;
  int value;
};

struct RunFacts {
  std::string jobName;
  std::string cardName;
  MachineFacts machine;
  std::string pluginName;
  std::string menuItem;
  std::string mode;  // "real time" or "virtual time (--fast)"
  int moves = 0;
  int dwells = 0;
  int64_t slicesPlanned = 0;
  double plannedSeconds = 0.0;  // motion and dwells
  double runSeconds = 0.0;
  int64_t rowsTaken = 0;
  int64_t slicesWritten = 0;  // what the host planned during the run (after real probes)
  bool finished = false;      // the job ran to its end (not stalled, not interrupted)
  bool stopped = false;       // it ended in an emergency stop or an aborted sequence
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
  TraceFigures trace;  // from the card's trace; absent for an external card
  std::vector<ReferenceResult> references;
  std::vector<ProbeResult> probes;
  std::vector<ProbeExpectation> probeExpected;  // one per probe when the card's trace was read
  std::vector<HostEvent> events;
  std::vector<StopRecord> stops;
  std::vector<CardAfterStop> cardAfterStops;  // one per stop when the card's trace was watched
  MotionFaults motion;                        // from the card's trace
  std::vector<SafetyEvent> safety;            // in the order the host learned of them
  uint64_t timelineStartMs = 0;               // the zero of the timeline on the run's clock
  double cardMsAtJobStart = 0.0;              // the card's trace clock at that zero
  std::string logPath;                        // the plug-in's console output
  std::string runDir;                         // the run folder; empty with --no-files
  std::string cardEvents;                     // torvexan-card's own count of the faults it caused
  double referencedAt[kHostAxisCount] = {};   // where the job expects a referenced axis, units
  bool usbCard = false;                       // USB replies carry no probe position
  // The Modbus accessory: what it was asked to write, against the user codes the job sent.
  bool modbus = false;  // a device ran
  std::string modbusNote;
  std::vector<RegisterWrite> registerWrites;
  int userCodes = 0;
  // The offsets and tool the job ended with, as run (probes may have set offsets that the check
  // before the run could only assume); absent when the job did not run to its end.
  std::optional<WorkOffsets> offsetsAtEnd;
  int toolAtEnd = 0;
  bool notesAtStop = false;  // offsetsAtEnd and toolAtEnd are those at the stop that ended it
  // Where a probe's trip point changed the moves after it: how many of the planned moves ran
  // before, and how many ran instead of the rest (they went to the run's MoveSpool).
  size_t movesBeforeReread = 0;
  size_t movesSinceReread = 0;
  std::vector<std::string> warnings;  // of the job, found before it ran
  ReportUnits units;                  // what the job was written in
  double motionStartSeconds = -1.0;   // when motion began; negative: it never did
};

// What the host's job loop saw: the end positions, referencing, probes and events.
void CollectDriverFacts(const JobDriver& driver, HostRecordsOwner& records, RunFacts* facts);

// The card's trace of each stop (cardAfterStops) in the place of what the host saw of it.
void TakeCardRest(RunFacts* facts);
// What the card's trace tells of the stops and of the motion's faults, on the timeline
// (facts->cardMsAtJobStart set).
void TakeCardTrace(const TraceFold& fold, RunFacts* facts);
// Underruns or an axis over its limits that no stop caused.
bool MotionClean(const RunFacts& facts);

// false when the card's trace shows the job going on after a stop without the spindle or
// coolant it had on.
bool Restored(const RunFacts& facts);
// true when every axis of the card stands where the host commanded it.
bool PositionsAgree(const RunFacts& facts);
// limits: the steps per unit, velocities and accelerations the axes were given. Everything but
// the verdict.
void PrintReport(std::FILE* out, const RunFacts& facts, const HostControl& limits);
// The verdict: the report's last line.
void PrintResult(std::FILE* out, const RunFacts& facts);

}  // namespace torvexan::sim
