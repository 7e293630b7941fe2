// torvexan-sim: runs a G-code job through the plug-in, loaded as the host loads it, against a
// virtual card in a private network (or, with --fast, everything in this process on virtual
// time), and reports whether the card ended where the host commanded it and how it moved.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "sim/gcode/gcode.h"
#include "sim/host/host_callbacks.h"
#include "sim/host/job_driver.h"
#include "sim/host/plugin_library.h"
#include "tools/torvexan-sim/card_side.h"
#include "tools/torvexan-sim/check_plot.h"
#include "tools/torvexan-sim/config_dialog.h"
#include "tools/torvexan-sim/console_log.h"
#include "tools/torvexan-sim/host_run.h"
#include "tools/torvexan-sim/job_notes.h"
#include "tools/torvexan-sim/machine_file.h"
#include "tools/torvexan-sim/move_spool.h"
#include "tools/torvexan-sim/safety_report.h"
#include "tools/torvexan-sim/sim_options.h"
#include "tools/torvexan-sim/sim_paths.h"
#include "tools/torvexan-sim/sim_report.h"
#include "tools/torvexan-sim/trace_figures.h"

#include "tools/torvexan-sim/fast_machine.h"

#ifndef _WIN32
#include <stdlib.h>

#include "tools/torvexan-sim/modbus_device.h"
#endif

