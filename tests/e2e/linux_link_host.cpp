// A small Linux host for the real libTorvexan.so: loads it as the CNC host loads a plug-in,
// starts it in the host's order and drives Update and the plug-in's timers in real time while
// the link exercise streams jobs to whatever card answers. Exit 0 when every check held.
//
// With --soak it runs until its time is up, jogging, dwelling, homing and probing between jobs,
// counts every job that did not end step-exact (and every homing or probing that broke its
// rules) instead of stopping at the first, and prints a line of figures every --report-every
// seconds (scripts/soak). The card must then be given the machine's switches: --print-machine
// prints them in the card's layout text (torvexan-card --machine, TORVEXAN_USBSUB_MACHINE).
//
// Run it only inside a private network namespace next to torvexan-card (see run_link_e2e.sh):
// the plug-in broadcasts its discovery requests.
#include <time.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/host/host_records_owner.h"
#include "sim/host/machine_setup.h"
#include "sim/host/plugin_library.h"
#include "sim/host/virtual_host.h"
#include "tests/e2e/example_jobs.h"
#include "tests/e2e/link_exercise.h"
#include "tests/e2e/soak_machine.h"

namespace {

using torvexan::e2e::ExerciseGoals;
using torvexan::e2e::LinkExercise;

constexpr uint64_t kUpdatePeriodMs = 100;
constexpr int kLongestSleepMs = 2;

struct Options {
  std::string plugin;
  std::string settings = "e2e-settings.xml";
  ExerciseGoals goals;
  uint64_t seed = 1;
  uint64_t reportEveryMs = 60000;
  bool probeLatched = true;           // the card reports where the probe tripped (not the USB card)
  std::vector<std::string> examples;  // job files streamed as every fourth job of a soak
};

bool Parse(int argc, char** argv, Options& o) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const char* name = argv[i];
    const char* value = argv[i + 1];
    if (std::strcmp(name, "--plugin") == 0) {
      o.plugin = value;
    } else if (std::strcmp(name, "--settings") == 0) {
      o.settings = value;
    } else if (std::strcmp(name, "--axes") == 0) {
      o.goals.cardAxes = std::atoi(value);
    } else if (std::strcmp(name, "--exchanges") == 0) {
      o.goals.exchanges = std::atoi(value);
    } else if (std::strcmp(name, "--restarts") == 0) {
      o.goals.restarts = std::atoi(value);
    } else if (std::strcmp(name, "--seconds") == 0) {
      o.goals.timeLimitMs = static_cast<uint64_t>(std::atoi(value)) * 1000;
    } else if (std::strcmp(name, "--soak") == 0) {
      o.goals.soak = std::atoi(value) != 0;
    } else if (std::strcmp(name, "--seed") == 0) {
      o.seed = std::strtoull(value, nullptr, 10);
    } else if (std::strcmp(name, "--example") == 0) {
      o.examples.emplace_back(value);
    } else if (std::strcmp(name, "--report-every") == 0) {
      o.reportEveryMs = static_cast<uint64_t>(std::atoi(value)) * 1000;
    } else if (std::strcmp(name, "--probe-latch") == 0) {
      o.probeLatched = std::atoi(value) != 0;
    } else {
      std::fprintf(stderr, "unknown option %s\n", name);
      return false;
    }
  }
  return !o.plugin.empty() && (o.goals.cardAxes == 4 || o.goals.cardAxes == 5);
}

void SleepMs(int ms) {
  if (ms <= 0) return;
  timespec t{0, ms * 1000000L};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

void PressReset(void* host) {
  static_cast<torvexan::sim::VirtualHost*>(host)->Reset();
}

const torvexan::sim::PluginTable* gTable = nullptr;  // for the soak's jogs and dwells
void JogOn(void*, int axis, int direction, double speed) {
  gTable->JogOn(axis, direction, speed);
}
void JogOff(void*, int axis) {
  gTable->JogOff(axis);
}
void Dwell(void* host, double seconds) {
  static_cast<torvexan::sim::VirtualHost*>(host)->DoDwell(seconds);
}
void Home(void* host, int axis) {
  static_cast<torvexan::sim::VirtualHost*>(host)->Home(axis);
}
void Probe(void* host) {
  static_cast<torvexan::sim::VirtualHost*>(host)->Probe();
}

}  // namespace

