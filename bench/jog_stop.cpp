// How far and how long a jog still runs after the host's JogOff, per card model and jog buffer
// size, under virtual time: X jogs at 20 units/s (100 steps a row) until it cruises, then JogOff;
// the card's position is read every 5 ms. Also counts the card's underruns during the jog.
//
//   jog_stop --jog-buf-size 50 --jog-buf-size 5 --tick-ms 20 --tick-ms 31.25
#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "integration/jog_run.h"

int main(int argc, char** argv) {
  using namespace torvexan::testing;
  CLI::App app{"Stop distance and time after JogOff on each virtual card model"};
  std::vector<uint32_t> bufferSizes{50, 5};
  std::vector<double> tickMs{20.0};
  app.add_option("--jog-buf-size", bufferSizes, "JogBufSize setting (repeatable)")
      ->check(CLI::Range(5, 199));
  app.add_option("--tick-ms", tickMs, "period of the plug-in's cycle timer in ms (repeatable)")
      ->check(CLI::Range(1.0, 1000.0));
  CLI11_PARSE(app, argc, argv);

  const CardCase models[] = {kLorn4Case, kLorn5Case, kPell5Case};
  bool ok = true;
  std::printf("%-6s %8s %10s %9s %10s %13s %11s %11s\n", "model", "tick ms", "JogBufSize",
              "underruns", "steps/row", "rows at speed", "stop ms", "stop steps");
  for (const double period : tickMs) {
    for (const uint32_t size : bufferSizes) {
      for (const CardCase& m : models) {
        MachineRig machine(m.model);
        machine.SetTickPeriodUs(static_cast<uint32_t>(std::lround(period * 1000.0)));
        if (const char* failure = machine.Connect()) {
          std::fprintf(stderr, "%s: %s\n", m.name, failure);
          ok = false;
          continue;
        }
        const JogStop s = JogAndStop(machine, size);
        if (!s.ended) {
          std::fprintf(stderr, "%s: the jog never ended\n", m.name);
          ok = false;
        }
        std::printf("%-6s %8.2f %10u %9u %10d %13d %11d %11lld\n", m.name, period, size,
                    s.underruns, s.cruiseStepsPerRow, s.rowsBeforeDeceleration, s.msToStandstill,
                    static_cast<long long>(s.stepsAfterJogOff));
      }
    }
  }
  return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