namespace torvexan::sim {
namespace {

constexpr const char* kEmptyProfile = "<?xml version=\"1.0\"?>\r\n<Profile>\r\n</Profile>\r\n";

// A machine profile for the plug-in to keep its settings in: empty, or with the spindle's full
// speed the machine file gives, which the plug-in reads as its own setting.
std::string FreshProfile(const MachineSetup& machine) {
  if (machine.spindleMaxRpm <= 0.0) return kEmptyProfile;
  char speed[64];
  std::snprintf(speed, sizeof speed, "%.3f", machine.spindleMaxRpm);
  return std::string("<?xml version=\"1.0\"?>\r\n<Profile>\r\n<Torvexan>\r\n<SpindleSpeed>") +
         speed + "</SpindleSpeed>\r\n</Torvexan>\r\n</Profile>\r\n";
}

constexpr double kCardSpareSeconds = 60.0;      // the card outlives the planned job by this much
constexpr double kSequenceSpareSeconds = 30.0;  // and by this much per referencing or probe
constexpr int kCardTailLines = 12;
constexpr int kTemporaryDirAttempts = 100;
constexpr int kModbusWaitMs = 2000;      // the last frames may still be on their way
constexpr size_t kMostErrorsShown = 10;  // of a bad job's errors; a count says the rest
constexpr const char* kSerialDirVariable = "TORVEXAN_SERIAL_DIR";

volatile std::sig_atomic_t interrupted = 0;

void OnSignal(int) {
  interrupted = 1;
}

// The plug-in's status texts: on the safety timeline and in the log, on the console only
// with --verbose, and in UTF-8 there (the bytes themselves stay as the plug-in sent them).
struct StatusPrinter {
  ProgressBar* bar;
  ConsoleLog* log;
  bool verbose;
  LoopClock* clock;
  JobDriver* driver = nullptr;  // set once the job's driver exists
  int count = 0;
  static void Print(void* context, const char* text) {
    auto* self = static_cast<StatusPrinter*>(context);
    ++self->count;
    const std::string line = "plug-in status: " + StatusTextUtf8(text);
    self->log->Write(line);
    if (self->verbose) self->bar->Print(line);
    // The clock's time: a plug-in call may let virtual time pass while it waits on the bus.
    if (self->driver != nullptr) self->driver->NoteStatusText(self->clock->NowMs(), text);
  }
};

int Fail(const std::string& message, int code = kExitFailed) {
  std::fprintf(stderr, "torvexan-sim: %s\n", message.c_str());
  return code;
}

std::string LastLines(const std::string& text, int count) {
  size_t start = text.size();
  if (start > 0 && text[start - 1] == '\n') --start;
  while (count-- > 0 && start > 0) {
    const size_t newline = text.rfind('\n', start - 1);
    start = newline == std::string::npos ? 0 : newline;
    if (newline == std::string::npos) break;
  }
  std::string tail = text.substr(start == 0 ? 0 : start + 1);
  if (!tail.empty() && tail.back() != '\n') tail += '\n';
  return tail;
}

std::string ReadText(const std::filesystem::path& path) {
  std::string text;
  if (std::FILE* f = std::fopen(path.string().c_str(), "r")) {
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    std::fclose(f);
  }
  return text;
}

// A fresh directory of our own in the system's temporary directory; empty when none is made.
std::filesystem::path TemporaryDir() {
  std::error_code ec;
  const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) return {};
  std::random_device random;
  for (int attempt = 0; attempt < kTemporaryDirAttempts; ++attempt) {
    const std::filesystem::path dir = base / ("torvexan-sim-" + std::to_string(random()));
    // Only a directory this call created counts, never one that was there already.
    if (std::filesystem::create_directory(dir, ec)) return dir;
  }
  return {};
}

// The first of a job's errors, and how many more there are: a binary file has thousands.
int PrintJobErrors(const std::string& path, const std::vector<JobError>& errors) {
  for (size_t i = 0; i < errors.size() && i < kMostErrorsShown; ++i) {
    std::fprintf(stderr, "%s\n", FormatJobError(path, errors[i]).c_str());
  }
  if (errors.size() > kMostErrorsShown) {
    std::fprintf(stderr, "torvexan-sim: %zu more errors in %s\n", errors.size() - kMostErrorsShown,
                 PrintableText(path).c_str());
  }
  return kExitBadJob;
}

// A job that does nothing is most likely the wrong file: said, and refused unless allowed.
bool CheckNotEmpty(const SimOptions& options, const Job& job, const JobCheck& check,
                   std::vector<std::string>* warnings) {
  const bool acts = check.moves + check.dwells + check.references + check.probes > 0 ||
                    job.tally.spindleOrUserCode;
  if (acts) return true;
  std::fprintf(stderr, "torvexan-sim: %s: %s\n", PrintableText(options.jobPath).c_str(),
               options.allowEmpty ? "warning: the job has nothing to run (--allow-empty)"
                                  : "the job has nothing to run (--allow-empty runs it anyway)");
  if (options.allowEmpty) warnings->push_back("the job has nothing to run (--allow-empty)");
  return options.allowEmpty;
}

// Whether a file can be written at path, without leaving a file behind that was not there.
bool CanWrite(const std::string& path, std::string* error) {
  std::error_code ec;
  const bool existed = std::filesystem::exists(path, ec);
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (f == nullptr) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  std::fclose(f);
  if (!existed) std::filesystem::remove(path, ec);
  return true;
}

// The run folder: --out, else <job name>-run beside the job; empty with --no-files. The
// temporary directory holds only what the run removes again.
bool MakeRunFolder(const SimOptions& options, std::string* dir, std::string* error) {
  if (options.noFiles) return true;
  const std::filesystem::path job(options.jobPath);
  const std::filesystem::path folder = !options.outDir.empty()
                                           ? std::filesystem::path(options.outDir)
                                           : job.parent_path() / (job.stem().string() + "-run");
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec || !std::filesystem::is_directory(folder, ec)) {
    *error = "cannot make the run folder " + folder.string() + ": " + ec.message() +
             " (--out DIR names another, --no-files keeps no file)";
    return false;
  }
  *dir = folder.string();
  return true;
}

// torvexan-card's own count of the faults it caused, from its statistics.
std::string CardFaultFigures(const std::string& cardOutput) {
  const long long reboots = CardFigure(cardOutput, "reboots").value_or(0);
  const long long presses = CardFigure(cardOutput, "e-stop presses").value_or(0);
  // The last line that names them counts every silence, timed or at random.
  const long long silences = CardFigure(cardOutput, "silences").value_or(0);
  if (reboots + presses + silences == 0) return std::string();
  return std::to_string(reboots) + " restarts, " + std::to_string(presses) + " e-stop presses, " +
         std::to_string(silences) + " silences (torvexan-card's count)";
}