int main(int argc, char** argv) {
  // The plug-in's diagnostic lines share this stdout; keep them in order with ours.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const torvexan::sim::MachineSetup setup = torvexan::sim::DefaultMachine();
  if (argc == 2 && std::strcmp(argv[1], "--print-machine") == 0) {
    std::printf("%s\n", torvexan::sim::CardMachineLayout(setup).c_str());
    return 0;
  }
  Options o;
  if (!Parse(argc, argv, o)) {
    std::fprintf(stderr,
                 "usage: %s --plugin libTorvexan.so [--axes 4|5] [--exchanges N] "
                 "[--restarts N] [--seconds S] [--settings file] [--soak 1] [--seed N] "
                 "[--report-every S] [--probe-latch 0|1] [--example job.nc]...\n"
                 "       %s --print-machine\n",
                 argv[0], argv[0]);
    return 2;
  }
  torvexan::sim::PluginLibrary library;
  std::string error;
  if (!library.Open(o.plugin, &error)) {
    std::fprintf(stderr, "cannot load %s: %s\n", o.plugin.c_str(), error.c_str());
    return 2;
  }
  torvexan::sim::HostRecordsOwner records(setup);
  torvexan::sim::VirtualHost host(library.table(), records);
  if (!host.Start(o.settings, &error)) {
    std::fprintf(stderr, "start-up failed: %s\n", error.c_str());
    return 2;
  }
  std::vector<torvexan::e2e::ExampleJob> examples(o.examples.size());
  for (size_t i = 0; i < o.examples.size(); ++i) {
    if (!torvexan::e2e::PlanExampleJob(o.examples[i], records.control(), &examples[i], &error)) {
      std::fprintf(stderr, "example job %s: %s\n", o.examples[i].c_str(), error.c_str());
      return 2;
    }
    std::printf("example job %s: %zu slices\n", examples[i].name.c_str(),
                examples[i].slices.size());
  }
  LinkExercise exercise(records.machine(), records.control(), o.goals, &PressReset, &host);
  exercise.SetExampleJobs(&examples);
  if (o.goals.soak) {
    gTable = &library.table();
    torvexan::e2e::HostActions actions;
    actions.jogOn = &JogOn;
    actions.jogOff = &JogOff;
    actions.dwell = &Dwell;
    actions.home = &Home;
    actions.probe = &Probe;
    actions.context = &host;
    actions.seed = o.seed;
    exercise.SetActions(actions, torvexan::e2e::SoakSwitches(setup, o.probeLatched));
  }
  uint64_t nextReportMs = o.reportEveryMs;

  const auto start = std::chrono::steady_clock::now();
  const auto elapsedMs = [start] {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start)
                                     .count());
  };
  uint64_t nextUpdateMs = 0;
  while (!exercise.finished()) {
    const uint64_t now = elapsedMs();
    if (now >= nextUpdateMs) {
      host.Update();
      nextUpdateMs = now + kUpdatePeriodMs;
    }
    const int timerMs = host.DispatchTimers();
    exercise.Step(now);
    if (o.goals.soak && now >= nextReportMs) {
      torvexan::e2e::PrintSoakFigures("soak", now, exercise.figures());
      nextReportMs += o.reportEveryMs;
    }
    SleepMs(timerMs >= 0 && timerMs < kLongestSleepMs ? timerMs : kLongestSleepMs);
  }
  host.Stop();
  const auto& f = exercise.figures();
  if (o.goals.soak) {
    torvexan::e2e::PrintSoakFigures("soak summary", elapsedMs(), f);
    return torvexan::e2e::Violations(f) == 0 ? 0 : 1;
  }
  std::printf(
      "link-e2e host: %s after %.1f s (link up at %.1f s, ready at %.1f s, %d resets)\n"
      "link-e2e host: %s\n",
      exercise.passed() ? "PASSED" : "FAILED", elapsedMs() / 1000.0, f.linkUpMs / 1000.0,
      f.readyMs / 1000.0, f.resets, exercise.verdict().c_str());
  return exercise.passed() ? 0 : 1;
}
