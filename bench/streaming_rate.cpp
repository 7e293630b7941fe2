// Rows per second the plug-in delivers to each card model, against the 200 rows per second the
// card executes, under virtual time: a 60 s job whose queue the host keeps full, streamed from
// the first batch until the card has executed its last row. The tick period is an option (the
// nominal 20 ms, or 31.25 ms where the host's window timer is rounded up to a 64 Hz timer
// granularity); several periods give one table each. The counts come from the virtual card.
//
//   streaming_rate --tick-ms 20 --tick-ms 31.25
#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "integration/job_feeder.h"

namespace torvexan::bench {
namespace {

using testing::CardCase;
using testing::JobFeeder;
using testing::kSlicesPerSecond;
using testing::MachineRig;

constexpr int kJobSeconds = 60;
constexpr int kGiveUpAfterJobs = 20;  // a job that takes 20 times its length never ends
constexpr double kCardRowsPerSecond = 1000.0 / 5.0;

struct Figures {
  int rowsPerPacket = 0;
  double deliverySeconds = 0;  // first tick of the job until the last row was sent
  double rowsPerSecond = 0;
  double packetsPerSecond = 0;
  double batchTicksPerSecond = 0;  // ticks that took rows from the host's queue
  double rowsPerBatchTick = 0;
  uint32_t underruns = 0;
  uint32_t starvedPeriods = 0;
  double jobSeconds = 0;  // first tick until the card executed the last row
  bool stepExact = false;
};

bool Measure(const CardCase& m, uint32_t tickUs, Figures& f) {
  const int maxTicks =
      static_cast<int>(kGiveUpAfterJobs * kJobSeconds * 1000000LL / static_cast<int64_t>(tickUs));
  MachineRig machine(m.model);
  machine.SetTickPeriodUs(tickUs);
  if (const char* failure = machine.Connect()) {
    std::fprintf(stderr, "%s: %s\n", m.name, failure);
    return false;
  }
  JobFeeder job(machine.host(), m.axes, kJobSeconds * kSlicesPerSecond);
  const sim::CardStats start = machine.card().stats();
  const uint64_t startMs = machine.world().now();
  const HostMachine& host = *machine.host().machine;
  int ticks = 0, batchTicks = 0, deliveryTicks = 0;
  uint64_t deliveredMs = 0;
  uint32_t packetsAtDelivery = 0;
  for (; ticks < maxTicks; ++ticks) {
    job.Fill();
    const int read = host.MoveQueueRead;
    machine.Tick();
    if (host.MoveQueueRead != read) ++batchTicks;
    if (deliveryTicks == 0 && job.AllTaken()) {
      deliveryTicks = ticks + 1;
      deliveredMs = machine.world().now() - startMs;
      packetsAtDelivery = machine.card().stats().packets - start.packets;
    }
    if (deliveryTicks != 0 && machine.host().control->MotionIdle == 1 &&
        machine.card().bufferedRows() == 0) {
      break;
    }
  }
  if (deliveryTicks == 0 || ticks == maxTicks) {
    std::fprintf(stderr, "%s: the job never ended\n", m.name);
    return false;
  }
  const sim::CardStats& end = machine.card().stats();
  f.rowsPerPacket = machine.state().session->maxSegments;
  f.deliverySeconds = deliveredMs / 1000.0;
  f.rowsPerSecond = (end.rowsReceived - start.rowsReceived) / f.deliverySeconds;
  f.packetsPerSecond = packetsAtDelivery / f.deliverySeconds;
  f.batchTicksPerSecond = batchTicks / f.deliverySeconds;
  f.rowsPerBatchTick = static_cast<double>(end.rowsReceived - start.rowsReceived) / batchTicks;
  f.underruns = end.underruns - start.underruns;
  f.starvedPeriods = end.starvedPeriods - start.starvedPeriods;
  f.jobSeconds = (machine.world().now() - startMs) / 1000.0;
  machine.RunTicks(10);
  f.stepExact = true;
  for (int i = 0; i < m.axes; ++i) {
    f.stepExact = f.stepExact && machine.card().position(i) == job.CommandedSteps(i);
  }
  // The clock runs in whole milliseconds, so a fractional period may come out 1 ms apart.
  const auto nominalMs = static_cast<int64_t>(deliveryTicks * static_cast<uint64_t>(tickUs) / 1000);
  if (std::llabs(nominalMs - static_cast<int64_t>(deliveredMs)) > 1) {
    std::printf("%s: %d ticks took %.3f s of virtual time (transfers let the clock run)\n", m.name,
                deliveryTicks, f.deliverySeconds);
  }
  return true;
}

}  // namespace
}  // namespace torvexan::bench

int main(int argc, char** argv) {
  using namespace torvexan;
  using namespace torvexan::bench;
  CLI::App app{"Rows per second each virtual card model receives from the plug-in"};
  std::vector<double> tickMs{20.0};
  app.add_option("--tick-ms", tickMs, "period of the plug-in's cycle timer in ms (repeatable)")
      ->check(CLI::Range(1.0, 1000.0));
  CLI11_PARSE(app, argc, argv);

  const testing::CardCase models[] = {testing::kLorn4Case, testing::kLorn5Case,
                                      testing::kPell5Case};
  bool ok = true;
  for (const double period : tickMs) {
    const auto tickUs = static_cast<uint32_t>(std::lround(period * 1000.0));
    Figures figures[3];
    for (int i = 0; i < 3; ++i) ok = Measure(models[i], tickUs, figures[i]) && ok;
    std::printf(
        "\n%d s job (%d rows), %.2f ms ticks, host queue kept %d slices ahead, card executes "
        "%.0f rows/s\n",
        kJobSeconds, kJobSeconds * testing::kSlicesPerSecond, tickUs / 1000.0,
        testing::kQueueLeadSlices, kCardRowsPerSecond);
    std::printf("%-6s %9s %10s %11s %10s %10s %10s %9s %13s %8s %10s\n", "model", "rows/pkt",
                "deliver s", "rows/s", "packets/s", "rowticks/s", "rows/tick", "underruns",
                "starved 5 ms", "job s", "step-exact");
    for (int i = 0; i < 3; ++i) {
      const Figures& f = figures[i];
      std::printf("%-6s %9d %10.2f %11.1f %10.1f %10.1f %10.1f %9u %13u %8.2f %10s\n",
                  models[i].name, f.rowsPerPacket, f.deliverySeconds, f.rowsPerSecond,
                  f.packetsPerSecond, f.batchTicksPerSecond, f.rowsPerBatchTick, f.underruns,
                  f.starvedPeriods, f.jobSeconds, f.stepExact ? "yes" : "NO");
    }
  }
  return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