// Everything one run needs, whichever clock it runs on.
struct RunContext {
  const SimOptions& options;
  const Job& job;
  const JobSetup& setup;
  const JobCheck& check;
  HostRecordsOwner& records;
  std::string settingsPath;
  std::string toolTable;             // where the tools came from; empty: none given
  MoveSpool* sinceReread = nullptr;  // the moves the host ran after a probe changed the job
};

// The job's driver on the clock, from the plug-in's start to its stop.
void RunDriver(RunContext& ctx, VirtualHost& host, LoopClock& clock, CardProcess* card,
               StatusPrinter& printer, RunFacts* facts, PathThinner* reported) {
  DriverTiming timing;
  timing.startupMs = ctx.options.startupMs;
  timing.stallMs = ctx.options.stallSeconds * 1000;
  JobDriver driver(ctx.job, ctx.setup, host, timing);
  driver.StreamMovesSinceReread(ctx.sinceReread);
  printer.driver = &driver;
  const HostRun run{host,
                    driver,
                    ctx.check.slices,
                    card,
                    *printer.bar,
                    interrupted,
                    ctx.options.verbose ? printer.log : nullptr};
  facts->runSeconds = RunHostLoop(run, clock, reported);
  printer.driver = nullptr;
  CollectDriverFacts(driver, ctx.records, facts);
  facts->failure = interrupted ? "interrupted" : driver.stallReason();
}

// Starts the plug-in as the host does, runs the job on the clock and stops the plug-in,
// filling in what the host saw. False, with the reason, when the plug-in does not start.
bool DriveJob(RunContext& ctx, const PluginTable& table, LoopClock& clock, CardProcess* card,
              RunFacts* facts, PathThinner* reported, std::string* error) {
  ProgressBar bar(ctx.options.progress);
  ConsoleLog log;
  if (!log.Begin(facts->logPath, error)) return false;
  StatusPrinter printer{&bar, &log, ctx.options.verbose, &clock};
  HostCallbacks::SetStatusSink(&StatusPrinter::Print, &printer);
  VirtualHost host(table, ctx.records);
  if (!host.Start(ctx.settingsPath, error)) {
    HostCallbacks::SetStatusSink(nullptr, nullptr);
    return false;
  }
  if (ctx.options.configDialog) {
    bar.Print("configuration dialog open; the job runs when it is closed");
    OpenConfigDialog(host);
  }
  RunDriver(ctx, host, clock, card, printer, facts, reported);
  facts->pluginName = host.pluginName();
  facts->menuItem = host.PluginMenuItem();
  facts->statusTexts = printer.count;
  // The plug-in prints its link counters when it stops: caught for the report, and logged.
  std::string stopOutput;
  host.Stop(&stopOutput);
  log.Write(stopOutput);
  if (ctx.options.verbose) std::fputs(stopOutput.c_str(), stderr);
  facts->link = ReadLinkCounters(stopOutput);
  HostCallbacks::SetStatusSink(nullptr, nullptr);
  log.End();
  return true;
}

