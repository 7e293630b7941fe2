// Rows per second the plug-in delivers to each card model at the nominal 20 ms tick, against
// the 200 rows per second the card executes, under virtual time: a 60 s job whose queue the
// host keeps full, streamed from the first batch until the card has executed its last row.
// Prints one table row per model; the counts come from the virtual card.
#include <cstdio>
#include <cstdlib>

#include "integration/job_feeder.h"

namespace torvexan::bench {
namespace {

using testing::CardCase;
using testing::JobFeeder;
using testing::kSlicesPerSecond;
using testing::kTickMs;
using testing::MachineRig;

constexpr int kJobSeconds = 60;
constexpr int kMaxTicks = 20 * kJobSeconds * 1000 / kTickMs;  // gives up at 20 times the job
constexpr double kCardRowsPerSecond = 1000.0 / 5.0;

struct Figures {
  int rowsPerPacket = 0;
  double deliverySeconds = 0;  // first tick of the job until the last row was sent
  double rowsPerSecond = 0;
  double packetsPerSecond = 0;
  double batchesPerSecond = 0;
  double rowsPerBatch = 0;
  uint32_t underruns = 0;
  uint32_t starvedPeriods = 0;
  double jobSeconds = 0;  // first tick until the card executed the last row
  bool stepExact = false;
};

bool Measure(const CardCase& m, Figures& f) {
  MachineRig machine(m.model);
  if (const char* failure = machine.Connect()) {
    std::fprintf(stderr, "%s: %s\n", m.name, failure);
    return false;
  }
  JobFeeder job(machine.host(), m.axes, kJobSeconds * kSlicesPerSecond);
  const sim::CardStats start = machine.card().stats();
  const uint64_t startMs = machine.world().now();
  const HostMachine& host = *machine.host().machine;
  int ticks = 0, batches = 0, deliveryTicks = 0;
  uint64_t deliveredMs = 0;
  uint32_t packetsAtDelivery = 0;
  for (; ticks < kMaxTicks; ++ticks) {
    job.Fill();
    const int read = host.MoveQueueRead;
    machine.Tick();
    if (host.MoveQueueRead != read) ++batches;
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
  if (deliveryTicks == 0 || ticks == kMaxTicks) {
    std::fprintf(stderr, "%s: the job never ended\n", m.name);
    return false;
  }
  const sim::CardStats& end = machine.card().stats();
  f.rowsPerPacket = machine.state().session->maxSegments;
  f.deliverySeconds = deliveredMs / 1000.0;
  f.rowsPerSecond = (end.rowsReceived - start.rowsReceived) / f.deliverySeconds;
  f.packetsPerSecond = packetsAtDelivery / f.deliverySeconds;
  f.batchesPerSecond = batches / f.deliverySeconds;
  f.rowsPerBatch = static_cast<double>(end.rowsReceived - start.rowsReceived) / batches;
  f.underruns = end.underruns - start.underruns;
  f.starvedPeriods = end.starvedPeriods - start.starvedPeriods;
  f.jobSeconds = (machine.world().now() - startMs) / 1000.0;
  machine.RunTicks(10);
  f.stepExact = true;
  for (int i = 0; i < m.axes; ++i) {
    f.stepExact = f.stepExact && machine.card().position(i) == job.CommandedSteps(i);
  }
  if (deliveryTicks * static_cast<uint64_t>(kTickMs) != deliveredMs) {
    std::printf("%s: %d ticks took %.3f s of virtual time (transfers let the clock run)\n", m.name,
                deliveryTicks, f.deliverySeconds);
  }
  return true;
}

}  // namespace
}  // namespace torvexan::bench

int main() {
  using namespace torvexan;
  using namespace torvexan::bench;
  const testing::CardCase models[] = {testing::kLorn4Case, testing::kLorn5Case,
                                      testing::kPell5Case};
  Figures figures[3];
  bool ok = true;
  for (int i = 0; i < 3; ++i) ok = Measure(models[i], figures[i]) && ok;
  std::printf("\n%d s job (%d rows), host queue kept %d slices ahead, card executes %.0f rows/s\n",
              kJobSeconds, kJobSeconds * testing::kSlicesPerSecond, testing::kQueueLeadSlices,
              kCardRowsPerSecond);
  std::printf("%-6s %9s %10s %11s %10s %10s %10s %9s %13s %8s %10s\n", "model", "rows/pkt",
              "deliver s", "rows/s", "packets/s", "batches/s", "rows/batch", "underruns",
              "starved 5 ms", "job s", "step-exact");
  for (int i = 0; i < 3; ++i) {
    const Figures& f = figures[i];
    std::printf("%-6s %9d %10.2f %11.1f %10.1f %10.1f %10.1f %9u %13u %8.2f %10s\n", models[i].name,
                f.rowsPerPacket, f.deliverySeconds, f.rowsPerSecond, f.packetsPerSecond,
                f.batchesPerSecond, f.rowsPerBatch, f.underruns, f.starvedPeriods, f.jobSeconds,
                f.stepExact ? "yes" : "NO");
  }
  return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
