// torvexan-sim: runs a job through the plug-in library, loaded as the host loads it, against
// a virtual card in a private network, and reports whether the card ended where the host
// commanded it.
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "sim/host/host_callbacks.h"
#include "sim/host/job_driver.h"
#include "sim/host/plugin_library.h"
#include "tools/torvexan-sim/card_side.h"
#include "tools/torvexan-sim/config_dialog.h"
#include "tools/torvexan-sim/realtime_run.h"
#include "tools/torvexan-sim/sim_options.h"
#include "tools/torvexan-sim/sim_paths.h"
#include "tools/torvexan-sim/sim_report.h"

namespace torvexan::sim {
namespace {

constexpr int kExitDisagree = 1;
constexpr int kExitFailed = 2;
constexpr int kExitBadJob = 3;
constexpr int kExitUsage = 64;
constexpr double kCardSpareSeconds = 60.0;  // the card outlives the planned job by this much
constexpr int kCardTailLines = 12;
constexpr int kTemporaryDirAttempts = 100;

volatile std::sig_atomic_t interrupted = 0;

void OnSignal(int) {
  interrupted = 1;
}

struct StatusPrinter {
  ProgressBar* bar;
  int count = 0;
  static void Print(void* context, const char* text) {
    auto* self = static_cast<StatusPrinter*>(context);
    ++self->count;
    self->bar->Print(std::string("plug-in status: ") + text);
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

// A fresh directory of our own in the system's temporary directory; empty when none is made.
std::filesystem::path TemporarySettingsDir() {
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

int Run(const SimOptions& options, const Job& job) {
  CardProcess card;
  const bool ownCard = options.card == CardChoice::kLorn4 || options.card == CardChoice::kLorn5;

  MachineSetup machine = options.machine;
  HostRecordsOwner records(machine);
  Planner planner(job, records.control());
  if (!planner.errors().empty()) {
    for (const JobError& e : planner.errors()) {
      std::fprintf(stderr, "%s\n", FormatJobError(options.jobPath, e).c_str());
    }
    return kExitBadJob;
  }
  const double plannedSeconds =
      static_cast<double>(planner.totalSlices()) * kSliceSeconds + planner.dwellSeconds();

  std::string error;
  const double cardSeconds = plannedSeconds + options.startupMs / 1000.0 + kCardSpareSeconds;
  if (!StartCardSide(options, cardSeconds, &card, &error)) return Fail(error);

  PluginLibrary library;
  const std::string pluginPath =
      options.pluginPath.empty() ? DefaultPluginPath() : options.pluginPath;
  if (!library.Open(pluginPath, &error)) return Fail(error);

  std::filesystem::path settingsDir;
  std::string settingsPath = options.settingsPath;
  if (settingsPath.empty()) {
    settingsDir = TemporarySettingsDir();
    if (settingsDir.empty()) return Fail("cannot make a temporary directory for the settings");
    settingsPath = (settingsDir / "settings.xml").string();
  }

  ProgressBar bar(options.progress);
  StatusPrinter printer{&bar};
  HostCallbacks::SetStatusSink(&StatusPrinter::Print, &printer);
  VirtualHost host(library.table(), records);
  if (!host.Start(settingsPath, &error)) return Fail(error);
  if (options.configDialog) {
    bar.Print("configuration dialog open; the job runs when it is closed");
    OpenConfigDialog(host);
  }

  DriverTiming timing;
  timing.startupMs = options.startupMs;
  timing.stallMs = options.stallSeconds * 1000;
  JobDriver driver(planner, host, timing);
  PathPlot plot;
  plot.title = options.jobPath + " on " + CardName(options.card);
  const double runSeconds =
      RunInRealTime(RealTimeRun{host, planner, driver, ownCard ? &card : nullptr, bar, interrupted},
                    &plot.reported);

  RunFacts facts;
  facts.jobName = options.jobPath;
  facts.cardName = CardName(options.card);
  facts.pluginName = host.pluginName();
  facts.menuItem = host.PluginMenuItem();
  for (int a = 0; a < kHostAxisCount; ++a) {
    facts.commanded[a] = planner.CommandedEnd(a);
    facts.reported[a] = records.machine().Axes[a].PositionCounts;
  }
  // The plug-in prints its link counters when it stops: caught for the report, and echoed.
  std::string stopOutput;
  host.Stop(&stopOutput);
  std::fputs(stopOutput.c_str(), stdout);
  facts.link = ReadLinkCounters(stopOutput);
  HostCallbacks::SetStatusSink(nullptr, nullptr);
  library.Close();
  if (!settingsDir.empty()) {
    // The settings file and whatever else the plug-in wrote beside it.
    std::error_code ec;
    std::filesystem::remove_all(settingsDir, ec);
  }
  if (ownCard) {
    card.Stop();
    facts.cardStats = true;
    facts.cardExit = card.exitText();
    facts.packets = CardFigure(card.output(), "packets");
    facts.resends = CardFigure(card.output(), "resend");
    facts.underruns = CardFigure(card.output(), "underrun");
    facts.cardTail = LastLines(card.output(), kCardTailLines);
  }
  facts.moves = planner.moveCount();
  facts.dwells = planner.dwellCount();
  facts.slicesPlanned = planner.totalSlices();
  facts.plannedSeconds = plannedSeconds;
  facts.runSeconds = runSeconds;
  facts.rowsTaken = driver.stats().rowsTaken;
  facts.statusTexts = printer.count;
  facts.finished = driver.phase() == JobDriver::Phase::kDone;
  facts.failure = interrupted ? "interrupted" : driver.stallReason();
  PrintReport(stdout, facts);

  if (!options.svgPath.empty()) {
    const std::vector<double> xs = planner.PathOf(0);
    const std::vector<double> ys = planner.PathOf(1);
    for (size_t i = 0; i < xs.size(); ++i) plot.commanded.push_back(PlotPoint{xs[i], ys[i]});
    if (!WriteSvg(options.svgPath, plot, &error)) return Fail(error);
    std::printf("plot           %s\n", options.svgPath.c_str());
  }
  if (!facts.finished) return kExitFailed;
  return PositionsAgree(facts) ? 0 : kExitDisagree;
}

}  // namespace
}  // namespace torvexan::sim

int main(int argc, char** argv) {
  using namespace torvexan::sim;
  SimOptions options;
  std::string error;
  if (!ParseSimOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "torvexan-sim: %s\n%s", error.c_str(), SimUsage().c_str());
    return kExitUsage;
  }
  if (options.help) {
    std::printf("%s", SimUsage().c_str());
    return 0;
  }
  Job job;
  if (!LoadJobFile(options.jobPath, &job, &error)) return Fail(error, kExitBadJob);
  if (!job.errors.empty()) {
    for (const JobError& e : job.errors) {
      std::fprintf(stderr, "%s\n", FormatJobError(options.jobPath, e).c_str());
    }
    return kExitBadJob;
  }
  if (!ReadyForCard(options, argv, &error)) return Fail(error);
  if (options.configDialog && !ConfigDialogAvailable(&error)) return Fail(error, kExitUsage);
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
#ifdef SIGPIPE
  // The card's output pipe may close under us; that must not end the run.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  return Run(options, job);
}