// The plug-in library and a card process or the libusb substitute, on the wall clock.
int RunInRealTime(RunContext& ctx, const std::filesystem::path& workDir, RunFacts* facts,
                  PathPlot* plot) {
  const SimOptions& options = ctx.options;
  CardProcess card;
  const bool ownCard = options.card == CardChoice::kLorn4 || options.card == CardChoice::kLorn5;
  const CardSideFiles files{CardMachineLayout(options.machine), (workDir / "card.trace").string(),
                            (workDir / "card.stats").string()};
  const double cardSeconds = ctx.check.seconds + options.startupMs / 1000.0 + kCardSpareSeconds +
                             kSequenceSpareSeconds * (ctx.check.references + ctx.check.probes);
  std::string error;
  // One clock from the card's start on, so that the card's events find their place in time.
  WallClock clock;
  const uint64_t cardStartMs = clock.NowMs();
  if (!StartCardSide(options, cardSeconds, files, &card, &error)) return Fail(error);
  PluginLibrary library;
  const std::string pluginPath =
      options.pluginPath.empty() ? DefaultPluginPath() : options.pluginPath;
  if (!library.Open(pluginPath, &error)) return Fail(error);
  if (!DriveJob(ctx, library.table(), clock, ownCard ? &card : nullptr, facts, &plot->reported,
                &error)) {
    return Fail(error);
  }
  // Unloading the plug-in ends the libusb substitute's statistics file.
  library.Close();
  std::string cardOutput;
  if (ownCard) {
    card.Stop();
    facts->cardExit = card.exitText();
    cardOutput = card.output();
  } else if (options.card == CardChoice::kPell5) {
    cardOutput = ReadText(files.statsPath);
  }
  if (!cardOutput.empty()) {
    facts->cardStats = true;
    facts->packets = CardFigure(cardOutput, "packets");
    facts->resends = CardFigure(cardOutput, "resend");
    facts->underruns = CardFigure(cardOutput, "underrun");
    facts->cardTail = LastLines(cardOutput, kCardTailLines);
    facts->cardEvents = CardFaultFigures(cardOutput);
    if (ownCard) MergeCardEvents(cardOutput, cardStartMs, facts);
  }
  if (options.card != CardChoice::kExternal) {
    TraceFold fold(ctx.records.control(), files.machineLayout, plot);
    // The trace counts from the card's start, which came before the job's; the stops are
    // known before the trace is read, so each is watched from its start.
    facts->cardMsAtJobStart =
        static_cast<double>(facts->timelineStartMs) - static_cast<double>(cardStartMs);
    for (const StopRecord& stop : facts->stops) {
      fold.WatchStop(facts->cardMsAtJobStart + stop.seconds * 1000.0);
    }
    ReadTrace(files.tracePath, [&](const TraceSample& s) { fold.Add(s); });
    facts->trace = fold.Finish();
    facts->probeExpected = fold.Probes(facts->probes);
    plot->timeZero = facts->cardMsAtJobStart / 1000.0;
    TakeCardTrace(fold, facts);
  }
  return 0;
}

// What the faults of --fast did, in the words of torvexan-card's statistics.
std::string FastFaultFigures(const FastMachine& machine) {
  const FaultCounts& in = machine.faultsIn();
  const FaultCounts& out = machine.faultsOut();
  const tools::CampaignFigures& c = machine.campaign().figures();
  char text[320];
  std::snprintf(text, sizeof text,
                "in: dropped %u delayed %u duplicated %u corrupted %u; out: dropped %u delayed "
                "%u duplicated %u corrupted %u; %u restarts, %u e-stop presses, %u silences",
                in.dropped, in.delayed, in.duplicated, in.corrupted, out.dropped, out.delayed,
                out.duplicated, out.corrupted, c.reboots, c.estopPresses, machine.silences());
  return text;
}

CardModel ModelOf(CardChoice card) {
  return card == CardChoice::kLorn4   ? CardModel::kLorn4
         : card == CardChoice::kPell5 ? CardModel::kPell5
                                      : CardModel::kLorn5;
}

// The plug-in linked in, the virtual card on the virtual network or bus, on virtual time.
int RunFast(RunContext& ctx, RunFacts* facts, PathPlot* plot) {
  FastMachine machine(ModelOf(ctx.options.card), CardMachineLayout(ctx.options.machine),
                      ctx.options.cardFaults);
  std::string error;
  if (!machine.Ready(&error)) return Fail(error);
  // The card's trace is folded in as it runs; the host's view of the path is not needed.
  TraceFold fold(ctx.records.control(), CardMachineLayout(ctx.options.machine), plot);
  machine.FoldTraceInto(&fold);
  const bool driven = DriveJob(ctx, machine.Table(), machine, nullptr, facts, nullptr, &error);
  machine.FoldTraceInto(nullptr);
  if (!driven) return Fail(error);
  const CardStats& s = machine.card().stats();
  facts->cardStats = true;
  facts->packets = s.packets;
  facts->resends = s.duplicates;
  facts->underruns = s.underruns;
  facts->trace = fold.Finish();
  facts->probeExpected = fold.Probes(facts->probes);
  facts->cardEvents = FastFaultFigures(machine);
  // The card's periods run on the same virtual clock as the host's timeline.
  facts->cardMsAtJobStart = static_cast<double>(facts->timelineStartMs);
  plot->timeZero = facts->cardMsAtJobStart / 1000.0;
  TakeCardTrace(fold, facts);
  return 0;
}

