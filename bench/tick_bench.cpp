// CPU time of the plug-in's whole timer tick while it streams a job: request dispatcher, motion
// state machine, link exchange and signal mapping, as one call of the tick procedure. The card
// answers within the tick that sends (no network latency), so the exchange and the mapping of
// its reply are inside the timed call. A Lorn5 tick carries one batch of 50 rows; a Pell5 tick
// carries up to three exchanges of 5 rows while the card has room and batches wait.
//
// Two peers answer: the in-process virtual card (its decoding, row buffer and reply building
// are then part of the figure), and an echo peer that repeats one status reply (the plug-in's
// own cost). Each iteration times one tick with steady_clock: the tick never blocks, so its
// wall time is its CPU time (the virtual USB bus answers without letting its clock run). The
// preparation between timed ticks (refilling the queue, letting the card run its rows, the poll
// tick) is not timed; GoogleBenchmark's CPU column counts it, so read the Time column.
#include <benchmark/benchmark.h>

#include <chrono>

#include "echo_status_peer.h"
#include "integration/job_feeder.h"

namespace torvexan::bench {
namespace {

using testing::JobFeeder;
using testing::MachineRig;

constexpr int kBenchJobSlices = 1 << 30;  // a job that never ends
constexpr int kMaxPreparationTicks = 50;

enum class Peer { kVirtualCard, kEcho };
// kBatch: the card has room and the queue holds enough for the tick's batches. kPoll: the host
// holds its queue (suspended), so the tick only polls.
enum class TimedTick { kBatch, kPoll };

struct Streamer {
  sim::CardModel model;
  int rowsPerBatchTick;  // rows a batch tick takes from the queue
};
constexpr Streamer kLorn5Batch{sim::CardModel::kLorn5, 50};
constexpr Streamer kPell5Batches{sim::CardModel::kPell5, 15};  // three exchanges of 5 rows

class StreamingTick {
 public:
  StreamingTick(Streamer streamer, Peer peer) : streamer_(streamer), peer_(peer) {}

  const char* Start() {
    if (const char* failure = machine_.Connect()) return failure;
    if (sim::NetCard* card = machine_.netCard()) {
      card->SetLatency(0);
      machine_.state().session->net = &echo_;
    }
    for (int i = 0; i < 10; ++i) Tick();
    if (peer_ == Peer::kEcho && !echo_.StartEcho()) return "no status reply to repeat";
    return nullptr;
  }

  // Untimed ticks until the next one will take a full tick's batches (kBatch), or only poll.
  bool PrepareFor(TimedTick timed) {
    const int rows = streamer_.rowsPerBatchTick;
    for (int i = 0; i < kMaxPreparationTicks; ++i) {
      job_.Fill();
      machine_.plugin().Update();  // keeps the cycle timer alive
      const PluginState& s = machine_.state();
      const bool idle = s.session->txLength == 0;
      if (timed == TimedTick::kPoll && idle) return true;
      if (timed == TimedTick::kBatch && idle && s.session->freeSlots >= rows &&
          job_.QueuedSlices() >= rows) {
        return true;
      }
      // The card runs its rows, so it has room for the next tick's batches (a full buffer
      // takes a second to run).
      const bool full = s.session->freeSlots < rows;
      const uint32_t runMs = full ? sim::kBufferRows * sim::kPeriodMs : rows * sim::kPeriodMs;
      if (peer_ == Peer::kVirtualCard) machine_.world().Advance(runMs);
      machine_.TimerTick();
    }
    return false;
  }

  int64_t TimedTickNs(TimedTick timed) {
    HostMachine& host = *machine_.host().machine;
    host.HostSuspended = timed == TimedTick::kPoll ? 1 : 0;
    const auto t0 = std::chrono::steady_clock::now();
    machine_.TimerTick();
    const auto t1 = std::chrono::steady_clock::now();
    host.HostSuspended = 0;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count();
  }

  int queueRead() { return machine_.host().machine->MoveQueueRead; }
  // The tick sent its packets and took the replies: nothing is left pending.
  bool exchanged() { return machine_.state().session->txLength == 0; }
  uint32_t cardPackets() { return machine_.card().stats().packets; }

 private:
  void Tick() {
    job_.Fill();
    machine_.Tick();
  }

  Streamer streamer_;
  Peer peer_;
  MachineRig machine_{streamer_.model};
  JobFeeder job_{machine_.host(), 5, kBenchJobSlices};
  EchoStatusPeer echo_{machine_.world().net};
};

void BM_StreamingTick(benchmark::State& state, Streamer streamer, Peer peer, TimedTick timed) {
  StreamingTick bench(streamer, peer);
  if (const char* failure = bench.Start()) {
    state.SkipWithError(failure);
    return;
  }
  int64_t rows = 0, packets = 0;
  for (auto _ : state) {
    if (!bench.PrepareFor(timed)) {
      state.SkipWithError("the plug-in never came to the tick to time");
      return;
    }
    const int before = bench.queueRead();
    const uint32_t packetsBefore = bench.cardPackets();
    state.SetIterationTime(static_cast<double>(bench.TimedTickNs(timed)) * 1e-9);
    const int taken = (bench.queueRead() - before + kMoveQueueSize) % kMoveQueueSize;
    if (!bench.exchanged()) {
      state.SkipWithError("the reply was not taken within the timed tick");
      return;
    }
    if (taken != (timed == TimedTick::kBatch ? streamer.rowsPerBatchTick : 0)) {
      state.SkipWithError("the timed tick did not send what it should");
      return;
    }
    rows += taken;
    packets += bench.cardPackets() - packetsBefore;
  }
  state.counters["rows/tick"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kAvgIterations);
  if (peer == Peer::kVirtualCard) {
    state.counters["exchanges/tick"] =
        benchmark::Counter(static_cast<double>(packets), benchmark::Counter::kAvgIterations);
  }
}

BENCHMARK_CAPTURE(BM_StreamingTick, lorn5_batch50_virtual_card, kLorn5Batch, Peer::kVirtualCard,
                  TimedTick::kBatch)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_StreamingTick, lorn5_batch50_echo_peer, kLorn5Batch, Peer::kEcho,
                  TimedTick::kBatch)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_StreamingTick, lorn5_poll_virtual_card, kLorn5Batch, Peer::kVirtualCard,
                  TimedTick::kPoll)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_StreamingTick, lorn5_poll_echo_peer, kLorn5Batch, Peer::kEcho,
                  TimedTick::kPoll)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_StreamingTick, pell5_3x5_rows_virtual_card, kPell5Batches, Peer::kVirtualCard,
                  TimedTick::kBatch)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_StreamingTick, pell5_poll_virtual_card, kPell5Batches, Peer::kVirtualCard,
                  TimedTick::kPoll)
    ->UseManualTime();

}  // namespace
}  // namespace torvexan::bench