// What the report says of the job, the card and the run before anything runs.
RunFacts PlannedFacts(const SimOptions& options, const JobCheck& check, const JobSetup& setup) {
  RunFacts facts;
  facts.jobName = options.jobPath;
  facts.cardName = CardName(options.card);
  facts.machine.name = options.machinePath;
  std::copy(setup.travel.axis, setup.travel.axis + kHostAxisCount, facts.machine.travel);
  std::copy(check.extents, check.extents + kHostAxisCount, facts.machine.extents);
  facts.mode = options.fast ? "virtual time (--fast)" : "real time";
  facts.usbCard = options.card == CardChoice::kPell5;
  facts.moves = check.moves;
  facts.dwells = check.dwells;
  facts.slicesPlanned = check.slices;
  facts.plannedSeconds = check.seconds;
  std::copy(setup.referenced, setup.referenced + kHostAxisCount, facts.referencedAt);
  return facts;
}

// Where a probe's trip point changed the moves after it, the plot shows what the host
// commanded instead of what the check assumed: the check's moves up to the probe, drawn again,
// and the host's since. A run with stops keeps the check's path.
void CommandedAsRun(const RunContext& ctx, const RunFacts& facts, PathPlot* plot) {
  MoveSpool* since = ctx.sinceReread;
  if (facts.movesSinceReread == 0 || !facts.stops.empty() ||
      facts.movesBeforeReread > static_cast<size_t>(ctx.check.moves) || since == nullptr ||
      !since->whole()) {
    return;
  }
  plot->commanded.Clear();
  plot->holes.clear();
  CheckPlot again(ctx.records.control(), plot);
  again.DrawOnly(facts.movesBeforeReread);
  CheckJob(ctx.job, ctx.records.control(), ctx.setup, &again);
  since->ForEach([&again](const PathSegment& s) { again.Draw(s); });
}

// Runs the job on the clock the options ask for, with the machine's Modbus device unless the
// user's own serial directory is set.
int RunOnMachine(RunContext& ctx, const std::filesystem::path& workDir, RunFacts* facts,
                 PathPlot* plot) {
  int status = 0;
#ifndef _WIN32
  // The plug-in opens COM1 as $TORVEXAN_SERIAL_DIR/com1 whenever a user code goes out.
  ModbusDevice modbus;
  if (const char* own = getenv(kSerialDirVariable); own != nullptr && *own != '\0') {
    facts->modbusNote = std::string("COM1 is ") + own + "/com1 (" + kSerialDirVariable +
                        " is set: your device, not the simulated one)";
  } else {
    std::string modbusError;
    facts->modbus = modbus.Start(&modbusError);
    facts->modbusNote = modbusError;
    if (facts->modbus) setenv(kSerialDirVariable, modbus.Dir().c_str(), 1);
  }
#else
  facts->modbusNote = "no Modbus device on Windows";
#endif
  if (ctx.options.fast) status = RunFast(ctx, facts, plot);
  if (!ctx.options.fast) status = RunInRealTime(ctx, workDir, facts, plot);
#ifndef _WIN32
  if (facts->modbus) {
    for (const ModbusRequest& r :
         modbus.Stop(static_cast<size_t>(facts->userCodes), kModbusWaitMs)) {
      facts->registerWrites.push_back(RegisterWrite{r.function, r.reg, r.value});
    }
  }
#endif
  return status;
}

// The report, the plot, what the job ran with and the verdict, last.
int Conclude(const RunContext& ctx, const RunFacts& facts, PathPlot& plot) {
  const SimOptions& options = ctx.options;
  const HostControl& limits = ctx.records.control();
  PrintReport(stdout, facts, limits);
  std::string plotError;  // said after the verdict, which ends the report whatever happens
  if (!options.svgPath.empty()) {
    for (size_t i = 0; i < facts.stops.size(); ++i) {
      // Where the card came to rest; a card that lost its count without a trace of its own
      // gives only where it last was before.
      const StopRecord& s = facts.stops[i];
      const bool traced = i < facts.cardAfterStops.size() && facts.cardAfterStops[i].halted;
      const int32_t* at = s.positionLost && !traced ? s.lastKnown : s.at;
      plot.stops.push_back(PlotMark{at[0] / limits.StepsPerUnit[0], at[1] / limits.StepsPerUnit[1],
                                    "stop, line " + std::to_string(s.line) +
                                        (s.positionLost && !traced ? " (last reported)" : "")});
    }
    if (WriteSvg(options.svgPath, plot, &plotError)) {
      std::printf("plot           %s\n", options.svgPath.c_str());
    }
  }
  // What the job ran with, probes included; what the check assumed when it did not end.
  if (facts.offsetsAtEnd) {
    PrintJobNotes(stdout, ctx.job, *facts.offsetsAtEnd, facts.toolAtEnd, ctx.toolTable, facts.units,
                  facts.notesAtStop);
  } else {
    PrintJobNotes(stdout, ctx.job, ctx.check.offsets, ctx.check.tool, ctx.toolTable, facts.units);
  }
  WriteProbeLog(stdout, ctx.job, options.jobPath, facts.runDir, facts.probes, limits,
                facts.usbCard);
  PrintResult(stdout, facts);
  if (!plotError.empty()) return Fail(plotError);
  if (facts.stopped) return kExitStopped;
  if (!facts.finished || !Restored(facts)) return kExitFailed;
  if (!PositionsAgree(facts)) return kExitDisagree;
  return MotionClean(facts) ? 0 : kExitMotion;
}

// What the job likely did not mean, though it runs: the length of another tool than the one
// in the spindle, and moves beyond the travel that --ignore-travel lets run. On the console
// with the file and line before the run, and in the report's warnings.
void WarnOfJob(const SimOptions& options, const Job& job, const JobCheck& check,
               std::vector<std::string>* warnings) {
  std::vector<JobWarning> found = ToolLengthWarnings(job);
  for (const JobWarning& w : check.travelWarnings) {
    found.push_back(JobWarning{w.line, w.message + " (--ignore-travel)"});
  }
  for (const JobWarning& w : found) {
    std::fprintf(stderr, "torvexan-sim: warning: %s\n",
                 FormatJobError(options.jobPath, JobError{w.line, w.message}).c_str());
    warnings->push_back(PrintableText("line " + std::to_string(w.line) + ": " + w.message));
  }
}

int Run(const SimOptions& options, const MachineFile* machineFile, const Job& job) {
  HostRecordsOwner records(options.machine);
  JobSetup setup;
  setup.chordTolerance = options.chordTolerance;
  setup.resetAfterStop = options.resetAfterStop;
  setup.resetAtSeconds = options.resetAtSeconds;
  std::copy(options.machine.travel, options.machine.travel + kHostAxisCount, setup.travel.axis);
  setup.travel.warnOnly = options.ignoreTravel;
  if (machineFile != nullptr) setup.offsets = machineFile->offsets;
  ReferencedPositions(options.machine, setup.referenced);
  PathPlot plot;
  plot.title = options.jobPath + " on " + CardName(options.card) +
               (options.fast ? ", virtual time" : ", real time");
  CheckPlot drawn(records.control(), &plot);
  const JobCheck check = CheckJob(job, records.control(), setup, &drawn);
  if (!check.errors.empty()) return PrintJobErrors(options.jobPath, check.errors);
  std::vector<std::string> warnings;
  if (!CheckNotEmpty(options, job, check, &warnings)) return kExitBadJob;
  // Said at once, and again in the report.
  for (const std::string& w : drawn.Warnings()) {
    std::fprintf(stderr, "torvexan-sim: warning: %s\n", PrintableText(w).c_str());
    warnings.push_back(w);
  }
  WarnOfJob(options, job, check, &warnings);

  const std::filesystem::path workDir = TemporaryDir();
  if (workDir.empty()) return Fail("cannot make a temporary directory");
  std::string settingsPath = options.settingsPath;
  if (settingsPath.empty()) {
    // The plug-in never creates a missing profile: give it an empty machine profile to keep its
    // settings in, as the host's own file would.
    settingsPath = (workDir / "settings.xml").string();
    std::ofstream(settingsPath, std::ios::binary) << FreshProfile(options.machine);
  }
  const std::string toolTable = !options.toolsPath.empty() ? options.toolsPath
                                : machineFile != nullptr && machineFile->hasTools
                                    ? machineFile->path + " [[tool]]"
                                    : std::string();
  MoveSpool sinceReread((workDir / "moves-since-reread.bin").string());
  RunContext ctx{options, job, setup, check, records, settingsPath, toolTable, &sinceReread};
  RunFacts facts = PlannedFacts(options, check, setup);
  std::string error;
  if (!MakeRunFolder(options, &facts.runDir, &error)) {
    std::error_code ec;
    std::filesystem::remove_all(workDir, ec);
    return Fail(error);
  }
  facts.logPath = !options.logPath.empty() ? options.logPath
                  : options.noFiles        ? (workDir / "plugin.log").string()
                                    : (std::filesystem::path(facts.runDir) / "plugin.log").string();
  facts.warnings = std::move(warnings);
  facts.units.inches = job.inches;
  const int status = RunOnMachine(ctx, workDir, &facts, &plot);
  CommandedAsRun(ctx, facts, &plot);
  sinceReread.Close();
  std::error_code ec;
  // The settings file, the card's trace and whatever else was written there.
  std::filesystem::remove_all(workDir, ec);
  if (status != 0) return status;
  return Conclude(ctx, facts, plot);
}

}  // namespace
}  // namespace torvexan::sim

int main(int argc, char** argv) {
  using namespace torvexan::sim;
  SimOptions options;
  std::string error;
  MachineFile machineFile;
  const auto usage = [&error] {
    std::fprintf(stderr, "torvexan-sim: %s\n(torvexan-sim --help lists every option)\n",
                 error.c_str());
    return kExitUsage;
  };
  if (!ReadSimOptions(argc, argv, &options, &error)) return usage();
  const bool ownMachine = !options.help && !options.machinePath.empty();
  // A machine file that cannot be used stops the run as a bad tool table does.
  if (ownMachine && !LoadMachineFile(options.machinePath, &machineFile, &error)) {
    return Fail(PrintableText(error), kExitBadJob);
  }
  if (!SettleSimOptions(&options, ownMachine ? &machineFile : nullptr, &error)) return usage();
  if (options.help) {
    std::printf("%s", SimUsage().c_str());
    return 0;
  }
  Job job;
  std::vector<ToolEntry> tools;
  if (!options.toolsPath.empty() && !LoadToolTable(options.toolsPath, &tools, &error)) {
    return Fail(PrintableText(error), kExitBadJob);
  }
  if (options.toolsPath.empty() && ownMachine) tools = machineFile.tools;
  // --init wins over the machine file's initialization string, as --tools over its tools.
  const std::string init = !options.init.empty()                     ? options.init
                           : ownMachine && !machineFile.init.empty() ? machineFile.init
                                                                     : std::string(kDefaultInit);
  if (!LoadJobFile(options.jobPath, &job, &error, tools, init)) {
    return Fail(PrintableText(error), kExitBadJob);
  }
  if (!job.errors.empty()) return PrintJobErrors(options.jobPath, job.errors);
  // Checked before the job runs: a plot that cannot be written must not cost the run.
  if (!options.svgPath.empty() && !CanWrite(options.svgPath, &error))
    return Fail(error, kExitUsage);
  if (!options.fast && !ReadyForCard(options, argv, &error)) return Fail(error);
  if (options.configDialog && !ConfigDialogAvailable(&error)) return Fail(error, kExitUsage);
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
#ifdef SIGPIPE
  // The card's output pipe may close under us; that must not end the run.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  return Run(options, ownMachine ? &machineFile : nullptr, job);
}
